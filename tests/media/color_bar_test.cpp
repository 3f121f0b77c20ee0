#include "media/color_bar.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace flowloom {
namespace {

std::vector<double> Values(const std::vector<ColorBarTick>& ticks) {
    std::vector<double> values;
    for (const ColorBarTick& t : ticks) values.push_back(t.value);
    return values;
}

std::vector<std::string> Labels(const std::vector<ColorBarTick>& ticks) {
    std::vector<std::string> labels;
    for (const ColorBarTick& t : ticks) labels.push_back(t.label);
    return labels;
}

TEST(ColorBarTicks, LinearTicksAreRoundMultiplesInsideTheBounds) {
    ColorNorm norm;
    norm.vmin = 0.0;
    norm.vmax = 1.0;
    auto ticks = ColorBarTicks(norm, 6);
    EXPECT_EQ(Labels(ticks), (std::vector<std::string>{"0", "0.2", "0.4", "0.6", "0.8", "1.0"}));
    EXPECT_DOUBLE_EQ(ticks[2].position, 0.4);
    norm.vmin = -3.0;
    norm.vmax = 7.3;
    EXPECT_EQ(Values(ColorBarTicks(norm, 6)), (std::vector<double>{-2, 0, 2, 4, 6}));
    norm.vmin = 271.3;
    norm.vmax = 308.9;  // kelvin
    EXPECT_EQ(Labels(ColorBarTicks(norm, 5)), (std::vector<std::string>{"280", "290", "300"}));
    norm.vmin = 0.0;
    norm.vmax = 0.01;
    EXPECT_EQ(Labels(ColorBarTicks(norm, 5)), (std::vector<std::string>{"0", "0.005", "0.010"}));
    norm.vmax = 0.012;  // steps of 2.5 x 10^k take a decimal more
    EXPECT_EQ(Labels(ColorBarTicks(norm, 5)), (std::vector<std::string>{"0", "0.0025", "0.0050", "0.0075", "0.0100"}));
}

TEST(ColorBarTicks, LogTicksArePowersOfTenEvenlySpaced) {
    ColorNorm norm;
    norm.kind = NormKind::kLog;
    norm.vmin = 0.01;
    norm.vmax = 100.0;
    const auto ticks = ColorBarTicks(norm, 6);
    ASSERT_EQ(Labels(ticks), (std::vector<std::string>{"0.01", "0.1", "1", "10", "100"}));
    for (size_t i = 0; i < ticks.size(); ++i) EXPECT_NEAR(ticks[i].position, i * 0.25, 1e-12);
    norm.vmin = 1e-3;
    norm.vmax = 1e9;  // 13 decades: every third
    EXPECT_EQ(Labels(ColorBarTicks(norm, 6)), (std::vector<std::string>{"0.001", "1", "1000", "1e+06", "1e+09"}));
    norm.vmin = 3.0;
    norm.vmax = 40.0;  // one power of ten inside: 1, 2 and 5 times them
    EXPECT_EQ(Values(ColorBarTicks(norm, 6)), (std::vector<double>{5, 10, 20}));
    norm.vmin = 0.0;  // no scale to draw: one tick
    EXPECT_EQ(ColorBarTicks(norm, 6).size(), 1u);
}

// Decades: the powers of ten inside the data map's range and its two ends, placed where the
// data map puts them.
TEST(ColorBarTicks, DecadeTicksMarkThePowersOfTenWhereTheDataMapPutsThem) {
    std::vector<float> values;
    for (int i = 0; i < 1000; ++i) values.push_back(5.0f + 0.9f * static_cast<float>(i * i) / 1000.0f);
    NormSpec spec;
    spec.kind = NormKind::kDecades;
    ColorNorm norm;
    std::string error;
    ASSERT_TRUE(ResolveNorm(spec, values.data(), static_cast<long>(values.size()), norm, error));
    const auto ticks = ColorBarTicks(norm);
    ASSERT_EQ(Values(ticks), (std::vector<double>{5.0, 10.0, 100.0, norm.vmax}));
    EXPECT_EQ(ticks.front().position, 0.0);
    EXPECT_EQ(ticks.back().position, 1.0);
    for (const ColorBarTick& t : ticks) EXPECT_EQ(t.position, norm.Position(t.value));
    EXPECT_GT(ticks[2].position, ticks[1].position);
}

// The bar goes beside the picture, which stays byte for byte; the bar runs from the bottom of
// the map at the bottom to its top at the top, and text is drawn beside it.
TEST(AddColorBar, DrawsBesideAnUnchangedPicture) {
    const int width = 37;
    const int height = 200;
    std::vector<unsigned char> picture(3 * width * height);
    for (size_t i = 0; i < picture.size(); ++i) picture[i] = static_cast<unsigned char>(i * 7);
    ColorBar bar;
    bar.cmap = ColorMapId::kViridis;
    bar.norm.vmin = 250.0;
    bar.norm.vmax = 310.0;
    bar.name = "temperature";
    bar.units = "K";
    MallocBuffer<unsigned char> out;
    int out_width = 0;
    std::string error;
    ASSERT_TRUE(AddColorBar(picture.data(), width, height, bar, out, out_width, error)) << error;
    ASSERT_GT(out_width, width + 30);
    for (int y = 0; y < height; ++y)
        ASSERT_EQ(std::memcmp(out.get() + 3 * out_width * y, picture.data() + 3 * width * y, 3 * width), 0) << y;
    const unsigned char* top = NamedColorTable(ColorMapId::kViridis)[255];
    const unsigned char* bottom = NamedColorTable(ColorMapId::kViridis)[0];
    bool saw_top = false;
    bool saw_bottom = false;
    int dark = 0;  // text and ticks
    for (int y = 0; y < height; ++y)
        for (int x = width; x < out_width; ++x) {
            const unsigned char* p = out.get() + 3 * (out_width * y + x);
            saw_top |= y < height / 4 && p[2] == top[0] && p[1] == top[1] && p[0] == top[2];
            saw_bottom |= y > 3 * height / 4 && p[2] == bottom[0] && p[1] == bottom[1] && p[0] == bottom[2];
            dark += p[0] + p[1] + p[2] < 100;
        }
    EXPECT_TRUE(saw_top);
    EXPECT_TRUE(saw_bottom);
    EXPECT_GT(dark, 200);
    EXPECT_FALSE(AddColorBar(nullptr, width, height, bar, out, out_width, error));
}

}  // namespace
}  // namespace flowloom
