#include "lic/progressive.h"

#include <algorithm>

#include "lic/parallel_rows.h"
#include "lic/streamline.h"
#include "lic/streamline_simd.h"

namespace flowloom {

void ProgressivePassOrder(int lod, std::vector<std::pair<int, int>>& order) {
    order.clear();
    for (int k = 0; k < lod; ++k) {
        for (int cx = k; cx < lod; ++cx) order.emplace_back(cx, k);
        for (int ry = k + 1; ry < lod; ++ry) order.emplace_back(k, ry);
    }
}

void ProgressivePasses(const ProgressiveInput& in, int lod, int first_pass, int last_pass, int left, int right, int top,
                       int bottom, unsigned char* lic_image) {
    if (lod < 1 || first_pass > last_pass || last_pass < 0 || last_pass >= lod * lod) return;
    if (!in.vectors || !in.noise || !in.kernel_fwd || !in.kernel_bwd || !lic_image) return;
    if (in.width <= 0 || in.height <= 0) return;
    if (first_pass < 0) first_pass = 0;

    std::vector<std::pair<int, int>> order;
    ProgressivePassOrder(lod, order);
    const StreamlineGrid grid{in.vectors, in.width, in.height};
    const float length = static_cast<float>(in.kernel_length);
    const float sigma = static_cast<float>(2047.0 / length);
    const int max_steps = 3 * in.kernel_length;

    // The lane kernels read a padded copy of the texture; without memory for it, the
    // scalar path gives the same picture.
    const LaneKernels* simd = ChosenLaneKernels(static_cast<long>(in.width) * in.height);
    MallocBuffer<unsigned char> padded;
    if (simd) padded = PaddedTexture(in.noise, static_cast<size_t>(in.width) * in.height);
    if (!padded) simd = nullptr;
    LicLanes lanes;
    lanes.grid = grid;
    lanes.texture = padded.get();
    lanes.forward = in.kernel_fwd;
    lanes.backward = in.kernel_bwd;
    lanes.length = length;
    lanes.sigma = sigma;
    lanes.max_steps = max_steps;
    lanes.image = lic_image;

    for (int pass = first_pass; pass <= last_pass; ++pass) {
        const auto [cx, ry] = order[pass];
        // A class whose offset lies beyond an image smaller than the LOD has no pixels.
        if (cx >= in.width || ry >= in.height) continue;
        const int rows = (in.height - ry - 1) / lod + 1;
        // The class's columns inside the region: from the first at or after `left` to the
        // last at or before `right`.
        const int inside_first = left <= cx ? cx : cx + (left - cx + lod - 1) / lod * lod;
        const int inside_end = std::min(right, in.width - 1) + 1;
        // Each pixel writes only itself: rows are independent, so the image is the same
        // for every thread count.
        ForEachRow(rows, [&](int i) {
            const int row = ry + i * lod;
            unsigned char* out = lic_image + static_cast<long>(row) * in.width;
            const bool row_inside = row >= top && row <= bottom;
            if (simd) {
                for (int col = cx; col < in.width; col += lod)
                    if (!row_inside || col < inside_first || col >= inside_end) out[col] = 0;
                // The plain LIC of the pixel, so a progressive picture is the finished one.
                if (row_inside) simd->lic_row(lanes, row, LaneColumns{inside_first, lod, inside_end});
                return;
            }
            for (int col = cx; col < in.width; col += lod) {
                if (!row_inside || col < left || col > right)
                    out[col] = 0;
                else
                    out[col] =
                        ConvolvePixel(grid, in.noise, in.kernel_fwd, in.kernel_bwd, length, sigma, max_steps, row, col);
            }
        });
    }
}

}  // namespace flowloom
