#include "engine/sample_probe.h"

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <set>
#include <limits>
#include <vector>

#include "support/engine_fixture.h"

namespace flowloom {
namespace {

// A linear field, u = column, v = 2 * row: bilinear zooming reproduces it exactly, so a
// zoomed sample's values say which point of the original grid it stands for.
std::vector<float> LinearField(int width, int height) {
    std::vector<float> v(2 * width * height);
    for (int r = 0; r < height; ++r)
        for (int c = 0; c < width; ++c) {
            v[2 * (r * width + c)] = static_cast<float>(c);
            v[2 * (r * width + c) + 1] = static_cast<float>(2 * r);
        }
    return v;
}

void LoadAndCompute(test::EngineFixture& f, const std::vector<float>& field, int width, int height) {
    f.mirror.field_type = kFieldFile;
    f.mirror.size_changed = f.mirror.field_changed = 0;
    f.engine.ImportSettings(f.mirror);
    ASSERT_EQ(f.engine.LoadFieldFromMemory(width, height, field.data(), "flow", "m s-1"), 1);
    f.engine.Compute();
    f.engine.ExportSettings(f.mirror);
    f.mirror.size_changed = f.mirror.field_changed = f.mirror.noise_changed = f.mirror.kernel_changed = 0;
}

TEST(SampleProbe, ReadsTheValuesAsLoadedAndFollowsAZoomOfTheHeldField) {
    test::EngineFixture f(40, 30);
    f.engine.keep_physical_field = 1;
    LoadAndCompute(f, LinearField(40, 30), 40, 30);

    SampleReadout r = ProbeSample(f.engine, 3, 4);
    ASSERT_TRUE(r.has_vector);
    EXPECT_EQ(r.column, 3);
    EXPECT_EQ(r.row, 4);
    EXPECT_DOUBLE_EQ(r.u, 3.0);
    EXPECT_DOUBLE_EQ(r.v, 8.0);
    EXPECT_DOUBLE_EQ(r.magnitude, std::sqrt(73.0));
    EXPECT_EQ(r.units, "m s-1");
    EXPECT_FALSE(ProbeSample(f.engine, 40, 0).inside);
    EXPECT_FALSE(ProbeSample(f.engine, 0, -1).inside);

    // The held field zoomed 2x into columns 10..20, rows 6..16: the values follow it.
    f.mirror.roi_enabled = 1;
    f.mirror.roi_left = 10;
    f.mirror.roi_right = 20;
    f.mirror.roi_top = 6;
    f.mirror.roi_bottom = 16;
    f.mirror.roi_scale = 2;
    f.Compute();
    ASSERT_EQ(f.engine.x_res, 21);
    r = ProbeSample(f.engine, 5, 4);
    ASSERT_TRUE(r.has_vector);
    EXPECT_FLOAT_EQ(r.u, 10.0 + 5 / 2.0);
    EXPECT_FLOAT_EQ(r.v, 2 * (6.0 + 4 / 2.0));
}

TEST(SampleProbe, WithoutTheKeptFieldOnlyThePlaceAndTheMaskAreKnown) {
    test::EngineFixture f(9, 7);
    std::vector<float> field = LinearField(9, 7);
    field[2 * (2 * 9 + 1)] = std::numeric_limits<float>::quiet_NaN();
    LoadAndCompute(f, field, 9, 7);
    EXPECT_FALSE(f.engine.HasPhysicalField());
    const SampleReadout r = ProbeSample(f.engine, 4, 3);
    EXPECT_TRUE(r.inside);
    EXPECT_FALSE(r.has_vector);
    EXPECT_TRUE(ProbeSample(f.engine, 1, 2).masked);
}

// A table on an uneven grid, x = i * i and y = 10 * j, with u = 2x + 1 and v = y / 10 + 3:
// linear in the coordinates, so any point read between samples must still satisfy both.
void WriteUnevenTable(const std::string& path) {
    std::ofstream out(path);
    out << "x,y,u,v\n";
    for (int j = 0; j < 6; ++j)
        for (int i = 0; i < 8; ++i) out << i * i << ',' << 10 * j << ',' << 2 * i * i + 1 << ',' << j + 3 << '\n';
}

// Converted to steps for tracing, a field is still read out in the file's coordinates and
// units, through the output scale and the mirroring.
TEST(SampleProbe, ReadsTheFilesCoordinatesAndValuesOfAConvertedField) {
    test::TempDir dir;
    const std::string path = dir.File("uneven.csv");
    WriteUnevenTable(path);
    for (int scale : {1, 3}) {
        test::EngineFixture f(8, 6);
        f.engine.keep_physical_field = 1;
        f.engine.import_options.coordinates = Coordinates::kGrid;
        f.engine.output_scale = scale;
        ASSERT_TRUE(SetRecordPath(f.mirror.field_file, path.c_str()));
        f.mirror.field_type = kFieldFile;
        f.Compute();
        ASSERT_EQ(f.engine.x_res, 8 * scale) << f.engine.import_error;
        ASSERT_TRUE(f.engine.HasPhysicalField());
        std::set<double> xs, ys;
        for (int y = 0; y < f.engine.y_res; ++y)
            for (int x = 0; x < f.engine.x_res; ++x) {
                // A finer grid's edge pixels lie beyond the outer samples, where the values
                // stay the edge's.
                const auto outside = [scale](int k, int samples) {
                    const double at = (k + 0.5) / scale - 0.5;
                    return at < 0 || at > samples - 1;
                };
                if (outside(x, 8) || outside(y, 6)) continue;
                const SampleReadout r = ProbeSample(f.engine, x, y);
                ASSERT_TRUE(r.has_coordinates && r.has_vector);
                EXPECT_NEAR(r.u, 2 * r.x + 1, 1e-4) << x << ", " << y << " at scale " << scale;
                EXPECT_NEAR(r.v, r.y / 10 + 3, 1e-4) << x << ", " << y << " at scale " << scale;
                xs.insert(r.x);
                ys.insert(r.y);
            }
        EXPECT_EQ(xs.size(), 7u * scale + 1);
        EXPECT_EQ(ys.size(), 5u * scale + 1);
        if (scale == 1) {
            EXPECT_EQ(*xs.begin(), 0.0);
            EXPECT_EQ(*xs.rbegin(), 49.0);
            EXPECT_EQ(ProbeSample(f.engine, 0, 0).x_name, "x");
        }
        const SampleReadout plain = ProbeSample(f.engine, 2, 1);
        f.engine.flip_columns = 1;
        const SampleReadout mirrored = ProbeSample(f.engine, f.engine.x_res - 1 - 2, 1);
        EXPECT_EQ(mirrored.x, plain.x);
        EXPECT_EQ(mirrored.u, plain.u);
    }
}

}  // namespace
}  // namespace flowloom
