// The image view: drawing the colour image or the current animation frame, the rubber
// band, and the mouse handlers (panning, region selection, mirroring, field snapshots,
// colour mode and playback toggles).
#include <QLineEdit>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QRegion>
#include <algorithm>
#include <cstdlib>

#include "app/main_window.h"
#include "engine/commands.h"
#include "media/bmp_writer.h"

namespace flowloom {

namespace {

constexpr int kViewOrigin = 15;
constexpr int kViewWidth = 600;
constexpr int kViewHeight = 374;
constexpr int kMinimumDrag = 5;  // pixels in each direction for a region

QRect ToQRect(const PixelRect& r) {
    return QRect(r.left, r.top, r.Width(), r.Height());
}

PixelRect NormaliseRect(QPoint a, QPoint b) {
    const int left = std::min(a.x(), b.x());
    const int top = std::min(a.y(), b.y());
    return {left, top, left + std::abs(a.x() - b.x()), top + std::abs(a.y() - b.y())};
}

// The four one-pixel edges of a rectangle, where its band is drawn.
QRegion BandEdges(const PixelRect& r) {
    const QRect q = ToQRect(r);
    QRegion edges;
    edges += QRect(q.left(), q.top(), q.width(), 1);
    edges += QRect(q.left(), q.bottom(), q.width(), 1);
    edges += QRect(q.left(), q.top(), 1, q.height());
    edges += QRect(q.right(), q.top(), 1, q.height());
    return edges;
}

}  // namespace

bool MainWindow::FlipActive() const {
    return engine->flip_rows == 1 || engine->flip_columns == 1;
}

void MainWindow::Paint() {
    ComposeView();
    QRegion area(ToQRect(view_rect));
    // The new picture covers a band left on the screen.
    if (band_shown_) area += BandEdges(focus_rect);
    band_shown_ = false;
    repaint(area);
    emit PictureChanged();
}

void MainWindow::ComposeView() {
    if (image_ready == 1 || anim_loaded == 1) {
        const int w = engine->x_res;
        const int h = engine->y_res;
        scroll_max_x = w > kViewWidth ? w - kViewWidth : 0;
        scroll_max_y = h > kViewHeight ? h - kViewHeight : 0;
        clip_rect = {kViewOrigin, kViewOrigin, kViewOrigin + std::min(w - scroll_x, kViewWidth),
                     kViewOrigin + std::min(h - scroll_y, kViewHeight)};
        canvas_width = std::max(w, kViewWidth);
        canvas_height = std::max(h, kViewHeight);
    }
    if (anim_loaded == 1 && anim_playing == 1)
        DrawFrame();
    else
        DrawImage();
}

// Only the visible block of the canvas is built: the rest would never be shown.
void MainWindow::DrawImage() {
    if (image_ready != 1) {
        view_image_ = QImage();
        return;
    }
    view_image_ = QImage(kViewWidth, kViewHeight, QImage::Format_RGB32);
    view_image_.fill(Qt::black);
    // The LIC of an input image has a colour image but no grey one.
    if (!engine->HasColorImage()) return;
    const int w = engine->x_res;
    const int h = engine->y_res;
    const int rows = std::min(h - scroll_y, kViewHeight);
    const int columns = std::min(w - scroll_x, kViewWidth);
    const unsigned char* pixels = engine->rgb_image.get();
    for (int i = 0; i < rows; ++i) {
        const unsigned char* src = pixels + 3 * (static_cast<size_t>(scroll_y + i) * w + scroll_x);
        auto* dst = reinterpret_cast<QRgb*>(view_image_.scanLine(i));
        for (int j = 0; j < columns; ++j) dst[j] = qRgb(src[3 * j + 2], src[3 * j + 1], src[3 * j]);
    }
}

// The frame goes onto the canvas at the engine's size, whatever its own size.
void MainWindow::DrawFrame() {
    view_image_ = QImage(kViewWidth, kViewHeight, QImage::Format_RGB32);
    view_image_.fill(Qt::black);
    if (current_frame.isNull()) return;
    const int w = std::min(engine->x_res, current_frame.width());
    const int h = std::min(engine->y_res, current_frame.height());
    if (w <= 0 || h <= 0) return;
    QPainter painter(&view_image_);
    painter.drawImage(QPoint(-scroll_x, -scroll_y), current_frame, QRect(0, 0, w, h));
}

void MainWindow::paintEvent(QPaintEvent* event) {
    QPainter painter(this);
    if (event->region().intersects(ToQRect(view_rect))) {
        ComposeView();
        if (!view_image_.isNull()) painter.drawImage(QPoint(view_rect.left, view_rect.top), view_image_);
    }
    if (band_shown_) {
        // Inverting the pixels keeps the dotted band visible on any picture.
        painter.setCompositionMode(QPainter::RasterOp_SourceXorDestination);
        painter.setPen(QPen(Qt::white, 1, Qt::DotLine));
        painter.setBrush(Qt::NoBrush);
        const QRect q = ToQRect(focus_rect);
        painter.drawRect(q.adjusted(0, 0, -1, -1));
    }
}

void MainWindow::MoveBand(const PixelRect& next, bool draw) {
    QRegion area;
    if (band_shown_) area += BandEdges(focus_rect);
    focus_rect = next;
    band_shown_ = draw && next.Width() > 0 && next.Height() > 0;
    if (band_shown_) area += BandEdges(focus_rect);
    if (!area.isEmpty()) repaint(area);
}

void MainWindow::ShowRegion(bool with_corners) {
    WriteControl(1022);
    WriteControl(1024);
    if (with_corners) {
        WriteControl(1023);
        WriteControl(1025);
    }
}

// ---- Mouse handlers.

void MainWindow::LeftButtonDown(QPoint p, Qt::KeyboardModifiers keys) {
    left_drag_armed_ = false;
    if (keys & Qt::ControlModifier) {
        if (engine->HasColorImage()) MirrorImage24(engine->x_res, engine->y_res, engine->rgb_image.get(), 'V');
        engine->flip_rows = 1 - engine->flip_rows;
        SetCaption();
        Paint();
        return;
    }
    if (image_ready != 1) return;
    if (keys & Qt::ShiftModifier) {
        SaveFieldSnapshot();
        return;
    }
    drag_anchor = p;
    left_drag_armed_ = true;
    if (last_command == kCommandProLic) {
        band_rect = {p.x(), p.y(), p.x(), p.y()};
        MoveBand(band_rect, false);
    }
}

void MainWindow::MouseMove(QPoint p, Qt::MouseButtons buttons) {
    if (image_ready != 1) return;
    const QPoint a = drag_anchor;
    if (buttons & Qt::LeftButton) {
        if (last_command == kCommandProLic && left_drag_armed_) {
            band_rect = NormaliseRect(a, p);
            MoveBand(band_rect, true);
        }
        return;
    }
    if (buttons & Qt::RightButton) {
        if (FlipActive() || !right_drag_armed_) return;
        roi_left = std::min(a.x(), p.x()) - kViewOrigin;
        roi_top = std::min(a.y(), p.y()) - kViewOrigin;
        roi_right = roi_left + std::abs(a.x() - p.x());
        roi_bottom = roi_top + std::abs(a.y() - p.y());
        band_rect = NormaliseRect(a, p);
        MoveBand(band_rect, true);
        if (view_rect.Contains(p.x(), p.y())) ShowRegion(true);
        return;
    }
    // The "Left" and "Top" boxes follow the pointer over the view.
    roi_left = p.x() - kViewOrigin;
    roi_top = p.y() - kViewOrigin;
    if (view_rect.Contains(p.x(), p.y())) ShowRegion(false);
}

int MainWindow::LeftButtonUp(QPoint p) {
    // Only the release of a plain press acts: a Ctrl or Shift click set no anchor.
    if (image_ready != 1 || !left_drag_armed_) return 0;
    left_drag_armed_ = false;
    const QPoint a = drag_anchor;
    if (last_command == kCommandProLic) {
        if (clip_rect.Contains(a.x(), a.y()) && clip_rect.Contains(p.x(), p.y()) &&
            std::abs(p.x() - a.x()) >= kMinimumDrag && std::abs(p.y() - a.y()) >= kMinimumDrag) {
            // Image coordinates: the passes compute image pixels, so a scrolled view adds
            // its offset, as a right drag does; otherwise the region computed would not
            // be the one marked.
            roi_left = scroll_x + std::min(a.x(), p.x()) - kViewOrigin;
            roi_top = scroll_y + std::min(a.y(), p.y()) - kViewOrigin;
            roi_right = roi_left + std::abs(a.x() - p.x());
            roi_bottom = roi_top + std::abs(a.y() - p.y());
            return 1;
        }
        MoveBand(focus_rect, false);
        return 0;
    }
    if (FlipActive()) return 0;
    scroll_x += p.x() - a.x();
    scroll_y += p.y() - a.y();
    if (scroll_x < 0) scroll_x = 0;
    if (scroll_x >= scroll_max_x) scroll_x = scroll_max_x;
    if (scroll_y < 0) scroll_y = 0;
    if (scroll_y >= scroll_max_y) scroll_y = scroll_max_y;
    Paint();
    return 0;
}

void MainWindow::RightButtonDown(QPoint p, Qt::KeyboardModifiers keys) {
    right_drag_armed_ = false;
    if (keys & Qt::ControlModifier) {
        ignore_right_up = 1;
        if (engine->HasColorImage()) MirrorImage24(engine->x_res, engine->y_res, engine->rgb_image.get(), 'H');
        engine->flip_columns = 1 - engine->flip_columns;
        SetCaption();
        Paint();
        return;
    }
    if (image_ready != 1 || FlipActive()) return;
    drag_anchor = p;
    right_drag_armed_ = true;
    band_rect = {p.x(), p.y(), p.x(), p.y()};
    MoveBand(band_rect, false);
}

void MainWindow::RightButtonUp(QPoint p) {
    // The release of a Ctrl+right press is consumed whatever else holds.
    if (ignore_right_up == 1) {
        ignore_right_up = 0;
        return;
    }
    if (image_ready != 1 || FlipActive() || !right_drag_armed_) return;
    right_drag_armed_ = false;
    const QPoint a = drag_anchor;
    if (!(clip_rect.Contains(a.x(), a.y()) && clip_rect.Contains(p.x(), p.y()) &&
          std::abs(p.x() - a.x()) >= kMinimumDrag && std::abs(p.y() - a.y()) >= kMinimumDrag)) {
        MoveBand(focus_rect, false);
        return;
    }
    if (last_command == kCommandLicing) return;  // the band stays; nothing is zoomed
    if (prolic_running_) {
        // No command may run under the progressive passes.
        MoveBand(focus_rect, false);
        return;
    }
    roi_enabled = 1;
    roi_left = scroll_x + std::min(a.x(), p.x()) - kViewOrigin;
    roi_top = scroll_y + std::min(a.y(), p.y()) - kViewOrigin;
    roi_right = roi_left + std::abs(a.x() - p.x());
    roi_bottom = roi_top + std::abs(a.y() - p.y());
    ShowRegion(true);
    WriteControl(1048);
    scroll_x = scroll_y = 0;
    RunCommand(last_command);
    roi_enabled = 0;
    WriteControl(1048);
}

void MainWindow::LeftDoubleClick(QPoint p, Qt::KeyboardModifiers keys) {
    if (anim_loaded != 1) {
        if (color_mapping == 1 && !(keys & Qt::ControlModifier)) {
            engine->color_by_data = 1 - engine->color_by_data;
            SetCaption();
            engine->ComposeImage(engine->lic_image.get(), engine->rgb_image.get(), engine->color_mapping);
            Paint();
        }
        return;
    }
    if (view_rect.Contains(p.x(), p.y())) PauseOrResume();
}

// ---- Qt's mouse events, in client coordinates.

void MainWindow::mousePressEvent(QMouseEvent* event) {
    const QPoint p = event->position().toPoint();
    if (event->button() == Qt::LeftButton)
        LeftButtonDown(p, event->modifiers());
    else if (event->button() == Qt::RightButton)
        RightButtonDown(p, event->modifiers());
}

void MainWindow::mouseReleaseEvent(QMouseEvent* event) {
    const QPoint p = event->position().toPoint();
    if (event->button() == Qt::LeftButton)
        LeftButtonUp(p);
    else if (event->button() == Qt::RightButton)
        RightButtonUp(p);
}

void MainWindow::mouseDoubleClickEvent(QMouseEvent* event) {
    // The second press of a double click is the double click; a right one means nothing.
    if (event->button() == Qt::LeftButton) LeftDoubleClick(event->position().toPoint(), event->modifiers());
}

void MainWindow::mouseMoveEvent(QMouseEvent* event) {
    MouseMove(event->position().toPoint(), event->buttons());
}

}  // namespace flowloom
