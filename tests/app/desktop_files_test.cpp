#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QMimeData>
#include <QUrl>
#include <fstream>

#include "app/application.h"
#include "app/window_test_support.h"
#include "support/test_support.h"

namespace flowloom {
namespace {

using test::WindowFixture;

QString Sample(const char* name) {
    return QStringLiteral(FLOWLOOM_SOURCE_SAMPLES) + '/' + name;
}

TEST(DesktopFiles, TheFileArgumentIsTheFirstNameThatIsNoOption) {
    int extra = -1;
    EXPECT_EQ(FileArgument({"flowloom"}, extra), "");
    EXPECT_EQ(extra, 0);
    EXPECT_EQ(FileArgument({"flowloom", "--reverse", "wind.nc", "more.nc", "last.nc"}, extra), "wind.nc");
    EXPECT_EQ(extra, 2);
    EXPECT_EQ(FileArgument({"flowloom", "--", "-odd.vec"}, extra), "-odd.vec");
    EXPECT_EQ(extra, 0);
}

// Any field format or photograph, told by its content, is chosen as the choosers would
// choose it; nothing is computed until a command runs.
TEST(DesktopFiles, FieldsAndPhotographsAreChosenByTheirContent) {
    test::TempDir dir;
    // A NetCDF file under a misleading name is still a field.
    std::filesystem::copy_file(Sample("wind_300hpa_january.nc").toStdString(), dir.File("wind.png"));
    WindowFixture f;
    f.SetGrid(40, 30);
    ASSERT_EQ(f.window.OpenDesktopFile(QString::fromStdString(dir.File("wind.png"))), 1);
    EXPECT_EQ(f.window.field_type, 4);
    EXPECT_EQ(f.window.new_field_file, 1);
    EXPECT_EQ(f.window.field_file_path, dir.File("wind.png"));
    for (int id : {1002, 1003, 1006, 1007}) EXPECT_FALSE(f.Checked(id)) << id;
    f.Click(1046);
    EXPECT_EQ(f.window.engine->x_res, 256);
    EXPECT_TRUE(f.Caption().contains("[m s-1]")) << f.Caption().toStdString();

    ASSERT_EQ(f.window.OpenDesktopFile(Sample("coffee.png")), 1);
    EXPECT_EQ(f.window.image_chosen, 1);
    EXPECT_EQ(QString::fromStdString(f.window.image_file_path), Sample("coffee.png"));
    EXPECT_EQ(f.window.field_file_path, dir.File("wind.png"));  // the field stays
    EXPECT_TRUE(f.seam.messages.empty());
}

// A folder, a named pipe, a missing file or one that no reader takes: a message each, and
// the field chosen before stays. A pipe must not block the window.
TEST(DesktopFiles, WhatCannotBeReadIsNamedAndTheFieldStays) {
    test::TempDir dir;
    ASSERT_EQ(mkfifo(dir.File("pipe").c_str(), 0600), 0);
    std::ofstream(dir.File("notes.vec")) << "no numbers here\n";
    std::ofstream(dir.File("broken.png")) << "\x89PNG\r\n\x1a\n but nothing after";
    WindowFixture f;
    f.Click(1006);  // Vortex
    const std::string before = f.window.field_file_path;
    const struct {
        std::string path;
        const char* says;
    } cases[] = {
        {dir.path().string(), "is a folder, not a file."},
        {dir.File("pipe"), "is not a regular file"},
        {dir.File("missing.nc"), "does not exist."},
        {dir.File("notes.vec"), "The field chosen before stays in use."},
        {dir.File("broken.png"), "could not be read as a photograph"},
    };
    for (const auto& c : cases) {
        f.seam.messages.clear();
        EXPECT_EQ(f.window.OpenDesktopFile(QString::fromStdString(c.path)), 0) << c.path;
        ASSERT_EQ(f.seam.messages.size(), 1u) << c.path;
        EXPECT_TRUE(f.seam.messages[0].text.contains(c.says)) << f.seam.messages[0].text.toStdString();
        EXPECT_EQ(f.seam.messages[0].icon, MessageIcon::kExclamation);
    }
    EXPECT_TRUE(f.Checked(1006));
    EXPECT_EQ(f.window.field_file_path, before);
    EXPECT_EQ(f.window.new_field_file, 0);
    EXPECT_EQ(f.window.image_chosen, 0);
}

TEST(DesktopFiles, ADroppedFileIsChosen) {
    WindowFixture f;
    QMimeData data;
    data.setUrls({QUrl::fromLocalFile(Sample("ocean_currents_north.npy"))});
    QDragEnterEvent enter(QPoint(100, 100), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&f.window, &enter);
    ASSERT_TRUE(enter.isAccepted());
    QDropEvent drop(QPointF(100, 100), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&f.window, &drop);
    EXPECT_EQ(QString::fromStdString(f.window.field_file_path), Sample("ocean_currents_north.npy"));
    EXPECT_EQ(f.window.field_type, 4);

    // Two files at once are not taken.
    data.setUrls({QUrl::fromLocalFile(Sample("coffee.png")), QUrl::fromLocalFile(Sample("chelsea.png"))});
    QDragEnterEvent two(QPoint(100, 100), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    two.setAccepted(false);
    QApplication::sendEvent(&f.window, &two);
    EXPECT_FALSE(two.isAccepted());
}

// The open dialog shows every field format under its first filter; the save dialog
// offers PNG first and opens in the current directory, even after a sample was opened.
TEST(DesktopFiles, DialogsShowEveryFormatAndSaveOutsideTheSamples) {
    WindowFixture f;
    f.Click(1001);
    ASSERT_EQ(f.seam.file_dialogs.size(), 1u);
    const QStringList filters = NameFiltersFromFilterString(f.seam.file_dialogs[0].filter);
    EXPECT_EQ(filters.value(0), "Vector-Field Files (*.vec *.npy *.npz *.nc *.nc4 *.cdf *.csv)");
    EXPECT_EQ(filters.value(1), "2D Vector Data File (*.vec)");

    f.SetGrid(20, 20);
    f.Click(1046);
    f.Click(1049);
    ASSERT_EQ(f.seam.file_dialogs.size(), 2u);
    EXPECT_STREQ(f.seam.file_dialogs[1].default_extension, "png");
    EXPECT_EQ(NameFiltersFromFilterString(f.seam.file_dialogs[1].filter).value(0), "PNG Image File (*.png)");

    QtDialogSeam real;
    const FileDialogRequest open{false, "vec", ""};
    const FileDialogRequest save{true, "png", ""};
    real.Remember(open, Sample("wind_300hpa_january.nc"));
    EXPECT_EQ(real.StartDirectory(save), QDir::currentPath());
    EXPECT_EQ(QDir(real.StartDirectory(open)), QDir(QStringLiteral(FLOWLOOM_SOURCE_SAMPLES)));
}

}  // namespace
}  // namespace flowloom
