#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "support/engine_fixture.h"

namespace flowloom {
namespace {

uint64_t Fnv1a(const std::vector<unsigned char>& bytes) {
    uint64_t h = 1469598103934665603ull;
    for (unsigned char b : bytes) h = (h ^ b) * 1099511628211ull;
    return h;
}

// A file-like field with magnitudes over several decades and a masked corner, so that the
// decade-window data map and the mask colour both take part.
std::vector<float> SpreadField(int width, int height) {
    std::vector<float> field(2 * width * height);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const double scale = std::pow(10.0, 3.0 * (x + y) / (width + height));
            float* v = &field[2 * (y * width + x)];
            v[0] = static_cast<float>(scale * std::cos(0.05 * y));
            v[1] = static_cast<float>(scale * std::sin(0.07 * x));
            if (x < 6 && y < 4) v[0] = std::numeric_limits<float>::quiet_NaN();
        }
    return field;
}

// The pictures the window composes without any new option, digested as they came before
// colour options existed: every mode, with the flips and a mask colour.
TEST(ColorOptions, DefaultCompositionIsTheWindowsPictureByteForByte) {
    test::EngineFixture f(120, 90);
    f.Compute();
    const std::vector<float> field = SpreadField(f.engine.x_res, f.engine.y_res);
    ASSERT_EQ(f.engine.LoadFieldFromMemory(f.engine.x_res, f.engine.y_res, field.data()), 1);
    f.engine.Compute();
    f.engine.mask_color[0] = 10;
    f.engine.mask_color[2] = 200;
    std::vector<uint64_t> digests;
    for (int color_flag : {0, 1})
        for (int by_direction : {0, 1})
            for (int flips : {0, 3}) {
                f.engine.color_by_data = by_direction;
                f.engine.flip_rows = flips & 1;
                f.engine.flip_columns = flips >> 1;
                f.engine.ComposeImage(f.engine.lic_image.get(), f.engine.rgb_image.get(), color_flag);
                digests.push_back(Fnv1a(f.Rgb()));
            }
    const std::vector<uint64_t> before = {0x6da8e88464c67785ull, 0x5680c30a209328e5ull, 0x6da8e88464c67785ull,
                                          0x5680c30a209328e5ull, 0x76a5ae09db90a6afull, 0x8d5070e6a5a67337ull,
                                          0x2b7555b4ad0cd289ull, 0x4d73ebd18bd77de5ull};
    EXPECT_EQ(digests, before);
}

// A colour scalar is taken with its field, zoomed with it (bilinearly, as the vectors), and
// dropped when another field replaces it; one of another shape is refused.
TEST(ColorOptions, TheColourScalarGoesWithItsField) {
    test::EngineFixture f;
    f.mirror.roi_enabled = 1;
    f.mirror.roi_left = f.mirror.roi_top = 2;
    f.mirror.roi_right = f.mirror.roi_bottom = 7;
    f.mirror.roi_scale = 2;
    f.engine.ImportSettings(f.mirror);
    const std::vector<float> field = SpreadField(10, 10);
    std::vector<float> scalar(100);
    for (int i = 0; i < 100; ++i) scalar[i] = static_cast<float>(i % 10 + 100 * (i / 10));  // x + 100 y
    ASSERT_EQ(f.engine.LoadFieldFromMemory(10, 10, field.data(), nullptr, nullptr, nullptr, scalar.data()), 1);
    f.engine.Compute();
    ASSERT_EQ(f.engine.x_res, 11);
    ASSERT_TRUE(f.engine.color_scalar);
    for (int r = 0; r < 11; ++r)
        for (int c = 0; c < 11; ++c)
            EXPECT_FLOAT_EQ(f.engine.color_scalar[r * 11 + c], 2.0f + c / 2.0f + 100.0f * (2.0f + r / 2.0f));
    f.engine.color_options.by = ColorBy::kScalar;
    ASSERT_EQ(f.engine.ComposeImage(f.engine.lic_image.get(), f.engine.rgb_image.get(), 1), 1);
    ColorNorm norm;
    std::string error;
    ASSERT_EQ(f.engine.ColorNormInUse(norm, error), 1);
    EXPECT_EQ(norm.vmin, 206.0);  // the masked corner (x < 6, y < 4) and its blend are left out
    EXPECT_EQ(norm.vmax, 707.0);

    EXPECT_EQ(f.engine.SetColorScalar(10, 10, scalar.data()), 0);  // the field is 11 x 11 now
    f.mirror.roi_enabled = 0;
    f.mirror.field_changed = 1;
    f.mirror.field_type = kFieldSaddle;
    f.Compute();
    EXPECT_FALSE(f.engine.color_scalar);
    // Asked for but gone: nothing is written, and the host hears why.
    const std::vector<unsigned char> before = f.Rgb();
    EXPECT_EQ(f.engine.ComposeImage(f.engine.lic_image.get(), f.engine.rgb_image.get(), 1), 0);
    EXPECT_EQ(f.Rgb(), before);
    ASSERT_FALSE(f.host.messages.empty());
    EXPECT_NE(f.host.messages.back().find("scalar"), std::string::npos);
}

// Under a linear norm the magnitude is placed by the field's true lengths, not by the
// data map's values.
TEST(ColorOptions, AMagnitudeNormPlacesTheTrueLengths) {
    test::EngineFixture f(40, 30);
    f.Compute();
    const std::vector<float> field = SpreadField(40, 30);
    ASSERT_EQ(f.engine.LoadFieldFromMemory(40, 30, field.data()), 1);
    f.engine.Compute();
    f.engine.color_options.norm = NormSpec();
    ColorNorm norm;
    std::string error;
    ASSERT_EQ(f.engine.ColorNormInUse(norm, error), 1);
    double low = 1e30;
    double high = 0.0;
    for (int i = 0; i < 40 * 30; ++i) {
        if (f.engine.mask[i]) continue;
        const double length = std::hypot(field[2 * i], field[2 * i + 1]);
        low = std::min(low, length);
        high = std::max(high, length);
    }
    EXPECT_NEAR(norm.vmin, low, 1e-6 * low);
    EXPECT_NEAR(norm.vmax, high, 1e-6 * high);
    ASSERT_EQ(f.engine.ComposeImage(f.engine.lic_image.get(), f.engine.rgb_image.get(), 1), 1);
}

}  // namespace
}  // namespace flowloom
