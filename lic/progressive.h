#pragma once

#include <utility>
#include <vector>

#include "lic/streamline.h"

namespace flowloom {

// Progressive LIC: the image is split into the lod x lod interleaved sub-grids (residue
// classes (x mod lod, y mod lod)) and computed one class per pass, so that a coarse scatter
// of pixels appears first and fills in pass by pass.

// What a progressive pass reads; the caller keeps it alive during the call.
struct ProgressiveInput {
    const float* vectors = nullptr;  // unit or zero (vx, vy) per sample, row-major
    const unsigned char* noise = nullptr;
    int width = 0;
    int height = 0;
    const float* kernel_fwd = nullptr;  // kKernelTableSize entries each
    const float* kernel_bwd = nullptr;
    int kernel_length = 0;
    StreamlineModes modes;
};

// The lod^2 classes as (column offset, row offset), pass by pass: for k = 0..lod-1 first
// (k, k), (k+1, k), ..., (lod-1, k), then (k, k+1), ..., (k, lod-1). For lod 3:
// (0,0) (1,0) (2,0) (0,1) (0,2) (1,1) (2,1) (1,2) (2,2). Empty for lod < 1.
void ProgressivePassOrder(int lod, std::vector<std::pair<int, int>>& order);

// Computes passes first_pass..last_pass of the pass order into lic_image (width x height).
// A pixel of those classes inside the region left..right, top..bottom (inclusive) gets
// exactly the value the plain LIC (without MagLIC) gives it; one outside becomes 0. Pixels
// of other classes keep their values. Does nothing when first_pass > last_pass,
// last_pass < 0 or last_pass >= lod^2 (a negative first pass starts at pass 0), or when an
// input is absent. Rows in parallel; the result is the same for every thread count.
void ProgressivePasses(const ProgressiveInput& in, int lod, int first_pass, int last_pass, int left, int right, int top,
                       int bottom, unsigned char* lic_image);

}  // namespace flowloom
