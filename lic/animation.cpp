#include "lic/animation.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <system_error>
#include <vector>

#include "lic/kernels.h"
#include "lic/parallel_rows.h"
#include "lic/pass_assembly.h"
#include "media/bmp_writer.h"

namespace flowloom {

namespace {

// The per-pixel state of all frames, reused from pixel to pixel along a row.
struct FrameAccumulators {
    explicit FrameAccumulators(int frames) : walks(frames), acc(frames), sum(2 * frames), weight(2 * frames) {}
    std::vector<KernelWalk> walks;  // one half's weights, per frame
    std::vector<float> acc;         // one half's sum, per frame
    std::vector<float> sum;         // per half and frame: [d * N + k]
    std::vector<float> weight;
};

// One pixel of every frame: the streamline is traced once per half, and each step is
// weighed by every frame with its own table, exactly as the plain LIC weighs it with one.
void ConvolvePixelAllFrames(const AnimationLanes& p, FrameAccumulators& a, int row, int col) {
    const int n = p.frames;
    for (int d = 0; d < 2; ++d) {
        for (int k = 0; k < n; ++k) {
            a.walks[k] = KernelWalk{p.tables + static_cast<long>(2 * k + d) * kKernelTableSize, p.sigma};
            a.acc[k] = 0.0f;
        }
        const TraceEnd end =
            TraceStreamline(p.grid, row, col, d == 1, p.length, p.max_steps, [&](float s, long sample) {
                const unsigned char* tex = p.texture + sample;
                // Every frame shares the step and so the table entry; only the tables differ.
                const int entry = KernelWalk::Entry(s, p.sigma);
                for (int k = 0; k < n; ++k) {
                    const float w = a.walks[k].WeighEntry(entry);
                    a.acc[k] = static_cast<float>(a.acc[k] + static_cast<double>(tex[k * p.texture_stride]) * w);
                }
            });
        // A pixel on a zero vector weighs 1 with sum 0 in every frame, so it comes out black.
        for (int k = 0; k < n; ++k) {
            a.sum[d * n + k] = a.acc[k];
            a.weight[d * n + k] = end == TraceEnd::kCriticalAtStart ? 1.0f : a.walks[k].last;
        }
    }
    const long index = static_cast<long>(row) * p.grid.width + col;
    for (int k = 0; k < n; ++k) {
        p.out[k * p.frame_stride + index] = LicValue(a.sum[k], a.sum[n + k], a.weight[k], a.weight[n + k]);
    }
}

// Whether the input can be animated; prints why not.
bool UsableInput(const AnimationInput& in) {
    if (in.vectors && in.noise && in.width > 0 && in.height > 0 && in.anim_frames >= 1 &&
        in.anim_frames <= kMaxAnimationFrames)
        return true;
    std::printf("Cannot animate: no field or texture, or not 1 to %d frames!\n", kMaxAnimationFrames);
    return false;
}

// The frame directory, made when nothing of that name exists. 1 when it is a directory.
int PrepareAnimationDirectory(const std::filesystem::path& directory) {
    std::error_code error;
    if (!std::filesystem::exists(directory, error)) std::filesystem::create_directory(directory, error);
    if (std::filesystem::is_directory(directory, error)) return 1;
    std::printf("Cannot make the frame directory %s!\n", directory.string().c_str());
    return 0;
}

}  // namespace

void BuildAnimationKernels(int frames, float length, float ripples, float* tables) {
    if (!tables || frames < 1) return;
    // Zero first: the builder leaves the tables alone for a length it cannot use.
    std::memset(tables, 0, sizeof(float) * 2 * kKernelTableSize * static_cast<size_t>(frames));
    for (int k = 0; k < frames; ++k) {
        float* forward = tables + static_cast<long>(2 * k) * kKernelTableSize;
        const float phase = static_cast<float>(k * 360.0 / frames);
        BuildKernelTables(forward, forward + kKernelTableSize, length, ripples, phase, kKernelHanning);
    }
}

MallocBuffer<unsigned char> ComputeAnimationFrameImages(
    const AnimationInput& in, Host& host,
    const std::function<void(int width, int height, unsigned char* grey)>& high_pass) {
    MallocBuffer<unsigned char> frames;
    const int n = in.anim_frames;
    if (!UsableInput(in)) return frames;
    const long samples = static_cast<long>(in.width) * in.height;
    const int passes = in.enhance_iterations < 1 ? 1 : in.enhance_iterations;
    MallocBuffer<float> tables;
    MallocBuffer<unsigned char> texture;
    if (!tables.Allocate(static_cast<size_t>(2 * n) * kKernelTableSize) ||
        !frames.Allocate(static_cast<size_t>(n) * samples) ||
        (passes > 1 && !texture.Allocate(static_cast<size_t>(n) * samples + kLaneTexturePadding))) {
        std::printf("Out of memory for %d animation frames of %d x %d!\n", n, in.width, in.height);
        frames.Release();
        return frames;
    }
    BuildAnimationKernels(n, static_cast<float>(in.kernel_length), in.kernel_ripples, tables.get());

    const PassAssembly assembly(StreamlineGrid{in.vectors, in.width, in.height, in.modes}, in.kernel_length,
                                PassTexture{in.noise, static_cast<size_t>(samples)});
    // Later passes sample the frames' own textures, allocated with the lanes' padding.
    if (texture) std::memset(texture.get() + static_cast<size_t>(n) * samples, 0, kLaneTexturePadding);
    unsigned char* out = frames.get();
    AnimationLanes lanes = assembly.Animation(tables.get(), n, out, samples);

    for (int pass = 0; pass < passes; ++pass) {
        // The first pass samples the engine's texture for every frame; later ones each
        // frame's own filtered result.
        lanes.texture = pass == 0 ? assembly.texture() : texture.get();
        lanes.texture_stride = pass == 0 ? 0 : samples;
        host.ProgressCreate(in.height);
        // Each pixel writes only itself in each frame: rows are independent, so the frames
        // are the same for every thread count.
        ForEachRowWithProgress(
            in.height,
            [&](int row) {
                if (assembly.lanes()) {
                    assembly.lanes()->animation_row(lanes, row);
                    return;
                }
                FrameAccumulators accumulators(n);
                for (int col = 0; col < in.width; ++col) ConvolvePixelAllFrames(lanes, accumulators, row, col);
            },
            [&] { host.ProgressStep(); });
        host.ProgressDestroy();
        if (pass == passes - 1) break;
        for (int k = 0; k < n; ++k)
            if (high_pass) high_pass(in.width, in.height, out + k * samples);
        std::memcpy(texture.get(), out, static_cast<size_t>(n) * samples);
    }
    return frames;
}

int ComputeAnimationFrames(const AnimationInput& in, Host& host, const AnimationCallbacks& cb) {
    // The directory is checked before the long computation, so a bad one fails at once.
    const std::filesystem::path directory = in.out_dir / "LICAnimation";
    if (!UsableInput(in) || !PrepareAnimationDirectory(directory)) return 0;
    const MallocBuffer<unsigned char> frames = ComputeAnimationFrameImages(in, host, cb.high_pass);
    if (!frames) return 0;

    const long samples = static_cast<long>(in.width) * in.height;
    MallocBuffer<unsigned char> rgb;
    if (!rgb.Allocate(3 * static_cast<size_t>(samples))) {
        std::printf("Out of memory for an animation frame of %d x %d!\n", in.width, in.height);
        return 0;
    }
    for (int k = 0; k < in.anim_frames; ++k) {
        const unsigned char* grey = frames.get() + k * samples;
        if (cb.compose) {
            cb.compose(grey, rgb.get());
        } else {
            for (long i = 0; i < samples; ++i) rgb[3 * i] = rgb[3 * i + 1] = rgb[3 * i + 2] = grey[i];
        }
        char name[32];
        std::snprintf(name, sizeof name, "frame%d%d.bmp", k / 10, k % 10);
        // WriteBmp24 prints why it failed. Later frames are not attempted: files of an
        // earlier animation may remain, and only the result tells this one failed.
        if (!WriteBmp24(in.width, in.height, rgb.get(), (directory / name).string().c_str())) return 0;
    }
    return 1;
}

}  // namespace flowloom
