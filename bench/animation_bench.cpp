// An animation of 8 or 20 frames against one plain LIC on the same Saddle field: all
// frames share one streamline trace per pixel and pass, so the cycle should cost far less
// than N separate convolutions. Reports the time of one animation pass over one LIC.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>

#include "bench/plain_lic_timing.h"
#include "engine/lic_engine.h"
#include "lic/animation.h"
#include "lic/kernels.h"
#include "lic/parallel_rows.h"

namespace flowloom {
namespace {

void BM_AnimationFrames(benchmark::State& state) {
    const int size = static_cast<int>(state.range(0));
    const int passes = static_cast<int>(state.range(1));
    const int frames_in_cycle = static_cast<int>(state.range(2));
    LicEngine engine;
    engine.Reset();
    engine.x_res = engine.y_res = size;
    engine.kernel_length = 30;
    engine.kernel_type = kKernelHanning;
    engine.Compute();

    AnimationInput in;
    in.vectors = engine.vectors.get();
    in.noise = engine.noise.get();
    in.width = in.height = size;
    in.kernel_length = engine.kernel_length;
    in.kernel_ripples = engine.kernel_ripples;
    in.anim_frames = frames_in_cycle;
    in.enhance_iterations = passes;
    HeadlessHost host;
    auto high_pass = [](int width, int height, unsigned char* grey) {
        // Stands in for the engine's filter; its cost is not what is measured.
        benchmark::DoNotOptimize(grey[width * height / 2]);
    };

    SetThreadCount(1);
    const double plain = PlainLicSeconds(engine);
    double animated = 0.0;
    for (auto _ : state) {
        const auto start = Clock::now();
        const auto frames = ComputeAnimationFrameImages(in, host, high_pass);
        benchmark::DoNotOptimize(frames.get());
        animated += Seconds(Clock::now() - start);
    }
    SetThreadCount(0);
    const double per_pass = animated / static_cast<double>(state.iterations()) / passes;
    state.counters["frames"] = frames_in_cycle;
    state.counters["lic_ms"] = plain * 1e3;
    state.counters["pass_over_lic"] = per_pass / plain;
}

BENCHMARK(BM_AnimationFrames)
    ->ArgNames({"size", "passes", "frames"})
    ->ArgsProduct({{300, 1000, 2000}, {1, 2}, {8, 20}})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MinTime(0.5);

}  // namespace
}  // namespace flowloom

BENCHMARK_MAIN();
