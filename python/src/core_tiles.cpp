// The tile helpers behind flowloom.dask: every function works on one chunk (with its halo)
// and knows the chunk's place in the whole grid, so the chunks of any chunking put together
// give the whole-array result byte for byte.

#include <pybind11/stl.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <stdexcept>
#include <vector>

#include "engine/fields.h"
#include "engine/output_scale.h"
#include "engine/tile_lic.h"
#include "fieldio/field_geometry.h"
#include "lic/compose.h"
#include "lic/field_mask.h"
#include "lic/hashed_noise.h"
#include "lic/kernels.h"
#include "lic/parallel_rows.h"
#include "lic/pass_assembly.h"
#include "media/color_norm.h"
#include "media/color_tables.h"
#include "media/malloc_buffer.h"
#include "media/nonlinear_data_map.h"
#include "python/src/core.h"

namespace flowloom::python {
namespace {

using Map = NonlinearDataMap;
// A RangeCounts as 3 + 3 x 12 doubles: counted, low, high, then the windows' counts,
// minima and maxima. Doubles hold the counts exactly up to 2^53.
constexpr int kCountsSize = 3 + 3 * Map::kWindows;

py::array_t<double> MagnitudeCounts(const FloatArray& values) {
    Map::RangeCounts counts;
    {
        py::gil_scoped_release release;
        counts.Count(values.size(), values.data());
    }
    py::array_t<double> out(kCountsSize);
    double* o = out.mutable_data();
    o[0] = static_cast<double>(counts.counted);
    o[1] = counts.low;
    o[2] = counts.high;
    for (int w = 0; w < Map::kWindows; ++w) {
        o[3 + w] = static_cast<double>(counts.windowCount[w]);
        o[3 + Map::kWindows + w] = counts.windowMin[w];
        o[3 + 2 * Map::kWindows + w] = counts.windowMax[w];
    }
    return out;
}

// The range of the whole array from the counts of its chunks, by the rule of range_mode.
std::pair<float, float> MagnitudeRange(const py::array_t<double, py::array::c_style>& all_counts, int range_mode) {
    if (all_counts.ndim() != 2 || all_counts.shape(1) != kCountsSize)
        throw py::value_error("counts must be an array of shape (chunks, 39)");
    Map::RangeCounts total;
    for (py::ssize_t c = 0; c < all_counts.shape(0); ++c) {
        const double* o = all_counts.data(c, 0);
        Map::RangeCounts part;
        part.counted = static_cast<int64_t>(o[0]);
        part.low = static_cast<float>(o[1]);
        part.high = static_cast<float>(o[2]);
        for (int w = 0; w < Map::kWindows; ++w) {
            part.windowCount[w] = static_cast<int64_t>(o[3 + w]);
            part.windowMin[w] = static_cast<float>(o[3 + Map::kWindows + w]);
            part.windowMax[w] = static_cast<float>(o[3 + 2 * Map::kWindows + w]);
        }
        total.Add(part);
    }
    auto map = std::make_unique<Map>();
    map->rangeMode = range_mode;
    map->SetRange(total);
    return {map->rangeMin, map->rangeMax};
}

std::unique_ptr<Map> RangedMap(int range_mode, float range_min, float range_max) {
    auto map = std::make_unique<Map>();
    map->rangeMode = range_mode;
    map->rangeMin = range_min;
    map->rangeMax = range_max;
    return map;
}

// The histogram of one chunk's values. The engine clamps a field's magnitudes into the range
// before it counts them; a colour norm's data map counts the values as they are (`clamp`).
py::array_t<int64_t> MagnitudeBins(const FloatArray& values, int range_mode, float range_min, float range_max,
                                   bool clamp) {
    py::array_t<int64_t> out(Map::kBins);
    int64_t* histogram = out.mutable_data();
    std::fill(histogram, histogram + Map::kBins, 0);
    {
        py::gil_scoped_release release;
        auto map = RangedMap(range_mode, range_min, range_max);
        std::vector<float> clamped(values.data(), values.data() + values.size());
        if (clamp && range_mode != 1) map->ClampIntoRange(values.size(), clamped.data());
        map->CountBins(values.size(), clamped.data(), histogram);
    }
    return out;
}

// Each value's position 0..1 under a norm whose bounds were settled over the whole array
// (NaN where it has none), exactly as the composition places it: kind 0 linear, 1 log, 2
// decades, whose data map onto 0..1 is given by its range and histogram (a reversed range:
// no value had one).
FloatArray NormPositions(const FloatArray& values, int kind, double vmin, double vmax, float range_min, float range_max,
                         const py::object& histogram) {
    if (kind < 0 || kind > 2) throw py::value_error("kind must be 0 (linear), 1 (log) or 2 (decades)");
    ColorNorm norm;
    norm.kind = kind == 0 ? NormKind::kLinear : kind == 1 ? NormKind::kLog : NormKind::kDecades;
    norm.vmin = vmin;
    norm.vmax = vmax;
    py::array_t<int64_t, py::array::c_style> bins;
    if (norm.kind == NormKind::kDecades && range_min <= range_max) {
        auto map = std::make_shared<Map>();
        map->rangeMode = 0;
        map->outLow = 0.0f;
        map->outHigh = 1.0f;
        map->rangeMin = range_min;
        map->rangeMax = range_max;
        if (range_min < range_max) {
            bins = histogram.cast<py::array_t<int64_t, py::array::c_style>>();
            if (bins.size() != Map::kBins) throw py::value_error("histogram must have 10000 bins");
            map->BuildTableFromBins(bins.data());
        }
        norm.map = std::move(map);
    }
    FloatArray out(std::vector<py::ssize_t>(values.shape(), values.shape() + values.ndim()));
    float* o = out.mutable_data();
    py::gil_scoped_release release;
    norm.Positions(static_cast<long>(values.size()), values.data(), o);
    return out;
}

// The mapped values of one chunk, as Map gives them for the whole array whose range and
// histogram these are (including the cases without a table).
FloatArray MagnitudeApply(const FloatArray& values, int range_mode, float range_min, float range_max,
                          const py::array_t<int64_t, py::array::c_style>& histogram, float out_low, float out_high) {
    if (histogram.size() != Map::kBins) throw py::value_error("histogram must have 10000 bins");
    FloatArray out(std::vector<py::ssize_t>(values.shape(), values.shape() + values.ndim()));
    float* o = out.mutable_data();
    const py::ssize_t count = values.size();
    {
        py::gil_scoped_release release;
        std::copy(values.data(), values.data() + count, o);
        auto map = RangedMap(range_mode, range_min, range_max);
        map->outLow = out_low;
        map->outHigh = out_high;
        if (!(range_min <= range_max)) {
            std::fill(o, o + count, out_low);
        } else if (range_min == range_max) {
            std::fill(o, o + count, out_high);
        } else {
            if (range_mode != 1) map->ClampIntoRange(count, o);
            map->BuildTableFromBins(histogram.data());
            // ApplyTable counts in int; a chunk is far below that.
            map->ApplyTable(static_cast<int>(count), o);
        }
    }
    return out;
}

// Unit vectors, lengths and the mask of a chunk, as the engine holds a field from outside:
// a sample with a non-finite component is masked, a zero vector without a length (NaN, so
// the magnitude map leaves it out).
py::tuple Normalize(const FloatArray& u, const FloatArray& v) {
    RequireShape(u, "u", -1, -1);
    RequireShape(v, "v", u.shape(0), u.shape(1));
    const std::vector<py::ssize_t> shape{u.shape(0), u.shape(1)};
    FloatArray vx(shape);
    FloatArray vy(shape);
    FloatArray lengths(shape);
    ByteArray mask(shape);
    const long count = static_cast<long>(u.size());
    {
        py::gil_scoped_release release;
        std::vector<float> pairs = Interleave(u.data(), v.data(), static_cast<size_t>(count));
        MallocBuffer<unsigned char> masked(
            MaskNonFiniteSamples(pairs.data(), static_cast<int>(shape[1]), static_cast<int>(shape[0])));
        float* length = lengths.mutable_data();
        NormalizeVectorPairs(count, pairs.data(), length);
        unsigned char* m = mask.mutable_data();
        for (long i = 0; i < count; ++i) {
            vx.mutable_data()[i] = pairs[2 * i];
            vy.mutable_data()[i] = pairs[2 * i + 1];
            m[i] = masked ? masked[i] : 0;
            if (m[i]) length[i] = std::numeric_limits<float>::quiet_NaN();
        }
    }
    return py::make_tuple(vx, vy, lengths, mask);
}

ByteArray HashedNoise(int rows, int cols, int64_t row0, int64_t col0, uint64_t seed) {
    if (rows < 0 || cols < 0) throw py::value_error("the texture's size must not be negative");
    ByteArray out = NewBytes({rows, cols});
    unsigned char* o = out.mutable_data();
    py::gil_scoped_release release;
    MakeHashedWhiteNoise(o, rows, cols, row0, col0, seed);
    return out;
}

int64_t Wrapped(int64_t v, int64_t size) {
    const int64_t m = v % size;
    return m < 0 ? m + size : m;
}

float LargestMagLic(const FloatArray& magnitudes) {
    return LargestMagLicLength(static_cast<long>(magnitudes.size()), magnitudes.data());
}

// Traces `tile` over `region` (row0, col0, rows, cols) with the kernel and the modes asked
// for; false when the window does not hold the region with its halo, or memory runs out.
bool TraceTile(LicTile& tile, const std::vector<int>& region, int kernel, int length, bool maglic, bool periodic_x,
               bool periodic_y, bool orientation, unsigned char* dest) {
    tile.modes.boundary_x = periodic_x ? Boundary::kPeriodic : Boundary::kClosed;
    tile.modes.boundary_y = periodic_y ? Boundary::kPeriodic : Boundary::kClosed;
    tile.modes.orientation = orientation;
    std::vector<float> forward(kKernelTableSize);
    std::vector<float> backward(kKernelTableSize);
    BuildKernelTables(forward.data(), backward.data(), static_cast<float>(length), 3.0f, 0.0f, kernel);
    const TileRegion where{region[0], region[1], region[2], region[3]};
    return ConvolveLicTile(tile, where, forward.data(), backward.data(), length, maglic, dest);
}

// The LIC of region (row0, col0, rows, cols) of a grid_height x grid_width grid, from a window
// of unit vectors, texture and (for MagLIC) mapped magnitudes that starts at
// (window_row0, window_col0) and holds the region with its halo.
//
// `texture` None makes the window's texture here, the hashed white noise of `seed` at each
// sample's grid position (rows and columns wrapped round the grid, as a periodic window
// reaches past an edge). `normalize` takes vx, vy as the field's raw components and makes
// the unit vectors here as Normalize does, without the planes in between.
ByteArray LicTileBinding(const FloatArray& vx, const FloatArray& vy, const py::object& texture,
                         const py::object& magnitudes, int grid_height, int grid_width, int window_row0,
                         int window_col0, std::vector<int> region, int kernel, int length, bool maglic, int threads,
                         bool periodic_x, bool periodic_y, bool orientation, bool normalize, uint64_t seed) {
    RequireShape(vx, "vx", -1, -1);
    RequireShape(vy, "vy", vx.shape(0), vx.shape(1));
    ByteArray given;
    const bool texture_given = !texture.is_none();
    if (texture_given) {
        given = texture.cast<ByteArray>();
        RequireShape(given, "texture", vx.shape(0), vx.shape(1));
    }
    if (grid_height < 1 || grid_width < 1) throw py::value_error("the grid must not be empty");
    FloatArray mags;
    if (maglic) {
        mags = magnitudes.cast<FloatArray>();
        RequireShape(mags, "magnitudes", vx.shape(0), vx.shape(1));
    }
    if (region.size() != 4) throw py::value_error("region must be (row0, col0, rows, cols)");
    if (length < 1) throw py::value_error("length must be at least 1");
    const int checked_threads = CheckedThreads(threads);
    ByteArray out = NewBytes({std::max(region[2], 0), std::max(region[3], 0)});
    unsigned char* dest = out.mutable_data();
    int done = 0;
    {
        py::gil_scoped_release release;
        SetThreadCount(checked_threads);
        LicTile tile;
        tile.grid_width = grid_width;
        tile.grid_height = grid_height;
        tile.row0 = window_row0;
        tile.col0 = window_col0;
        tile.rows = static_cast<int>(vx.shape(0));
        tile.cols = static_cast<int>(vx.shape(1));
        const size_t samples = static_cast<size_t>(tile.rows) * tile.cols;
        std::vector<float> pairs = Interleave(vx.data(), vy.data(), samples);
        if (normalize) {
            // Masked samples become zero vectors, as the engine holds them.
            MallocBuffer<unsigned char> masked(MaskNonFiniteSamples(pairs.data(), tile.cols, tile.rows));
            NormalizeVectorPairs(static_cast<long>(samples), pairs.data(), nullptr);
        }
        tile.vectors = pairs.data();
        std::vector<unsigned char> made;
        if (texture_given) {
            tile.texture = given.data();
        } else {
            made.resize(samples);
            for (int r = 0; r < tile.rows; ++r) {
                const int64_t grid_row = Wrapped(static_cast<int64_t>(tile.row0) + r, grid_height);
                for (int c = 0; c < tile.cols;) {
                    const int64_t grid_col = Wrapped(static_cast<int64_t>(tile.col0) + c, grid_width);
                    const int run = static_cast<int>(std::min<int64_t>(tile.cols - c, grid_width - grid_col));
                    MakeHashedWhiteNoise(made.data() + static_cast<size_t>(r) * tile.cols + c, 1, run, grid_row,
                                         grid_col, seed);
                    c += run;
                }
            }
            tile.texture = made.data();
        }
        tile.magnitudes = maglic ? mags.data() : nullptr;
        done = TraceTile(tile, region, kernel, length, maglic, periodic_x, periodic_y, orientation, dest);
    }
    if (!done) throw py::value_error("the window does not hold the region with its halo, or memory ran out");
    return out;
}

// The conversion of a whole grid from its 1-D axes (in displayed order), as the importer
// derives it: {mode, dx, dy, cos_lat, periodic_x, drop_last_column}; ValueError with the
// importer's message for axes it refuses. The chunks then convert their own samples.
py::dict FieldGeometryOf(const py::dict& x, const py::dict& y, const std::string& mode_name, int width, int height) {
    Coordinates asked;
    if (!ParseCoordinates(mode_name, asked)) throw py::value_error("unknown coordinates " + mode_name);
    const FieldAxis xa = AxisOf(x), ya = AxisOf(y);
    FieldGeometry geometry;
    std::string error;
    if (!MakeFieldGeometry(ResolveCoordinates(asked, xa, ya), xa, ya, width, height, geometry, error))
        throw py::value_error(error);
    py::dict out;
    out["mode"] = std::string(CoordinatesName(geometry.mode));
    out["dx"] = geometry.dx;
    out["dy"] = geometry.dy;
    out["cos_lat"] = geometry.cos_lat;
    out["periodic_x"] = geometry.periodic_x;
    out["drop_last_column"] = geometry.drop_last_column;
    return out;
}

// One chunk's physical components as steps in samples, by the part of the grid's spacing
// (dx of its columns, dy and cos_lat of its rows; cos_lat empty but for geographic) that
// covers it: the very numbers the whole grid's conversion gives these samples.
py::tuple ConvertTile(const FloatArray& u, const FloatArray& v, const std::string& mode_name, std::vector<double> dx,
                      std::vector<double> dy, std::vector<double> cos_lat) {
    RequireShape(u, "u", -1, -1);
    RequireShape(v, "v", u.shape(0), u.shape(1));
    const int height = static_cast<int>(u.shape(0));
    const int width = static_cast<int>(u.shape(1));
    FieldGeometry geometry;
    if (!ParseCoordinates(mode_name, geometry.mode)) throw py::value_error("unknown coordinates " + mode_name);
    if (dx.size() != static_cast<size_t>(width) || dy.size() != static_cast<size_t>(height) ||
        !(cos_lat.empty() || cos_lat.size() == static_cast<size_t>(height)))
        throw py::value_error("the spacing must cover the chunk's columns and rows");
    geometry.dx = std::move(dx);
    geometry.dy = std::move(dy);
    geometry.cos_lat = std::move(cos_lat);
    const std::vector<py::ssize_t> shape{height, width};
    FloatArray vx(shape);
    FloatArray vy(shape);
    {
        py::gil_scoped_release release;
        const size_t samples = static_cast<size_t>(width) * height;
        std::vector<double> pairs(2 * samples);
        for (size_t i = 0; i < samples; ++i) {
            pairs[2 * i] = u.data()[i];
            pairs[2 * i + 1] = v.data()[i];
        }
        std::vector<float> vectors(2 * samples);
        ConvertToSampleSteps(geometry, width, height, pairs.data(), vectors.data(), nullptr);
        for (size_t i = 0; i < samples; ++i) {
            vx.mutable_data()[i] = vectors[2 * i];
            vy.mutable_data()[i] = vectors[2 * i + 1];
        }
    }
    return py::make_tuple(vx, vy);
}

// Where a pixel of the finer grid reads along one axis, for a window: as the engine's
// upsampling takes it on the whole grid (position (j + 0.5) / scale - 0.5 of the pixel's
// place j within the grid, borders clamped or wrapped), with the samples' indices moved to
// the period the pixel lies in and then into the window.
struct WindowTap {
    long first;
    long second;
    double t;
    long own;
};

WindowTap TapOf(long fine, int size, int scale, bool periodic, long window0) {
    const long fine_size = static_cast<long>(size) * scale;
    const long in_grid = static_cast<long>(Wrapped(fine, fine_size));
    const long shift = (fine - in_grid) / scale;  // whole periods, in samples
    const double p = (static_cast<double>(in_grid) + 0.5) / scale - 0.5;
    const double f = std::floor(p);
    long a = static_cast<long>(f);
    long b = a + 1;
    if (!periodic) {
        a = std::clamp(a, 0L, static_cast<long>(size) - 1);
        b = std::clamp(b, 0L, static_cast<long>(size) - 1);
    }
    return WindowTap{a + shift - window0, b + shift - window0, p - f, in_grid / scale + shift - window0};
}

// The LIC of region (row0, col0, rows, cols) of the grid `scale` times finer than a
// grid_height x grid_width field, from a window of the field's raw steps (non-finite:
// masked) starting at (window_row0, window_col0). The field is interpolated onto the finer
// grid for the region with its halo as the engine interpolates the whole field (bilinear,
// masked samples left out, columns wrapped when `wrap_x`, neighbours' signs aligned with the
// pixel's own cell when `align_signs`), then normalised, textured with the hashed white
// noise of `seed` and traced there.
ByteArray LicTileScaled(const FloatArray& u, const FloatArray& v, int grid_height, int grid_width, int scale,
                        int window_row0, int window_col0, std::vector<int> region, int kernel, int length, int threads,
                        bool wrap_x, bool align_signs, bool periodic_x, bool periodic_y, bool orientation,
                        uint64_t seed) {
    RequireShape(u, "u", -1, -1);
    RequireShape(v, "v", u.shape(0), u.shape(1));
    if (grid_height < 1 || grid_width < 1) throw py::value_error("the grid must not be empty");
    if (scale < 1 || scale > kMaxOutputScale) throw py::value_error("scale out of range");
    if (region.size() != 4 || region[2] < 1 || region[3] < 1)
        throw py::value_error("region must be (row0, col0, rows, cols)");
    if (length < 1) throw py::value_error("length must be at least 1");
    const int checked_threads = CheckedThreads(threads);
    const long fine_height = static_cast<long>(grid_height) * scale, fine_width = static_cast<long>(grid_width) * scale;
    if (fine_height > std::numeric_limits<int>::max() || fine_width > std::numeric_limits<int>::max())
        throw py::value_error("the finer grid is too large");
    const int halo = LicHalo(static_cast<float>(length), StepLimit(length),
                             static_cast<int>(std::max(fine_height, fine_width)), true);
    // The fine window: the region and its halo, inside the grid on a closed axis.
    const auto span = [&](int start, int count, long size, bool periodic, long& first, long& end) {
        first = static_cast<long>(start) - halo;
        end = static_cast<long>(start) + count + halo;
        if (!periodic || end - first >= size) {
            first = std::max(first, 0L);
            end = std::min(end, size);
        }
    };
    long fr0, fr1, fc0, fc1;
    span(region[0], region[2], fine_height, periodic_y, fr0, fr1);
    span(region[1], region[3], fine_width, periodic_x, fc0, fc1);
    const int rows = static_cast<int>(fr1 - fr0), cols = static_cast<int>(fc1 - fc0);
    const long window_rows = u.shape(0), window_cols = u.shape(1);
    std::vector<WindowTap> row_taps(static_cast<size_t>(rows)), col_taps(static_cast<size_t>(cols));
    const auto inside = [](const WindowTap& t, long n) {
        return t.first >= 0 && t.first < n && t.second >= 0 && t.second < n && t.own >= 0 && t.own < n;
    };
    for (int i = 0; i < rows; ++i) {
        row_taps[static_cast<size_t>(i)] = TapOf(fr0 + i, grid_height, scale, false, window_row0);
        if (!inside(row_taps[static_cast<size_t>(i)], window_rows))
            throw py::value_error("the window does not hold the rows the finer grid reads");
    }
    for (int j = 0; j < cols; ++j) {
        col_taps[static_cast<size_t>(j)] = TapOf(fc0 + j, grid_width, scale, wrap_x, window_col0);
        if (!inside(col_taps[static_cast<size_t>(j)], window_cols))
            throw py::value_error("the window does not hold the columns the finer grid reads");
    }
    ByteArray out = NewBytes({region[2], region[3]});
    unsigned char* dest = out.mutable_data();
    int done = 0;
    {
        py::gil_scoped_release release;
        SetThreadCount(checked_threads);
        std::vector<float> coarse = Interleave(u.data(), v.data(), static_cast<size_t>(window_rows * window_cols));
        MallocBuffer<unsigned char> mask(
            MaskNonFiniteSamples(coarse.data(), static_cast<int>(window_cols), static_cast<int>(window_rows)));
        const size_t samples = static_cast<size_t>(rows) * cols;
        std::vector<float> fine(2 * samples);
        for (int i = 0; i < rows; ++i) {
            const WindowTap& ty = row_taps[static_cast<size_t>(i)];
            const long source_rows[2] = {ty.first * window_cols, ty.second * window_cols};
            const double wy[2] = {1.0 - ty.t, ty.t};
            for (int j = 0; j < cols; ++j) {
                const WindowTap& tx = col_taps[static_cast<size_t>(j)];
                const long own = ty.own * window_cols + tx.own;
                float* o = fine.data() + 2 * (static_cast<size_t>(i) * cols + j);
                if (mask && mask[own]) {
                    o[0] = o[1] = 0.0f;
                    continue;
                }
                const long source_cols[2] = {tx.first, tx.second};
                const double wx[2] = {1.0 - tx.t, tx.t};
                const double ox = coarse[2 * own], oy = coarse[2 * own + 1];
                double sx = 0.0, sy = 0.0, sw = 0.0;
                for (int a = 0; a < 2; ++a) {
                    for (int b = 0; b < 2; ++b) {
                        const long k = source_rows[a] + source_cols[b];
                        const double w = wy[a] * wx[b];
                        if (w == 0.0 || (mask && mask[k])) continue;
                        double vx = coarse[2 * k], vy = coarse[2 * k + 1];
                        if (align_signs && vx * ox + vy * oy < 0.0) {
                            vx = -vx;
                            vy = -vy;
                        }
                        sx += w * vx;
                        sy += w * vy;
                        sw += w;
                    }
                }
                o[0] = static_cast<float>(sx / sw);
                o[1] = static_cast<float>(sy / sw);
            }
        }
        NormalizeVectorPairs(static_cast<long>(samples), fine.data(), nullptr);
        std::vector<unsigned char> texture(samples);
        for (int r = 0; r < rows; ++r) {
            const int64_t grid_row = Wrapped(fr0 + r, fine_height);
            for (int c = 0; c < cols;) {
                const int64_t grid_col = Wrapped(fc0 + c, fine_width);
                const int run = static_cast<int>(std::min<int64_t>(cols - c, fine_width - grid_col));
                MakeHashedWhiteNoise(texture.data() + static_cast<size_t>(r) * cols + c, 1, run, grid_row, grid_col,
                                     seed);
                c += run;
            }
        }
        LicTile tile;
        tile.grid_width = static_cast<int>(fine_width);
        tile.grid_height = static_cast<int>(fine_height);
        tile.row0 = static_cast<int>(fr0);
        tile.col0 = static_cast<int>(fc0);
        tile.rows = rows;
        tile.cols = cols;
        tile.vectors = fine.data();
        tile.texture = texture.data();
        done = TraceTile(tile, region, kernel, length, false, periodic_x, periodic_y, orientation, dest);
    }
    if (!done) throw py::value_error("the window does not hold the region with its halo, or memory ran out");
    return out;
}

// The colour options of a chunk: the map, blend, mask colour and contrast as given, and
// for `values` a linear norm whose bounds the caller settled over the whole array.
ColorOptions TileOptions(const py::dict& kw, bool by_values, unsigned char mask_bgr[3]) {
    py::dict given;
    for (const auto& [key, value] : kw) {
        const std::string name = key.cast<std::string>();
        if (name != "norm" && name != "vmin" && name != "vmax" && name != "percentiles") given[key] = value;
    }
    ColorOptions options = ReadColorOptions(given, by_values, mask_bgr);
    if (by_values) {
        NormSpec spec;
        spec.vmin = kw["vmin"].cast<double>();
        spec.vmax = kw["vmax"].cast<double>();
        options.norm = spec;
        std::string error;
        if (!ValidateColorOptions(options, error)) throw py::value_error(error);
    }
    return options;
}

// The colour picture of one chunk (red, green, blue), no flips: mode 0 grey, 1 by
// magnitude, 2 by direction. `values` (or None) take the mapped magnitudes' place under a
// linear norm from options["vmin"] to options["vmax"], settled over the whole array.
ByteArray ComposeTile(const ByteArray& grey, const FloatArray& vx, const FloatArray& vy, const FloatArray& magnitudes,
                      const py::object& values, const ByteArray& mask, int mode, const py::dict& options) {
    RequireShape(grey, "lic", -1, -1);
    RequireShape(vx, "vx", grey.shape(0), grey.shape(1));
    RequireShape(vy, "vy", grey.shape(0), grey.shape(1));
    RequireShape(magnitudes, "magnitudes", grey.shape(0), grey.shape(1));
    RequireShape(mask, "mask", grey.shape(0), grey.shape(1));
    FloatArray placed;
    const bool by_values = !values.is_none();
    if (by_values) {
        placed = values.cast<FloatArray>();
        RequireShape(placed, "values", grey.shape(0), grey.shape(1));
    }
    unsigned char mask_bgr[3] = {0, 0, 0};
    const ColorOptions chosen = TileOptions(options, by_values, mask_bgr);
    const int height = static_cast<int>(grey.shape(0));
    const int width = static_cast<int>(grey.shape(1));
    ByteArray out = NewBytes({height, width, 3});
    unsigned char* o = out.mutable_data();
    std::string error;
    bool done = false;
    {
        py::gil_scoped_release release;
        const size_t samples = static_cast<size_t>(width) * height;
        const std::vector<float> pairs = Interleave(vx.data(), vy.data(), samples);
        ComposeSource source;
        source.grey = grey.data();
        source.vectors = pairs.data();
        source.magnitudes = magnitudes.data();
        source.scalar = by_values ? placed.data() : nullptr;
        source.mask = mask.data();
        std::memcpy(source.mask_color, mask_bgr, sizeof mask_bgr);
        source.options = &chosen;
        source.width = width;
        source.height = height;
        source.color_by_data = mode == 2;
        done = ComposeColorImage(source, o, mode != 0, &error);
        if (done)
            for (size_t i = 0; i < samples; ++i) std::swap(o[3 * i], o[3 * i + 2]);
    }
    if (!done) throw py::value_error(error);
    return out;
}

}  // namespace

void BindTiles(py::module_& m) {
    // The data map's layout, so that the Dask path need not know it.
    m.attr("MAP_WINDOWS") = Map::kWindows;
    m.attr("MAP_COUNTS") = kCountsSize;
    m.attr("MAP_BINS") = Map::kBins;
    m.def("magnitude_counts", &MagnitudeCounts);
    m.def("magnitude_range", &MagnitudeRange);
    m.def("magnitude_bins", &MagnitudeBins, py::arg("values"), py::arg("range_mode"), py::arg("range_min"),
          py::arg("range_max"), py::arg("clamp") = true);
    m.def("norm_positions", &NormPositions);
    m.def("magnitude_apply", &MagnitudeApply);
    m.def("normalize", &Normalize);
    m.def("hashed_noise", &HashedNoise);
    m.def("lic_halo", &LicHalo);
    m.def("step_limit", &StepLimit);
    m.def("largest_maglic_length", &LargestMagLic);
    m.def("lic_tile", &LicTileBinding, py::arg("vx"), py::arg("vy"), py::arg("texture"), py::arg("magnitudes"),
          py::arg("grid_height"), py::arg("grid_width"), py::arg("window_row0"), py::arg("window_col0"),
          py::arg("region"), py::arg("kernel"), py::arg("length"), py::arg("maglic"), py::arg("threads"),
          py::arg("periodic_x") = false, py::arg("periodic_y") = false, py::arg("orientation") = false,
          py::arg("normalize") = false, py::arg("seed") = 0);
    m.def("compose_tile", &ComposeTile);
    m.def("field_geometry", &FieldGeometryOf);
    m.def("convert_tile", &ConvertTile);
    m.def("lic_tile_scaled", &LicTileScaled);
}

}  // namespace flowloom::python
