#include <gtest/gtest.h>

#include <QScrollBar>
#include <QWheelEvent>
#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#include "app/picture_view.h"
#include "app/viewer_window.h"
#include "app/window_test_support.h"
#include "fieldio/field_import.h"
#include "support/test_support.h"

namespace flowloom {
namespace {

using test::WindowFixture;

// A 40 x 30 field whose sample (c, r) holds u = c - 20, v = r / 4 + 1, with one sample
// masked at (5, 7), chosen as a file given on the command line would be.
constexpr int kWidth = 40;
constexpr int kHeight = 30;

void ChooseKnownField(WindowFixture& f, test::TempDir& dir) {
    std::vector<float> vectors(2 * kWidth * kHeight);
    for (int r = 0; r < kHeight; ++r)
        for (int c = 0; c < kWidth; ++c) {
            vectors[2 * (r * kWidth + c)] = static_cast<float>(c - 20);
            vectors[2 * (r * kWidth + c) + 1] = static_cast<float>(r / 4.0 + 1.0);
        }
    vectors[2 * (7 * kWidth + 5)] = std::numeric_limits<float>::quiet_NaN();
    std::string error;
    ASSERT_EQ(WriteVecFile(dir.File("known.vec").c_str(), kWidth, kHeight, vectors.data(), error), 1) << error;
    ASSERT_EQ(f.window.OpenDesktopFile(QString::fromStdString(dir.File("known.vec"))), 1);
}

ViewerWindow* OpenViewer(WindowFixture& f, QSize size) {
    QTest::keyClick(&f.window, Qt::Key_F2);
    ViewerWindow* viewer = f.window.Viewer();
    EXPECT_NE(viewer, nullptr);
    if (!viewer) return nullptr;
    viewer->resize(size);
    EXPECT_TRUE(QTest::qWaitForWindowExposed(viewer));
    QCoreApplication::processEvents();
    return viewer;
}

// The viewport position of the centre of picture pixel (c, r).
QPoint PixelCentre(const PictureView& view, int c, int r) {
    const QPointF p = view.Origin() + QPointF(c + 0.5, r + 0.5) * view.Scale();
    return p.toPoint();
}

QImage EnginePicture(const LicEngine& engine) {
    QImage picture(engine.x_res, engine.y_res, QImage::Format_RGB32);
    for (int y = 0; y < engine.y_res; ++y)
        for (int x = 0; x < engine.x_res; ++x) {
            const unsigned char* p = engine.rgb_image.get() + 3 * (static_cast<size_t>(y) * engine.x_res + x);
            picture.setPixel(x, y, qRgb(p[2], p[1], p[0]));
        }
    return picture;
}

// The pointer over the picture, delivered straight to the view (the offscreen platform
// drops repeated synthetic moves).
void Hover(PictureView& view, QPoint at) {
    QMouseEvent event(QEvent::MouseMove, QPointF(at), QPointF(view.viewport()->mapToGlobal(at)), Qt::NoButton,
                      Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(view.viewport(), &event);
}

void Wheel(QWidget* target, QPoint at, int eighths) {
    QWheelEvent event(QPointF(at), QPointF(target->mapToGlobal(at)), QPoint(), QPoint(0, eighths), Qt::NoButton,
                      Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(target, &event);
}

TEST(Viewer, FitsZoomsAboutThePointerAndReadsTheSampleUnderIt) {
    test::TempDir dir;
    WindowFixture f;
    ChooseKnownField(f, dir);
    f.Click(1046);
    ASSERT_EQ(f.window.engine->x_res, kWidth);
    ViewerWindow* viewer = OpenViewer(f, QSize(700, 500));
    ASSERT_NE(viewer, nullptr);
    PictureView& view = *viewer->View();
    ASSERT_EQ(view.Picture(), EnginePicture(*f.window.engine));

    // Fitted: the whole picture, as large as the area allows, centred.
    const QSize area = view.viewport()->size();
    EXPECT_TRUE(view.Fitted());
    EXPECT_NEAR(view.Scale(), std::min(area.width() / 40.0, area.height() / 30.0), 1e-9);
    EXPECT_GE(view.Origin().x(), 0.0);
    EXPECT_GE(view.Origin().y(), 0.0);
    EXPECT_FALSE(view.DrawsSmoothly());  // enlarged: sharp blocks

    // The status line reads the field's own values there, and "masked" on the hole.
    Hover(view, PixelCentre(view, 12, 9));
    EXPECT_EQ(viewer->StatusText().toStdString(), "column 12, row 9   u -8, v 3.25, magnitude 8.635");
    Hover(view, PixelCentre(view, 5, 7));
    EXPECT_EQ(viewer->StatusText().toStdString(), "column 5, row 7   masked");

    // The wheel zooms about the pointer: the picture point under it stays put.
    const QPoint pointer = PixelCentre(view, 30, 20);
    const QPointF before = view.PicturePoint(pointer);
    Wheel(view.viewport(), pointer, 3 * 120);
    EXPECT_FALSE(view.Fitted());
    EXPECT_GT(view.horizontalScrollBar()->maximum(), 0);
    const QPointF after = view.PicturePoint(pointer);
    EXPECT_NEAR(after.x(), before.x(), 1.0 / view.Scale());
    EXPECT_NEAR(after.y(), before.y(), 1.0 / view.Scale());
    Hover(view, pointer);
    EXPECT_TRUE(viewer->StatusText().startsWith("column 30, row 20   u 10,")) << viewer->StatusText().toStdString();

    // A drag pans; 1:1 is one pixel per pixel; smooth only below it.
    const int scrolled = view.horizontalScrollBar()->value();
    QTest::mousePress(view.viewport(), Qt::LeftButton, {}, pointer);
    QTest::mouseMove(view.viewport(), pointer + QPoint(-40, 0));
    QTest::mouseRelease(view.viewport(), Qt::LeftButton, {}, pointer + QPoint(-40, 0));
    EXPECT_EQ(view.horizontalScrollBar()->value(), std::min(scrolled + 40, view.horizontalScrollBar()->maximum()));
    view.ActualSize();
    EXPECT_EQ(view.Scale(), 1.0);
    view.ZoomBy(0.5);
    EXPECT_TRUE(view.DrawsSmoothly());
    view.SetSmooth(false);
    EXPECT_FALSE(view.DrawsSmoothly());
    view.FitToWindow();
    EXPECT_TRUE(view.Fitted());

    // Mirrored top to bottom in the main window: the same pixel is another sample.
    f.ClickAt(Qt::LeftButton, QPoint(20, 20), Qt::ControlModifier);
    EXPECT_EQ(view.Picture(), EnginePicture(*f.window.engine));
    Hover(view, PixelCentre(view, 12, kHeight - 1 - 9));
    EXPECT_EQ(viewer->StatusText().toStdString(), "column 12, row 9   u -8, v 3.25, magnitude 8.635");
}

TEST(Viewer, SavesThePictureAtFullSizeThroughTheSeam) {
    test::TempDir dir;
    WindowFixture f;
    f.SetGrid(64, 48);
    f.Click(1046);
    ViewerWindow* viewer = OpenViewer(f, QSize(300, 200));
    ASSERT_NE(viewer, nullptr);
    const QString path = QString::fromStdString(dir.File("view.png"));
    f.seam.answers.push_back(path);
    viewer->SaveViewAs();
    ASSERT_FALSE(f.seam.file_dialogs.empty());
    EXPECT_TRUE(f.seam.file_dialogs.back().save);
    EXPECT_TRUE(QString(f.seam.file_dialogs.back().filter).startsWith("PNG Image File (*.png)|"));
    EXPECT_EQ(QImage(path).convertToFormat(QImage::Format_RGB32), EnginePicture(*f.window.engine));
    EXPECT_TRUE(f.seam.messages.empty());

    // The colour bar: beside a picture coloured by magnitude, and in the saved file when
    // asked, to the right of the unchanged picture; a grey picture has no scale to show.
    EXPECT_TRUE(viewer->ColourBarSlot()->isVisible());
    const QString barred = QString::fromStdString(dir.File("barred.png"));
    f.seam.answers.push_back(barred);
    viewer->SaveViewAs(true);
    const QImage with_bar = QImage(barred).convertToFormat(QImage::Format_RGB32);
    const QImage picture = EnginePicture(*f.window.engine);
    ASSERT_EQ(with_bar.height(), picture.height());
    ASSERT_GT(with_bar.width(), picture.width());
    EXPECT_EQ(with_bar.copy(0, 0, picture.width(), picture.height()), picture);
    // The bar is drawn again for the height the window is given, taller or shorter, so
    // that its end labels are never cut off.
    auto* bar = viewer->ColourBarSlot()->findChild<QLabel*>();
    ASSERT_NE(bar, nullptr);
    for (const QSize size : {QSize(700, 600), QSize(500, 300)}) {
        viewer->resize(size);
        QCoreApplication::processEvents();
        EXPECT_EQ(bar->pixmap().height(), std::max(200, viewer->View()->viewport()->height()));
        EXPECT_GE(bar->height(), std::min(bar->pixmap().height(), viewer->View()->viewport()->height()));
    }
    f.Click(1012);  // colour mapping off
    f.Click(1046);
    EXPECT_FALSE(viewer->ColourBarSlot()->isVisible());
}

// Every progressive pass reaches the viewer as it is drawn, not only the finished picture.
TEST(Viewer, FollowsTheProgressivePassesAsTheyCome) {
    WindowFixture f;
    f.SetGrid(60, 40);
    f.Type(1033, "3");
    ViewerWindow* viewer = OpenViewer(f, QSize(400, 300));
    ASSERT_NE(viewer, nullptr);
    int drawn = 0;
    int matching = 0;
    QObject::connect(&f.window, &MainWindow::PictureChanged, [&] {
        ++drawn;
        if (viewer->View()->Picture() == EnginePicture(*f.window.engine)) ++matching;
    });
    f.Click(1045);
    EXPECT_GE(drawn, 9);
    EXPECT_EQ(matching, drawn);
    EXPECT_EQ(viewer->View()->Picture(), EnginePicture(*f.window.engine));
}

// Opening the viewer and using it changes nothing in the main window: not its picture,
// its controls, its layout, nor the settings it hands to the engine.
TEST(Viewer, LeavesTheMainWindowAsItWas) {
    WindowFixture f;
    f.SetGrid(700, 500);  // larger than the view, so that panning matters
    f.Click(1046);
    // Every control's place and value.
    auto panel = [&] {
        QStringList state;
        for (int id = 1000; id < 1100; ++id)
            if (QWidget* w = f.window.Control(id)) {
                auto* edit = qobject_cast<QLineEdit*>(w);
                auto* button = qobject_cast<QAbstractButton*>(w);
                const QRect g = w->geometry();
                state << QStringLiteral("%1 %2,%3,%4,%5 %6")
                             .arg(id)
                             .arg(g.x())
                             .arg(g.y())
                             .arg(g.width())
                             .arg(g.height())
                             .arg(edit     ? edit->text()
                                  : button ? QString::number(button->isChecked())
                                           : QString());
            }
        return state;
    };
    const QImage shown = f.ViewOnScreen();
    const QStringList controls = panel();
    const QSize size = f.window.size();
    const SettingsRecord mirror = f.window.mirror;

    ViewerWindow* viewer = OpenViewer(f, QSize(500, 400));
    ASSERT_NE(viewer, nullptr);
    PictureView& view = *viewer->View();
    Wheel(view.viewport(), QPoint(100, 100), 240);
    QTest::mousePress(view.viewport(), Qt::LeftButton, {}, QPoint(100, 100));
    QTest::mouseMove(view.viewport(), QPoint(50, 60));
    QTest::mouseRelease(view.viewport(), Qt::LeftButton, {}, QPoint(50, 60));
    view.ActualSize();
    f.window.Paint();

    EXPECT_EQ(f.ViewOnScreen(), shown);
    EXPECT_EQ(panel(), controls);
    EXPECT_EQ(f.window.size(), size);
    EXPECT_EQ(f.window.scroll_x, 0);
    EXPECT_EQ(std::memcmp(&f.window.mirror, &mirror, sizeof mirror), 0);
}

// A wind field on longitude and latitude is traced in converted steps; the status line
// still gives the place and the file's own u, v, as an index read of the same file has them.
TEST(Viewer, ReadsTheFilesCoordinatesAndUnitsOfAGeographicField) {
    const std::string wind = FLOWLOOM_SOURCE_SAMPLES "/wind_300hpa_january.nc";
    WindowFixture f;
    ASSERT_EQ(f.window.OpenDesktopFile(QString::fromStdString(wind)), 1);
    f.Click(1046);
    ViewerWindow* viewer = OpenViewer(f, QSize(700, 500));
    ASSERT_NE(viewer, nullptr);
    PictureView& view = *viewer->View();
    ImportOptions as_read;
    as_read.coordinates = Coordinates::kIndex;
    ImportedField field;
    std::string error;
    ASSERT_EQ(ImportFieldFile(wind.c_str(), as_read, field, error), 1) << error;
    ASSERT_EQ(field.width, f.window.engine->x_res);
    const int c = 100, r = 20;
    const float u = field.vectors[2 * (r * field.width + c)];
    const float v = -field.vectors[2 * (r * field.width + c) + 1];
    Hover(view, PixelCentre(view, c, r));
    const QString expected = QStringLiteral("column %1, row %2   %3 %4, %5 %6   u %7, v %8")
                                 .arg(c)
                                 .arg(r)
                                 .arg(QString::fromStdString(field.x_axis.name))
                                 .arg(field.x_axis.values[c], 0, 'g', 4)
                                 .arg(QString::fromStdString(field.y_axis.name))
                                 .arg(field.y_axis.values[r], 0, 'g', 4)
                                 .arg(u, 0, 'g', 4)
                                 .arg(v, 0, 'g', 4);
    EXPECT_TRUE(viewer->StatusText().startsWith(expected)) << viewer->StatusText().toStdString() << "\n"
                                                           << expected.toStdString();
}

}  // namespace
}  // namespace flowloom
