// How the panel's values are read and written: the integer rules, the range messages,
// the radio-group walk and the check-box rule.
#include "app/dialog_integer.h"
#include "engine/settings_table.h"
#include "window_test_support.h"

namespace flowloom::test {
namespace {

TEST(DialogInteger, AcceptsBlanksAndTabsAroundTheDigitsAndNothingElse) {
    struct Case {
        const char* text;
        int ok;
        int value;
    };
    const Case cases[] = {
        {"42", 1, 42},
        {"  42", 1, 42},
        {"\t42\t ", 1, 42},
        {"-7", 1, -7},
        {"+7", 1, 7},
        {"007", 1, 7},
        {"", 0, 0},
        {"   ", 0, 0},
        {"4 2", 0, 0},
        {"42a", 0, 0},
        {"a42", 0, 0},
        {"- 5", 0, 0},
        {"-", 0, 0},
        {"4.5", 0, 0},
        {"42\n", 0, 0},
        {"0x10", 0, 0},
        {"99999999999999", 1, 2147483647},
        {"-99999999999999", 1, -2147483647 - 1},
        // Ten digits past the int range saturate rather than wrap (2^32 + 100 is not 100).
        {"4294967396", 1, 2147483647},
        {"2147483648", 1, 2147483647},
        {"-2147483649", 1, -2147483647 - 1},
    };
    for (const Case& c : cases) {
        int value = 12345;
        EXPECT_EQ(ParseDialogInteger(QString::fromUtf8(c.text), value), c.ok) << '"' << c.text << '"';
        EXPECT_EQ(value, c.ok ? c.value : 12345) << '"' << c.text << '"';
    }
}

TEST(DialogInteger, OnlyTheFirstThirtyOneCharactersCount) {
    int value = 0;
    const QString blanks29(29, ' ');
    EXPECT_EQ(ParseDialogInteger("42" + blanks29 + "x", value), 1);  // the x is character 32
    EXPECT_EQ(value, 42);
    EXPECT_EQ(ParseDialogInteger("42" + QString(28, ' ') + "x", value), 0);  // character 31
    // Digits beyond the 31st are cut off as well.
    EXPECT_EQ(ParseDialogInteger(QString(30, ' ') + "12", value), 1);
    EXPECT_EQ(value, 1);
}

TEST(ReadControls, ARejectedTextShowsTheMessageAndSelectsTheEdit) {
    WindowFixture f;
    f.Edit(1016)->setText(" \t42\t ");  // pasted, tabs and all
    ASSERT_EQ(f.window.ReadControls(), 1);
    EXPECT_EQ(f.window.kernel_length, 42);

    for (const char* text : {"4 2", "42a"}) {
        f.Edit(1016)->setText(text);
        EXPECT_EQ(f.window.ReadControls(), 0);
        ASSERT_FALSE(f.seam.messages.empty());
        EXPECT_EQ(f.seam.messages.back().text, "Please enter an integer.");
        EXPECT_EQ(f.seam.messages.back().icon, MessageIcon::kExclamation);
        EXPECT_EQ(f.window.kernel_length, 42);  // keeps its previous value
        EXPECT_EQ(QApplication::focusWidget(), f.Edit(1016));
        EXPECT_EQ(f.Edit(1016)->selectedText(), text);
    }

    // The exchange stops at the first failure: later controls are not read.
    f.Edit(1016)->setText("0");
    f.Edit(1033)->setText("5");
    EXPECT_EQ(f.window.ReadControls(), 0);
    EXPECT_EQ(f.seam.messages.back().text, "Please enter an integer between 1 and 200.");
    EXPECT_EQ(f.window.kernel_length, 0);
    EXPECT_EQ(f.window.lod, 3);
}

TEST(WriteControls, ShowsTheFieldsAndResetsImpossibleCheckBoxValues) {
    WindowFixture f;
    f.window.color_mapping = 7;
    f.window.equalization = 1;
    f.window.noise_type = 1;
    f.window.field_type = 4;
    f.window.x_res = -3;
    f.window.WriteControls();
    EXPECT_EQ(f.window.color_mapping, 0);
    EXPECT_FALSE(f.Checked(1012));
    EXPECT_TRUE(f.Checked(1017));
    EXPECT_TRUE(f.Checked(1011));
    EXPECT_FALSE(f.Checked(1010));
    for (int id : {1002, 1003, 1006, 1007}) EXPECT_FALSE(f.Checked(id));
    EXPECT_EQ(f.Edit(1008)->text(), "-3");
}

TEST(UpdateMirror, ComputesChangeFlagsAgainstTheLastValues) {
    WindowFixture f;
    // Everything differs from the -100 markers at first.
    f.window.UpdateMirror();
    EXPECT_EQ(f.window.mirror.size_changed, 1);
    EXPECT_EQ(f.window.mirror.field_changed, 1);
    EXPECT_EQ(f.window.mirror.noise_changed, 1);
    EXPECT_EQ(f.window.mirror.kernel_changed, 1);
    EXPECT_EQ(f.window.kernel_type_changed, 1);
    EXPECT_EQ(f.window.roi_changed, 1);
    // Then nothing.
    f.window.UpdateMirror();
    EXPECT_EQ(f.window.mirror.size_changed + f.window.mirror.field_changed + f.window.mirror.noise_changed +
                  f.window.mirror.kernel_changed,
              0);
    EXPECT_EQ(f.window.kernel_type_changed + f.window.color_mapping_changed + f.window.equalization_changed +
                  f.window.high_pass_changed + f.window.enhance_iterations_changed + f.window.roi_changed +
                  f.window.anim_frames_changed,
              0);
    // A new field file changes size and field, and starts the view at the top-left.
    f.window.scroll_x = 30;
    f.window.new_field_file = 1;
    f.window.UpdateMirror();
    EXPECT_EQ(f.window.mirror.size_changed, 1);
    EXPECT_EQ(f.window.mirror.field_changed, 1);
    EXPECT_EQ(f.window.scroll_x, 0);
    EXPECT_EQ(f.window.new_field_file, 1);  // cleared by the commands, not here
    // Each window-side flag follows its own setting.
    f.window.new_field_file = 0;
    f.window.roi_scale = 3;
    f.window.anim_frames = 9;
    f.window.UpdateMirror();
    EXPECT_EQ(f.window.roi_changed, 1);
    EXPECT_EQ(f.window.anim_frames_changed, 1);
    EXPECT_EQ(f.window.mirror.size_changed, 0);
    // The mode flags are always cleared.
    f.window.mirror.mag_lic = f.window.mirror.animation = 1;
    f.window.UpdateMirror();
    EXPECT_EQ(f.window.mirror.mag_lic + f.window.mirror.animation, 0);
}

// The window's edits take their ranges from the settings table that the renderer and Python
// read too; the table must say what the window's template says, edge for edge.
TEST(ReadControls, EveryEditTakesTheTemplateRangeFromTheSettingsTable) {
    struct Edge {
        int id;
        const char* setting;
        int low;
        int high;
    };
    const Edge edges[] = {{1008, "x_res", 0, 2000},
                          {1009, "y_res", 0, 2000},
                          {1016, "kernel_length", 1, 200},
                          {1021, "enhance_iterations", 2, 10},
                          {1022, "roi_left", 0, 996},
                          {1023, "roi_right", 4, 1000},
                          {1025, "roi_bottom", 4, 1000},
                          {1024, "roi_top", 0, 996},
                          {1026, "roi_scale", 1, 20},
                          {1031, "image_iterations", 1, 10},
                          {1033, "lod", 2, 8},
                          {1043, "anim_frames", 8, 20},
                          {1037, "anim_fps", 1, 100}};
    WindowFixture f;
    for (const Edge& e : edges) {
        EXPECT_EQ(Setting(e.setting).min, e.low) << e.setting;
        EXPECT_EQ(Setting(e.setting).max, e.high) << e.setting;
        const QString before = f.Edit(e.id)->text();
        for (int value : {e.low, e.high}) {
            f.Edit(e.id)->setText(QString::number(value));
            EXPECT_EQ(f.window.ReadControls(), 1) << e.setting << " " << value;
        }
        for (int value : {e.low - 1, e.high + 1}) {
            f.Edit(e.id)->setText(QString::number(value));
            EXPECT_EQ(f.window.ReadControls(), 0) << e.setting << " " << value;
            EXPECT_EQ(f.seam.messages.back().text,
                      QStringLiteral("Please enter an integer between %1 and %2.").arg(e.low).arg(e.high));
        }
        f.Edit(e.id)->setText(before);
    }
}

// One copy of what a computation changes serves the engine and both of the window's
// directions: the twenty settings move, and paths, change and mode flags stay.
TEST(UpdateMirror, TheComputedSettingsTravelBothWaysAndNothingElse) {
    WindowFixture f;
    SettingsRecord from = DefaultSettings();
    SettingsRecord to{};
    int next = 1000;
    for (const SettingRow& row : SettingsTable())
        if (row.record) from.*row.record = ++next;
    CopyComputedSettings(from, to);
    int copied = 0;
    for (const SettingRow& row : SettingsTable()) {
        if (!row.record) continue;
        EXPECT_EQ(to.*row.record, row.computed ? from.*row.record : 0) << row.name;
        copied += row.computed;
    }
    EXPECT_EQ(copied, 20);
    EXPECT_EQ(to.field_file[0], '\0');
    EXPECT_EQ(to.size_changed + to.mag_lic + to.pro_lic, 0);

    f.window.mirror = from;
    f.window.UpdateFromMirror();
    EXPECT_EQ(f.window.kernel_length, from.kernel_length);
    EXPECT_EQ(f.window.anim_fps, from.anim_fps);
    EXPECT_EQ(f.window.roi_enabled, 0);  // not something a computation changes
    f.window.roi_enabled = 1;
    f.window.UpdateMirror();
    EXPECT_EQ(f.window.mirror.roi_enabled, 1);
    EXPECT_EQ(f.window.mirror.lod, from.lod);
}

}  // namespace
}  // namespace flowloom::test
