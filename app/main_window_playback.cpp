// Animation playback on the window's one timer, and the window caption.
#include <algorithm>
#include <filesystem>
#include <string>

#include "app/caption.h"
#include "app/main_window.h"
#include "media/bmp_reader.h"
#include "media/malloc_buffer.h"

namespace flowloom {

namespace {

constexpr int kMinimumRate = 1;
constexpr int kMaximumRate = 100;

// A frame file as an image; a null image when the file cannot be read.
QImage LoadFrame(const std::filesystem::path& path) {
    BmpReader reader;
    int width = 0;
    int height = 0;
    MallocBuffer<unsigned char> pixels(reader.Read(path.string().c_str(), width, height));
    if (!pixels) return {};
    QImage image(width, height, QImage::Format_RGB32);
    for (int row = 0; row < height; ++row) {
        const unsigned char* src = pixels.get() + 3 * static_cast<size_t>(row) * width;
        auto* dst = reinterpret_cast<QRgb*>(image.scanLine(row));
        for (int col = 0; col < width; ++col) dst[col] = qRgb(src[3 * col + 2], src[3 * col + 1], src[3 * col]);
    }
    return image;
}

}  // namespace

std::filesystem::path MainWindow::FramePath(int i) const {
    // Where the engine wrote them: below its animation directory, the current one by default.
    return engine->animation_dir / "LICAnimation" /
           ("frame" + std::to_string(i / 10) + std::to_string(i % 10) + ".bmp");
}

int MainWindow::PlaybackInterval(int fps) {
    // A rate outside the panel's range reaches here only after its message; a rate of 0
    // would have no interval at all.
    const int rate = std::clamp(fps, kMinimumRate, kMaximumRate);
    return static_cast<int>(1000.0 / rate);
}

void MainWindow::StopPlayback() {
    playback_timer_.stop();
    anim_playing = 0;
    frame_index = 0;
}

void MainWindow::RestartPlayback(int fps) {
    if (!frame_bitmaps) return;
    playback_timer_.start(PlaybackInterval(fps));
    anim_playing = 1;
    frame_index = 0;
}

void MainWindow::ResizeFrameTable(int count) {
    frame_count = std::max(count, 0);
    if (frame_bitmaps)
        frame_bitmaps->assign(static_cast<size_t>(frame_count), QImage());
    else
        frame_bitmaps.emplace(static_cast<size_t>(frame_count));
}

void MainWindow::LoadFrames(int fps, int count) {
    if (!frame_bitmaps) ResizeFrameTable(count);
    const int loaded = std::min(count, static_cast<int>(frame_bitmaps->size()));
    for (int i = 0; i < loaded; ++i) (*frame_bitmaps)[static_cast<size_t>(i)] = LoadFrame(FramePath(i));
    playback_timer_.start(PlaybackInterval(fps));
    anim_loaded = 1;
    anim_playing = 1;
    frame_index = 0;
}

void MainWindow::ReleaseFrames() {
    playback_timer_.stop();
    frame_bitmaps.reset();
    current_frame = QImage();
    anim_loaded = 0;
    anim_playing = 0;
}

void MainWindow::TimerTick() {
    if (anim_playing != 1 || !frame_bitmaps || frame_bitmaps->empty()) return;
    if (frame_index >= frame_count || frame_index >= static_cast<int>(frame_bitmaps->size())) frame_index = 0;
    current_frame = (*frame_bitmaps)[static_cast<size_t>(frame_index)];
    ++frame_index;
    Paint();
}

void MainWindow::RateChange() {
    if (anim_loaded != 1 || anim_playing != 1) return;
    // A rejected text leaves anim_fps as it was (its message has been shown), and an
    // out-of-range one has been stored: either way playback restarts at anim_fps.
    ReadControls();
    StopPlayback();
    timer_fps = anim_fps;
    RestartPlayback(anim_fps);
}

void MainWindow::PauseOrResume() {
    // Frames played now would paint over the progressive passes.
    if (prolic_running_) return;
    if (anim_playing == 1) {
        StopPlayback();
        return;
    }
    ReadControls();
    timer_fps = anim_fps;
    RestartPlayback(anim_fps);
}

void MainWindow::SetCaption() {
    QString title = QString::fromUtf8(
        CaptionText(CaptionIndex(color_mapping, engine->color_by_data, engine->flip_rows, engine->flip_columns)));
    // An imported field that has a name shows it, with its units.
    if (engine->field_type == kFieldFile && !engine->field_name.empty()) {
        title += QStringLiteral(" | ") + QString::fromStdString(engine->field_name);
        if (!engine->field_units.empty())
            title += QStringLiteral(" [%1]").arg(QString::fromStdString(engine->field_units));
    }
    setWindowTitle(title);
}

}  // namespace flowloom
