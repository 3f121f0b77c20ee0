#include "lic/progressive.h"

#include "lic/parallel_rows.h"
#include "lic/streamline.h"

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

    for (int pass = first_pass; pass <= last_pass; ++pass) {
        const auto [cx, ry] = order[pass];
        // A class whose offset lies beyond an image smaller than the LOD has no pixels.
        if (cx >= in.width || ry >= in.height) continue;
        const int rows = (in.height - ry - 1) / lod + 1;
        // Each pixel writes only itself: rows are independent, so the image is the same
        // for every thread count.
        ForEachRow(rows, [&](int i) {
            const int row = ry + i * lod;
            unsigned char* out = lic_image + static_cast<long>(row) * in.width;
            const bool row_inside = row >= top && row <= bottom;
            for (int col = cx; col < in.width; col += lod) {
                if (!row_inside || col < left || col > right)
                    out[col] = 0;
                else
                    // The plain LIC of the pixel, so a progressive picture is the finished one.
                    out[col] =
                        ConvolvePixel(grid, in.noise, in.kernel_fwd, in.kernel_bwd, length, sigma, max_steps, row, col);
            }
        });
    }
}

}  // namespace flowloom
