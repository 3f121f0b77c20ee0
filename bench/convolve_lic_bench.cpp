// ConvolveLic on Saddle fields: pixels and streamline steps per second, with one thread
// and with all of them.

#include <benchmark/benchmark.h>
#include <omp.h>

#include "engine/lic_engine.h"
#include "lic/parallel_rows.h"
#include "lic/streamline.h"

namespace flowloom {
namespace {

// Total streamline steps of one convolution, counted once outside the timing.
double CountSteps(const LicEngine& engine) {
    const StreamlineGrid grid{engine.vectors.get(), engine.x_res, engine.y_res};
    double steps = 0;
    for (int row = 0; row < engine.y_res; ++row)
        for (int col = 0; col < engine.x_res; ++col)
            for (bool upstream : {false, true})
                TraceStreamline(grid, row, col, upstream, static_cast<float>(engine.kernel_length),
                                3 * engine.kernel_length, [&](float, long) { steps += 1; });
    return steps;
}

void BM_ConvolveLic(benchmark::State& state) {
    const int size = static_cast<int>(state.range(0));
    const int length = static_cast<int>(state.range(1));
    const int threads = state.range(2) ? omp_get_num_procs() : 1;
    LicEngine engine(nullptr, 1224, 15, 394, 615, 401);
    engine.Reset();
    engine.x_res = engine.y_res = size;
    engine.kernel_length = length;
    engine.Compute();
    const double steps = CountSteps(engine);

    SetThreadCount(threads);
    for (auto _ : state) {
        engine.ConvolveLic();
        benchmark::DoNotOptimize(engine.lic_image.get());
    }
    SetThreadCount(0);
    state.counters["threads"] = threads;
    state.counters["pixels/s"] =
        benchmark::Counter(static_cast<double>(size) * size, benchmark::Counter::kIsIterationInvariantRate);
    state.counters["steps/s"] = benchmark::Counter(steps, benchmark::Counter::kIsIterationInvariantRate);
}

BENCHMARK(BM_ConvolveLic)
    ->ArgNames({"size", "L", "all_threads"})
    ->ArgsProduct({{300, 1000, 2000}, {15, 60}, {0, 1}})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MinTime(0.5);

}  // namespace
}  // namespace flowloom

BENCHMARK_MAIN();
