#include "engine/filters.h"
#include "engine/lic_engine.h"
#include "lic/kernels.h"
#include "lic/parallel_rows.h"
#include "lic/pass_assembly.h"

namespace flowloom {

void LicEngine::ConvolveLic() {
    if (!ImagesMatchGrid() || !vectors || field_width_ != x_res || field_height_ != y_res || !kernel_fwd || !kernel_bwd)
        return;
    if (mag_lic && !magnitudes) return;
    const int width = x_res;
    const int height = y_res;
    unsigned char* out = lic_image.get();
    const PassAssembly pass(StreamlineGrid{vectors.get(), width, height, TracedModes()}, kernel_length,
                            PassTexture{noise.get(), static_cast<size_t>(width) * height});
    const PixelWindow<const float> mags =
        mag_lic ? PixelWindow<const float>{magnitudes.get(), 0, 0, width} : PixelWindow<const float>{};
    const LicLanes lic =
        pass.Lic(kernel_fwd.get(), kernel_bwd.get(), mags, PixelWindow<unsigned char>{out, 0, 0, width});

    host().ProgressCreate(height);
    // Each pixel traces its own streamline and writes only itself: rows are independent,
    // so the image is the same for every thread count.
    ForEachRowWithProgress(
        height,
        [&](int row) {
            pass.LicRows(lic, LaneRows{row, 1, row + 1}, LaneColumns{0, 1, width});
        },
        [&] { host().ProgressStep(); });

    // Sparse dots smeared by a ramp are faint: spread their grey levels over 0..255.
    if (noise_type == 1 && kernel_type == kKernelRamp) StretchGreyLevels(width * height, out);
    host().ProgressDestroy();
}

}  // namespace flowloom
