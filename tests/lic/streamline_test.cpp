#include "lic/streamline.h"

#include <gtest/gtest.h>

#include <random>

namespace flowloom {
namespace {

// The step's midpoint and the LIC quotient are stored working values: both are rounded to
// float before they are truncated, which moves these inputs across an integer.
TEST(Streamline, MidpointAndQuotientAreRoundedToFloatBeforeTruncation) {
    EXPECT_EQ(MidpointCell(130.0000457763672f, 129.99993896484375f, 300), 130);
    EXPECT_EQ(LicValue(1245.0f, 0.00006103515625f, 7.5000004768371582f, 0.0f), 166);
    // Clamping into the grid, and the quotient's edge cases.
    EXPECT_EQ(MidpointCell(-3.0f, -1.0f, 10), 0);
    EXPECT_EQ(MidpointCell(9.5f, 40.0f, 10), 9);
    EXPECT_EQ(LicValue(0.0f, 0.0f, 0.0f, 0.0f), 0);
    EXPECT_EQ(LicValue(1e30f, 1e30f, 1e-30f, 0.0f), 255);

    std::mt19937 random(3);
    std::uniform_real_distribution<float> coord(0.0f, 64.0f);
    std::uniform_real_distribution<float> sum(0.0f, 4000.0f);
    std::uniform_real_distribution<float> weight(0.01f, 16.0f);
    for (int i = 0; i < 200000; ++i) {
        const float a = coord(random);
        const float b = i % 2 ? coord(random) : std::nextafter(2.0f * static_cast<int>(a) - a, 0.0f);
        ASSERT_EQ(MidpointCell(a, b, 64), static_cast<int>(static_cast<float>((static_cast<double>(a) + b) / 2)));
        const float s0 = sum(random), s1 = sum(random), w0 = weight(random), w1 = weight(random);
        const float v = static_cast<float>((static_cast<double>(s0) + s1) / (static_cast<double>(w0) + w1));
        ASSERT_EQ(LicValue(s0, s1, w0, w1), v > 255.0f ? 255 : static_cast<int>(v));
    }
}

}  // namespace
}  // namespace flowloom
