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
#include "lic/pass_assembly.h"

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

// v modulo size, in 0..size - 1.
int Modulo(long v, int size) {
    const long m = v % size;
    return static_cast<int>(m < 0 ? m + size : m);
}

// Copies the window's rows (`per_sample` values each sample) to their grid positions, rows
// and columns modulo the grid's sides: a window across a periodic edge lands in runs on
// both sides of it.
template <class T>
void Place(T* view, const T* window, const LicTile& tile, int per_sample) {
    const size_t row_values = static_cast<size_t>(tile.cols) * per_sample;
    for (int r = 0; r < tile.rows; ++r) {
        const size_t grid_row = static_cast<size_t>(Modulo(static_cast<long>(tile.row0) + r, tile.grid_height));
        for (int c = 0; c < tile.cols;) {
            const int grid_col = Modulo(static_cast<long>(tile.col0) + c, tile.grid_width);
            const int run = std::min(tile.cols - c, tile.grid_width - grid_col);
            std::memcpy(view + (grid_row * tile.grid_width + grid_col) * per_sample,
                        window + r * row_values + static_cast<size_t>(c) * per_sample,
                        static_cast<size_t>(run) * per_sample * sizeof(T));
            c += run;
        }
    }
}

// Whether a window's start..start + count - 1 along an axis of `size` samples is usable:
// inside the grid on a closed axis, within one period past either edge on a periodic one.
bool WindowFits(int start, int count, int size, Boundary boundary) {
    if (count <= 0) return false;
    if (boundary == Boundary::kPeriodic)
        return start >= -static_cast<long>(size) && static_cast<long>(start) + count <= 2L * size;
    return start >= 0 && count <= size - start;
}

// Whether the window holds every sample within `halo` of the region along one axis.
bool WindowCovers(int start, int count, int size, Boundary boundary, int region_start, int region_count, int halo) {
    const long first = static_cast<long>(region_start) - halo;
    const long end = static_cast<long>(region_start) + region_count + halo;
    if (boundary == Boundary::kPeriodic)
        return count >= size || (start <= first && start + static_cast<long>(count) >= end);
    return start <= std::max(0L, first) && start + static_cast<long>(count) >= std::min(static_cast<long>(size), end);
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
    if (tile.grid_width <= 0 || tile.grid_height <= 0 || kernel_length <= 0) return 0;
    const Boundary boundary_x = tile.modes.boundary_x;
    const Boundary boundary_y = tile.modes.boundary_y;
    if (!WindowFits(tile.row0, tile.rows, tile.grid_height, boundary_y) ||
        !WindowFits(tile.col0, tile.cols, tile.grid_width, boundary_x))
        return 0;
    if (region.rows <= 0 || region.cols <= 0 || region.row0 < std::max(0, tile.row0) ||
        region.col0 < std::max(0, tile.col0) || region.rows > tile.grid_height - region.row0 ||
        region.cols > tile.grid_width - region.col0 ||
        static_cast<long>(region.row0) + region.rows > static_cast<long>(tile.row0) + tile.rows ||
        static_cast<long>(region.col0) + region.cols > static_cast<long>(tile.col0) + tile.cols)
        return 0;
    // The view holds the grid's rows down to the window's last; a window that wraps rows
    // may place any of them.
    const bool rows_wrap = tile.row0 < 0 || tile.rows > tile.grid_height - tile.row0;
    const int64_t view_samples =
        static_cast<int64_t>(rows_wrap ? tile.grid_height : tile.row0 + tile.rows) * tile.grid_width;
    if (view_samples > kMaxViewSamples) return 0;

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
    const int halo = LicHalo(longest, StepLimit(kernel_length), std::max(tile.grid_width, tile.grid_height), true);
    if (!WindowCovers(tile.row0, tile.rows, tile.grid_height, boundary_y, region.row0, region.rows, halo) ||
        !WindowCovers(tile.col0, tile.cols, tile.grid_width, boundary_x, region.col0, region.cols, halo))
        return 0;

    GridView<float> vectors(2 * view_samples);
    // The texture's mapping is zero-filled past its last sample: the padding that the lane
    // kernels' gathers read.
    GridView<unsigned char> texture(view_samples + static_cast<int64_t>(kLaneTexturePadding));
    if (!vectors.get() || !texture.get()) return 0;
    Place(vectors.get(), tile.vectors, tile, 2);
    Place(texture.get(), tile.texture, tile, 1);

    const PassAssembly pass(StreamlineGrid{vectors.get(), tile.grid_width, tile.grid_height, tile.modes}, kernel_length,
                            PassTexture{texture.get(), static_cast<size_t>(view_samples), true});
    const PixelWindow<const float> mags =
        mag_lic ? PixelWindow<const float>{tile.magnitudes, tile.row0, tile.col0, tile.cols}
                : PixelWindow<const float>{};
    const LicLanes lic =
        pass.Lic(kernel_fwd, kernel_bwd, mags, PixelWindow<unsigned char>{out, region.row0, region.col0, region.cols});
    // Each pixel traces its own streamline and writes only itself: the tile is the same for
    // every thread count.
    ForEachRow(region.rows, [&](int r) {
        const int row = region.row0 + r;
        pass.LicRows(lic, LaneRows{row, 1, row + 1}, LaneColumns{region.col0, 1, region.col0 + region.cols});
    });
    return 1;
}

}  // namespace flowloom
