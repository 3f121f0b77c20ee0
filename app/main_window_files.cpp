// Files from the desktop: a file named on the command line or dropped on the window is
// chosen as the field or the input image, as the two choosers would choose it.
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QMimeData>
#include <QUrl>
#include <cstdio>
#include <filesystem>

#include "app/dialog_seam.h"
#include "app/main_window.h"
#include "lic/field_file.h"
#include "media/malloc_buffer.h"
#include "media/regular_file.h"

namespace flowloom {

namespace {

const QString kFieldStays = QStringLiteral("\n\nThe field chosen before stays in use.");

// The first bytes of the photographs LICing reads: BMP, SGI RGB, PNG and JPEG.
bool StartsLikePhotograph(const unsigned char* head, size_t bytes) {
    if (bytes >= 2 && head[0] == 'B' && head[1] == 'M') return true;
    if (bytes >= 2 && head[0] == 0x01 && head[1] == 0xDA) return true;
    if (bytes >= 4 && head[0] == 0x89 && head[1] == 'P' && head[2] == 'N' && head[3] == 'G') return true;
    return bytes >= 3 && head[0] == 0xFF && head[1] == 0xD8 && head[2] == 0xFF;
}

// Why `path` cannot be read as a file, or an empty string when it can; `head` takes its
// first bytes. A named pipe or a device is refused before anything is read from it.
QString RefuseUnreadable(const QString& shown, const QByteArray& path, unsigned char* head, size_t& head_bytes) {
    std::error_code error;
    const std::filesystem::file_status status = std::filesystem::status(path.constData(), error);
    if (status.type() == std::filesystem::file_type::not_found)
        return QStringLiteral("The file\n%1\ndoes not exist.").arg(shown);
    if (status.type() == std::filesystem::file_type::directory)
        return QStringLiteral("%1\nis a folder, not a file.").arg(shown);
    if (!error && status.type() != std::filesystem::file_type::regular)
        return QStringLiteral("%1\nis not a regular file (a named pipe, a socket or a device), so it is not read.")
            .arg(shown);
    long length = 0;
    std::FILE* file = OpenRegularFile(path.constData(), length);
    if (!file) return QStringLiteral("The file\n%1\ncannot be opened.").arg(shown);
    head_bytes = std::fread(head, 1, head_bytes, file);
    std::fclose(file);
    return {};
}

}  // namespace

int MainWindow::OpenDesktopFile(const QString& path) {
    // The passes work on the field and the images; a new field waits until they end.
    if (prolic_running_ || path.isEmpty()) return 0;
    const QByteArray bytes = QFile::encodeName(path);
    unsigned char head[8] = {};
    size_t head_bytes = sizeof head;
    const QString refused = RefuseUnreadable(path, bytes, head, head_bytes);
    if (!refused.isEmpty()) {
        seam_->Message(this, refused, MessageIcon::kExclamation);
        return 0;
    }

    const FieldFormat format = SniffFieldFormat(bytes.constData());
    if (format == FieldFormat::kVec && StartsLikePhotograph(head, head_bytes)) {
        int width = 0;
        int height = 0;
        const MallocBuffer<unsigned char> trial(ReadInputImage24(bytes.constData(), width, height));
        if (!trial) {
            seam_->Message(this,
                           QStringLiteral("%1\ncould not be read as a photograph (a BMP or SGI RGB file must be "
                                          "named .bmp or .rgb).\n\nThe image chosen before stays in use.")
                               .arg(path),
                           MessageIcon::kExclamation);
            return 0;
        }
        if (!AcceptPath(path, image_file_path, "input image")) return 0;
        image_chosen = 1;
        return 1;
    }

    ImportOptions options;
    if (format == FieldFormat::kVec) {
        // The choosers leave a .vec file to the computation; a file from the desktop may be
        // anything, so it is read once now, as the computation would read it.
        int width = 0;
        int height = 0;
        MallocBuffer<float> trial(LoadBinaryData(width, height, bytes.constData()));
        if (!trial) trial.Adopt(LoadTextData(1, 1, bytes.constData()));
        if (!trial) {
            seam_->Message(this,
                           QStringLiteral("%1: neither a vector-field file (binary or text .vec, NumPy, NetCDF or "
                                          "CSV) nor a photograph that can be read.")
                                   .arg(path) +
                               kFieldStays,
                           MessageIcon::kExclamation);
            return 0;
        }
    } else if (!ChooseImport(path, options)) {
        return 0;
    }
    return TakeFieldFile(path, options);
}

void MainWindow::dragEnterEvent(QDragEnterEvent* event) {
    const QMimeData* dropped = event->mimeData();
    if (!prolic_running_ && dropped->hasUrls() && dropped->urls().size() == 1 && dropped->urls().first().isLocalFile())
        event->acceptProposedAction();
}

void MainWindow::dropEvent(QDropEvent* event) {
    const QList<QUrl> urls = event->mimeData()->urls();
    if (urls.size() != 1 || !urls.first().isLocalFile()) return;
    event->acceptProposedAction();
    OpenDesktopFile(urls.first().toLocalFile());
}

}  // namespace flowloom
