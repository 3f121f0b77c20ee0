// The other streamline passes against one plain LIC of the same grid, on the best
// instruction set and on the scalar path: ProLIC (all LOD x LOD passes together) and the
// colour-image LIC. Reports each pass's time over the plain LIC's.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <random>
#include <vector>

#include "bench/default_scene.h"
#include "bench/plain_lic_timing.h"
#include "engine/lic_engine.h"
#include "lic/image_lic.h"
#include "lic/kernels.h"
#include "lic/parallel_rows.h"
#include "lic/progressive.h"
#include "lic/streamline_simd.h"

namespace flowloom {
namespace {

// Runs `pass` under the benchmark's loop on path "auto" (range 1 == 0) or "scalar", one
// thread, and reports its time over the plain LIC's.
template <class Pass>
void TimeAgainstPlainLic(benchmark::State& state, Scene& scene, Pass&& pass) {
    SetThreadCount(1);
    SetSimdPath(state.range(1) ? "scalar" : "auto");
    const double plain = PlainLicSeconds(scene.engine);
    double total = 0.0;
    for (auto _ : state) {
        const auto start = Clock::now();
        pass();
        total += Seconds(Clock::now() - start);
    }
    state.SetLabel(SimdPathName());
    SetSimdPath("auto");
    SetThreadCount(0);
    state.counters["lic_ms"] = plain * 1e3;
    state.counters["over_lic"] = total / static_cast<double>(state.iterations()) / plain;
}

void BM_ProgressiveAllPasses(benchmark::State& state) {
    Scene scene(static_cast<int>(state.range(0)));
    LicEngine& e = scene.engine;
    const ProgressiveInput in{e.vectors.get(),    e.noise.get(),      e.x_res,         e.y_res,
                              e.kernel_fwd.get(), e.kernel_bwd.get(), e.kernel_length, {}};
    std::vector<unsigned char> image(static_cast<size_t>(e.x_res) * e.y_res);
    constexpr int kLod = 3;
    TimeAgainstPlainLic(state, scene, [&] {
        ProgressivePasses(in, kLod, 0, kLod * kLod - 1, -1, e.x_res, -1, e.y_res, image.data());
        benchmark::DoNotOptimize(image.data());
    });
}

void BM_ImageLic(benchmark::State& state) {
    Scene scene(static_cast<int>(state.range(0)));
    LicEngine& e = scene.engine;
    const size_t bytes = 3 * static_cast<size_t>(e.x_res) * e.y_res;
    std::vector<unsigned char> photo(bytes);
    std::mt19937 random(3);
    for (auto& byte : photo) byte = static_cast<unsigned char>(random());
    std::vector<unsigned char> image(bytes);
    HeadlessHost host;
    TimeAgainstPlainLic(state, scene, [&] {
        image = photo;
        ComputeImageLic(e.x_res, e.y_res, image.data(), e.vectors.get(), e.kernel_fwd.get(), e.kernel_bwd.get(),
                        e.kernel_length, host);
        benchmark::DoNotOptimize(image.data());
    });
}

BENCHMARK(BM_ProgressiveAllPasses)
    ->ArgNames({"size", "scalar"})
    ->ArgsProduct({{300, 1000, 2000}, {0, 1}})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MinTime(0.2);
BENCHMARK(BM_ImageLic)
    ->ArgNames({"size", "scalar"})
    ->ArgsProduct({{300, 1000, 2000}, {0, 1}})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MinTime(0.2);

}  // namespace
}  // namespace flowloom

BENCHMARK_MAIN();
