#include "lic/field_mask.h"

#include <climits>
#include <cmath>
#include <cstddef>
#include <cstdlib>

#include "lic/parallel_rows.h"

namespace flowloom {

unsigned char* MaskNonFiniteSamples(float* vectors, int width, int height) {
    if (!vectors || width <= 0 || height <= 0) return nullptr;
    const std::size_t samples = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
    unsigned char* mask = nullptr;
    for (std::size_t i = 0; i < samples; ++i) {
        if (std::isfinite(vectors[2 * i]) && std::isfinite(vectors[2 * i + 1])) continue;
        vectors[2 * i] = vectors[2 * i + 1] = 0.0f;
        if (!mask) {
            mask = static_cast<unsigned char*>(std::calloc(samples, 1));
            // Without memory for the mask the sample stays a zero vector, drawn unmasked.
            if (!mask) continue;
        }
        mask[i] = 1;
    }
    return mask;
}

unsigned char* ResampleMask(const unsigned char* mask, int width, int height, int left, int top, int right, int bottom,
                            int scale) {
    if (!mask || scale < 1 || left < 0 || top < 0 || left > right || top > bottom || right >= width ||
        bottom >= height) {
        return nullptr;
    }
    const long long new_width = (static_cast<long long>(right) - left) * scale + 1;
    const long long new_height = (static_cast<long long>(bottom) - top) * scale + 1;
    if (new_width > INT_MAX || new_height > INT_MAX || new_width * new_height > LLONG_MAX / 2) return nullptr;

    bool any = false;
    for (int r = top; r <= bottom && !any; ++r)
        for (int c = left; c <= right && !any; ++c) any = mask[static_cast<long>(r) * width + c] != 0;
    if (!any) return nullptr;

    unsigned char* zoomed = static_cast<unsigned char*>(std::malloc(static_cast<std::size_t>(new_width * new_height)));
    if (!zoomed) return nullptr;
    const int out_width = static_cast<int>(new_width);
    ForEachRow(static_cast<int>(new_height), [&](int row) {
        // The source rows (and below, columns) that the interpolation of this sample reads:
        // one at a source position, two in between.
        const int r0 = top + row / scale;
        const int r1 = row % scale ? r0 + 1 : r0;
        const unsigned char* above = mask + static_cast<long>(r0) * width;
        const unsigned char* below = mask + static_cast<long>(r1) * width;
        unsigned char* out = zoomed + static_cast<long>(row) * out_width;
        for (int col = 0; col < out_width; ++col) {
            const int c0 = left + col / scale;
            const int c1 = col % scale ? c0 + 1 : c0;
            out[col] = (above[c0] | above[c1] | below[c0] | below[c1]) ? 1 : 0;
        }
    });
    return zoomed;
}

void ZeroMaskedVectors(float* vectors, const unsigned char* mask, long samples) {
    if (!vectors || !mask) return;
    for (long i = 0; i < samples; ++i) {
        if (mask[i]) vectors[2 * i] = vectors[2 * i + 1] = 0.0f;
    }
}

}  // namespace flowloom
