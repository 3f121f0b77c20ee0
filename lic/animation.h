#pragma once

#include <filesystem>
#include <functional>

#include "lic/streamline.h"
#include "media/host.h"
#include "media/malloc_buffer.h"

namespace flowloom {

// Animation frames: a cycle of LIC frames from one field and one texture, frame k using a
// Hanning kernel whose ripples are shifted by k * 360 / N degrees, so that the texture
// travels along the streamlines when the frames play in a loop.

// Two digits name the frames, frame00.bmp .. frame99.bmp.
inline constexpr int kMaxAnimationFrames = 100;

// What an animation reads; the caller keeps it alive during the call.
struct AnimationInput {
    const float* vectors = nullptr;        // unit or zero (vx, vy) per sample, row-major
    const unsigned char* noise = nullptr;  // read only, never replaced or changed
    int width = 0;
    int height = 0;
    int kernel_length = 0;
    float kernel_ripples = 3.0f;
    int anim_frames = 8;         // N, 1..kMaxAnimationFrames
    int enhance_iterations = 2;  // passes P; fewer than 1 counts as 1
    std::filesystem::path out_dir;  // "LICAnimation" is made below it; it must exist
    StreamlineModes modes;
};

// high_pass(width, height, grey) filters one frame in place between passes;
// compose(grey, rgb) turns a frame into a 24-bit (blue, green, red) image of width x height.
struct AnimationCallbacks {
    std::function<void(int width, int height, unsigned char* grey)> high_pass;
    std::function<void(const unsigned char* grey, unsigned char* rgb)> compose;
};

// Frame k's kernel tables: BuildKernelTables with the Hanning kernel, the given length and
// ripples, phase k * 360 / N degrees. tables holds 2 N kKernelTableSize floats, frame k's
// forward table at 2 k kKernelTableSize and its backward table right after it.
void BuildAnimationKernels(int frames, float length, float ripples, float* tables);

// The N grey frames, frame k at offset k * width * height. Every pass traces each pixel's
// streamline once; all frames share its steps and weigh them with their own tables. Pass 0
// samples `noise`; after every pass but the last, each frame is filtered with high_pass
// (left as it is when high_pass is empty) and becomes that frame's own texture for the next
// pass. A pixel on a zero vector is black in every frame. One progress bar per pass, range
// 0..height, a step per row. Rows in parallel; the frames are the same for every thread
// count. Absent (with a line on standard output) when an input is absent or out of range,
// or memory runs out.
MallocBuffer<unsigned char> ComputeAnimationFrameImages(
    const AnimationInput& in, Host& host,
    const std::function<void(int width, int height, unsigned char* grey)>& high_pass);

// Computes the frames and writes frame k, composed (as grey when compose is empty), as the
// 24-bit BMP file out_dir/LICAnimation/frame<k/10><k%10>.bmp, replacing a file of that name
// and making the directory when nothing of that name exists. Returns 1 when every frame was
// written. Returns 0 with a line on standard output, and writes no further frames, when
// the directory cannot be made (or is a file), the frames cannot be computed, or a frame
// cannot be written.
int ComputeAnimationFrames(const AnimationInput& in, Host& host, const AnimationCallbacks& cb);

}  // namespace flowloom
