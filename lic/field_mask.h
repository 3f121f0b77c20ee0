#pragma once

namespace flowloom {

// Masks: samples where a field has no data (NaN or infinity in a file, fill values in an
// imported grid). A mask is one byte per sample, 1 where masked, row by row like the field;
// a field with nothing masked has no mask at all (a null buffer). A masked sample is a zero
// vector, so streamlines stop there as at a critical point, and the composition draws it in
// one mask colour.

// The largest grid, per side, that an imported or caller-supplied field may have.
constexpr int kMaxFieldSide = 4000;

// Turns every sample of `vectors` (width x height (vx, vy) pairs) with a non-finite component
// into (0, 0) and marks it. Returns a malloc'd mask when some sample was masked, else null.
// When the mask cannot be allocated the samples are still zeroed and the result is null.
unsigned char* MaskNonFiniteSamples(float* vectors, int width, int height);

// The mask of the region [left..right] x [top..bottom] of a width-wide mask, zoomed by
// `scale` as the field is (cut out for 1, bilinear for 2 and more): a zoomed sample is masked
// when any source sample that its interpolation reads is masked, as a NaN would spread.
// Returns the malloc'd mask of (right-left)*scale+1 by (bottom-top)*scale+1 bytes, or null
// when nothing in the region is masked, the arguments are out of range or memory is short.
unsigned char* ResampleMask(const unsigned char* mask, int width, int height, int left, int top, int right, int bottom,
                            int scale);

// Sets the vectors of the masked samples to (0, 0); `mask` may be null.
void ZeroMaskedVectors(float* vectors, const unsigned char* mask, long samples);

}  // namespace flowloom
