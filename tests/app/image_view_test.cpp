// The image view as a user sees and handles it: what is drawn where, panning, region
// selection with the right button, mirroring and the colour-mode toggle.
#include <cstring>
#include <vector>

#include "app/caption.h"
#include "engine/commands.h"
#include "window_test_support.h"

namespace flowloom::test {
namespace {

std::vector<unsigned char> Rgb(const MainWindow& w) {
    const unsigned char* p = w.engine->rgb_image.get();
    return {p, p + 3 * static_cast<size_t>(w.engine->x_res) * w.engine->y_res};
}

TEST(ImageView, TheDefaultPictureSitsTopLeftWithBlackAroundIt) {
    WindowFixture f;
    f.Click(1046);
    ASSERT_EQ(f.window.engine->x_res, 300);
    ASSERT_EQ(f.window.engine->y_res, 300);
    EXPECT_EQ(f.window.clip_rect, (PixelRect{15, 15, 315, 315}));
    const QImage shown = f.ViewOnScreen();
    ASSERT_EQ(shown.size(), QSize(600, 374));
    int wrong_image = 0;
    int wrong_black = 0;
    for (int y = 0; y < 374; ++y) {
        for (int x = 0; x < 600; ++x) {
            const QRgb pixel = shown.pixel(x, y) & 0xFFFFFF;
            if (x < 300 && y < 300)
                wrong_image += pixel != (f.EnginePixel(x, y) & 0xFFFFFF);
            else
                wrong_black += pixel != 0;
        }
    }
    EXPECT_EQ(wrong_image, 0);
    EXPECT_EQ(wrong_black, 0);
    // A picture smaller than the view cannot be panned.
    f.Drag(Qt::LeftButton, QPoint(200, 200), QPoint(100, 120));
    f.Drag(Qt::LeftButton, QPoint(100, 120), QPoint(300, 300));
    EXPECT_EQ(f.window.scroll_x, 0);
    EXPECT_EQ(f.window.scroll_y, 0);
}

TEST(ImageView, PanningALargePictureStopsAtItsEdges) {
    WindowFixture f;
    f.SetGrid(1000, 800);
    f.Type(1016, "1");
    f.Click(1046);
    EXPECT_EQ(f.window.scroll_max_x, 400);
    EXPECT_EQ(f.window.scroll_max_y, 426);
    EXPECT_EQ(f.window.clip_rect, (PixelRect{15, 15, 615, 389}));
    f.Drag(Qt::LeftButton, QPoint(300, 200), QPoint(250, 200));
    EXPECT_EQ(f.window.scroll_x, 0);
    f.Drag(Qt::LeftButton, QPoint(20, 200), QPoint(520, 200));
    EXPECT_EQ(f.window.scroll_x, 400);
    f.Drag(Qt::LeftButton, QPoint(300, 20), QPoint(300, 120));
    EXPECT_EQ(f.window.scroll_y, 100);
    // The view now starts at image pixel (400, 100).
    const QImage shown = f.ViewOnScreen();
    EXPECT_EQ(shown.pixel(0, 0) & 0xFFFFFF, f.EnginePixel(400, 100) & 0xFFFFFF);
    EXPECT_EQ(shown.pixel(599, 373) & 0xFFFFFF, f.EnginePixel(999, 473) & 0xFFFFFF);
    f.Drag(Qt::LeftButton, QPoint(300, 20), QPoint(300, 380));
    EXPECT_EQ(f.window.scroll_y, 426);
    // A new size starts the view at the top-left again.
    f.SetGrid(40, 30);
    f.Click(1046);
    EXPECT_EQ(f.window.scroll_x, 0);
    EXPECT_EQ(f.window.scroll_y, 0);
}

TEST(ImageView, ARightDragZoomsTheLastCommandIntoTheRegion) {
    WindowFixture f;
    f.Type(1016, "3");
    f.Click(1046);
    const int bars = f.computations.bars;
    f.Press(Qt::RightButton, QPoint(115, 65));
    f.Move(QPoint(215, 165));
    // While dragging, the boxes show the region in view coordinates.
    EXPECT_EQ(f.Edit(1022)->text(), "100");
    EXPECT_EQ(f.Edit(1024)->text(), "50");
    EXPECT_EQ(f.Edit(1023)->text(), "200");
    EXPECT_EQ(f.Edit(1025)->text(), "150");
    EXPECT_EQ(f.window.focus_rect, (PixelRect{115, 65, 215, 165}));
    f.Release(Qt::RightButton, QPoint(215, 165));
    EXPECT_EQ(f.computations.bars, bars + 1);
    EXPECT_EQ(f.window.mirror.roi_enabled, 1);
    EXPECT_EQ(f.window.mirror.roi_left, 100);
    EXPECT_EQ(f.window.mirror.roi_top, 50);
    EXPECT_EQ(f.window.last_command, kCommandLic);
    // The region was zoomed by the scale, 2.
    EXPECT_EQ(f.window.engine->x_res, 201);
    EXPECT_EQ(f.window.engine->y_res, 201);
    // The check box is cleared again; the region stays in the boxes.
    EXPECT_FALSE(f.Checked(1048));
    EXPECT_EQ(f.window.roi_enabled, 0);
    EXPECT_EQ(f.Edit(1022)->text(), "100");
    EXPECT_EQ(f.Edit(1023)->text(), "200");
}

TEST(ImageView, ARightDragOnAScrolledPictureAddsTheScroll) {
    WindowFixture f;
    f.SetGrid(700, 200);
    f.Type(1016, "2");
    f.Click(1046);
    f.Drag(Qt::LeftButton, QPoint(340, 100), QPoint(300, 100));  // view moves 40 to the left
    EXPECT_EQ(f.window.scroll_x, 0);
    f.Drag(Qt::LeftButton, QPoint(300, 100), QPoint(340, 100));
    ASSERT_EQ(f.window.scroll_x, 40);
    f.Press(Qt::RightButton, QPoint(115, 65));
    f.Move(QPoint(215, 165));
    EXPECT_EQ(f.Edit(1022)->text(), "100");
    EXPECT_EQ(f.Edit(1023)->text(), "200");
    f.Release(Qt::RightButton, QPoint(215, 165));
    EXPECT_EQ(f.window.mirror.roi_left, 140);
    EXPECT_EQ(f.window.mirror.roi_right, 240);
    EXPECT_EQ(f.window.scroll_x, 0);
}

TEST(ImageView, ShortDragsOrDragsOffThePictureSelectNothing) {
    WindowFixture f;
    f.SetGrid(100, 100);
    f.Click(1046);
    const int bars = f.computations.bars;
    f.Drag(Qt::RightButton, QPoint(30, 30), QPoint(34, 80));    // 4 pixels wide
    f.Drag(Qt::RightButton, QPoint(30, 30), QPoint(200, 200));  // ends right of the picture
    EXPECT_EQ(f.computations.bars, bars);
    EXPECT_EQ(f.window.mirror.roi_enabled, 0);
    EXPECT_FALSE(f.Checked(1048));
}

TEST(ImageView, MovingThePointerRewritesOnlyTheLeftAndTopBoxes) {
    WindowFixture f;
    f.SetGrid(40, 30);
    f.Click(1046);
    f.Type(1016, "33");
    f.Type(1009, "44");
    f.Move(QPoint(115, 65));
    EXPECT_EQ(f.Edit(1022)->text(), "100");
    EXPECT_EQ(f.Edit(1024)->text(), "50");
    EXPECT_EQ(f.Edit(1016)->text(), "33");
    EXPECT_EQ(f.Edit(1009)->text(), "44");
    // Outside the view the fields follow but the boxes do not.
    f.Move(QPoint(700, 100));
    EXPECT_EQ(f.window.roi_left, 685);
    EXPECT_EQ(f.Edit(1022)->text(), "100");
}

TEST(ImageView, CtrlClicksMirrorThePictureAndNameItInTheCaption) {
    WindowFixture f;
    EXPECT_EQ(f.Caption(), CaptionText(4));
    f.SetGrid(40, 30);
    f.Click(1046);
    const std::vector<unsigned char> start = Rgb(f.window);
    const QRgb top_left = f.EnginePixel(0, 0);

    f.ClickAt(Qt::LeftButton, QPoint(100, 100), Qt::ControlModifier);
    EXPECT_EQ(f.Caption(), CaptionText(6));
    EXPECT_EQ(f.window.engine->flip_rows, 1);
    EXPECT_EQ(f.EnginePixel(0, 29), top_left);  // rows reversed
    f.ClickAt(Qt::RightButton, QPoint(100, 100), Qt::ControlModifier);
    EXPECT_EQ(f.Caption(), CaptionText(7));
    EXPECT_EQ(f.EnginePixel(39, 29), top_left);  // and columns
    EXPECT_EQ(f.window.scroll_x, 0);

    // Unchecking the colour mapping: grey, still mirrored.
    f.Click(1012);
    EXPECT_EQ(f.Caption(), CaptionText(3));
    // A double click with the colour mapping off changes nothing.
    f.DoubleClickAt(QPoint(100, 100));
    EXPECT_EQ(f.Caption(), CaptionText(3));
    EXPECT_EQ(f.window.engine->color_by_data, 0);

    f.Click(1012);
    f.ClickAt(Qt::LeftButton, QPoint(100, 100), Qt::ControlModifier);
    f.ClickAt(Qt::RightButton, QPoint(100, 100), Qt::ControlModifier);
    EXPECT_EQ(f.Caption(), CaptionText(4));
    EXPECT_EQ(Rgb(f.window), start);
}

TEST(ImageView, WhileMirroredTheMouseNeitherPansNorSelects) {
    WindowFixture f;
    f.SetGrid(1000, 100);
    f.Type(1016, "1");
    f.Click(1046);
    const int bars = f.computations.bars;
    f.ClickAt(Qt::LeftButton, QPoint(100, 50), Qt::ControlModifier);
    f.Drag(Qt::LeftButton, QPoint(100, 50), QPoint(300, 50));
    EXPECT_EQ(f.window.scroll_x, 0);
    f.Drag(Qt::RightButton, QPoint(30, 30), QPoint(80, 80));
    EXPECT_EQ(f.computations.bars, bars);
    f.ClickAt(Qt::LeftButton, QPoint(100, 50), Qt::ControlModifier);
    f.Drag(Qt::LeftButton, QPoint(100, 50), QPoint(300, 50));
    EXPECT_EQ(f.window.scroll_x, 200);
    // A Ctrl click sets no anchor: its release does not pan from an older one.
    f.ClickAt(Qt::LeftButton, QPoint(500, 50), Qt::ControlModifier);
    f.ClickAt(Qt::LeftButton, QPoint(500, 50), Qt::ControlModifier);
    EXPECT_EQ(f.window.scroll_x, 200);
}

TEST(ImageView, ADoubleClickSwitchesToColourByDirection) {
    WindowFixture f;
    f.SetGrid(40, 30);
    f.Click(1046);
    const std::vector<unsigned char> by_magnitude = Rgb(f.window);
    f.DoubleClickAt(QPoint(100, 100));
    EXPECT_EQ(f.Caption(), CaptionText(8));
    EXPECT_EQ(f.window.engine->color_by_data, 1);
    EXPECT_NE(Rgb(f.window), by_magnitude);
    EXPECT_EQ(f.ViewOnScreen().pixel(5, 5) & 0xFFFFFF, f.EnginePixel(5, 5) & 0xFFFFFF);
    // With Ctrl held the double click leaves the colour mode alone (the press mirrors).
    f.DoubleClickAt(QPoint(100, 100), Qt::ControlModifier);
    EXPECT_EQ(f.window.engine->color_by_data, 1);
    EXPECT_EQ(f.window.engine->flip_rows, 1);
    EXPECT_EQ(f.Caption(), CaptionText(10));
}

TEST(ImageView, TheRubberBandIsADottedInvertingRectangle) {
    WindowFixture f;
    f.SetGrid(200, 200);
    f.Click(1046);
    f.Press(Qt::RightButton, QPoint(40, 40));
    f.Move(QPoint(140, 120));
    const QImage shown = f.ViewOnScreen();
    int inverted = 0;
    int untouched = 0;
    for (int x = 30; x < 120; ++x) {  // along the band's top edge, view row 25
        const QRgb on_screen = shown.pixel(x, 25) & 0xFFFFFF;
        const QRgb image = f.EnginePixel(x, 25) & 0xFFFFFF;
        inverted += on_screen == (~image & 0xFFFFFF);
        untouched += on_screen == image;
    }
    EXPECT_GE(inverted, 20);
    EXPECT_GE(untouched, 20);
    f.Release(Qt::RightButton, QPoint(140, 120));
    // The zoomed picture replaces the band.
    const QImage after = f.ViewOnScreen();
    EXPECT_EQ(after.pixel(60, 25) & 0xFFFFFF, f.EnginePixel(60, 25) & 0xFFFFFF);
}

// The marked region is in image pixels: a view scrolled by 50 adds 50, so the passes
// compute exactly the pixels under the band.
TEST(ImageView, DuringProgressiveLicALeftDragMarksTheImageRegionUnderTheBand) {
    WindowFixture f;
    f.SetGrid(700, 200);
    f.Type(1016, "1");
    f.Click(1046);
    f.Drag(Qt::LeftButton, QPoint(300, 100), QPoint(350, 100));
    ASSERT_EQ(f.window.scroll_x, 50);
    f.window.last_command = kCommandProLic;  // as the progressive command sets it first of all
    f.Press(Qt::LeftButton, QPoint(30, 30));
    f.Move(QPoint(80, 70));
    EXPECT_EQ(f.window.focus_rect, (PixelRect{30, 30, 80, 70}));
    f.Release(Qt::LeftButton, QPoint(80, 70));
    EXPECT_EQ(f.window.roi_left, 65);
    EXPECT_EQ(f.window.roi_top, 15);
    EXPECT_EQ(f.window.roi_right, 115);
    EXPECT_EQ(f.window.roi_bottom, 55);
    EXPECT_EQ(f.window.scroll_x, 50);  // no panning meanwhile
    // A drag under 5 pixels marks nothing.
    f.Drag(Qt::LeftButton, QPoint(100, 100), QPoint(103, 150));
    EXPECT_EQ(f.window.roi_left, 65);
}

TEST(ImageView, AfterImageLicARightDragRunsNothing) {
    WindowFixture f;
    f.SetGrid(100, 100);
    f.Click(1046);
    const int bars = f.computations.bars;
    f.window.last_command = kCommandLicing;
    f.Drag(Qt::RightButton, QPoint(30, 30), QPoint(80, 80));
    EXPECT_EQ(f.computations.bars, bars);
    EXPECT_EQ(f.window.roi_enabled, 0);
    EXPECT_FALSE(f.Checked(1048));
    EXPECT_EQ(f.window.focus_rect, (PixelRect{30, 30, 80, 80}));  // the band stays
}

}  // namespace
}  // namespace flowloom::test
