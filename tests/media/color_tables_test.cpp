#include "media/color_tables.h"

#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "support/test_support.h"

namespace flowloom {
namespace {

// Every table equals matplotlib's of its name within one level per channel, sampled at
// matplotlib's own 256 entries.
TEST(ColorTables, EqualMatplotlibsWithinOneLevel) {
    if (test::RunCommand("/usr/bin/python3 -c 'import matplotlib' 2>/dev/null") != 0)
        GTEST_SKIP() << "python3-matplotlib is not installed";
    test::TempDir dir;
    {
        std::ofstream out(dir.File("tables.txt"));
        for (int id = 1; id <= static_cast<int>(ColorMapId::kGrey); ++id) {
            const auto map = static_cast<ColorMapId>(id);
            const unsigned char(*table)[3] = NamedColorTable(map);
            ASSERT_NE(table, nullptr);
            out << ColorMapName(map);
            for (int i = 0; i < kNamedTableSize; ++i)
                for (int c = 0; c < 3; ++c) out << ' ' << static_cast<int>(table[i][c]);
            out << '\n';
        }
    }
    const std::string script = dir.File("compare.py");
    std::ofstream(script) << R"(import sys
import matplotlib
import numpy as np
worst = 0
for line in open(sys.argv[1]):
    name, *values = line.split()
    ours = np.array(values, dtype=float).reshape(256, 3)
    theirs = matplotlib.colormaps["gray" if name == "grey" else name].resampled(256)(np.arange(256))[:, :3] * 255
    error = np.abs(ours - theirs).max()
    print(name, error)
    worst = max(worst, error)
sys.exit(0 if worst <= 1.0 else 1)
)";
    EXPECT_EQ(test::RunCommand("/usr/bin/python3 " + script + " " + dir.File("tables.txt")), 0);
}

TEST(ColorTables, NamesRoundTripAndUnknownNamesAreRefusedWithTheList) {
    for (int id = 0; id <= static_cast<int>(ColorMapId::kGrey); ++id) {
        ColorMapId parsed = ColorMapId::kRainbow;
        std::string error;
        ASSERT_TRUE(ParseColorMapName(ColorMapName(static_cast<ColorMapId>(id)), parsed, error));
        EXPECT_EQ(static_cast<int>(parsed), id);
    }
    ColorMapId id = ColorMapId::kMagma;
    std::string error;
    EXPECT_TRUE(ParseColorMapName("gray", id, error));
    EXPECT_EQ(id, ColorMapId::kGrey);
    EXPECT_FALSE(ParseColorMapName("Viridis", id, error));
    EXPECT_EQ(id, ColorMapId::kGrey);
    EXPECT_NE(error.find("'Viridis'"), std::string::npos);
    EXPECT_NE(error.find("twilight"), std::string::npos);
    EXPECT_EQ(NamedColorTable(ColorMapId::kRainbow), nullptr);
}

// The ends of a table and matplotlib's index rule: floor(256 t), 1 on the last entry.
TEST(ColorTables, PositionsTakeMatplotlibsEntries) {
    EXPECT_EQ(NamedTableIndex(0.0), 0);
    EXPECT_EQ(NamedTableIndex(1.0 / 256), 1);
    EXPECT_EQ(NamedTableIndex(0.5), 128);
    EXPECT_EQ(NamedTableIndex(1.0), 255);
    EXPECT_EQ(NamedTableIndex(-3.0), 0);
    EXPECT_EQ(NamedTableIndex(7.0), 255);
    const ColorRgb8 low = ColorAt(ColorMapId::kViridis, 0.0);
    EXPECT_EQ(low.r, 68);
    EXPECT_EQ(low.b, 84);
    // The rainbow's window runs from blue to red.
    EXPECT_EQ(ColorAt(ColorMapId::kRainbow, 0.0).b, 255);
    EXPECT_EQ(ColorAt(ColorMapId::kRainbow, 1.0).r, 255);
    EXPECT_EQ(ColorAt(ColorMapId::kRainbow, 1.0).b, 0);
}

}  // namespace
}  // namespace flowloom
