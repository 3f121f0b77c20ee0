#include "engine/filters.h"
#include "engine/lic_engine.h"
#include "lic/kernels.h"
#include "lic/parallel_rows.h"
#include "lic/streamline.h"
#include "lic/streamline_simd.h"
#include "media/malloc_buffer.h"

namespace flowloom {

void LicEngine::ConvolveLic() {
    if (!ImagesMatchGrid() || !vectors || field_width_ != x_res || field_height_ != y_res || !kernel_fwd || !kernel_bwd)
        return;
    if (mag_lic && !magnitudes) return;
    const int width = x_res;
    const int height = y_res;
    const float base_length = static_cast<float>(kernel_length);
    const float base_sigma = static_cast<float>(2047.0 / base_length);
    const int max_steps = 3 * kernel_length;
    const StreamlineGrid grid{vectors.get(), width, height};
    const unsigned char* tex = noise.get();
    const float* forward = kernel_fwd.get();
    const float* backward = kernel_bwd.get();
    const float* mags = magnitudes.get();
    const bool mag = mag_lic != 0;
    unsigned char* out = lic_image.get();

    const long samples = static_cast<long>(width) * height;
    // The lane kernels read a padded copy of the texture and the MagLIC lengths from an
    // image of them; without memory for those, the scalar path gives the same picture.
    const LaneKernels* simd = ChosenLaneKernels(samples);
    MallocBuffer<unsigned char> padded;
    MallocBuffer<float> lengths;
    if (simd) {
        padded = PaddedTexture(tex, static_cast<size_t>(samples));
        if (mag && lengths.Allocate(static_cast<size_t>(samples))) {
            ForEachRow(height, [&](int row) {
                for (long i = static_cast<long>(row) * width; i < static_cast<long>(row + 1) * width; ++i)
                    lengths[i] = MagLicLength(mags[i]);
            });
        }
        if (!padded || (mag && !lengths)) simd = nullptr;
    }
    LicLanes lanes;
    lanes.grid = grid;
    lanes.texture = padded.get();
    lanes.forward = forward;
    lanes.backward = backward;
    lanes.length = base_length;
    lanes.sigma = base_sigma;
    lanes.lengths = lengths.get();
    lanes.max_steps = max_steps;
    lanes.image = out;

    host().ProgressCreate(height);
    // Each pixel traces its own streamline and writes only itself: rows are independent,
    // so the image is the same for every thread count.
    ForEachRowWithProgress(
        height,
        [&](int row) {
            if (simd) {
                simd->lic_rows(lanes, LaneRows{row, 1, row + 1}, LaneColumns{0, 1, width});
                return;
            }
            for (int col = 0; col < width; ++col) {
                const long index = static_cast<long>(row) * width + col;
                float length = base_length;
                float sigma = base_sigma;
                if (mag) {
                    length = MagLicLength(mags[index]);
                    sigma = static_cast<float>(2047.0 / length);
                }
                out[index] = ConvolvePixel(grid, tex, forward, backward, length, sigma, max_steps, row, col);
            }
        },
        [&] { host().ProgressStep(); });

    // Sparse dots smeared by a ramp are faint: spread their grey levels over 0..255.
    if (noise_type == 1 && kernel_type == kKernelRamp) StretchGreyLevels(width * height, out);
    host().ProgressDestroy();
}

}  // namespace flowloom
