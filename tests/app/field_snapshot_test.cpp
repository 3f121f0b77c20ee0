// Shift+click saves the vector field as numbered snapshots in the current directory.
// The counter belongs to the whole process, so this program holds this one test.
#include <filesystem>

#include "lic/field_file.h"
#include "media/malloc_buffer.h"
#include "support/test_support.h"
#include "window_test_support.h"

namespace flowloom::test {
namespace {

TEST(FieldSnapshot, ShiftClicksSaveNumberedFieldsAndReportAFailedSave) {
    TempDir dir;
    const std::filesystem::path before = std::filesystem::current_path();
    std::filesystem::current_path(dir.path());
    {
        WindowFixture f;
        f.ClickAt(Qt::LeftButton, QPoint(100, 100), Qt::ShiftModifier);  // no picture yet: nothing
        EXPECT_FALSE(std::filesystem::exists(dir.path() / "LIC_Flow000.vec"));

        f.SetGrid(40, 30);
        f.Click(1046);
        for (int i = 0; i < 3; ++i) f.ClickAt(Qt::LeftButton, QPoint(100, 100), Qt::ShiftModifier);
        for (const char* name : {"LIC_Flow000.vec", "LIC_Flow001.vec", "LIC_Flow002.vec"}) {
            int width = 0;
            int height = 0;
            MallocBuffer<float> field(LoadBinaryData(width, height, (dir.path() / name).c_str()));
            ASSERT_TRUE(field) << name;
            EXPECT_EQ(width, 40);
            EXPECT_EQ(height, 30);
        }
        EXPECT_TRUE(f.seam.messages.empty());
        EXPECT_EQ(f.window.scroll_x, 0);

        // A folder in the way of the next name: the save fails and says where.
        std::filesystem::create_directory(dir.path() / "LIC_Flow003.vec");
        f.ClickAt(Qt::LeftButton, QPoint(100, 100), Qt::ShiftModifier);
        ASSERT_EQ(f.seam.messages.size(), 1u);
        EXPECT_TRUE(
            f.seam.messages[0].text.contains(QString::fromStdString((dir.path() / "LIC_Flow003.vec").string())));
        EXPECT_EQ(f.seam.messages[0].icon, MessageIcon::kExclamation);
        // The number is used up all the same.
        f.ClickAt(Qt::LeftButton, QPoint(100, 100), Qt::ShiftModifier);
        EXPECT_TRUE(std::filesystem::exists(dir.path() / "LIC_Flow004.vec"));
    }
    std::filesystem::current_path(before);
}

}  // namespace
}  // namespace flowloom::test
