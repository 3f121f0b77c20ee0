#include "engine/filters.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>

#include "lic/parallel_rows.h"
#include "media/nonlinear_data_map.h"

namespace flowloom {

namespace {

// Real-to-byte conversion of the whole system: clamp, then truncate toward zero; an
// undefined value counts as below the range.
unsigned char ClampToByte(float v) {
    if (!(v >= 0.0f)) return 0;
    if (v > 255.0f) return 255;
    return static_cast<unsigned char>(v);
}

// The 3 x 3 high-pass kernel on each of `channels` interleaved channels of a width x
// height image, in place. Every output is computed from the float copy, never from an
// already filtered neighbour, so each row is independent and may run on any thread.
// Inputs are bytes, so 9 p and the neighbour sum are integers below 2^12 and exact in
// float: the summation order cannot change a result.
void HighPassInterleaved(int width, int height, int channels, unsigned char* pixels) {
    if (pixels == nullptr || width < 3 || height < 3) return;
    const std::size_t stride = static_cast<std::size_t>(width) * channels;
    const std::size_t total = stride * static_cast<std::size_t>(height);
    std::unique_ptr<float[]> copy(new (std::nothrow) float[total]);
    if (!copy) return;
    float* src = copy.get();

    ForEachRow(height, [&](int row) {
        const std::size_t base = static_cast<std::size_t>(row) * stride;
        for (std::size_t k = 0; k < stride; ++k) src[base + k] = pixels[base + k];
    });

    // Only interior rows and columns are written; the border keeps the input's bytes.
    const std::size_t c = static_cast<std::size_t>(channels);
    ForEachRow(height - 2, [&](int interior_row) {
        const std::size_t base = static_cast<std::size_t>(interior_row + 1) * stride;
        const float* above = src + base - stride;
        const float* here = src + base;
        const float* below = src + base + stride;
        unsigned char* out = pixels + base;
        for (std::size_t k = c; k < stride - c; ++k) {
            const float neighbours = above[k - c] + above[k] + above[k + c] + here[k - c] + here[k + c] + below[k - c] +
                                     below[k] + below[k + c];
            out[k] = ClampToByte(9.0f * here[k] - neighbours);
        }
    });
}

}  // namespace

void HighPassFilter(int width, int height, unsigned char* grey) {
    HighPassInterleaved(width, height, 1, grey);
}

void HighPassFilterRgb(int width, int height, unsigned char* bgr) {
    HighPassInterleaved(width, height, 3, bgr);
}

void BuildContrastTable(float exponent, unsigned char table[256]) {
    if (table == nullptr) return;
    // The base is i times 1/127 rounded to a float, formed in float; the power, scale and
    // offset are taken in double. For exponent 5 no entry lies near a truncation step, so
    // a float power gives the same table.
    for (int i = 0; i < 128; ++i) {
        const float base = static_cast<float>(i) * 0.007874016f;
        double q = std::pow(static_cast<double>(base), static_cast<double>(exponent)) * 127.0 + 0.5;
        // A negative or undefined exponent may give an infinite or undefined power; keep
        // the entry inside the lower half so the table stays symmetric.
        if (!(q >= 0.0)) q = 0.0;
        if (q > 127.0) q = 127.0;
        const int t = static_cast<int>(q);
        table[i] = static_cast<unsigned char>(t);
        table[255 - i] = static_cast<unsigned char>(255 - t);
    }
}

void ApplyContrastTable(const unsigned char table[256], int count, unsigned char* grey) {
    if (table == nullptr || grey == nullptr || count <= 0) return;
    for (int i = 0; i < count; ++i) grey[i] = table[grey[i]];
}

void StretchGreyLevels(int count, unsigned char* grey) {
    if (grey == nullptr || count <= 0) return;
    // A byte image has at most 256 levels: map the levels with their counts, which gives
    // each pixel what the map over every pixel would, then look the pixels up.
    constexpr int kLevels = 256;
    constexpr int kRowBytes = 1 << 16;
    const int rows = (count + kRowBytes - 1) / kRowBytes;
    std::unique_ptr<int64_t[]> row_counts(new (std::nothrow) int64_t[static_cast<std::size_t>(rows) * kLevels]());
    // The map holds two 10000-entry tables: too large for a worker's stack.
    std::unique_ptr<NonlinearDataMap> map(new (std::nothrow) NonlinearDataMap());
    if (!row_counts || !map) return;
    const auto row_range = [&](int row, auto&& fn) {
        const long end = std::min<long>(count, (row + 1L) * kRowBytes);
        for (long i = row * static_cast<long>(kRowBytes); i < end; ++i) fn(i);
    };
    ForEachRow(rows, [&](int row) {
        int64_t* counts = row_counts.get() + static_cast<std::size_t>(row) * kLevels;
        row_range(row, [&](int i) { ++counts[grey[i]]; });
    });
    int64_t occurrences[kLevels] = {};
    float levels[kLevels];
    for (int level = 0; level < kLevels; ++level) {
        levels[level] = static_cast<float>(level);
        for (int row = 0; row < rows; ++row)
            occurrences[level] += row_counts[static_cast<std::size_t>(row) * kLevels + level];
    }
    map->rangeMode = 1;
    map->outLow = 0.0f;
    map->outHigh = 255.0f;
    float mapped[kLevels];
    map->MapLevels(kLevels, levels, occurrences, mapped);
    // Level 0 maps to -0.0 (the map keeps signs and treats 0 as non-positive); the clamp
    // also guards against a table entry a rounding step above 255.
    unsigned char stretched[kLevels];
    for (int level = 0; level < kLevels; ++level) stretched[level] = ClampToByte(mapped[level]);
    ForEachRow(rows, [&](int row) { row_range(row, [&](int i) { grey[i] = stretched[grey[i]]; }); });
}

}  // namespace flowloom
