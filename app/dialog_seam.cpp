#include "app/dialog_seam.h"

#include <QCoreApplication>
#include <QDialog>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>

#include "app/compression_dialog.h"
#include "app/display_dialog.h"
#include "app/import_dialog.h"

namespace flowloom {

QStringList NameFiltersFromFilterString(const char* filter) {
    QStringList filters;
    const QStringList parts = QString::fromUtf8(filter ? filter : "").split('|');
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        QString description = parts[i].trimmed();
        QStringList patterns = parts[i + 1].split(';', Qt::SkipEmptyParts);
        if (description.isEmpty() || patterns.isEmpty()) continue;
        for (QString& pattern : patterns) {
            pattern = pattern.trimmed();
            if (pattern == "*.*") pattern = "*";
        }
        // The description usually names its patterns already; Qt reads them from there.
        const qsizetype open = description.lastIndexOf('(');
        if (open > 0 && description.endsWith(')')) description = description.left(open).trimmed();
        filters << description + " (" + patterns.join(' ') + ")";
    }
    return filters;
}

QString SamplesDirectory() {
    const QString installed = QCoreApplication::applicationDirPath() + "/" FLOWLOOM_SAMPLES_FROM_BINARY;
    if (QFileInfo(installed).isDir()) return QDir(installed).canonicalPath();
    const QString source = QStringLiteral(FLOWLOOM_SOURCE_SAMPLES_DIR);
    if (QFileInfo(source).isDir()) return QDir(source).canonicalPath();
    return {};
}

namespace {

// "*.png" gives "png"; a filter of several patterns or none gives nothing.
QString SuffixOfNameFilter(const QString& filter) {
    const qsizetype open = filter.lastIndexOf('(');
    if (open < 0 || !filter.endsWith(')')) return {};
    const QString pattern = filter.mid(open + 1, filter.size() - open - 2).trimmed();
    if (!pattern.startsWith(QStringLiteral("*.")) || pattern.contains(' ') || pattern.indexOf('*', 1) >= 0) return {};
    return pattern.mid(2);
}

}  // namespace

QString QtDialogSeam::ChooseFile(QWidget* owner, const FileDialogRequest& request) {
    QFileDialog dialog(owner, request.save ? QObject::tr("Save As") : QObject::tr("Open"));
    dialog.setAcceptMode(request.save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    dialog.setFileMode(request.save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
    dialog.setNameFilters(NameFiltersFromFilterString(request.filter));
    QString suffix = QString::fromUtf8(request.default_extension);
    dialog.setDefaultSuffix(suffix);
    QObject::connect(&dialog, &QFileDialog::filterSelected, [&](const QString& filter) {
        const QString chosen = SuffixOfNameFilter(filter);
        suffix = chosen.isEmpty() ? QString::fromUtf8(request.default_extension) : chosen;
        dialog.setDefaultSuffix(suffix);
    });
    dialog.setDirectory(StartDirectory(request));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return {};
    QString path = dialog.selectedFiles().first();
    // Some platform dialogs ignore the default suffix.
    if (request.save && QFileInfo(path).suffix().isEmpty() && !suffix.isEmpty()) path += '.' + suffix;
    Remember(request, path);
    return path;
}

QString QtDialogSeam::StartDirectory(const FileDialogRequest& request) const {
    QString start = request.save ? last_save_directory_ : last_open_directory_;
    if (start.isEmpty() && !request.save) start = SamplesDirectory();
    return start.isEmpty() ? QDir::currentPath() : start;
}

void QtDialogSeam::Remember(const FileDialogRequest& request, const QString& chosen) {
    (request.save ? last_save_directory_ : last_open_directory_) = QFileInfo(chosen).absolutePath();
}

void QtDialogSeam::Message(QWidget* owner, const QString& text, MessageIcon icon) {
    QMessageBox box(icon == MessageIcon::kExclamation ? QMessageBox::Warning : QMessageBox::Information,
                    QStringLiteral("Flowloom"), text, QMessageBox::Ok, owner);
    box.exec();
}

void QtDialogSeam::RunModal(QDialog& dialog) {
    dialog.exec();
}

int QtDialogSeam::ChooseCompression(QWidget* owner, const std::vector<AviCompressor>& offered, AviCompressor& chosen,
                                    int& quality) {
    CompressionDialog dialog(offered, chosen.name, quality, owner);
    if (dialog.exec() != QDialog::Accepted || !dialog.Chosen()) return 0;
    chosen = *dialog.Chosen();
    quality = dialog.Quality();
    return 1;
}

int QtDialogSeam::ChooseImport(QWidget* owner, const ImportContents& contents, ImportOptions& options) {
    ImportContents shown = contents;
    shown.defaults = options;
    ImportDialog dialog(shown, owner);
    if (dialog.exec() != QDialog::Accepted) return 0;
    options = dialog.Chosen();
    return 1;
}

int QtDialogSeam::ChooseDisplay(QWidget* owner, DisplayTexts& texts) {
    DisplayDialog dialog(texts, owner);
    if (dialog.exec() != QDialog::Accepted) return 0;
    texts = dialog.Chosen();
    return 1;
}

}  // namespace flowloom
