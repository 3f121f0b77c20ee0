#include "engine/tile_lic.h"

#include <sys/mman.h>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>

#include "lic/kernels.h"
#include "lic/parallel_rows.h"
#include "lic/streamline.h"
#include "lic/streamline_simd.h"

namespace flowloom {

namespace {

// Beyond this many samples of address space a view is refused (2^40: terabytes of
// addresses, of which only the window's pages are ever backed).
constexpr int64_t kMaxViewSamples = int64_t{1} << 40;

float Ulp(float x) {
    const float a = std::fabs(x);
    return std::nextafter(a, std::numeric_limits<float>::infinity()) - a;
}

// Address space laid out as the whole grid's rows 0..last_row, of which only the window's
// samples are written and so backed by memory: the stepper indexes by grid coordinates, and
// the untouched pages of an anonymous mapping cost nothing. Memory stays that of the tile.
template <class T>
class GridView {
public:
    explicit GridView(int64_t samples) : bytes_(static_cast<size_t>(samples) * sizeof(T)) {
        void* p = mmap(nullptr, bytes_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
        data_ = p == MAP_FAILED ? nullptr : static_cast<T*>(p);
    }
    ~GridView() {
        if (data_) munmap(data_, bytes_);
    }
    GridView(const GridView&) = delete;
    GridView& operator=(const GridView&) = delete;
    T* get() const { return data_; }

private:
    size_t bytes_;
    T* data_ = nullptr;
};

// Copies the window's rows (`per_sample` values each sample) to their grid positions.
template <class T>
void Place(T* view, const T* window, const LicTile& tile, int per_sample) {
    const size_t row_values = static_cast<size_t>(tile.cols) * per_sample;
    for (int r = 0; r < tile.rows; ++r) {
        const size_t at = (static_cast<size_t>(tile.row0 + r) * tile.grid_width + tile.col0) * per_sample;
        std::memcpy(view + at, window + r * row_values, row_values * sizeof(T));
    }
}

}  // namespace

int LicHalo(float length, int max_steps, int grid_side, bool unit_vectors) {
    if (!(length > 0.0f) || max_steps <= 0 || grid_side <= 0) return 0;
    const double steps = max_steps;
    const double slack = 0.0004 + Ulp(length);
    double reach = std::isfinite(length) ? length + steps * slack : std::numeric_limits<double>::infinity();
    if (unit_vectors) reach = std::min(reach, steps * (1.0 + slack));
    reach = reach * (1.0 + std::ldexp(1.0, -20)) + steps * Ulp(static_cast<float>(grid_side));
    return reach >= grid_side ? grid_side : static_cast<int>(std::ceil(reach));
}

float LargestMagLicLength(long count, const float* magnitudes) {
    float largest = 0.0f;
    for (long i = 0; i < count; ++i) largest = std::max(largest, MagLicLength(magnitudes[i]));
    return largest;
}

int ConvolveLicTile(const LicTile& tile, const TileRegion& region, const float* kernel_fwd, const float* kernel_bwd,
                    int kernel_length, bool mag_lic, unsigned char* out) {
    if (!tile.vectors || !tile.texture || (mag_lic && !tile.magnitudes) || !kernel_fwd || !kernel_bwd || !out) return 0;
    if (tile.grid_width <= 0 || tile.grid_height <= 0 || tile.rows <= 0 || tile.cols <= 0 || kernel_length <= 0)
        return 0;
    if (tile.row0 < 0 || tile.col0 < 0 || tile.rows > tile.grid_height - tile.row0 ||
        tile.cols > tile.grid_width - tile.col0)
        return 0;
    if (region.rows <= 0 || region.cols <= 0 || region.row0 < tile.row0 || region.col0 < tile.col0 ||
        region.rows > tile.row0 + tile.rows - region.row0 || region.cols > tile.col0 + tile.cols - region.col0)
        return 0;
    const int64_t view_samples = static_cast<int64_t>(tile.row0 + tile.rows) * tile.grid_width;
    if (view_samples > kMaxViewSamples) return 0;

    const int max_steps = 3 * kernel_length;
    const auto local = [&](int row, int col) {
        return static_cast<long>(row - tile.row0) * tile.cols + (col - tile.col0);
    };
    // The region's own pixels decide how far their streamlines may reach.
    float longest = static_cast<float>(kernel_length);
    if (mag_lic) {
        longest = 0.0f;
        for (int r = 0; r < region.rows; ++r)
            longest = std::max(longest,
                               LargestMagLicLength(region.cols, tile.magnitudes + local(region.row0 + r, region.col0)));
    }
    const int halo = LicHalo(longest, max_steps, std::max(tile.grid_width, tile.grid_height), true);
    const bool covered = tile.row0 <= std::max(0, region.row0 - halo) && tile.col0 <= std::max(0, region.col0 - halo) &&
                         tile.row0 + tile.rows >= std::min(tile.grid_height, region.row0 + region.rows + halo) &&
                         tile.col0 + tile.cols >= std::min(tile.grid_width, region.col0 + region.cols + halo);
    if (!covered) return 0;

    GridView<float> vectors(2 * view_samples);
    // The texture's mapping is zero-filled past its last sample: the padding that the lane
    // kernels' gathers read.
    GridView<unsigned char> texture(view_samples + static_cast<int64_t>(kLaneTexturePadding));
    if (!vectors.get() || !texture.get()) return 0;
    Place(vectors.get(), tile.vectors, tile, 2);
    Place(texture.get(), tile.texture, tile, 1);

    const StreamlineGrid grid{vectors.get(), tile.grid_width, tile.grid_height};
    const float base_length = static_cast<float>(kernel_length);
    const float base_sigma = static_cast<float>(2047.0 / base_length);
    const auto at = [&](int row, int col) { return static_cast<long>(row) * tile.grid_width + col; };

    // The lane kernels write a grid-sized image and read MagLIC lengths from one; without
    // memory for those the scalar path gives the same tile.
    const LaneKernels* simd = ChosenLaneKernels(view_samples);
    GridView<unsigned char> image(simd ? view_samples : 0);
    GridView<float> lengths(simd && mag_lic ? view_samples : 0);
    if (!image.get() || (mag_lic && !lengths.get())) simd = nullptr;
    LicLanes lanes;
    if (simd) {
        if (mag_lic)
            ForEachRow(region.rows, [&](int r) {
                const int row = region.row0 + r;
                for (int col = region.col0; col < region.col0 + region.cols; ++col)
                    lengths.get()[at(row, col)] = MagLicLength(tile.magnitudes[local(row, col)]);
            });
        lanes.grid = grid;
        lanes.texture = texture.get();
        lanes.forward = kernel_fwd;
        lanes.backward = kernel_bwd;
        lanes.length = base_length;
        lanes.sigma = base_sigma;
        lanes.lengths = mag_lic ? lengths.get() : nullptr;
        lanes.max_steps = max_steps;
        lanes.image = image.get();
    }
    // Each pixel traces its own streamline and writes only itself: the tile is the same for
    // every thread count.
    ForEachRow(region.rows, [&](int r) {
        const int row = region.row0 + r;
        if (simd) {
            simd->lic_rows(lanes, LaneRows{row, 1, row + 1}, LaneColumns{region.col0, 1, region.col0 + region.cols});
            std::memcpy(out + static_cast<long>(r) * region.cols, image.get() + at(row, region.col0),
                        static_cast<size_t>(region.cols));
            return;
        }
        for (int c = 0; c < region.cols; ++c) {
            const int col = region.col0 + c;
            float length = base_length;
            float sigma = base_sigma;
            if (mag_lic) {
                length = MagLicLength(tile.magnitudes[local(row, col)]);
                sigma = static_cast<float>(2047.0 / length);
            }
            out[static_cast<long>(r) * region.cols + c] =
                ConvolvePixel(grid, texture.get(), kernel_fwd, kernel_bwd, length, sigma, max_steps, row, col);
        }
    });
    return 1;
}

}  // namespace flowloom
