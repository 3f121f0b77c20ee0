// The computing commands that leave the standard sequence: progressive LIC with its pass
// loop, the LIC of an input image, the animation, and the animation's AVI export.
#include <QCoreApplication>
#include <QFile>
#include <QMouseEvent>
#include <QPushButton>
#include <climits>
#include <cstring>
#include <filesystem>

#include "app/dialog_seam.h"
#include "app/main_window.h"
#include "engine/commands.h"
#include "media/avi_writer.h"
#include "media/bmp_reader.h"
#include "media/malloc_buffer.h"

namespace flowloom {

namespace {

constexpr FileDialogRequest kAnimationDialog{true, "avi", "LIC Animation File (*.avi)|*.avi|All files (*.*)|*.*||"};
constexpr int kColorMappingId = 1012;

// Watches the window while the progressive passes run. A left-button release goes to the
// view's handler at once, and a region it marks is taken right then: a pointer move
// handled later in the same batch of events rewrites "Left" and "Top" with the pointer's
// position.
class RegionWatch : public QObject {
public:
    explicit RegionWatch(MainWindow* window) : window_(window) { window_->installEventFilter(this); }
    ~RegionWatch() override { window_->removeEventFilter(this); }
    RegionWatch(const RegionWatch&) = delete;
    RegionWatch& operator=(const RegionWatch&) = delete;

    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched != window_ || event->type() != QEvent::MouseButtonRelease) return false;
        auto* mouse = static_cast<QMouseEvent*>(event);
        if (mouse->button() != Qt::LeftButton) return false;
        if (window_->LeftButtonUp(mouse->position().toPoint())) {
            marked = true;
            region = {window_->roi_left, window_->roi_top, window_->roi_right, window_->roi_bottom};
        }
        return true;  // handled here, not a second time by the window
    }

    bool marked = false;  // a region was marked since the flag was last cleared
    PixelRect region{};

private:
    MainWindow* window_;
};

// The compression options go through the window's dialog seam.
class SeamChooser : public AviOptionsChooser {
public:
    SeamChooser(DialogSeam* seam, QWidget* owner) : seam_(seam), owner_(owner) {}
    int Choose(const std::vector<AviCompressor>& offered, AviCompressor& chosen, int& quality) override {
        return seam_->ChooseCompression(owner_, offered, chosen, quality);
    }

private:
    DialogSeam* seam_;
    QWidget* owner_;
};

}  // namespace

std::vector<QWidget*> MainWindow::DisableCommands() {
    std::vector<QWidget*> disabled;
    for (const auto& [id, widget] : controls_) {
        const bool command = qobject_cast<QPushButton*>(widget) != nullptr || id == kColorMappingId;
        if (command && widget->isEnabled()) {
            widget->setEnabled(false);
            disabled.push_back(widget);
        }
    }
    return disabled;
}

void MainWindow::ProLicCommand() {
    if (prolic_running_) return;
    StopPlayback();
    if (!ReadControls()) return;
    // From here on the left-button handlers mark regions instead of panning.
    last_command = kCommandProLic;
    UpdateMirror();
    ForceCommandSettings(kCommandProLic, mirror);
    engine->ImportSettings(mirror);
    TakeDisplayChoices();
    engine->Compute();  // prepares field and texture only; the passes come below
    TakeBackSettings();

    const size_t samples = static_cast<size_t>(engine->x_res) * static_cast<size_t>(engine->y_res);
    if (engine->ImagesMatchGrid()) std::memset(engine->lic_image.get(), 0, samples);
    if (engine->HasColorImage()) std::memset(engine->rgb_image.get(), 0, 3 * samples);

    const int levels = lod;
    const int passes = levels * levels;
    prolic_running_ = true;
    const std::vector<QWidget*> disabled = DisableCommands();
    host_.ProgressCreate(passes);
    RegionWatch watch(this);
    bool region_chosen = false;
    PixelRect region{};
    auto step_on_region = [&](int pass) {
        engine->ProgressiveStep(levels, pass, pass, region.left, region.right, region.top, region.bottom);
    };
    for (int pass = 0; pass < passes; ++pass) {
        if (region_chosen)
            step_on_region(pass);
        else
            // Bounds beyond any grid: a zoomed field may be thousands of samples wide.
            engine->ProgressiveStep(levels, pass, pass, -1, INT_MAX, -1, INT_MAX);
        // The events that arrived during the pass, once; events they post wait for the
        // next pass. A region marked among them applies to this pass already.
        QCoreApplication::processEvents(QEventLoop::AllEvents);
        if (watch.marked) {
            watch.marked = false;
            region_chosen = true;
            region = watch.region;
            step_on_region(pass);
        }
        host_.ProgressStep();
        ShowComputedPicture();
    }
    host_.ProgressDestroy();
    for (QWidget* widget : disabled) widget->setEnabled(true);
    prolic_running_ = false;
}

