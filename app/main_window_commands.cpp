// The commands behind the panel's buttons: the choosers, the computing commands that
// run the standard sequence, the Color Mapping click and the LIC image saver.
#include <QCheckBox>
#include <QFile>
#include <cstdio>
#include <filesystem>

#include "app/dialog_seam.h"
#include "app/main_window.h"
#include "engine/commands.h"
#include "media/bmp_writer.h"
#include "media/png_writer.h"

namespace flowloom {

namespace {

// The first filter shows every file the program reads, the named ones follow.
constexpr FileDialogRequest kFieldFileDialog{
    false, "vec",
    "Vector-Field Files (*.vec;*.npy;*.npz;*.nc;*.nc4;*.cdf;*.csv)|*.vec;*.npy;*.npz;*.nc;*.nc4;*.cdf;*.csv|"
    "2D Vector Data File (*.vec)|*.vec|NumPy, NetCDF or CSV Data (*.npy;*.npz;*.nc;*.nc4;*.cdf;*.csv)|"
    "*.npy;*.npz;*.nc;*.nc4;*.cdf;*.csv|All files (*.*)|*.*||"};
constexpr FileDialogRequest kImageFileDialog{
    false, "BMP",
    "Image Files (*.bmp;*.rgb;*.png;*.jpg;*.jpeg)|*.bmp;*.rgb;*.png;*.jpg;*.jpeg|"
    "BMP Image File (*.bmp)|*.bmp|RGB Image File (*.rgb)|*.rgb|"
    "PNG Image File (*.png)|*.png|JPEG Image File (*.jpg;*.jpeg)|*.jpg;*.jpeg|"
    "All files (*.*)|*.*||"};
constexpr FileDialogRequest kLicImageDialog{
    true, "png", "PNG Image File (*.png)|*.png|LIC Image File (*.bmp)|*.bmp|All files (*.*)|*.*||"};

// A name ending in ".png", in any case, is saved as PNG; every other name as BMP.
bool NamesPng(const QString& path) {
    return path.endsWith(QStringLiteral(".png"), Qt::CaseInsensitive);
}

// Numbers the field snapshots of the whole process; the first one saved is 000.
int g_snapshot_counter = -1;

}  // namespace

void MainWindow::LicCommand() {
    RunStandardCommand(kCommandLic);
}
void MainWindow::MagLicCommand() {
    RunStandardCommand(kCommandMagLic);
}
void MainWindow::EnhanceCommand() {
    RunStandardCommand(kCommandEnhance);
}

void MainWindow::RunCommand(int code) {
    // The passes work on the engine's buffers, which a command may release or resize.
    if (prolic_running_) return;
    switch (code) {
        case kCommandMagLic:
        case kCommandEnhance:
        case kCommandLic:
            RunStandardCommand(code);
            break;
        case kCommandProLic:
            ProLicCommand();
            break;
        case kCommandAnimation:
            AnimationCommand();
            break;
        default:
            break;
    }
}

bool MainWindow::NeedsFullComputation(int code) const {
    const SettingsRecord& m = mirror;
    // A picture that is not there cannot be re-coloured (a computation that ran out of
    // memory leaves none).
    if (!engine->ImagesMatchGrid()) return true;
    switch (code) {
        case kCommandLic:
            return roi_changed || high_pass_changed || equalization_changed || kernel_type_changed ||
                   m.kernel_changed || m.noise_changed || m.field_changed || m.size_changed || force_compute;
        case kCommandMagLic:
            return roi_changed || m.kernel_changed || m.field_changed || m.size_changed || force_compute;
        case kCommandEnhance:
            return roi_changed || enhance_iterations_changed || equalization_changed || kernel_type_changed ||
                   m.kernel_changed || m.noise_changed || m.field_changed || m.size_changed || force_compute;
        case kCommandAnimation:
            // Without a loaded frame table there is nothing to play again.
            return !frame_bitmaps || anim_frames_changed || roi_changed || enhance_iterations_changed ||
                   high_pass_changed || equalization_changed || color_mapping_changed || m.field_changed ||
                   m.size_changed || force_compute;
        default:
            return true;
    }
}

void MainWindow::RunStandardCommand(int code) {
    force_compute = last_command != code ? 1 : 0;
    StopPlayback();
    // An invalid value has been shown to the user; nothing is computed with it.
    if (!ReadControls()) return;
    UpdateMirror();
    // The change flags above describe the user's values; the forced ones come after.
    ForceCommandSettings(code, mirror);
    engine->ImportSettings(mirror);
    const bool display_changed = TakeDisplayChoices();
    if (display_changed || NeedsFullComputation(code))
        engine->Compute();
    else
        engine->ComposeImage(engine->lic_image.get(), engine->rgb_image.get(), engine->color_mapping);
    last_command = code;
    TakeBackSettings();
    ShowComputedPicture();
}

void MainWindow::TakeBackSettings() {
    const bool wanted_file = mirror.field_type == kFieldFile;
    engine->ExportSettings(mirror);
    // A file that could be imported when it was chosen may have changed since; its own
    // message says what is wrong. The panel's field buttons show the fall-back, but not why
    // the chosen file was left.
    if (!engine->image_error.empty()) {
        // The field and picture on show stay; only the image could not be had.
        seam_->Message(
            this, QStringLiteral("The image could not be read:\n%1").arg(QString::fromStdString(engine->image_error)),
            MessageIcon::kExclamation);
        engine->image_error.clear();
    }
    if (!engine->import_error.empty()) {
        seam_->Message(this, QString::fromStdString(engine->import_error), MessageIcon::kExclamation);
        engine->import_error.clear();
    } else if (wanted_file && mirror.field_type != kFieldFile) {
        seam_->Message(this,
                       QStringLiteral("The vector-field file\n%1\ncould not be read, so the Saddle field is shown.")
                           .arg(QFile::decodeName(field_file_path.c_str())),
                       MessageIcon::kExclamation);
    }
    SetCaption();
    UpdateFromMirror();
    WriteControls();  // the panel now shows the engine's values, forced ones included
}

void MainWindow::ShowComputedPicture() {
    image_ready = 1;
    Paint();
    new_field_file = 0;
}

void MainWindow::ColorMappingCommand() {
    ReadControls();
    // The click is what counts, even when the exchange stopped at an earlier control.
    color_mapping = qobject_cast<QCheckBox*>(Control(1012))->isChecked() ? 1 : 0;
    SetCaption();
    if (mirror.x_res == -100) return;
    // Only the colour mapping goes into `mirror`: other values typed since the last
    // computation stay pending, so the next computing command still sees them as changed.
    mirror.color_mapping = color_mapping;
    engine->ImportSettings(mirror);
    engine->ComposeImage(engine->lic_image.get(), engine->rgb_image.get(), engine->color_mapping);
    Paint();
}

int MainWindow::AcceptPath(const QString& chosen, std::string& slot, const char* what) {
    const QByteArray bytes = QFile::encodeName(chosen);
    if (bytes.size() >= kPathCapacity) {
        seam_->Message(this,
                       QStringLiteral("The path of this %1 is %2 bytes long, but at most %3 bytes fit:\n%4\n\n"
                                      "The %1 chosen before stays in use.")
                           .arg(QString::fromUtf8(what))
                           .arg(bytes.size())
                           .arg(kPathCapacity - 1)
                           .arg(chosen),
                       MessageIcon::kExclamation);
        return 0;
    }
    slot = bytes.toStdString();
    return 1;
}

void MainWindow::RealDataCommand() {
    const QString chosen = seam_->ChooseFile(this, kFieldFileDialog);
    if (chosen.isEmpty()) return;
    ImportOptions options;
    if (ChooseImport(chosen, options)) TakeFieldFile(chosen, options);
}

int MainWindow::TakeFieldFile(const QString& chosen, const ImportOptions& options) {
    if (!AcceptPath(chosen, field_file_path, "vector-field file")) return 0;
    engine->import_options = WithDisplayChoices(options);
    new_field_file = 1;
    field_type = kFieldFile;
    // Only the field buttons change; other values typed into the panel stay.
    CheckIndex(1002, field_type);
    return 1;
}

int MainWindow::ChooseImport(const QString& chosen, ImportOptions& options) {
    const QByteArray path = QFile::encodeName(chosen);
    if (SniffFieldFormat(path.constData()) == FieldFormat::kVec) return 1;
    ImportContents contents;
    std::string error;
    if (DescribeFieldFile(path.constData(), contents, error)) {
        options = contents.defaults;
        if (ImportNeedsChoice(contents) && !seam_->ChooseImport(this, contents, options)) return 0;
        // Read it all now, as the Display choices will have it read: a file that cannot be
        // used must leave the field that is shown.
        ImportedField trial;
        if (ImportFieldFile(path.constData(), WithDisplayChoices(options), trial, error)) return 1;
    }
    seam_->Message(this, QString::fromStdString(error) + QStringLiteral("\n\nThe field chosen before stays in use."),
                   MessageIcon::kExclamation);
    return 0;
}

void MainWindow::DisplayCommand() {
    DisplayTexts texts = display_texts;
    if (!seam_->ChooseDisplay(this, texts) || texts == display_texts) return;
    DisplayChoices choices;
    if (const std::string error = ParseDisplayTexts(texts, choices); !error.empty()) {
        seam_->Message(this,
                       QString::fromStdString(error) + QStringLiteral("\n\nThe display choices made before stay."),
                       MessageIcon::kExclamation);
        return;
    }
    // Coordinates and the colour variable are read with a field file.
    if (field_type == kFieldFile &&
        (texts.coordinates != display_texts.coordinates || texts.color_var != display_texts.color_var))
        new_field_file = 1;
    display_texts = texts;
    display_pending_ = choices;
}

ImportOptions MainWindow::WithDisplayChoices(ImportOptions options) const {
    // The chooser picks the variables; how they are traced and coloured is the Display
    // dialog's choice, the one waiting for the next command if there is one.
    const ImportOptions& held = engine->import_options;
    options.coordinates = display_pending_ ? display_pending_->coordinates : held.coordinates;
    options.color_var = display_pending_ ? display_pending_->color_var : held.color_var;
    return options;
}

bool MainWindow::TakeDisplayChoices() {
    if (!display_pending_) return false;
    ApplyDisplayChoices(*display_pending_, *engine);
    display_pending_.reset();
    return true;
}

void MainWindow::ImageCommand() {
    const QString chosen = seam_->ChooseFile(this, kImageFileDialog);
    if (chosen.isEmpty() || !AcceptPath(chosen, image_file_path, "input image")) return;
    image_chosen = 1;
}

void MainWindow::SaveLicImageCommand() {
    if (image_ready != 1 || !engine->HasColorImage()) return;
    const QString chosen = seam_->ChooseFile(this, kLicImageDialog);
    if (chosen.isEmpty()) return;
    const QByteArray path = QFile::encodeName(chosen);
    const unsigned char* picture = engine->rgb_image.get();
    const int written = NamesPng(chosen) ? WritePng24(engine->x_res, engine->y_res, picture, path.constData())
                                         : WriteBmp24(engine->x_res, engine->y_res, picture, path.constData());
    if (!written) {
        seam_->Message(this, QStringLiteral("The LIC image could not be saved to\n%1").arg(chosen),
                       MessageIcon::kExclamation);
    }
}

void MainWindow::SaveFieldSnapshot() {
    ++g_snapshot_counter;
    char name[32];
    std::snprintf(name, sizeof name, "LIC_Flow%03d.vec", g_snapshot_counter);
    if (!engine->SaveBinaryData(name)) {
        std::error_code ignored;
        const std::filesystem::path where = std::filesystem::current_path(ignored) / name;
        seam_->Message(
            this,
            QStringLiteral("The vector field could not be saved to\n%1").arg(QFile::decodeName(where.string().c_str())),
            MessageIcon::kExclamation);
    }
}

}  // namespace flowloom
