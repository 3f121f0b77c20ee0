#pragma once

#include <QString>
#include <QStringList>
#include <vector>

#include "engine/display_settings.h"
#include "fieldio/field_import.h"
#include "media/avi_writer.h"

class QDialog;
class QWidget;

namespace flowloom {

// A file dialog as the window asks for it. `filter` is written as pairs
// "description|pattern|description|pattern||", the last pair ended by "||".
struct FileDialogRequest {
    bool save = false;
    const char* default_extension = "";
    const char* filter = "";
};

enum class MessageIcon { kInformation, kExclamation };

// Everything the main window asks of the user through a modal dialog. The window
// holds one; the default shows the real dialogs, tests script the answers.
class DialogSeam {
public:
    virtual ~DialogSeam() = default;
    // The full path chosen, or an empty string when the user cancelled.
    virtual QString ChooseFile(QWidget* owner, const FileDialogRequest& request) = 0;
    // A message with an OK button.
    virtual void Message(QWidget* owner, const QString& text, MessageIcon icon) = 0;
    // Runs a dialog of the window's own (the About box) modally.
    virtual void RunModal(QDialog& dialog) = 0;
    // The compression options of an AVI file: one of `offered`, and a quality 0..100 for
    // an encoder that has one. `chosen` and `quality` arrive holding the defaults.
    // 0 when the user cancelled.
    virtual int ChooseCompression(QWidget* owner, const std::vector<AviCompressor>& offered, AviCompressor& chosen,
                                  int& quality) = 0;
    // What to take from a field file of several grids or time or level steps; `options`
    // arrives holding the file's defaults. 0 when the user cancelled.
    virtual int ChooseImport(QWidget* owner, const ImportContents& contents, ImportOptions& options) = 0;
    // The Display dialog's choices; `texts` arrives holding the current ones. 0 when the
    // user cancelled.
    virtual int ChooseDisplay(QWidget* owner, DisplayTexts& texts) = 0;
};

// The real dialogs. A save dialog asks before it overwrites a file and adds the extension
// of the chosen filter (else the default one) to a name typed without one. An open dialog
// opens where the last file was opened, at first in the sample data (SamplesDirectory); a
// save dialog where the last file was saved, at first in the current directory: a sample
// opened before does not send it into the installed samples, which are not the user's to
// write into.
class QtDialogSeam : public DialogSeam {
public:
    // Where the dialog for `request` opens now.
    QString StartDirectory(const FileDialogRequest& request) const;
    // Notes a confirmed choice, so that the next dialog of its kind opens beside it.
    void Remember(const FileDialogRequest& request, const QString& chosen);

    QString ChooseFile(QWidget* owner, const FileDialogRequest& request) override;
    void Message(QWidget* owner, const QString& text, MessageIcon icon) override;
    void RunModal(QDialog& dialog) override;
    int ChooseCompression(QWidget* owner, const std::vector<AviCompressor>& offered, AviCompressor& chosen,
                          int& quality) override;
    int ChooseImport(QWidget* owner, const ImportContents& contents, ImportOptions& options) override;
    int ChooseDisplay(QWidget* owner, DisplayTexts& texts) override;

private:
    QString last_open_directory_;
    QString last_save_directory_;
};

// The folder of sample fields and photographs: share/flowloom/samples beside the
// installed program, else the source tree's samples/ for a program run from its build
// tree. Empty when neither exists.
QString SamplesDirectory();

// Turns "desc (*.a)|*.a|All files (*.*)|*.*||" into Qt's name filters,
// "desc (*.a)" and "All files (*)": the pattern list goes into the parentheses (blanks
// instead of semicolons), and "*.*" becomes "*", which here also matches names
// without a dot. A pair without a pattern is dropped.
QStringList NameFiltersFromFilterString(const char* filter);

}  // namespace flowloom