void MainWindow::LicingCommand() {
    if (image_chosen != 1 || prolic_running_) return;
    StopPlayback();
    if (!ReadControls()) return;
    ReleaseFrames();
    last_command = kCommandLicing;
    UpdateMirror();
    ForceCommandSettings(kCommandLicing, mirror);  // a file field becomes the Saddle
    engine->ImportSettings(mirror);
    TakeDisplayChoices();
    engine->Compute();
    TakeBackSettings();
    ShowComputedPicture();
}

void MainWindow::AnimationCommand() {
    if (prolic_running_ || !ReadControls()) return;
    force_compute = last_command != kCommandAnimation ? 1 : 0;
    anim_loaded = 0;
    UpdateMirror();
    kernel_type = 2;
    kernel_length = 30;
    noise_type = 0;
    ForceCommandSettings(kCommandAnimation, mirror);
    engine->ImportSettings(mirror);
    if (TakeDisplayChoices() || NeedsFullComputation(kCommandAnimation)) {
        engine->animation_written = 0;  // a computation that stops early writes nothing
        engine->Compute();
        TakeBackSettings();
        if (engine->animation_written) {
            ResizeFrameTable(mirror.anim_frames);
            LoadFrames(mirror.anim_fps, mirror.anim_frames);
        } else {
            // The frames of an earlier animation must not play as this one's.
            ReleaseFrames();
            std::error_code ignored;
            const std::filesystem::path where =
                std::filesystem::absolute(engine->animation_dir / "LICAnimation", ignored);
            seam_->Message(this,
                           QStringLiteral("The animation frames could not be written to\n%1")
                               .arg(QFile::decodeName(where.lexically_normal().string().c_str())),
                           MessageIcon::kExclamation);
        }
    } else {
        anim_loaded = 1;
        StopPlayback();
        timer_fps = anim_fps;
        RestartPlayback(anim_fps);
    }
    last_command = kCommandAnimation;
}

void MainWindow::SaveAnimationCommand() {
    if (anim_loaded != 1 || prolic_running_) return;
    const QString chosen = seam_->ChooseFile(this, kAnimationDialog);
    if (chosen.isEmpty() || !ReadControls()) return;
    // Ticks are ignored while the file is written; the timer keeps running.
    const int was_playing = anim_playing;
    anim_playing = 0;
    SeamChooser chooser(seam_, this);
    AviWriter writer(QFile::encodeName(chosen).constData(), anim_fps, -1, -1, &chooser);
    // The frames of the loaded animation, whatever "Frames" says now.
    const int frames = frame_count;
    host_.ProgressCreate(frames);
    for (int i = 0; i < frames; ++i) {
        BmpReader reader;
        int width = 0;
        int height = 0;
        const MallocBuffer<unsigned char> pixels(reader.Read(FramePath(i).string().c_str(), width, height));
        // A frame file that cannot be read goes in as a null frame, which fails the file:
        // a video with a frame silently missing would pass for a good one.
        writer.AddFrame(pixels ? AviFrame{width, height, pixels.get()} : AviFrame{});
        host_.ProgressStep();
    }
    // The file is complete only once finished; a failure there (a full disk) counts too.
    writer.Finish();
    if (!writer.IsOk()) seam_->Message(this, QStringLiteral("Error with avi file!"), MessageIcon::kExclamation);
    anim_playing = was_playing;
    host_.ProgressDestroy();
}

}  // namespace flowloom
