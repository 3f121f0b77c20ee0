#include "app/dialog_seam.h"

#include <QDialog>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>

#include "app/compression_dialog.h"
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

QString QtDialogSeam::ChooseFile(QWidget* owner, const FileDialogRequest& request) {
    QFileDialog dialog(owner, request.save ? QObject::tr("Save As") : QObject::tr("Open"));
    dialog.setAcceptMode(request.save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    dialog.setFileMode(request.save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
    dialog.setNameFilters(NameFiltersFromFilterString(request.filter));
    dialog.setDefaultSuffix(QString::fromUtf8(request.default_extension));
    dialog.setDirectory(QDir::currentPath());
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return {};
    QString path = dialog.selectedFiles().first();
    // Some platform dialogs ignore the default suffix.
    if (request.save && QFileInfo(path).suffix().isEmpty() && request.default_extension[0] != '\0')
        path += '.' + QString::fromUtf8(request.default_extension);
    return path;
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

}  // namespace flowloom
