#include "media/color_map.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <limits>
#include <numbers>
#include <random>

namespace flowloom {
namespace {

// The table entry a looked-up colour came from (entries are all distinct), or -1.
int EntryOf(const ColorMap& map, ColorRgbF c) {
    for (int i = 0; i < map.entryCount; ++i)
        if (map.colors[i][0] == c.r && map.colors[i][1] == c.g && map.colors[i][2] == c.b) return i;
    return -1;
}

TEST(ColorMap, ReferenceEntriesOfTheBlueToRedWindow) {
    ColorMap map(1.0f, 1000.0f, 255, 1275);
    const struct {
        float value;
        int entry;
        int r, g, b;
    } cases[] = {{1.0f, 255, 0, 0, 255},
                 {250.75f, 414, 0, 159, 255},
                 {500.5f, 765, 0, 255, 0},
                 {750.25f, 1115, 255, 160, 0},
                 {1000.0f, 1275, 255, 0, 0}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.value);
        const ColorRgbF got = map.Lookup(c.value);
        EXPECT_EQ(EntryOf(map, got), c.entry);
        EXPECT_EQ(got.r, c.r * 0.003921569f);
        EXPECT_EQ(got.g, c.g * 0.003921569f);
        EXPECT_EQ(got.b, c.b * 0.003921569f);
    }
}

// The rainbow is one unbroken path from black to white: each step moves one channel by one.
TEST(ColorMap, RainbowIsAContinuousPathFromBlackToWhite) {
    ColorMap map(0.0f, 1.0f, 0, 1785);
    for (int c = 0; c < 3; ++c) {
        EXPECT_EQ(map.colorBytes[0][c], 0);
        EXPECT_EQ(map.colorBytes[1785][c], 255);
    }
    for (int i = 1; i < map.entryCount; ++i) {
        int moved = 0;
        for (int c = 0; c < 3; ++c) {
            moved += std::abs(map.colorBytes[i][c] - map.colorBytes[i - 1][c]);
            EXPECT_EQ(map.colors[i][c], map.colorBytes[i][c] * 0.003921569f);
        }
        ASSERT_EQ(moved, 1) << "entry " << i;
    }
}

TEST(ColorMap, WindowAndRangeAreSwappedAndClamped) {
    ColorMap reversed(1000.0f, 1.0f, 1275, 255);
    EXPECT_EQ(reversed.indexLow, 255);
    EXPECT_EQ(reversed.indexHigh, 1275);
    EXPECT_EQ(reversed.indexSpan, 1020);
    EXPECT_EQ(reversed.valueMin, 1.0f);
    EXPECT_EQ(reversed.valueMax, 1000.0f);
    EXPECT_EQ(EntryOf(reversed, reversed.Lookup(500.5f)), 765);

    ColorMap wide(0.0f, 1.0f, -40, 5000);
    EXPECT_EQ(wide.indexLow, 0);
    EXPECT_EQ(wide.indexHigh, 1785);
    EXPECT_EQ(EntryOf(wide, wide.Lookup(1.0f)), 1785);

    // An empty range keeps a scale of 1 rather than dividing by zero.
    ColorMap flat(5.0f, 5.0f, 255, 1275);
    EXPECT_EQ(flat.valueScale, 1.0f);
    EXPECT_EQ(EntryOf(flat, flat.Lookup(5.0f)), 255);
    EXPECT_EQ(EntryOf(flat, flat.Lookup(5.5f)), 765);
}

// Any value, inside the range or not, lands inside the window, and larger values never
// move back along the rainbow.
TEST(ColorMap, LookupIsMonotoneAndClampedToTheWindow) {
    ColorMap map(1.0f, 1000.0f, 255, 1275);
    int previous = 255;
    for (float v = -2000.0f; v <= 3000.0f; v += 0.37f) {
        const int entry = EntryOf(map, map.Lookup(v));
        ASSERT_GE(entry, previous) << v;
        ASSERT_LE(entry, 1275) << v;
        previous = entry;
    }
    EXPECT_EQ(previous, 1275);
    const float inf = std::numeric_limits<float>::infinity();
    EXPECT_EQ(EntryOf(map, map.Lookup(-inf)), 255);
    EXPECT_EQ(EntryOf(map, map.Lookup(inf)), 1275);
    EXPECT_EQ(EntryOf(map, map.Lookup(std::nanf(""))), 255);
}

bool Near(ColorRgb8 a, ColorRgb8 b) {
    return std::abs(a.r - b.r) <= 1 && std::abs(a.g - b.g) <= 1 && std::abs(a.b - b.b) <= 1;
}

// The hue turns once with the direction: angle a gives hue a / 2 pi, in every quadrant.
TEST(DirectionColor, HueFollowsTheDirectionAngle) {
    const DirectionColorParams full{0.0f, 0.0f, 1.0f, 0.0f, 1.0f, 0.0f};
    const ColorRgb8 red = DirectionColor(full, 1.0f, 0.0f, 0.0f);
    EXPECT_TRUE(red.r == 255 && red.g == 0 && red.b == 0);
    for (int step = 0; step < 360; ++step) {
        const double a = step * 2.0 * std::numbers::pi / 360.0;
        const ColorRgb8 got =
            DirectionColor(full, static_cast<float>(std::cos(a)), static_cast<float>(std::sin(a)), 0.0f);
        const ColorRgb8 want = HsvToRgb(step / 360.0, 1.0, 1.0);
        ASSERT_TRUE(Near(got, want)) << "angle " << step << ": " << int(got.r) << "," << int(got.g) << ","
                                     << int(got.b);
    }
    // The four axes: 0, a quarter, a half, three quarters; the offset turns the hue further.
    EXPECT_TRUE(Near(DirectionColor(full, 0, 1, 0), HsvToRgb(0.25, 1, 1)));
    EXPECT_TRUE(Near(DirectionColor(full, -1, 0, 0), HsvToRgb(0.5, 1, 1)));
    EXPECT_TRUE(Near(DirectionColor(full, 0, -1, 0), HsvToRgb(0.75, 1, 1)));
    DirectionColorParams turned = full;
    turned.hueOffset = -0.25f;
    EXPECT_TRUE(Near(DirectionColor(turned, 1, 0, 0), HsvToRgb(0.75, 1, 1)));
    // A normalised vector a hair longer than 1 still has a direction.
    EXPECT_TRUE(Near(DirectionColor(full, 0, 1.0000001f, 0), HsvToRgb(0.25, 1, 1)));
}

TEST(DirectionColor, SaturationAndValueRiseOverTheMagnitudeRange) {
    const float ranges[][2] = {{1.0f, 1000.0f}, {0.0f, 255.0f}, {3.0f, 7.0f}};
    for (const auto& r : ranges) {
        const float width = r[1] - r[0];
        const DirectionColorParams p{r[0], 0.0f, 0.6f, 0.4f / width, 0.3f, 0.7f / width};
        const ColorRgb8 bottom = DirectionColor(p, 1.0f, 0.0f, r[0]);
        const ColorRgb8 top = DirectionColor(p, 1.0f, 0.0f, r[1]);
        EXPECT_TRUE(bottom.r == 76 && bottom.g == 30 && bottom.b == 30) << r[1];
        EXPECT_TRUE(top.r == 255 && top.g == 0 && top.b == 0) << r[1];
    }
}

TEST(HsvToRgb, SectorsWrappingAndSaturatedChannels) {
    const int want[6][3] = {{255, 127, 0}, {127, 255, 0}, {0, 255, 127}, {0, 127, 255}, {127, 0, 255}, {255, 0, 127}};
    for (int k = 0; k < 6; ++k) {
        const ColorRgb8 c = HsvToRgb((k + 0.5) / 6.0, 1.0, 1.0);
        EXPECT_TRUE(c.r == want[k][0] && c.g == want[k][1] && c.b == want[k][2]) << k;
    }
    auto same = [](ColorRgb8 a, ColorRgb8 b) { return a.r == b.r && a.g == b.g && a.b == b.b; };
    EXPECT_TRUE(same(HsvToRgb(1.25, 0.8, 0.9), HsvToRgb(0.25, 0.8, 0.9)));
    EXPECT_TRUE(same(HsvToRgb(-0.25, 0.8, 0.9), HsvToRgb(0.75, 0.8, 0.9)));
    EXPECT_TRUE(same(HsvToRgb(1.0, 0.8, 0.9), HsvToRgb(0.0, 0.8, 0.9)));
    EXPECT_TRUE(same(HsvToRgb(-1e-20, 0.8, 0.9), HsvToRgb(0.0, 0.8, 0.9)));
    EXPECT_TRUE(same(HsvToRgb(std::nan(""), 0.8, 0.9), HsvToRgb(0.0, 0.8, 0.9)));
    const ColorRgb8 grey = HsvToRgb(0.4, 0.0, 0.5);
    EXPECT_TRUE(grey.r == 127 && grey.g == 127 && grey.b == 127);
    // Channels beyond 0..1 clamp to the byte range instead of wrapping.
    const ColorRgb8 bright = HsvToRgb(0.0, 1.0, 2.0);
    EXPECT_EQ(bright.r, 255);
    EXPECT_EQ(HsvToRgb(0.0, 2.0, 1.0).g, 0);
}

}  // namespace
// Only t is stored: the smoothstep and the index are evaluated in double. For this t the
// index is 1198.00004 in double but 1197.99976 in float.
TEST(ColorMap, IndexIsTruncatedFromTheDoubleSmoothstep) {
    const ColorMap map(0.0f, 1.0f, 255, 1275);
    EXPECT_EQ(EntryOf(map, map.Lookup(0.831640899f)), 1198);
    std::mt19937 random(5);
    std::uniform_real_distribution<float> value(0.0f, 1.0f);
    for (int i = 0; i < 100000; ++i) {
        const double t = value(random);
        const int want = static_cast<int>((3.0 * t * t - 2.0 * t * t * t) * 1020 + 255);
        ASSERT_EQ(EntryOf(map, map.Lookup(static_cast<float>(t))), want) << t;
    }
}

}  // namespace flowloom
