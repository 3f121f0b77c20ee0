#pragma once

#include <string>

#include "media/malloc_buffer.h"

namespace flowloom {

// Pictures finer than the grid: a field drawn on a grid `scale` times finer in both
// directions, so that a 256 x 128 wind field gives a 1024 x 512 picture at scale 4 and the
// kernel length counts output pixels. Scale 1 is the grid itself.
constexpr int kMaxOutputScale = 16;
constexpr int kMaxOutputSide = 16384;
// What one output pixel costs at most while it is computed and drawn: the vectors, two
// magnitude arrays, the mask, the texture, the grey and the colour picture, and room for
// the enhancement's copy of the texture.
constexpr long long kOutputBytesPerPixel = 24;

// Checks a scale for a width x height field before anything is allocated: the scale in
// 1..kMaxOutputScale, each side of the result at most kMaxOutputSide, and the memory the
// picture needs no more than the system has available (when it says). 1, or 0 with a
// one-line message in `error`.
int CheckOutputScale(int width, int height, int scale, std::string& error);

// The memory the system can give without swapping, in bytes; 0 when it does not say.
long long AvailableMemoryBytes();

// Interpolates a width x height field onto a grid `scale` times finer. Output pixel (i, j)
// lies at source position ((j + 0.5) / scale - 0.5, (i + 0.5) / scale - 0.5) and blends the
// four samples around it bilinearly, computed in double and rounded once. Borders clamp;
// with `periodic_x` the columns wrap instead, so the seam blends its two sides.
// The mask is honoured: an output pixel is masked when the source sample whose cell holds
// it is masked (the coastline keeps its shape, neither grown nor eroded), and an unmasked
// one blends only its unmasked neighbours, their weights renormalised. A masked pixel gets
// the vector (0, 0) and the magnitude NaN.
// `magnitudes` (may be null) is the colour scalar, blended the same way; a NaN in it counts
// as missing for it alone. `scalar` (may be null), into *out_scalar, is a second such
// array: a caller's colour variable beside the magnitudes. With `orientation` the pixel's own cell is taken with one fixed
// sign (x positive, or y positive on x = 0) and each neighbour with the sign that agrees
// with it (the fixed sign too at a right angle), since a direction without sign must not
// cancel against its opposite, and the result must not depend on the input's signs.
// `mask` may be null (nothing masked); out_mask is then absent too, as it is when nothing
// ends up masked. 1 on success; 0 (outputs released) when the scale is below 1 or memory
// runs short. The result does not depend on the thread count.
int UpsampleField(const float* vectors, const unsigned char* mask, const float* magnitudes, int width, int height,
                  int scale, bool periodic_x, bool orientation, MallocBuffer<float>& out_vectors,
                  MallocBuffer<unsigned char>& out_mask, MallocBuffer<float>& out_magnitudes,
                  const float* scalar = nullptr, MallocBuffer<float>* out_scalar = nullptr);

}  // namespace flowloom
