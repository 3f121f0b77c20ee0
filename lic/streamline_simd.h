#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "lic/streamline.h"
#include "media/malloc_buffer.h"

namespace flowloom {

// The vectorised stepper: many streamlines at once, one per SIMD lane, with the lanes that
// end early masked off. It keeps the scalar stepper's roundings lane for lane, so every
// pass gives exactly the bytes of the scalar path on every instruction set.

// Which path the passes trace with: "auto" (the best instruction set of this machine),
// "scalar" (the per-pixel reference) or one instruction set by name (see SimdPathNames).
// Returns false, and changes nothing, for a name that is unknown or that this machine
// cannot run. Process-wide, like the thread count.
bool SetSimdPath(std::string_view name);
// The instruction set the passes use now: "scalar" or a name of SimdPathNames().
std::string SimdPathName();
// The instruction sets compiled in that this machine runs, best first ("avx3", "avx2",
// "sse4", ... and Highway's fallback, "emu128" or "single-lane"), without "auto"
// and "scalar".
std::vector<std::string> SimdPathNames();

// The lane kernels read textures with 32-bit gathers at byte offsets, so a texture
// handed to them has this many readable bytes after its last sample.
inline constexpr std::size_t kLaneTexturePadding = 4;

// A copy of `bytes` bytes followed by kLaneTexturePadding zero bytes; absent when memory
// runs out.
MallocBuffer<unsigned char> PaddedTexture(const unsigned char* data, std::size_t bytes);

// The columns of the rows a lane kernel computes: first, first + step, ... below end.
struct LaneColumns {
    int first = 0;
    int step = 1;
    int end = 0;
};
// The rows, likewise.
struct LaneRows {
    int first = 0;
    int step = 1;
    int end = 0;
};

// Pixel (row, col) of the grid at data[(row - row0) * stride + col - col0]: a picture of
// the whole grid (row0 = col0 = 0, stride its width) or of a window of it.
template <class T>
struct PixelWindow {
    T* data = nullptr;
    int row0 = 0;
    int col0 = 0;
    int stride = 0;
    T* at(int row, int col) const {
        return data + (static_cast<long>(row) - row0) * stride + (static_cast<long>(col) - col0);
    }
};

// The plain LIC (and MagLIC) of a lattice of pixels, as ConvolvePixel gives them.
struct LicLanes {
    StreamlineGrid grid;
    const unsigned char* texture = nullptr;  // one byte per sample, padded
    const float* forward = nullptr;
    const float* backward = nullptr;
    float length = 0.0f;  // with sigma, the kernel of every pixel unless `magnitudes` is set
    float sigma = 0.0f;
    // MagLIC: a pixel's length is MagLicLength of its magnitude, its sigma the
    // KernelTableScale of that length. Must hold every pixel of the lattice.
    PixelWindow<const float> magnitudes;
    int max_steps = 0;
    PixelWindow<unsigned char> image;  // only the lattice's pixels are written
};

// Every frame of an animation pass, one pixel per lane: each frame weighs the shared steps
// with its own table and samples its own texture.
struct AnimationLanes {
    StreamlineGrid grid;
    const float* tables = nullptr;           // frame k forward at 2 k kKernelTableSize, backward after it
    const unsigned char* texture = nullptr;  // frame k samples texture + k * texture_stride; padded
    long texture_stride = 0;
    int frames = 0;
    float length = 0.0f;
    float sigma = 0.0f;
    int max_steps = 0;
    unsigned char* out = nullptr;  // frame k at out + k * frame_stride
    long frame_stride = 0;
};

// The colour-image LIC: three channels (blue, green, red) per pixel.
struct ImageLicLanes {
    StreamlineGrid grid;
    const unsigned char* image = nullptr;  // the input, 3 bytes per pixel, padded
    const float* forward = nullptr;
    const float* backward = nullptr;
    float length = 0.0f;
    float sigma = 0.0f;
    int max_steps = 0;
    unsigned char* out = nullptr;  // 3 bytes per pixel
};

// The row kernels of the chosen instruction set. Lane indices are 32-bit, so a pass whose
// largest index (a sample, or a byte of the colour image) passes this uses the scalar path.
struct LaneKernels {
    // The pixels of `rows` x `columns`. A batch of lanes covers a few rows of several
    // columns, so that its streamlines run close together when the lattice is sparse.
    void (*lic_rows)(const LicLanes& lanes, LaneRows rows, LaneColumns columns);
    void (*animation_row)(const AnimationLanes& lanes, int row);
    void (*image_lic_row)(const ImageLicLanes& lanes, int row);
};
inline constexpr long kMaxLaneIndices = (1L << 30) - 1;

// The kernels to use for a pass whose largest index is below `indices`: null on the
// scalar path or when the indices do not fit lanes.
const LaneKernels* ChosenLaneKernels(long indices);

}  // namespace flowloom
