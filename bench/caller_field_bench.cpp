// The LIC of a field handed over from memory, from the hand-over to the grey picture: what
// the Python package's flowloom.lic asks of the engine. bench/python_overhead_bench.py
// compares the Python call against this.

#include <benchmark/benchmark.h>

#include <vector>

#include "engine/fields.h"
#include "engine/lic_engine.h"
#include "lic/kernels.h"
#include "lic/noise.h"
#include "lic/parallel_rows.h"

namespace flowloom {
namespace {

void BM_CallerFieldLic(benchmark::State& state) {
    const int size = static_cast<int>(state.range(0));
    const int threads = static_cast<int>(state.range(1));
    std::vector<float> field(2 * static_cast<size_t>(size) * size);
    MakeVortexField(field.data(), size, size);
    SetThreadCount(threads);
    for (auto _ : state) {
        LicEngine engine;
        engine.Reset();
        SettingsRecord record = DefaultSettings();
        record.color_mapping = 0;
        engine.ImportSettings(record);
        BuildKernelTables(engine.kernel_fwd.get(), engine.kernel_bwd.get(), 15.0f, engine.kernel_ripples,
                          engine.kernel_phase, kKernelBox);
        engine.kernel_changed = 0;
        engine.LoadFieldFromMemory(size, size, field.data());
        engine.ResizeImages();
        SeedNoiseGenerator(1);
        engine.MakeNoise();
        engine.RenderLic();
        benchmark::DoNotOptimize(engine.lic_image.get());
    }
    SetThreadCount(0);
    state.counters["pixels/s"] =
        benchmark::Counter(static_cast<double>(size) * size, benchmark::Counter::kIsIterationInvariantRate);
}

BENCHMARK(BM_CallerFieldLic)
    ->ArgNames({"size", "threads"})
    ->ArgsProduct({{300, 2000}, {1}})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MinTime(1.0);

}  // namespace
}  // namespace flowloom

BENCHMARK_MAIN();
