#pragma once

#include <climits>
#include <cstddef>

#include "lic/kernels.h"
#include "lic/streamline.h"
#include "lic/streamline_simd.h"
#include "media/malloc_buffer.h"

namespace flowloom {

// The one place where a pass that traces streamlines (the plain and MagLIC convolution,
// the tiles of a field held in chunks, ProLIC, the animation, the colour-image LIC) gets
// its stepper input: the kernel's table scale and step limit, the lane kernels and the
// padded texture they read, or the scalar path. A pass then says only what differs: its
// rows and columns, its lengths and what it accumulates.

// A half streamline takes at most three steps per pixel of kernel length (saturated, so a
// huge length never overflows into no steps at all).
inline int StepLimit(int kernel_length) {
    return kernel_length > INT_MAX / 3 ? INT_MAX : 3 * kernel_length;
}

// The texture a pass samples: `bytes` bytes, one per sample (three per pixel of a colour
// image). `padded`: kLaneTexturePadding readable bytes follow them already, so the lanes
// need no copy.
struct PassTexture {
    const unsigned char* data = nullptr;
    std::size_t bytes = 0;
    bool padded = false;
};

class PassAssembly {
public:
    // A pass over `grid` with a kernel of `kernel_length` pixels, sampling `texture`. The
    // lane kernels of the chosen instruction set are taken unless the lanes are switched
    // off (SetSimdPath("scalar")), the texture's byte offsets do not fit lane indices, or
    // there is no memory for a padded copy of it: then the pass runs the scalar path,
    // which gives the same bytes.
    PassAssembly(const StreamlineGrid& grid, int kernel_length, PassTexture texture);

    const StreamlineGrid& grid() const { return grid_; }
    float length() const { return length_; }
    float sigma() const { return sigma_; }
    int max_steps() const { return max_steps_; }
    // Null on the scalar path.
    const LaneKernels* lanes() const { return lanes_; }
    // The texture to sample: the padded copy on the lanes, the pass's own otherwise.
    const unsigned char* texture() const { return texture_; }

    // The input of the plain LIC, every pixel with the pass's kernel or, with magnitudes,
    // MagLIC: each pixel with MagLicLength of its magnitude. Lattices of it are written
    // to `image` by LicRows.
    LicLanes Lic(const float* forward, const float* backward, PixelWindow<const float> magnitudes,
                 PixelWindow<unsigned char> image) const;
    // The plain LIC (or MagLIC) of the pixels rows x columns of the lattice, as ConvolvePixel
    // gives them, on the lanes or the scalar path.
    void LicRows(const LicLanes& lic, LaneRows rows, LaneColumns columns) const;

    // The lane input of an animation pass over `frames` frames, sampling the pass's texture
    // (later passes set their own); and of the colour-image LIC, writing `out`.
    AnimationLanes Animation(const float* tables, int frames, unsigned char* out, long frame_stride) const;
    ImageLicLanes ImageLic(const float* forward, const float* backward, unsigned char* out) const;

private:
    StreamlineGrid grid_;
    float length_;
    float sigma_;
    int max_steps_;
    const LaneKernels* lanes_ = nullptr;
    MallocBuffer<unsigned char> padded_;
    const unsigned char* texture_ = nullptr;
};

}  // namespace flowloom
