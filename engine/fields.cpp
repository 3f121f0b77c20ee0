#include "engine/fields.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>

#include "lic/parallel_data_map.h"
#include "lic/parallel_rows.h"
#include "media/malloc_buffer.h"
#include "media/nonlinear_data_map.h"

namespace flowloom {

namespace {

// 1 / (n - 1) held as a float; a single sample has no spacing, so its factor is 0.
float AxisFactor(int n) {
    return n > 1 ? static_cast<float>(1.0 / (n - 1)) : 0.0f;
}

float* RowStart(float* vectors, int row, int width) {
    return vectors + static_cast<std::size_t>(row) * static_cast<std::size_t>(width) * 2;
}

// Saddle and Spiralling share the column term and differ in which way the row term runs.
void MakeOffsetField(float* vectors, int width, int height, bool row_term_from_bottom) {
    if (!vectors || width <= 0 || height <= 0) return;
    const double fx = AxisFactor(width);
    const double fy = AxisFactor(height);
    ForEachRow(height, [&](int row) {
        const int k = row_term_from_bottom ? height - 1 - row : row;
        const float vx = static_cast<float>(-(k * fy - 0.5));
        float* out = RowStart(vectors, row, width);
        for (int col = 0; col < width; ++col) {
            out[2 * col] = vx;
            out[2 * col + 1] = static_cast<float>(col * fx - 0.5);
        }
    });
}

// The coordinates run over the grid shifted by one sample against the symmetric range.
// The offset from the centre is counted in whole half-steps before the factor is applied,
// so the centre of an odd grid is exactly 0 rather than a rounding residue whose quotient
// would dwarf every other sample.
float VortexPotential(int row, int col, int width, int height, double fx, double fy) {
    const double x = static_cast<double>((2LL * col - 2) - (width - 1LL)) * fx;
    const double y = static_cast<double>((2LL * row - 2) - (height - 1LL)) * fy;
    const float a = static_cast<float>(5.0 * y);
    const double h = y * y;
    double quotient = a / (x * x + h);
    if (!std::isfinite(quotient)) quotient = 0.0;
    return static_cast<float>(10.0 * h + quotient);
}

// Writes the region of a grid with `channels` floats per sample into `out`, cut out for
// scale 1 and bilinearly up-sampled otherwise. t[k] and u[k] are the weights of offset k.
void ResampleChannels(const float* source, int source_width, int channels, int left, int top, int right, int bottom,
                      int scale, const float* t, const float* u, float* out) {
    const std::size_t out_row = static_cast<std::size_t>(right - left) * scale * channels + channels;
    auto source_row = [&](int row) {
        return source + (static_cast<std::size_t>(row) * source_width + left) * channels;
    };
    if (scale == 1) {
        ForEachRow(bottom - top + 1,
                   [&](int row) { std::memcpy(out + row * out_row, source_row(top + row), out_row * sizeof(float)); });
        return;
    }
    const int out_width = (right - left) * scale + 1;
    // The source rows first, interpolated along the row only.
    ForEachRow(bottom - top + 1, [&](int m) {
        const float* in = source_row(top + m);
        float* dst = out + static_cast<std::size_t>(m) * scale * out_row;
        for (int col = 0; col < out_width; ++col) {
            const int k = col % scale;
            const float* f = in + static_cast<std::size_t>(col / scale) * channels;
            float* o = dst + static_cast<std::size_t>(col) * channels;
            for (int ch = 0; ch < channels; ++ch) {
                o[ch] = k == 0 ? f[ch]
                               : static_cast<float>(static_cast<double>(f[channels + ch]) * t[k] +
                                                    static_cast<double>(f[ch]) * u[k]);
            }
        }
    });
    // Then each row in between blends the two finished source rows around it.
    ForEachRow((bottom - top) * (scale - 1), [&](int i) {
        const int m = i / (scale - 1);
        const int k = i % (scale - 1) + 1;
        const float* upper = out + static_cast<std::size_t>(m) * scale * out_row;
        const float* lower = upper + static_cast<std::size_t>(scale) * out_row;
        float* dst = out + (static_cast<std::size_t>(m) * scale + k) * out_row;
        for (std::size_t j = 0; j < out_row; ++j) {
            dst[j] = static_cast<float>(static_cast<double>(lower[j]) * t[k] + static_cast<double>(upper[j]) * u[k]);
        }
    });
}

}  // namespace

void MakeSaddleField(float* vectors, int width, int height) {
    MakeOffsetField(vectors, width, height, true);
}

void MakeSpirallingField(float* vectors, int width, int height) {
    MakeOffsetField(vectors, width, height, false);
}

void MakeVortexField(float* vectors, int width, int height) {
    if (!vectors || width <= 0 || height <= 0) return;
    const double fx = AxisFactor(width);
    const double fy = AxisFactor(height);
    // Differencing row r needs the potentials of rows r and r + 1. Each row evaluates both
    // (row r + 1's into its own vy slots) instead of reading the next row's buffer, which
    // another thread may already have differenced; the values equal those of a serial
    // top-down pass over stored potentials.
    ForEachRow(height, [&](int row) {
        float* out = RowStart(vectors, row, width);
        const bool last_row = row == height - 1;
        for (int col = 0; col < width; ++col) {
            out[2 * col] = VortexPotential(row, col, width, height, fx, fy);
            out[2 * col + 1] = last_row ? 0.0f : VortexPotential(row + 1, col, width, height, fx, fy);
        }
        if (last_row) return;
        for (int col = 0; col + 1 < width; ++col) {
            const double p = out[2 * col];
            out[2 * col + 1] = static_cast<float>(out[2 * col + 1] - p);
            out[2 * col] = static_cast<float>(out[2 * col + 2] - p);
        }
        out[2 * (width - 1) + 1] = 0.0f;
    });
}

void MakeRepellingField(float* vectors, int width, int height) {
    if (!vectors || width <= 0 || height <= 0) return;
    const double hx = static_cast<float>(width * 0.5);
    const double hy = static_cast<float>(height * 0.5);
    ForEachRow(height, [&](int row) {
        float* out = RowStart(vectors, row, width);
        const float vy = static_cast<float>(row - hy);
        for (int col = 0; col < width; ++col) {
            out[2 * col] = static_cast<float>(col - hx);
            out[2 * col + 1] = vy;
        }
    });
}

int MakeAnalyticField(int field_type, float* vectors, int width, int height) {
    switch (field_type) {
        case 1:
            MakeSpirallingField(vectors, width, height);
            return 1;
        case 2:
            MakeVortexField(vectors, width, height);
            return 2;
        case 3:
            MakeRepellingField(vectors, width, height);
            return 3;
        default:
            MakeSaddleField(vectors, width, height);
            return 0;
    }
}

int CheckRegion(int width, int height, int& left, int& top, int& right, int& bottom) {
    const bool accepted = left >= 0 && right >= 4 && top >= 0 && bottom >= 4 && left <= width - 5 &&
                          right <= width - 1 && top <= height - 5 && bottom <= height - 1 && right - left >= 4 &&
                          bottom - top >= 4 && right - left <= width - 1 && bottom - top <= height - 1;
    if (accepted) return 1;
    left = 0;
    top = 0;
    right = width - 1;
    bottom = height - 1;
    return 0;
}

int ZoomedSize(int first, int last, int scale) {
    if (scale < 1) return 0;
    const long long size = (static_cast<long long>(last) - first) * scale + 1;
    return size > INT_MAX ? INT_MAX : static_cast<int>(size);
}

float* ResampleRegion(int& width, int& height, const float* vectors, int left, int top, int right, int bottom,
                      int scale, float** magnitudes, float out_low, float out_high) {
    if (!vectors || scale < 1) return nullptr;
    if (left < 0 || top < 0 || left > right || top > bottom || right >= width || bottom >= height) {
        return nullptr;
    }
    const long long new_width = (static_cast<long long>(right) - left) * scale + 1;
    const long long new_height = (static_cast<long long>(bottom) - top) * scale + 1;
    if (new_width > INT_MAX || new_height > INT_MAX) return nullptr;
    const std::size_t samples = static_cast<std::size_t>(new_width) * static_cast<std::size_t>(new_height);
    if (samples / static_cast<std::size_t>(new_width) != static_cast<std::size_t>(new_height) ||
        samples > SIZE_MAX / 2) {
        return nullptr;
    }
    const bool carry_magnitudes = magnitudes && *magnitudes;
    // The data map counts in int.
    if (carry_magnitudes && samples > static_cast<std::size_t>(INT_MAX)) return nullptr;

    // Everything is allocated before anything changes, so a failure keeps the old field.
    MallocBuffer<float> new_vectors;
    if (!new_vectors.Allocate(samples * 2)) return nullptr;
    MallocBuffer<float> new_magnitudes;
    std::unique_ptr<NonlinearDataMap> map;
    if (carry_magnitudes) {
        if (!new_magnitudes.Allocate(samples)) return nullptr;
        map.reset(new (std::nothrow) NonlinearDataMap);
        if (!map) return nullptr;
    }
    // An offset k below the scale is needed only where the output has at least k + 1
    // samples, so a huge scale on a single-sample region needs no huge table.
    const int weight_count = static_cast<int>(std::min<long long>(scale, std::max(new_width, new_height)));
    MallocBuffer<float> weights;
    if (!weights.Allocate(2 * static_cast<std::size_t>(weight_count))) return nullptr;
    float* t = weights.get();
    float* u = weights.get() + weight_count;
    for (int k = 0; k < weight_count; ++k) {
        t[k] = static_cast<float>(static_cast<double>(k) / scale);
        u[k] = static_cast<float>(1.0 - t[k]);
    }

    ResampleChannels(vectors, width, 2, left, top, right, bottom, scale, t, u, new_vectors.get());
    if (carry_magnitudes) {
        ResampleChannels(*magnitudes, width, 1, left, top, right, bottom, scale, t, u, new_magnitudes.get());
        map->rangeMode = 1;
        map->outLow = out_low;
        map->outHigh = out_high;
        MapInParallel(*map, static_cast<long>(samples), new_magnitudes.get());
        std::free(*magnitudes);
        *magnitudes = new_magnitudes.Detach();
    }
    width = static_cast<int>(new_width);
    height = static_cast<int>(new_height);
    return new_vectors.Detach();
}

float* ResampleScalarRegion(const float* values, int width, int height, int left, int top, int right, int bottom,
                            int scale) {
    if (!values || scale < 1) return nullptr;
    if (left < 0 || top < 0 || left > right || top > bottom || right >= width || bottom >= height) return nullptr;
    const long long new_width = (static_cast<long long>(right) - left) * scale + 1;
    const long long new_height = (static_cast<long long>(bottom) - top) * scale + 1;
    if (new_width > INT_MAX || new_height > INT_MAX) return nullptr;
    const std::size_t samples = static_cast<std::size_t>(new_width) * static_cast<std::size_t>(new_height);
    if (samples / static_cast<std::size_t>(new_width) != static_cast<std::size_t>(new_height)) return nullptr;
    MallocBuffer<float> out;
    const int weight_count = static_cast<int>(std::min<long long>(scale, std::max(new_width, new_height)));
    MallocBuffer<float> weights;
    if (!out.Allocate(samples) || !weights.Allocate(2 * static_cast<std::size_t>(weight_count))) return nullptr;
    float* t = weights.get();
    float* u = weights.get() + weight_count;
    for (int k = 0; k < weight_count; ++k) {
        t[k] = static_cast<float>(static_cast<double>(k) / scale);
        u[k] = static_cast<float>(1.0 - t[k]);
    }
    ResampleChannels(values, width, 1, left, top, right, bottom, scale, t, u, out.get());
    return out.Detach();
}

void NormalizeVectorPairsScalar(long count, float* vectors, float* lengths) {
    for (long i = 0; i < count; ++i) {
        float* v = vectors + 2 * i;
        const double q = static_cast<double>(v[0]) * v[0] + static_cast<double>(v[1]) * v[1];
        float length = 0.0f;
        float factor = 0.0f;
        // A non-finite vector has no direction: it becomes a zero vector.
        if (q >= 1e-12f && std::isfinite(q)) {
            length = static_cast<float>(std::sqrt(q));
            factor = static_cast<float>(1.0 / std::sqrt(q));
        }
        if (factor == 0.0f) {
            v[0] = v[1] = 0.0f;
        } else {
            v[0] = static_cast<float>(static_cast<double>(v[0]) * factor);
            v[1] = static_cast<float>(static_cast<double>(v[1]) * factor);
        }
        if (lengths) lengths[i] = length;
    }
}

}  // namespace flowloom
