#include "app/picture_view.h"

#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <QWheelEvent>
#include <algorithm>
#include <cmath>

namespace flowloom {

namespace {

// One notch of a wheel (120 eighths of a degree) zooms by this factor.
constexpr double kWheelStep = 1.25;

}  // namespace

PictureView::PictureView(QWidget* parent) : QAbstractScrollArea(parent) {
    setMouseTracking(true);
    viewport()->setMouseTracking(true);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    viewport()->setCursor(Qt::CrossCursor);
}

void PictureView::SetPicture(const QImage& picture) {
    const bool resized = picture.size() != picture_.size();
    picture_ = picture;
    scaled_ = QImage();
    if (fitted_) {
        scale_ = FitScale();
        emit ScaleChanged(scale_);
    }
    if (resized || fitted_) UpdateScrollBars();
    viewport()->update();
}

double PictureView::FitScale() const {
    if (picture_.isNull()) return 1.0;
    const QSize area = maximumViewportSize();
    const double scale = std::min(static_cast<double>(area.width()) / picture_.width(),
                                  static_cast<double>(area.height()) / picture_.height());
    return std::clamp(scale, kMinScale, kMaxScale);
}

QSize PictureView::ScaledSize() const {
    if (picture_.isNull()) return {0, 0};
    return {std::max(1, static_cast<int>(std::lround(picture_.width() * scale_))),
            std::max(1, static_cast<int>(std::lround(picture_.height() * scale_)))};
}

void PictureView::UpdateScrollBars() {
    const QSize content = ScaledSize();
    const QSize area = viewport()->size();
    horizontalScrollBar()->setRange(0, std::max(0, content.width() - area.width()));
    verticalScrollBar()->setRange(0, std::max(0, content.height() - area.height()));
    horizontalScrollBar()->setPageStep(area.width());
    verticalScrollBar()->setPageStep(area.height());
    horizontalScrollBar()->setSingleStep(std::max(1, area.width() / 20));
    verticalScrollBar()->setSingleStep(std::max(1, area.height() / 20));
}

QPointF PictureView::Origin() const {
    const QSize content = ScaledSize();
    const QSize area = viewport()->size();
    // Centred along an axis where the picture is smaller than the area, scrolled otherwise.
    const double x =
        content.width() < area.width() ? (area.width() - content.width()) / 2 : -horizontalScrollBar()->value();
    const double y =
        content.height() < area.height() ? (area.height() - content.height()) / 2 : -verticalScrollBar()->value();
    return {x, y};
}

QPointF PictureView::PicturePoint(QPointF viewport_position) const {
    return (viewport_position - Origin()) / scale_;
}

void PictureView::SetScale(double scale) {
    scale_ = std::clamp(scale, kMinScale, kMaxScale);
    scaled_ = QImage();
    UpdateScrollBars();
    emit ScaleChanged(scale_);
}

void PictureView::FitToWindow() {
    fitted_ = true;
    SetScale(FitScale());
    viewport()->update();
}

void PictureView::ActualSize() {
    const QRect area = viewport()->rect();
    ZoomAbout(QPointF(area.width() / 2.0, area.height() / 2.0), 1.0);
}

void PictureView::ZoomBy(double factor) {
    const QRect area = viewport()->rect();
    ZoomAbout(QPointF(area.width() / 2.0, area.height() / 2.0), scale_ * factor);
}

void PictureView::ZoomAbout(QPointF anchor, double scale) {
    const QPointF held = PicturePoint(anchor);
    fitted_ = false;
    SetScale(scale);
    // Scroll so that `held` lands under the anchor again (the bars clamp at the edges).
    horizontalScrollBar()->setValue(static_cast<int>(std::lround(held.x() * scale_ - anchor.x())));
    verticalScrollBar()->setValue(static_cast<int>(std::lround(held.y() * scale_ - anchor.y())));
    viewport()->update();
}

void PictureView::SetSmooth(bool smooth) {
    smooth_ = smooth;
    scaled_ = QImage();
    viewport()->update();
}

void PictureView::paintEvent(QPaintEvent*) {
    QPainter painter(viewport());
    painter.fillRect(viewport()->rect(), palette().color(QPalette::Dark));
    if (picture_.isNull()) return;
    const QPointF origin = Origin();
    const QSize content = ScaledSize();
    if (DrawsSmoothly()) {
        // A reduced copy is small and is drawn as it is on every repaint.
        if (scaled_.size() != content)
            scaled_ = picture_.scaled(content, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        painter.drawImage(origin, scaled_);
        return;
    }
    painter.setRenderHint(QPainter::SmoothPixmapTransform, false);
    painter.drawImage(QRectF(origin, QSizeF(content)), picture_);
}

void PictureView::resizeEvent(QResizeEvent* event) {
    QAbstractScrollArea::resizeEvent(event);
    if (fitted_) {
        SetScale(FitScale());
    } else {
        UpdateScrollBars();
    }
}

void PictureView::scrollContentsBy(int, int) {
    viewport()->update();
}

void PictureView::wheelEvent(QWheelEvent* event) {
    const int eighths = event->angleDelta().y();
    if (eighths == 0 || picture_.isNull()) {
        event->ignore();
        return;
    }
    ZoomAbout(event->position(), scale_ * std::pow(kWheelStep, eighths / 120.0));
    event->accept();
}

void PictureView::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) return QAbstractScrollArea::mousePressEvent(event);
    dragging_ = true;
    drag_from_ = event->position().toPoint();
    viewport()->setCursor(Qt::ClosedHandCursor);
}

void PictureView::mouseMoveEvent(QMouseEvent* event) {
    const QPoint p = event->position().toPoint();
    if (dragging_) {
        // Dragging to the right shows more of the picture's left part.
        const QPoint moved = p - drag_from_;
        drag_from_ = p;
        horizontalScrollBar()->setValue(horizontalScrollBar()->value() - moved.x());
        verticalScrollBar()->setValue(verticalScrollBar()->value() - moved.y());
    }
    emit PointerMoved(PicturePoint(event->position()));
}

void PictureView::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) return QAbstractScrollArea::mouseReleaseEvent(event);
    dragging_ = false;
    viewport()->setCursor(Qt::CrossCursor);
}

void PictureView::leaveEvent(QEvent* event) {
    QAbstractScrollArea::leaveEvent(event);
    emit PointerLeft();
}

}  // namespace flowloom
