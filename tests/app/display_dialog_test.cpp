#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QSpinBox>
#include <cstring>
#include <vector>

#include "app/display_dialog.h"
#include "app/window_test_support.h"
#include "engine/settings_table.h"

namespace flowloom {
namespace {

using test::WindowFixture;

std::vector<unsigned char> Copy(const unsigned char* data, size_t bytes) {
    return std::vector<unsigned char>(data, data + bytes);
}

struct Pictures {
    std::vector<unsigned char> grey, colour;
};

Pictures Current(const WindowFixture& f) {
    const LicEngine& e = *f.window.engine;
    const size_t samples = static_cast<size_t>(e.x_res) * e.y_res;
    return {Copy(e.lic_image.get(), samples), Copy(e.rgb_image.get(), 3 * samples)};
}

std::vector<float> HeldVectors(const WindowFixture& f) {
    const LicEngine& e = *f.window.engine;
    const float* v = e.vectors.get();
    return std::vector<float>(v, v + 2 * static_cast<size_t>(e.x_res) * e.y_res);
}

// A colour map chosen in the dialog waits for the next command, which then recolours the same
// streaks; the dialog shows what was chosen when it opens again.
TEST(DisplayDialog, ChoicesApplyAtTheNextCommandOnly) {
    WindowFixture f;
    f.SetGrid(60, 40);
    f.Click(1046);
    const Pictures before = Current(f);

    DisplayTexts viridis;
    viridis.cmap = "viridis";
    f.seam.display_choice = viridis;
    QTest::keyClick(&f.window, Qt::Key_D, Qt::ControlModifier);
    ASSERT_EQ(f.seam.display_shown.size(), 1u);
    EXPECT_EQ(f.seam.display_shown[0], DisplayTexts());
    EXPECT_EQ(f.window.engine->color_options.cmap, ColorMapId::kRainbow);
    EXPECT_EQ(Current(f).colour, before.colour);

    // The same command again with nothing else changed would only recolour; the choice makes
    // it compute, on the same field and texture.
    const int bars = f.computations.bars;
    f.Click(1046);
    EXPECT_EQ(f.computations.bars, bars + 1);
    const Pictures after = Current(f);
    EXPECT_EQ(after.grey, before.grey);
    EXPECT_NE(after.colour, before.colour);
    EXPECT_EQ(f.window.engine->color_options.cmap, ColorMapId::kViridis);

    f.seam.display_choice.reset();
    f.window.DisplayCommand();
    EXPECT_EQ(f.seam.display_shown.back(), viridis);
    f.Click(1046);
    EXPECT_EQ(Current(f).colour, after.colour);
}

TEST(DisplayDialog, TextsThatMakeNoPictureGetTheRenderersMessageAndKeepTheChoicesMadeBefore) {
    WindowFixture f;
    f.SetGrid(40, 30);
    DisplayTexts good;
    good.norm = "log";
    f.seam.display_choice = good;
    f.window.DisplayCommand();
    ASSERT_EQ(f.window.display_texts, good);

    DisplayTexts alpha_without_overlay = good;
    alpha_without_overlay.alpha = "0.3";
    DisplayTexts reversed = good;
    reversed.vmin = "5";
    reversed.vmax = "1";
    DisplayTexts scale = good;
    scale.output_scale = 17;
    for (const DisplayTexts& wrong : {alpha_without_overlay, reversed, scale}) {
        DisplayChoices unused;
        const std::string expected = ParseDisplayTexts(wrong, unused);
        ASSERT_FALSE(expected.empty());
        f.seam.display_choice = wrong;
        f.window.DisplayCommand();
        ASSERT_FALSE(f.seam.messages.empty());
        EXPECT_TRUE(f.seam.messages.back().text.startsWith(QString::fromStdString(expected)))
            << f.seam.messages.back().text.toStdString();
        EXPECT_EQ(f.window.display_texts, good);
    }
    f.Click(1046);
    EXPECT_TRUE(f.window.engine->color_options.norm.has_value());
    EXPECT_EQ(f.window.engine->color_options.norm->kind, NormKind::kLog);
}

// Coordinates are read with the field: changing them reads the file again, and a file chosen
// afterwards is read with them, not with the chooser's default.
TEST(DisplayDialog, CoordinatesReadTheFieldFileAgainAndStayForTheNextFile) {
    const QString wind = QStringLiteral(FLOWLOOM_SOURCE_SAMPLES "/wind_300hpa_january.nc");
    DisplayTexts index;
    index.coordinates = "index";

    WindowFixture geographic_first;
    ASSERT_EQ(geographic_first.window.OpenDesktopFile(wind), 1);
    geographic_first.Click(1046);
    EXPECT_EQ(geographic_first.window.engine->field_periodic_x, 1);
    const std::vector<float> geographic = HeldVectors(geographic_first);
    geographic_first.seam.display_choice = index;
    geographic_first.window.DisplayCommand();
    geographic_first.Click(1046);
    EXPECT_EQ(geographic_first.window.engine->field_periodic_x, 0);
    const std::vector<float> reread = HeldVectors(geographic_first);
    EXPECT_NE(reread, geographic);

    WindowFixture index_first;
    index_first.seam.display_choice = index;
    index_first.window.DisplayCommand();
    index_first.SetGrid(30, 20);
    index_first.Click(1046);  // the choice is the engine's now, before any file
    ASSERT_EQ(index_first.window.OpenDesktopFile(wind), 1);
    index_first.Click(1046);
    EXPECT_EQ(HeldVectors(index_first), reread);
}

// The real dialog: a row per setting with the table's help, and what it shows is what it gives.
TEST(DisplayDialog, RowsComeFromTheSettingsTableAndRoundTrip) {
    const DisplayTexts texts{.cmap = "magma",
                             .color_var = "T",
                             .norm = "linear",
                             .vmin = "-2",
                             .vmax = "3.5",
                             .percentiles = "",
                             .blend = "overlay",
                             .alpha = "0.25",
                             .mask_color = "255,0,128",
                             .stretch = "",
                             .clahe = "8,0.01",
                             .coordinates = "grid",
                             .boundary_x = "periodic",
                             .boundary_y = "closed",
                             .orientation = true,
                             .output_scale = 4};
    DisplayDialog dialog(texts);
    EXPECT_EQ(dialog.Chosen(), texts);
    dialog.Show(DisplayTexts());
    EXPECT_EQ(dialog.Chosen(), DisplayTexts());

    for (const char* name : {"cmap", "norm", "vmin", "percentiles", "mask_color", "stretch", "coordinates",
                             "boundary_y", "orientation", "output_scale"}) {
        QWidget* field = dialog.Field(name);
        ASSERT_NE(field, nullptr) << name;
        EXPECT_EQ(field->toolTip().toStdString(), Setting(name).help) << name;
    }
    auto* cmap = qobject_cast<QComboBox*>(dialog.Field("cmap"));
    EXPECT_EQ(cmap->count(), static_cast<int>(Setting("cmap").choices.size()) + 1);
    auto* scale = qobject_cast<QSpinBox*>(dialog.Field("output_scale"));
    EXPECT_EQ(scale->maximum(), Setting("output_scale").max);
}

}  // namespace
}  // namespace flowloom
