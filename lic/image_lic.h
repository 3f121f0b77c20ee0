#pragma once

#include "lic/streamline.h"
#include "media/host.h"

namespace flowloom {

// The LIC of colour images and the force field derived from an image's own brightness.
// Images are width x height pixels of three bytes (blue, green, red), row-major, row 0 at
// the top, no gaps between rows. Fields are (vx, vy) float pairs per pixel, unit or zero.
// Every result is the same for every thread count. Working values are evaluated in double
// and rounded once where they are stored, so a flat area stays exactly flat.

// Divides the nine weights by their sum; a kernel whose weights sum to 0 is left unchanged.
void NormalizeKernel3x3(float kernel[9]);

// Normalises `kernel` in place (row-major, top-left first), then replaces every channel of
// every pixel by the weighted sum of its 3 x 3 neighbourhood, read from a copy of the input;
// neighbours outside the image are the nearest pixel inside. Sums are clamped to 0..255
// (an undefined sum gives 0) and truncated. Null buffers, sizes <= 0 or a failed allocation
// change nothing.
void FilterColorImage3x3(int width, int height, unsigned char* image, float kernel[9]);

// Blurs the image in place with the 3 x 3 mean, then returns a new field (malloc'd, 2 floats
// per pixel, owned by the caller) along the gradient of the brightness
// 0.30 red + 0.59 green + 0.11 blue: central differences inside, one-sided at the borders,
// 0 along an axis that is one pixel long; normalised to unit length, or (0, 0) where the
// squared gradient is below 1e-12. Null (and the image untouched) for a null image,
// sizes <= 0 or a failed allocation.
float* ExtractForceField(int width, int height, unsigned char* image);

// Replaces the image by its colour LIC along `vectors`: every pixel follows its streamline
// downstream (kernel_fwd) and upstream (kernel_bwd) for kernel_length pixels and becomes the
// kernel-weighted average of the input pixels along it, each channel separately. A pixel
// whose own vector is zero keeps its colour. All samples come from the input of this call.
// Shows a progress bar on `host` (range 0..height, one step per row). Returns 1; 0 with the
// image untouched and no progress bar for null buffers, sizes <= 0, kernel_length <= 0 or a
// failed allocation. `modes`: the stepper's boundaries and orientation.
int ComputeImageLic(int width, int height, unsigned char* image, const float* vectors, const float* kernel_fwd,
                    const float* kernel_bwd, int kernel_length, Host& host, StreamlineModes modes = {});

}  // namespace flowloom
