#include "lic/progressive.h"

#include "lic/parallel_rows.h"
#include "lic/streamline.h"

namespace flowloom {

namespace {

// The plain LIC of one pixel: the same stepper, weights and value rule as the full
// convolution, so a pixel computed progressively is the pixel of the finished image.
unsigned char ConvolvePixel(const ProgressiveInput& in, const StreamlineGrid& grid, float length, float sigma,
                            int max_steps, int row, int col) {
    const float* tables[2] = {in.kernel_fwd, in.kernel_bwd};
    float sum[2] = {0.0f, 0.0f};
    float weight[2] = {0.0f, 0.0f};
    for (int d = 0; d < 2; ++d) {
        KernelWalk walk{tables[d], sigma};
        float acc = 0.0f;
        const TraceEnd end = TraceStreamline(grid, row, col, d == 1, length, max_steps, [&](float s, long sample) {
            const float w = walk.Weigh(s);
            acc = static_cast<float>(acc + static_cast<double>(in.noise[sample]) * w);
        });
        sum[d] = acc;
        // A pixel on a zero vector weighs 1 with sum 0, so it comes out black.
        weight[d] = end == TraceEnd::kCriticalAtStart ? 1.0f : walk.last;
    }
    const double v = (static_cast<double>(sum[0]) + sum[1]) / (static_cast<double>(weight[0]) + weight[1]);
    return !(v > 0.0) ? 0 : (v > 255.0 ? 255 : static_cast<unsigned char>(v));
}

}  // namespace

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
                    out[col] = ConvolvePixel(in, grid, length, sigma, max_steps, row, col);
            }
        });
    }
}

}  // namespace flowloom
