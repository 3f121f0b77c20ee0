#pragma once

#include <QImage>
#include <QMainWindow>
#include <QPointF>
#include <QString>

#include "engine/sample_probe.h"
#include "media/malloc_buffer.h"

class QAction;
class QLabel;
class QWidget;

namespace flowloom {

class MainWindow;
class PictureView;

// The viewer: a resizable window that shows the main window's picture, or the animation
// frame playing, scaled (fitted by default), and reads out what lies under the pointer in
// its status line. It follows every drawing of the main window, each progressive pass
// included, and only reads the engine: it never changes a setting or a control.
class ViewerWindow : public QMainWindow {
    Q_OBJECT

public:
    // A child window of `source`, which outlives it.
    explicit ViewerWindow(MainWindow* source);

    // Takes the picture the main window shows now.
    void Refresh();
    // The readout for picture position `position` (picture pixels), and its text.
    SampleReadout ReadoutAt(QPointF position) const;
    static QString ReadoutText(const SampleReadout& readout);
    // Writes the picture shown at its full size, as PNG when the name ends in .png (in any
    // case), else as a 24-bit BMP; the file is chosen through the main window's dialog
    // seam. A failed write is reported. Nothing happens without a picture. `with_bar` adds
    // the colour bar beside it, when the picture has a scale to show.
    void SaveViewAs(bool with_bar = false);

    PictureView* View() const { return view_; }
    QString StatusText() const;
    // Where the colour bar goes, beside the picture: shown while the picture is coloured by
    // the field's magnitude or a colour scalar and "Colour Bar" is checked.
    QWidget* ColourBarSlot() const { return colour_bar_slot_; }
    // The bar the engine's picture would get, for `height` rows: true with the bar of the
    // composition's map and norm, the scalar's name and units; false when the picture has
    // no scale to show (grey, by direction, an animation, or nothing computed).
    bool ColourBarOf(const unsigned char* bgr, int width, int height, MallocBuffer<unsigned char>& out,
                     int& out_width) const;

protected:
    void showEvent(QShowEvent* event) override;
    // The view's resizing redraws the colour bar for its new height.
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QImage CurrentPicture() const;
    // Draws the colour bar beside the view at the view's height, or hides its slot.
    void UpdateColourBar();
    void ShowReadout(QPointF position);
    void BuildMenus();

    MainWindow* source_;
    PictureView* view_ = nullptr;
    QWidget* colour_bar_slot_ = nullptr;
    QLabel* readout_ = nullptr;
    QLabel* colour_bar_ = nullptr;
    QAction* colour_bar_action_ = nullptr;
    QAction* fit_action_ = nullptr;
    QPointF last_pointer_{-1.0, -1.0};
    bool pointer_inside_ = false;
};

}  // namespace flowloom
