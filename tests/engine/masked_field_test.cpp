#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "engine/lic_engine.h"
#include "lic/field_file.h"
#include "support/engine_fixture.h"
#include "support/test_support.h"

namespace flowloom {
namespace {

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();

// A uniform field flowing right, with NaN at the given (row, column) samples.
std::vector<float> FieldWithHoles(int width, int height, std::vector<std::pair<int, int>> holes) {
    std::vector<float> v(2 * width * height);
    for (int i = 0; i < width * height; ++i) {
        v[2 * i] = 1.0f + 0.1f * (i % 7);
        v[2 * i + 1] = 0.25f;
    }
    for (auto [r, c] : holes) v[2 * (r * width + c)] = kNaN;
    return v;
}

// Hands the window's record over, then the field from memory, then computes.
void ComputeOnMemoryField(test::EngineFixture& f, int width, int height, const std::vector<float>& field) {
    f.mirror.field_type = kFieldFile;
    f.mirror.size_changed = f.mirror.field_changed = 0;
    f.engine.ImportSettings(f.mirror);
    ASSERT_EQ(f.engine.LoadFieldFromMemory(width, height, field.data()), 1);
    f.engine.Compute();
}

TEST(MaskedField, MaskedSampleTakesTheMaskColourInEveryModeAndFollowsTheFlips) {
    test::EngineFixture f;
    ComputeOnMemoryField(f, 9, 7, FieldWithHoles(9, 7, {{1, 2}}));
    ASSERT_TRUE(f.engine.mask);
    EXPECT_EQ(f.engine.vectors[2 * (9 + 2)], 0.0f);
    auto pixel = [&](int r, int c) {
        const unsigned char* p = f.engine.rgb_image.get() + 3 * (r * 9 + c);
        return std::vector<int>{p[0], p[1], p[2]};
    };
    EXPECT_EQ(pixel(1, 2), (std::vector<int>{0, 0, 0}));  // black by default
    f.engine.mask_color[0] = 7;
    f.engine.mask_color[1] = 8;
    f.engine.mask_color[2] = 9;
    for (int color : {0, 1})
        for (int by_direction : {0, 1})
            for (int flips : {0, 1, 2, 3}) {
                f.engine.color_by_data = by_direction;
                f.engine.flip_rows = flips & 1;
                f.engine.flip_columns = flips >> 1;
                f.engine.ComposeImage(f.engine.lic_image.get(), f.engine.rgb_image.get(), color);
                const int r = f.engine.flip_rows ? 7 - 1 - 1 : 1;
                const int c = f.engine.flip_columns ? 9 - 1 - 2 : 2;
                EXPECT_EQ(pixel(r, c), (std::vector<int>{7, 8, 9})) << color << by_direction << flips;
                EXPECT_NE(pixel(r, c == 0 ? 1 : c - 1), (std::vector<int>{7, 8, 9}));
            }
}

TEST(MaskedField, MaskSurvivesAZoomAndCoversTheSamplesBlendedWithIt) {
    test::EngineFixture f;
    f.mirror.roi_enabled = 1;
    f.mirror.roi_left = f.mirror.roi_top = 2;
    f.mirror.roi_right = f.mirror.roi_bottom = 7;
    f.mirror.roi_scale = 2;
    ComputeOnMemoryField(f, 10, 10, FieldWithHoles(10, 10, {{4, 4}}));
    ASSERT_EQ(f.engine.x_res, 11);
    ASSERT_TRUE(f.engine.mask);
    // Source (4, 4) is zoomed sample (4, 4); the samples half-way to its neighbours blend it.
    for (int r = 0; r < 11; ++r)
        for (int c = 0; c < 11; ++c) {
            const bool inside = r >= 3 && r <= 5 && c >= 3 && c <= 5;
            EXPECT_EQ(f.engine.mask[r * 11 + c], inside ? 1 : 0) << r << "," << c;
            if (inside) {
                EXPECT_EQ(f.engine.vectors[2 * (r * 11 + c)], 0.0f);
            }
        }
    EXPECT_TRUE(f.engine.ImagesMatchGrid());
}

TEST(MaskedField, SavedMaskReadsBackAsNaNAndAsTheSameMask) {
    test::TempDir dir;
    const std::string path = dir.File("masked.vec");
    test::EngineFixture f;
    ComputeOnMemoryField(f, 6, 5, FieldWithHoles(6, 5, {{0, 0}, {4, 5}}));
    ASSERT_EQ(f.engine.SaveBinaryData(path.c_str()), 1);
    int width = 0, height = 0;
    MallocBuffer<float> read(LoadBinaryData(width, height, path.c_str()));
    ASSERT_TRUE(read);
    EXPECT_TRUE(std::isnan(read[0]) && std::isnan(read[1]));
    EXPECT_TRUE(std::isnan(read[2 * 29]) && std::isnan(read[2 * 29 + 1]));
    EXPECT_FALSE(std::isnan(read[2]));

    test::EngineFixture g;
    SetRecordPath(g.mirror.field_file, path.c_str());
    g.mirror.field_type = kFieldFile;
    g.Compute();
    ASSERT_EQ(g.engine.x_res, 6);
    ASSERT_TRUE(g.engine.mask);
    for (int i = 0; i < 30; ++i) EXPECT_EQ(g.engine.mask[i], (i == 0 || i == 29) ? 1 : 0) << i;
    // An analytic field of the same size has data everywhere.
    g.mirror.field_type = kFieldVortex;
    g.mirror.field_changed = 1;
    g.Compute();
    EXPECT_EQ(g.engine.x_res, 6);
    EXPECT_FALSE(g.engine.mask);
}

TEST(MaskedField, MemoryFieldOutsideTheLimitsIsRefusedAndAWholeFieldHasNoMask) {
    test::EngineFixture f;
    f.Compute();
    const float* before = f.engine.vectors.get();
    std::vector<float> one(2 * 4001, 1.0f);
    EXPECT_EQ(f.engine.LoadFieldFromMemory(4001, 1, one.data()), 0);
    EXPECT_EQ(f.engine.LoadFieldFromMemory(0, 1, one.data()), 0);
    EXPECT_EQ(f.engine.LoadFieldFromMemory(2, 1, nullptr), 0);
    EXPECT_EQ(f.engine.vectors.get(), before);
    EXPECT_EQ(f.engine.field_type, kFieldSaddle);
    EXPECT_EQ(f.engine.LoadFieldFromMemory(4000, 1, one.data()), 1);
    EXPECT_EQ(f.engine.x_res, 4000);
    EXPECT_EQ(f.engine.field_type, kFieldFile);
    EXPECT_FALSE(f.engine.mask);
}

}  // namespace
}  // namespace flowloom
