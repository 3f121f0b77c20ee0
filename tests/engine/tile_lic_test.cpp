#include "engine/tile_lic.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <random>
#include <vector>

#include "engine/fields.h"
#include "lic/streamline.h"
#include "support/engine_fixture.h"

namespace flowloom {
namespace {

// The window of `region` widened by `halo` on every side, clipped to the grid, cut out of
// the engine's buffers.
struct Window {
    LicTile tile;
    std::vector<float> vectors;
    std::vector<unsigned char> texture;
    std::vector<float> magnitudes;
};

// With `wrap` (both axes periodic) the window is not clipped: it reaches across the grid's
// edges and holds the samples of the opposite side there, as a wrapping halo exchange would.
Window CutWindow(const LicEngine& e, const TileRegion& region, int halo, bool wrap = false) {
    Window w;
    LicTile& t = w.tile;
    t.grid_width = e.x_res;
    t.grid_height = e.y_res;
    t.row0 = wrap ? region.row0 - halo : std::max(0, region.row0 - halo);
    t.col0 = wrap ? region.col0 - halo : std::max(0, region.col0 - halo);
    t.rows = (wrap ? region.row0 + region.rows + halo : std::min(e.y_res, region.row0 + region.rows + halo)) - t.row0;
    t.cols = (wrap ? region.col0 + region.cols + halo : std::min(e.x_res, region.col0 + region.cols + halo)) - t.col0;
    for (int r = t.row0; r < t.row0 + t.rows; ++r) {
        for (int c = t.col0; c < t.col0 + t.cols; ++c) {
            const long i = static_cast<long>((r + e.y_res) % e.y_res) * e.x_res + (c + e.x_res) % e.x_res;
            w.vectors.insert(w.vectors.end(), {e.vectors[2 * i], e.vectors[2 * i + 1]});
            w.texture.push_back(e.noise[i]);
            w.magnitudes.push_back(e.magnitudes[i]);
        }
    }
    t.vectors = w.vectors.data();
    t.texture = w.texture.data();
    t.magnitudes = w.magnitudes.data();
    return w;
}

// On periodic axes a tile at an edge reads the samples across it from its wrapped halo, and
// the tiles put together give the engine's periodic picture byte for byte (orientation on).
TEST(TileLic, TilesWithWrappedHalosEqualThePeriodicPicture) {
    test::EngineFixture f(61, 47);
    f.engine.streamline_modes = {Boundary::kPeriodic, Boundary::kPeriodic, true};
    f.mirror.field_type = kFieldSpiralling;
    f.mirror.kernel_length = 7;
    f.mirror.color_mapping = 0;
    f.Compute();
    const LicEngine& e = f.engine;
    const int halo = LicHalo(7.0f, 21, 61, true);
    std::vector<unsigned char> picture(61 * 47, 0);
    for (int row0 = 0; row0 < 47; row0 += 13) {
        for (int col0 = 0; col0 < 61; col0 += 13) {
            const TileRegion region{row0, col0, std::min(13, 47 - row0), std::min(13, 61 - col0)};
            Window w = CutWindow(e, region, halo, true);
            w.tile.modes = e.streamline_modes;
            std::vector<unsigned char> out(region.rows * region.cols);
            ASSERT_EQ(ConvolveLicTile(w.tile, region, e.kernel_fwd.get(), e.kernel_bwd.get(), 7, false, out.data()), 1);
            for (int r = 0; r < region.rows; ++r)
                std::copy_n(&out[r * region.cols], region.cols, &picture[(row0 + r) * 61 + col0]);
        }
    }
    EXPECT_EQ(picture, f.Lic());
    // Clipped at the edge, as a closed axis has it, the window lacks the wrapped halo.
    const TileRegion corner{0, 0, 5, 5};
    Window clipped = CutWindow(e, corner, halo);
    clipped.tile.modes = e.streamline_modes;
    std::vector<unsigned char> out(25, 7);
    EXPECT_EQ(ConvolveLicTile(clipped.tile, corner, e.kernel_fwd.get(), e.kernel_bwd.get(), 7, false, out.data()), 0);
}

// Tiles of every size, each with just the halo its streamlines need, put together give the
// engine's own picture byte for byte, plain and MagLIC, because a tile steps in the grid's
// own coordinates.
TEST(TileLic, TilesWithTheirHaloEqualTheWholePicture) {
    for (const bool mag : {false, true}) {
        test::EngineFixture f(61, 47);
        f.mirror.field_type = kFieldVortex;
        f.mirror.kernel_length = 7;
        f.mirror.mag_lic = mag;
        f.mirror.color_mapping = 0;
        f.Compute();
        const LicEngine& e = f.engine;
        const float longest = mag ? LargestMagLicLength(61L * 47, e.magnitudes.get()) : 7.0f;
        const int halo = LicHalo(longest, 21, 61, true);
        for (const int size : {5, 13, 61}) {
            std::vector<unsigned char> picture(61 * 47, 0);
            for (int row0 = 0; row0 < 47; row0 += size) {
                for (int col0 = 0; col0 < 61; col0 += size) {
                    const TileRegion region{row0, col0, std::min(size, 47 - row0), std::min(size, 61 - col0)};
                    const Window w = CutWindow(e, region, halo);
                    std::vector<unsigned char> out(region.rows * region.cols);
                    ASSERT_EQ(
                        ConvolveLicTile(w.tile, region, e.kernel_fwd.get(), e.kernel_bwd.get(), 7, mag, out.data()), 1);
                    for (int r = 0; r < region.rows; ++r)
                        std::copy_n(&out[r * region.cols], region.cols, &picture[(row0 + r) * 61 + col0]);
                }
            }
            EXPECT_EQ(picture, f.Lic()) << "mag " << mag << " tiles of " << size;
        }
        // A window one sample short of the halo is refused rather than read past.
        const TileRegion middle{20, 25, 5, 5};
        const Window short_window = CutWindow(e, middle, halo - 1);
        std::vector<unsigned char> out(25, 7);
        EXPECT_EQ(
            ConvolveLicTile(short_window.tile, middle, e.kernel_fwd.get(), e.kernel_bwd.get(), 7, mag, out.data()), 0);
        EXPECT_EQ(out, std::vector<unsigned char>(25, 7));
    }
}

// The farthest sample, along either axis, that any half-streamline of the field reads.
int FarthestReach(const std::vector<float>& field, int width, int height, float length, int max_steps) {
    const StreamlineGrid grid{field.data(), width, height};
    int reach = 0;
    for (int row = 0; row < height; ++row) {
        for (int col = 0; col < width; ++col) {
            for (const bool upstream : {false, true}) {
                TraceStreamline(grid, row, col, upstream, length, max_steps, [&](float, long sample) {
                    const int dr = std::abs(static_cast<int>(sample / width) - row);
                    const int dc = std::abs(static_cast<int>(sample % width) - col);
                    reach = std::max({reach, dr, dc});
                });
            }
        }
    }
    return reach;
}

// The halo bounds what the stepper reads: along an axis-parallel flow (which reaches
// farthest) it is tight to a sample; for vectors of any length up to 1, including those
// below the threshold in both components whose one step runs the whole remaining arc, the
// arc bound holds; for unit vectors the step limit caps it when the arc is longer.
TEST(TileLic, HaloBoundsTheReachOfEveryStreamline) {
    const int side = 90;
    std::vector<float> along(2 * side * side);
    for (int i = 0; i < side * side; ++i) along[2 * i] = 1.0f;
    const int reach = FarthestReach(along, side, side, 15.0f, 45);
    EXPECT_GE(LicHalo(15.0f, 45, side, true), reach);
    EXPECT_LE(LicHalo(15.0f, 45, side, true), reach + 1);
    // MagLIC: arc 40 but 12 steps of at most a cell each.
    EXPECT_GE(LicHalo(40.0f, 12, side, true), FarthestReach(along, side, side, 40.0f, 12));
    EXPECT_LE(LicHalo(40.0f, 12, side, true), 13);

    std::mt19937 random(11);
    std::uniform_real_distribution<float> angle(0.0f, 6.2831853f);
    std::uniform_real_distribution<float> unit(0.0f, 1.0f);
    std::vector<float> any(2 * side * side);
    std::vector<float> sub_threshold(2 * side * side);
    for (int i = 0; i < side * side; ++i) {
        const float a = angle(random);
        const float length = i % 3 == 0 ? 0.07f * unit(random) : unit(random);
        any[2 * i] = length * std::cos(a);
        any[2 * i + 1] = length * std::sin(a);
        sub_threshold[2 * i] = 0.049f * std::cos(a);
        sub_threshold[2 * i + 1] = 0.049f * std::sin(a);
    }
    for (const float length : {1.5f, 15.0f, 60.0f}) {
        const int steps = static_cast<int>(3 * length);
        EXPECT_GE(LicHalo(length, steps, side, false), FarthestReach(any, side, side, length, steps)) << length;
        EXPECT_GE(LicHalo(length, steps, side, false), FarthestReach(sub_threshold, side, side, length, steps));
    }
    std::vector<float> normalised = any;
    NormalizeVectorPairs(side * side, normalised.data(), nullptr);
    EXPECT_GE(LicHalo(60.0f, 20, side, true), FarthestReach(normalised, side, side, 60.0f, 20));
}

}  // namespace
}  // namespace flowloom
