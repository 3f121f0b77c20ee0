#include "lic/image_lic.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <mutex>

#include "lic/parallel_rows.h"
#include "lic/pass_assembly.h"
#include "media/malloc_buffer.h"

namespace flowloom {

namespace {

// The blur of the force extraction: nine ones, kept with the program and normalised in
// place on every use, so after the first use it holds nine 1/9s (normalising those again
// gives the same floats). The lock keeps two extractions on different threads from
// normalising it while the other one filters with it.
float g_mean_kernel[9] = {1.0f, 1.0f, 1.0f, 1.0f, 1.0f, 1.0f, 1.0f, 1.0f, 1.0f};
std::mutex g_mean_kernel_mutex;

// FilterColorImage3x3 that reports whether it filtered (0: bad arguments or no memory for
// the working copy, and nothing changed).
int Filter3x3(int width, int height, unsigned char* image, float kernel[9]) {
    if (image == nullptr || kernel == nullptr || width <= 0 || height <= 0) return 0;
    const std::size_t stride = 3 * static_cast<std::size_t>(width);
    const std::size_t total = stride * static_cast<std::size_t>(height);
    MallocBuffer<unsigned char> filtered;
    if (!filtered.Allocate(total)) return 0;
    NormalizeKernel3x3(kernel);
    double weights[9];
    for (int i = 0; i < 9; ++i) weights[i] = kernel[i];
    const unsigned char* in = image;
    unsigned char* out = filtered.get();

    // Every output is read from the unfiltered image and written to the copy, so rows are
    // independent. The nine-term sum is accumulated in double and truncated once: summed in
    // float, the 1/9 weights bring many flat grey levels one below themselves, and every
    // further blur darkens them again.
    ForEachRow(height, [&](int row) {
        const unsigned char* rows[3] = {in + static_cast<std::size_t>(std::max(row - 1, 0)) * stride,
                                        in + static_cast<std::size_t>(row) * stride,
                                        in + static_cast<std::size_t>(std::min(row + 1, height - 1)) * stride};
        unsigned char* dst = out + static_cast<std::size_t>(row) * stride;
        for (int col = 0; col < width; ++col) {
            const std::size_t cols[3] = {3 * static_cast<std::size_t>(std::max(col - 1, 0)),
                                         3 * static_cast<std::size_t>(col),
                                         3 * static_cast<std::size_t>(std::min(col + 1, width - 1))};
            for (int ch = 0; ch < 3; ++ch) {
                double sum = 0.0;
                for (int dy = 0; dy < 3; ++dy)
                    for (int dx = 0; dx < 3; ++dx) sum += weights[3 * dy + dx] * rows[dy][cols[dx] + ch];
                dst[3 * col + ch] = ClampToByte(sum);
            }
        }
    });
    std::memcpy(image, out, total);
    return 1;
}

// The colour LIC of one pixel, each channel as ConvolvePixel weighs the grey texture.
void ImageLicPixel(const ImageLicLanes& p, int row, int col) {
    const long index = static_cast<long>(row) * p.grid.width + col;
    const unsigned char* pixel = p.image + 3 * index;
    unsigned char* dst = p.out + 3 * index;
    const float* tables[2] = {p.forward, p.backward};
    float sum[2][3] = {};
    float weight[2] = {0.0f, 0.0f};
    for (int d = 0; d < 2; ++d) {
        KernelWalk walk{tables[d], p.sigma};
        float* acc = sum[d];
        const TraceEnd end =
            TraceStreamline(p.grid, row, col, d == 1, p.length, p.max_steps, [&](float s, long sample) {
                const float w = walk.Weigh(s);
                const unsigned char* texel = p.image + 3 * sample;
                for (int ch = 0; ch < 3; ++ch)
                    acc[ch] = static_cast<float>(acc[ch] + static_cast<double>(texel[ch]) * w);
            });
        // A pixel on a zero vector has no streamline to smear along.
        if (end == TraceEnd::kCriticalAtStart) {
            dst[0] = pixel[0];
            dst[1] = pixel[1];
            dst[2] = pixel[2];
            return;
        }
        weight[d] = walk.last;
    }
    // A true division, not a product with the reciprocal: c W / W is c exactly, while
    // c W (1 / W) may fall just below c and truncate one level darker.
    for (int ch = 0; ch < 3; ++ch) dst[ch] = LicValue(sum[0][ch], sum[1][ch], weight[0], weight[1]);
}

}  // namespace

void NormalizeKernel3x3(float kernel[9]) {
    if (kernel == nullptr) return;
    double sum = 0.0;
    for (int i = 0; i < 9; ++i) sum += kernel[i];
    if (sum == 0.0) return;
    for (int i = 0; i < 9; ++i) kernel[i] = static_cast<float>(kernel[i] / sum);
}

void FilterColorImage3x3(int width, int height, unsigned char* image, float kernel[9]) {
    Filter3x3(width, height, image, kernel);
}

float* ExtractForceField(int width, int height, unsigned char* image) {
    if (image == nullptr || width <= 0 || height <= 0) return nullptr;
    const std::size_t count = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
    MallocBuffer<float> field;
    MallocBuffer<float> grey;
    // Everything is allocated before the blur, so a failure leaves the image as it was.
    if (count > SIZE_MAX / 2 || !field.Allocate(2 * count) || !grey.Allocate(count)) return nullptr;
    {
        const std::lock_guard<std::mutex> lock(g_mean_kernel_mutex);
        if (!Filter3x3(width, height, image, g_mean_kernel)) return nullptr;
    }

    const std::size_t w = static_cast<std::size_t>(width);
    float* g = grey.get();
    ForEachRow(height, [&](int row) {
        const std::size_t base = static_cast<std::size_t>(row) * w;
        for (std::size_t col = 0; col < w; ++col) {
            const unsigned char* p = image + 3 * (base + col);  // blue, green, red
            const double brightness = 0.30 * p[2] + 0.59 * p[1] + 0.11 * p[0];
            g[base + col] = static_cast<float>(std::min(brightness, 255.0));
        }
    });

    // Clamping the neighbours gives the central difference inside and the one-sided
    // difference at a border in one formula; an axis one pixel long has no difference, and
    // its component is 0 rather than a read outside the image.
    float* out = field.get();
    ForEachRow(height, [&](int row) {
        const int up = std::max(row - 1, 0);
        const int down = std::min(row + 1, height - 1);
        const float* above = g + static_cast<std::size_t>(up) * w;
        const float* here = g + static_cast<std::size_t>(row) * w;
        const float* below = g + static_cast<std::size_t>(down) * w;
        float* v = out + 2 * static_cast<std::size_t>(row) * w;
        for (int col = 0; col < width; ++col) {
            const int left = std::max(col - 1, 0);
            const int right = std::min(col + 1, width - 1);
            const float gx = right > left
                                 ? static_cast<float>((static_cast<double>(here[right]) - here[left]) / (right - left))
                                 : 0.0f;
            const float gy =
                down > up ? static_cast<float>((static_cast<double>(below[col]) - above[col]) / (down - up)) : 0.0f;
            const double e = static_cast<double>(gx) * gx + static_cast<double>(gy) * gy;
            if (e >= 1e-12) {
                const double scale = 1.0 / std::sqrt(e);
                v[2 * col] = static_cast<float>(gx * scale);
                v[2 * col + 1] = static_cast<float>(gy * scale);
            } else {
                v[2 * col] = 0.0f;
                v[2 * col + 1] = 0.0f;
            }
        }
    });
    return field.Detach();
}

int ComputeImageLic(int width, int height, unsigned char* image, const float* vectors, const float* kernel_fwd,
                    const float* kernel_bwd, int kernel_length, Host& host, StreamlineModes modes) {
    if (image == nullptr || vectors == nullptr || kernel_fwd == nullptr || kernel_bwd == nullptr || width <= 0 ||
        height <= 0 || kernel_length <= 0)
        return 0;
    const std::size_t total = 3 * static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
    MallocBuffer<unsigned char> result;
    if (!result.Allocate(total)) return 0;

    // The lane kernels gather a pixel's three bytes with one 32-bit load.
    const PassAssembly pass(StreamlineGrid{vectors, width, height, modes}, kernel_length, PassTexture{image, total});
    const ImageLicLanes lanes = pass.ImageLic(kernel_fwd, kernel_bwd, result.get());

    host.ProgressCreate(height);
    // Each pixel traces its own streamline pair, reads only the input and writes only its
    // own output pixel: rows are independent, so the image is the same for every thread
    // count. The sums are accumulated in float per step, as in the grey LIC, so a grey
    // image gives the grey LIC's sums; with the box kernel they are integers and exact.
    ForEachRowWithProgress(
        height,
        [&](int row) {
            if (pass.lanes()) {
                pass.lanes()->image_lic_row(lanes, row);
                return;
            }
            for (int col = 0; col < width; ++col) ImageLicPixel(lanes, row, col);
        },
        [&] { host.ProgressStep(); });
    std::memcpy(image, result.get(), total);
    host.ProgressDestroy();
    return 1;
}

}  // namespace flowloom
