#pragma once

#include <QAbstractScrollArea>
#include <QImage>
#include <QPoint>
#include <QPointF>

namespace flowloom {

// A picture scaled into a scrollable area: fitted to the area (the default), or at a scale
// of the user's, zoomed by the mouse wheel about the pointer, panned by a left drag or the
// scroll bars. A picture smaller than the area is centred. Scaling below 1:1 is smooth or
// nearest as chosen; at 1:1 and above every picture pixel is a sharp block.
//
// Positions are in the viewport's pixels; picture positions are in picture pixels,
// (0, 0) its top-left corner, pixel (c, r) covering [c, c+1) x [r, r+1).
class PictureView : public QAbstractScrollArea {
    Q_OBJECT

public:
    explicit PictureView(QWidget* parent = nullptr);

    // Shows `picture` (a null image shows nothing). The scale and the scroll position stay,
    // except that a fitted view fits the new picture.
    void SetPicture(const QImage& picture);
    const QImage& Picture() const { return picture_; }

    void FitToWindow();
    // One picture pixel per screen pixel, about the area's centre.
    void ActualSize();
    // Sets the scale (clamped to kMinScale..kMaxScale) keeping the picture point under
    // `anchor` (a viewport position) where it is. Leaves fitting.
    void ZoomAbout(QPointF anchor, double scale);
    // Zooms by `factor` about the area's centre.
    void ZoomBy(double factor);
    void SetSmooth(bool smooth);

    bool Fitted() const { return fitted_; }
    bool Smooth() const { return smooth_; }
    double Scale() const { return scale_; }
    // Where picture point (0, 0) lies in the viewport.
    QPointF Origin() const;
    QPointF PicturePoint(QPointF viewport_position) const;
    // Whether the pixels are drawn smoothly at the current scale.
    bool DrawsSmoothly() const { return smooth_ && scale_ < 1.0; }

    static constexpr double kMinScale = 1.0 / 64.0;
    static constexpr double kMaxScale = 64.0;

signals:
    // The pointer moved to `position` of the picture (outside it too), or left the view.
    void PointerMoved(QPointF position);
    void PointerLeft();
    void ScaleChanged(double scale);

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;

private:
    double FitScale() const;
    QSize ScaledSize() const;
    void UpdateScrollBars();
    void SetScale(double scale);

    QImage picture_;
    QImage scaled_;  // the picture smoothly reduced to the current scale, made on demand
    double scale_ = 1.0;
    bool fitted_ = true;
    bool smooth_ = true;
    bool dragging_ = false;
    QPoint drag_from_;
};

}  // namespace flowloom
