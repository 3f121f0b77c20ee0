#include "lic/pass_assembly.h"

#include <algorithm>
#include <climits>

namespace flowloom {

PassAssembly::PassAssembly(const StreamlineGrid& grid, int kernel_length, PassTexture texture)
    : grid_(grid),
      length_(static_cast<float>(kernel_length)),
      sigma_(KernelTableScale(length_)),
      max_steps_(StepLimit(kernel_length)),
      texture_(texture.data) {
    // The lanes gather 32 bits at each byte offset of the texture, so its last bytes need
    // the padding after them, and every offset must fit a lane index.
    const long indices = static_cast<long>(std::min<std::size_t>(texture.bytes, LONG_MAX));
    lanes_ = texture.data ? ChosenLaneKernels(indices) : nullptr;
    if (!lanes_ || texture.padded) return;
    padded_ = PaddedTexture(texture.data, texture.bytes);
    if (padded_)
        texture_ = padded_.get();
    else
        lanes_ = nullptr;
}

LicLanes PassAssembly::Lic(const float* forward, const float* backward, PixelWindow<const float> magnitudes,
                           PixelWindow<unsigned char> image) const {
    LicLanes lic;
    lic.grid = grid_;
    lic.texture = texture_;
    lic.forward = forward;
    lic.backward = backward;
    lic.length = length_;
    lic.sigma = sigma_;
    lic.magnitudes = magnitudes;
    lic.max_steps = max_steps_;
    lic.image = image;
    return lic;
}

void PassAssembly::LicRows(const LicLanes& lic, LaneRows rows, LaneColumns columns) const {
    if (lanes_) {
        lanes_->lic_rows(lic, rows, columns);
        return;
    }
    for (int row = rows.first; row < rows.end; row += rows.step) {
        for (int col = columns.first; col < columns.end; col += columns.step) {
            float length = lic.length;
            float sigma = lic.sigma;
            if (lic.magnitudes.data) {
                length = MagLicLength(*lic.magnitudes.at(row, col));
                sigma = KernelTableScale(length);
            }
            *lic.image.at(row, col) =
                ConvolvePixel(lic.grid, lic.texture, lic.forward, lic.backward, length, sigma, lic.max_steps, row, col);
        }
    }
}

AnimationLanes PassAssembly::Animation(const float* tables, int frames, unsigned char* out, long frame_stride) const {
    AnimationLanes animation;
    animation.grid = grid_;
    animation.tables = tables;
    animation.texture = texture_;
    animation.frames = frames;
    animation.length = length_;
    animation.sigma = sigma_;
    animation.max_steps = max_steps_;
    animation.out = out;
    animation.frame_stride = frame_stride;
    return animation;
}

ImageLicLanes PassAssembly::ImageLic(const float* forward, const float* backward, unsigned char* out) const {
    ImageLicLanes image;
    image.grid = grid_;
    image.image = texture_;
    image.forward = forward;
    image.backward = backward;
    image.length = length_;
    image.sigma = sigma_;
    image.max_steps = max_steps_;
    image.out = out;
    return image;
}

}  // namespace flowloom
