#include "lic/progressive.h"

#include <algorithm>

#include "lic/parallel_rows.h"
#include "lic/pass_assembly.h"

namespace flowloom {

namespace {

// How many of a class's `rows` rows the lane kernels take together: up to 16, so that
// tracing one tile of rows overlaps fetching the next (see LicRowsLanes), but no fewer
// than four pieces of work per thread, nor fewer than 4 rows, the tallest tile. Pixels
// are independent, so the grouping never changes the picture.
int GroupRows(int rows) {
    return std::clamp(rows / (4 * ThreadCount()), 4, 16);
}

// The first of offset, offset + lod, ... at or after `from`; `end` when that lies beyond it.
int FirstOfClassFrom(int offset, int from, int lod, int end) {
    if (from <= offset) return std::min(offset, end);
    const long first = offset + (static_cast<long>(from) - offset + lod - 1) / lod * lod;
    return static_cast<int>(std::min<long>(first, end));
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
    const PassAssembly assembly(StreamlineGrid{in.vectors, in.width, in.height, in.modes}, in.kernel_length,
                                PassTexture{in.noise, static_cast<size_t>(in.width) * in.height});
    const LicLanes lic = assembly.Lic(in.kernel_fwd, in.kernel_bwd, PixelWindow<const float>{},
                                      PixelWindow<unsigned char>{lic_image, 0, 0, in.width});

    for (int pass = first_pass; pass <= last_pass; ++pass) {
        const auto [cx, ry] = order[pass];
        // A class whose offset lies beyond an image smaller than the LOD has no pixels.
        if (cx >= in.width || ry >= in.height) continue;
        const int rows = (in.height - ry - 1) / lod + 1;
        // The class's columns inside the region: from the first at or after `left` to the
        // last at or before `right`.
        const int inside_end_col = std::min(right, in.width - 1) + 1;
        const int inside_first = FirstOfClassFrom(cx, left, lod, inside_end_col);
        // Each pixel writes only itself: rows are independent, so the image is the same
        // for every thread count. The lane kernels take a few of the class's rows at a time.
        const int group = assembly.lanes() ? GroupRows(rows) : 1;
        ForEachRow((rows + group - 1) / group, [&](int g) {
            const int first_row = ry + g * group * lod;
            const int end_row = std::min(in.height, first_row + group * lod);
            for (int row = first_row; row < end_row; row += lod) {
                unsigned char* out = lic_image + static_cast<long>(row) * in.width;
                const bool row_inside = row >= top && row <= bottom;
                for (int col = cx; col < in.width; col += lod)
                    if (!row_inside || col < left || col > right) out[col] = 0;
            }
            // The class's rows of this group inside the region; the plain LIC of each
            // pixel, so a progressive picture is the finished one.
            const int inside_end = std::min(end_row, std::min(bottom, in.height - 1) + 1);
            const int inside_top = FirstOfClassFrom(first_row, top, lod, inside_end);
            assembly.LicRows(lic, LaneRows{inside_top, lod, inside_end},
                             LaneColumns{inside_first, lod, inside_end_col});
        });
    }
}

}  // namespace flowloom
