// The panel's commands as a user drives them: which press computes and which only
// re-colours, what each command forces, the choosers and the saver.
#include "engine/commands.h"

#include <QFile>
#include <QFileInfo>
#include <QKeyEvent>
#include <QMenu>
#include <QTimer>
#include <cstring>
#include <string>

#include "app/caption.h"
#include "media/bmp_reader.h"
#include "media/malloc_buffer.h"
#include "media/photo_reader.h"
#include "support/test_support.h"
#include "window_test_support.h"

namespace flowloom::test {
namespace {

TEST(Commands, FirstPressComputesAndAnUnchangedSecondPressOnlyRecolours) {
    WindowFixture f;
    f.SetGrid(40, 30);
    EXPECT_EQ(f.window.mirror.x_res, -100);
    f.Click(1046);
    EXPECT_EQ(f.computations.bars, 1);
    EXPECT_EQ(f.window.image_ready, 1);
    EXPECT_EQ(f.window.last_command, kCommandLic);
    // The engine's progress bar sat on the strip below the view.
    EXPECT_EQ(f.computations.last_geometry, QRect(15, 394, 600, 7));
    EXPECT_EQ(f.computations.last_name, "1224");
    EXPECT_EQ(f.window.host().progress_bar(), nullptr);

    f.Click(1046);
    EXPECT_EQ(f.computations.bars, 1);

    // Toggling the colour mapping re-colours at once (grey now) and the next press
    // still only re-colours.
    f.Click(1012);
    EXPECT_EQ(f.computations.bars, 1);
    const QRgb grey = f.EnginePixel(20, 15);
    EXPECT_TRUE(qRed(grey) == qGreen(grey) && qGreen(grey) == qBlue(grey));
    EXPECT_EQ(f.Caption(), CaptionText(0));
    f.Click(1046);
    EXPECT_EQ(f.computations.bars, 1);

    // Moving the pointer over the view writes Left and Top, which then count as a change.
    f.Move(QPoint(50, 60));
    EXPECT_EQ(f.Edit(1022)->text(), "35");
    EXPECT_EQ(f.Edit(1024)->text(), "45");
    f.Click(1046);
    EXPECT_EQ(f.computations.bars, 2);
    EXPECT_EQ(f.window.mirror.roi_left, 35);
}

TEST(Commands, KernelLengthTypedBeforeAColorMappingClickStillRecomputes) {
    WindowFixture f;
    f.SetGrid(40, 30);
    f.Click(1046);
    f.Type(1016, "20");
    f.Click(1012);
    EXPECT_EQ(f.computations.bars, 1);
    EXPECT_EQ(f.window.mirror.kernel_length, 15);  // only the colour mapping went across
    EXPECT_EQ(f.window.mirror.color_mapping, 0);
    f.Click(1046);
    EXPECT_EQ(f.computations.bars, 2);
    EXPECT_EQ(f.window.mirror.kernel_length, 20);
    EXPECT_EQ(f.window.engine->kernel_length, 20);
}

TEST(Commands, ColorMappingBeforeAnyComputationOnlySetsTheCaption) {
    WindowFixture f;
    f.Click(1012);
    EXPECT_EQ(f.Caption(), CaptionText(0));
    EXPECT_EQ(f.window.mirror.x_res, -100);
    EXPECT_EQ(f.window.mirror.color_mapping, -100);
    EXPECT_EQ(f.computations.bars, 0);
}

TEST(Commands, MagLicForcesWhiteNoiseBoxKernelAndNoFilters) {
    WindowFixture f;
    f.SetGrid(40, 30);
    f.Click(1011);  // sparse noise
    f.Click(1046);
    f.Click(1014);  // ramp kernel
    f.Click(1017);  // equalization
    f.Click(1018);  // high pass
    f.Click(1039);
    EXPECT_EQ(f.computations.bars, 2);  // a different command always recomputes
    EXPECT_TRUE(f.Checked(1010));
    EXPECT_FALSE(f.Checked(1011));
    EXPECT_TRUE(f.Checked(1013));
    EXPECT_FALSE(f.Checked(1014));
    EXPECT_FALSE(f.Checked(1017));
    EXPECT_FALSE(f.Checked(1018));
    EXPECT_EQ(f.window.mirror.mag_lic, 1);
    EXPECT_EQ(f.window.last_command, kCommandMagLic);
    f.Click(1039);
    EXPECT_EQ(f.computations.bars, 2);
    // Back to plain LIC: a different command, so a full computation.
    f.Click(1046);
    EXPECT_EQ(f.computations.bars, 3);
    EXPECT_EQ(f.window.mirror.mag_lic, 0);
}

TEST(Commands, EnhanceLeavesTheHighPassFilterChecked) {
    WindowFixture f;
    f.SetGrid(40, 30);
    EXPECT_FALSE(f.Checked(1018));
    f.Click(1040);
    EXPECT_TRUE(f.Checked(1018));
    EXPECT_EQ(f.window.high_pass, 1);
    EXPECT_EQ(f.window.mirror.enhanced_lic, 1);
    // Only the iteration count is Enhance's own reason to recompute (each pass of the
    // enhanced LIC shows its own progress bar).
    const int first = f.computations.bars;
    EXPECT_EQ(first, 2);
    f.Click(1040);
    EXPECT_EQ(f.computations.bars, first);
    f.Type(1021, "3");
    f.Click(1040);
    EXPECT_EQ(f.computations.bars, first + 3);
}

TEST(Commands, AnOutOfRangeSizeNamesTheBoundsAndStopsTheCommand) {
    WindowFixture f;
    f.Type(1008, "2500");
    f.Type(1009, "77");
    f.Click(1046);
    ASSERT_EQ(f.seam.messages.size(), 1u);
    EXPECT_EQ(f.seam.messages[0].text, "Please enter an integer between 0 and 2000.");
    EXPECT_EQ(f.seam.messages[0].icon, MessageIcon::kExclamation);
    EXPECT_EQ(QApplication::focusWidget(), f.Edit(1008));
    EXPECT_EQ(f.Edit(1008)->selectedText(), "2500");
    EXPECT_EQ(f.window.x_res, 2500);  // stored before the check
    EXPECT_EQ(f.window.y_res, 300);   // never read
    // Nothing was computed with the invalid value.
    EXPECT_EQ(f.computations.bars, 0);
    EXPECT_EQ(f.window.image_ready, 0);
    EXPECT_EQ(f.window.last_command, -1);
    EXPECT_EQ(f.window.mirror.x_res, -100);

    f.Type(1008, "abc");
    f.Click(1046);
    ASSERT_EQ(f.seam.messages.size(), 2u);
    EXPECT_EQ(f.seam.messages[1].text, "Please enter an integer.");
    EXPECT_EQ(f.window.x_res, 2500);  // a text that is no integer is not stored

    f.Type(1008, "4294967396");  // 2^32 + 100 must not pass for 100
    f.Click(1046);
    ASSERT_EQ(f.seam.messages.size(), 3u);
    EXPECT_EQ(f.seam.messages[2].text, "Please enter an integer between 0 and 2000.");
    EXPECT_EQ(f.window.image_ready, 0);
}

TEST(Commands, ChoosingAFieldFileUnchecksTheFieldButtonsAndKeepsTypedValues) {
    WindowFixture f;
    f.Type(1016, "33");
    f.seam.answers.push_back("/data/flow/LoopFlow02.vec");
    f.Click(1001);
    ASSERT_EQ(f.seam.file_dialogs.size(), 1u);
    const FileDialogRequest& request = f.seam.file_dialogs[0];
    EXPECT_FALSE(request.save);
    EXPECT_STREQ(request.default_extension, "vec");
    EXPECT_EQ(
        NameFiltersFromFilterString(request.filter),
        QStringList({"Vector-Field Files (*.vec *.npy *.npz *.nc *.nc4 *.cdf *.csv)", "2D Vector Data File (*.vec)",
                     "NumPy, NetCDF or CSV Data (*.npy *.npz *.nc *.nc4 *.cdf *.csv)", "All files (*)"}));

    for (int id : {1002, 1003, 1006, 1007}) EXPECT_FALSE(f.Checked(id)) << id;
    EXPECT_EQ(f.window.field_type, 4);
    EXPECT_EQ(f.window.new_field_file, 1);
    EXPECT_EQ(f.window.field_file_path, "/data/flow/LoopFlow02.vec");
    EXPECT_EQ(f.Edit(1016)->text(), "33");  // not thrown away

    // With no field button checked the walk finds none, and the mirror makes it a file.
    ASSERT_EQ(f.window.ReadControls(), 1);
    EXPECT_EQ(f.window.field_type, -1);
    f.window.UpdateMirror();
    EXPECT_EQ(f.window.field_type, 4);
    EXPECT_EQ(f.window.mirror.field_type, 4);
    EXPECT_STREQ(f.window.mirror.field_file, "/data/flow/LoopFlow02.vec");

    // Checking a field button again selects that analytic field.
    f.Click(1006);
    ASSERT_EQ(f.window.ReadControls(), 1);
    EXPECT_EQ(f.window.field_type, 2);

    // Cancelling changes nothing.
    f.Click(1001);
    EXPECT_TRUE(f.Checked(1006));
}

TEST(Commands, AnUnreadableFieldFileStillGivesAPicture) {
    WindowFixture f;
    f.SetGrid(40, 30);
    f.seam.answers.push_back("/nonexistent/flow.vec");
    f.Click(1001);
    f.Click(1046);
    EXPECT_EQ(f.window.image_ready, 1);
    EXPECT_EQ(f.window.new_field_file, 0);
    EXPECT_TRUE(f.window.engine->ImagesMatchGrid());
    // The engine fell back to the Saddle field, and the panel and a message say so.
    EXPECT_TRUE(f.Checked(1002));
    EXPECT_EQ(f.window.field_type, 0);
    ASSERT_EQ(f.seam.messages.size(), 1u);
    EXPECT_EQ(f.seam.messages[0].text,
              "The vector-field file\n/nonexistent/flow.vec\ncould not be read, so the Saddle field is shown.");
    // Pressed again, the Saddle field is what was asked for: no further message.
    f.Click(1046);
    EXPECT_EQ(f.seam.messages.size(), 1u);
}

// A typed region that misses the grid is replaced by the whole grid, and the window says
// so as it says a zoom was refused.
TEST(Commands, ARegionOutsideTheGridIsReportedAndTheWholeGridZoomed) {
    WindowFixture f;
    f.SetGrid(40, 30);
    f.Type(1022, "100");
    f.Type(1024, "100");
    f.Type(1023, "200");
    f.Type(1025, "200");
    f.Click(1048);
    f.Click(1046);
    ASSERT_EQ(f.seam.messages.size(), 1u);
    EXPECT_EQ(f.seam.messages[0].text,
              "Region refused: 100,100,200,200 (left, top, right, bottom) does not lie inside the grid, so the "
              "whole 40 x 30 grid is used.");
    EXPECT_EQ(f.seam.messages[0].icon, MessageIcon::kExclamation);
    EXPECT_EQ(f.window.roi_right, 39);
    EXPECT_EQ(f.window.x_res, 79);
}

TEST(Commands, AnEmptyGridIsHarmlessEverywhere) {
    WindowFixture f;
    TempDir dir;
    f.SetGrid(0, 30);
    f.Click(1046);
    EXPECT_EQ(f.window.image_ready, 1);
    EXPECT_EQ(f.window.clip_rect, (PixelRect{15, 15, 15, 45}));
    EXPECT_EQ(f.ViewOnScreen().pixel(0, 0) & 0xFFFFFF, 0u);
    f.ClickAt(Qt::LeftButton, QPoint(100, 100), Qt::ControlModifier);
    f.ClickAt(Qt::RightButton, QPoint(100, 100), Qt::ControlModifier);
    f.DoubleClickAt(QPoint(100, 100));
    f.Drag(Qt::LeftButton, QPoint(100, 100), QPoint(300, 300));
    EXPECT_EQ(f.window.scroll_x, 0);
    f.Click(1039);
    f.Click(1040);
    // A picture of no pixels cannot be written, and the user is told.
    f.seam.answers.push_back(QString::fromStdString(dir.File("empty.bmp")));
    f.Click(1049);
    ASSERT_EQ(f.seam.messages.size(), 1u);
    EXPECT_TRUE(f.seam.messages[0].text.contains("empty.bmp"));
}

TEST(Commands, PathsOfTwoHundredBytesAreRefusedAndThePreviousPathKept) {
    WindowFixture f;
    const std::string before = f.window.field_file_path;
    const QString long_path = "/" + QString(199, 'a');  // 200 bytes
    f.seam.answers.push_back(long_path);
    f.Click(1001);
    ASSERT_EQ(f.seam.messages.size(), 1u);
    EXPECT_TRUE(f.seam.messages[0].text.contains(long_path));
    EXPECT_TRUE(f.seam.messages[0].text.contains("199"));
    EXPECT_EQ(f.window.field_file_path, before);
    EXPECT_EQ(f.window.new_field_file, 0);
    EXPECT_TRUE(f.Checked(1002));

    const QString fitting = "/" + QString(198, 'b');  // 199 bytes
    f.seam.answers.push_back(fitting);
    f.Click(1001);
    EXPECT_EQ(f.seam.messages.size(), 1u);
    EXPECT_EQ(f.window.field_file_path, fitting.toStdString());

    // The input-image chooser refuses the same way, and then nothing counts as chosen.
    f.seam.answers.push_back(long_path);
    f.Click(1029);
    EXPECT_EQ(f.seam.messages.size(), 2u);
    EXPECT_EQ(f.window.image_chosen, 0);
    f.seam.answers.push_back("/pictures/monkey.rgb");
    f.Click(1029);
    EXPECT_EQ(f.window.image_chosen, 1);
    EXPECT_EQ(f.window.image_file_path, "/pictures/monkey.rgb");
    EXPECT_EQ(
        NameFiltersFromFilterString(f.seam.file_dialogs.back().filter),
        QStringList({"Image Files (*.bmp *.rgb *.png *.jpg *.jpeg)", "BMP Image File (*.bmp)", "RGB Image File (*.rgb)",
                     "PNG Image File (*.png)", "JPEG Image File (*.jpg *.jpeg)", "All files (*)"}));
}

TEST(Commands, SaveLicImageWritesThePictureShownOrSaysWhyNot) {
    WindowFixture f;
    TempDir dir;
    f.Click(1049);  // no picture yet: nothing at all
    EXPECT_TRUE(f.seam.file_dialogs.empty());

    f.SetGrid(40, 30);
    f.Click(1046);
    f.ClickAt(Qt::LeftButton, QPoint(30, 30), Qt::ControlModifier);  // the saved picture is the one shown
    const QString good = QString::fromStdString(dir.File("lic.bmp"));
    f.seam.answers.push_back(good);
    f.Click(1049);
    ASSERT_EQ(f.seam.file_dialogs.size(), 1u);
    EXPECT_TRUE(f.seam.file_dialogs[0].save);
    EXPECT_STREQ(f.seam.file_dialogs[0].default_extension, "png");
    EXPECT_TRUE(f.seam.messages.empty());
    BmpReader reader;
    int width = 0;
    int height = 0;
    MallocBuffer<unsigned char> saved(reader.Read(good.toLocal8Bit().constData(), width, height));
    ASSERT_TRUE(saved);
    ASSERT_EQ(width, 40);
    ASSERT_EQ(height, 30);
    EXPECT_EQ(std::memcmp(saved.get(), f.window.engine->rgb_image.get(), 3 * 40 * 30), 0);

    const QString bad = QString::fromStdString(dir.File("missing-folder/lic.bmp"));
    f.seam.answers.push_back(bad);
    f.Click(1049);
    ASSERT_EQ(f.seam.messages.size(), 1u);
    EXPECT_TRUE(f.seam.messages[0].text.contains(bad));
    EXPECT_EQ(f.seam.messages[0].icon, MessageIcon::kExclamation);

    f.Click(1049);  // cancelled
    EXPECT_EQ(f.seam.messages.size(), 1u);
}

// A name ending in .png (any case) is written as PNG, every other name as BMP, both
// holding the picture shown.
TEST(Commands, SaveLicImageChoosesPngOrBmpByTheNamesEnding) {
    WindowFixture f;
    TempDir dir;
    f.SetGrid(23, 17);
    f.Click(1046);
    const unsigned char* shown = f.window.engine->rgb_image.get();
    for (const char* name : {"lic.png", "LIC.PNG", "lic.jpg", "lic"}) {
        f.seam.answers.push_back(QString::fromStdString(dir.File(name)));
        f.Click(1049);
        const auto bytes = ReadFileBytes(dir.File(name));
        ASSERT_GT(bytes.size(), 8u) << name;
        int width = 0;
        int height = 0;
        MallocBuffer<unsigned char> saved;
        if (QString(name).endsWith(".png", Qt::CaseInsensitive)) {
            EXPECT_EQ(bytes[1], 'P') << name;
            saved.Adopt(ReadPhotoImage24(dir.File(name).c_str(), width, height));
        } else {
            EXPECT_EQ(bytes[0], 'B') << name;
            BmpReader reader;
            saved.Adopt(reader.Read(dir.File(name).c_str(), width, height));
        }
        ASSERT_TRUE(saved) << name;
        ASSERT_EQ(width * height, 23 * 17);
        EXPECT_EQ(std::memcmp(saved.get(), shown, 3 * 23 * 17), 0) << name;
    }
    EXPECT_STREQ(f.seam.file_dialogs[0].filter,
                 "PNG Image File (*.png)|*.png|LIC Image File (*.bmp)|*.bmp|All files (*.*)|*.*||");
    EXPECT_TRUE(f.seam.messages.empty());
    // Run from the build tree, the dialogs find the source tree's samples.
    EXPECT_TRUE(QFileInfo(SamplesDirectory() + "/README.md").isFile());
}

TEST(Commands, EnterAndEscapeDoNotEndTheProgramButExitDoes) {
    WindowFixture f;
    QLineEdit* edit = f.Edit(1016);
    edit->setFocus();
    QTest::keyClick(edit, Qt::Key_Return);
    QTest::keyClick(edit, Qt::Key_Enter);
    QTest::keyClick(edit, Qt::Key_Escape);
    QTest::keyClick(&f.window, Qt::Key_Escape);
    EXPECT_TRUE(f.window.isVisible());
    EXPECT_EQ(f.window.image_ready, 0);  // Enter ran no command either
    EXPECT_EQ(f.computations.bars, 0);

    f.Click(2);
    EXPECT_FALSE(f.window.isVisible());
    EXPECT_EQ(f.window.result(), QDialog::Rejected);
}

TEST(Commands, TheAboutBoxOpensWithF1AndFromThePanelsContextMenu) {
    WindowFixture f;
    QTest::keyClick(&f.window, Qt::Key_F1);
    ASSERT_EQ(f.seam.modal_runs, 1);
    EXPECT_EQ(f.seam.modal_title, "About Flowloom");
    EXPECT_TRUE(f.seam.modal_texts.contains("Flowloom Version 1.0"));
    EXPECT_TRUE(f.seam.modal_texts.contains("OK"));
    EXPECT_TRUE(f.seam.modal_has_icon);
    EXPECT_EQ(f.seam.modal_size, QSize(353, 89));

    // F1 works from inside an edit too.
    f.Edit(1008)->setFocus();
    QTest::keyClick(f.Edit(1008), Qt::Key_F1);
    EXPECT_EQ(f.seam.modal_runs, 2);

    // The context menu of the panel ends with the About entry, below a separator; the
    // viewer's entry comes first.
    QString entry;
    QString first;
    bool separated = false;
    QTimer::singleShot(0, [&] {
        if (auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget())) {
            const QList<QAction*> actions = menu->actions();
            if (actions.size() >= 2) {
                first = actions.first()->text();
                entry = actions.last()->text();
                separated = actions[actions.size() - 2]->isSeparator();
                actions.last()->trigger();
            }
            menu->close();
        }
    });
    const QPoint panel(700, 390);
    QContextMenuEvent on_panel(QContextMenuEvent::Mouse, panel, f.window.mapToGlobal(panel));
    QApplication::sendEvent(&f.window, &on_panel);
    EXPECT_EQ(entry, "&About Flowloom...");
    EXPECT_TRUE(separated);
    EXPECT_EQ(first, "&Viewer\tF2");
    EXPECT_EQ(f.seam.modal_runs, 3);

    // On the image the right button belongs to the view: no menu there.
    const QPoint view(200, 200);
    QContextMenuEvent on_view(QContextMenuEvent::Mouse, view, f.window.mapToGlobal(view));
    QApplication::sendEvent(&f.window, &on_view);
    EXPECT_EQ(QApplication::activePopupWidget(), nullptr);
    EXPECT_EQ(f.seam.modal_runs, 3);
}

}  // namespace
}  // namespace flowloom::test
