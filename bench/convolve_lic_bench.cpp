// ConvolveLic on Saddle fields, on the scalar path and on every instruction set this
// machine runs: pixels and streamline steps per second and nanoseconds per step, plain
// and MagLIC, with one thread and with all of them.

#include <benchmark/benchmark.h>
#include <omp.h>

#include <string>
#include <vector>

#include "engine/lic_engine.h"
#include "lic/kernels.h"
#include "lic/parallel_rows.h"
#include "lic/pass_assembly.h"
#include "lic/streamline.h"
#include "lic/streamline_simd.h"

namespace flowloom {
namespace {

// "scalar", then the instruction sets, best first.
std::vector<std::string> Paths() {
    std::vector<std::string> paths{"scalar"};
    for (const std::string& name : SimdPathNames()) paths.push_back(name);
    return paths;
}

// Total streamline steps of one convolution, counted once outside the timing with the
// scalar stepper. MagLIC's lengths follow the convolution's rule for them.
double CountSteps(const LicEngine& engine) {
    const StreamlineGrid grid{engine.vectors.get(), engine.x_res, engine.y_res, engine.streamline_modes};
    double steps = 0;
    for (int row = 0; row < engine.y_res; ++row) {
        for (int col = 0; col < engine.x_res; ++col) {
            float length = static_cast<float>(engine.kernel_length);
            if (engine.mag_lic) length = MagLicLength(engine.magnitudes[static_cast<long>(row) * engine.x_res + col]);
            for (bool upstream : {false, true})
                TraceStreamline(grid, row, col, upstream, length, StepLimit(engine.kernel_length),
                                [&](float, long) { steps += 1; });
        }
    }
    return steps;
}

void BM_ConvolveLic(benchmark::State& state) {
    const std::vector<std::string> paths = Paths();
    if (state.range(0) >= static_cast<long>(paths.size())) {
        state.SkipWithError("no such instruction set on this machine");
        return;
    }
    const std::string path = paths[state.range(0)];
    const int size = static_cast<int>(state.range(1));
    const int length = static_cast<int>(state.range(2));
    const int threads = state.range(4) ? omp_get_num_procs() : 1;
    LicEngine engine;
    engine.Reset();
    engine.x_res = engine.y_res = size;
    engine.kernel_length = length;
    engine.Compute();
    engine.mag_lic = static_cast<int>(state.range(3));
    const double steps = CountSteps(engine);

    SetThreadCount(threads);
    SetSimdPath(path);
    for (auto _ : state) {
        engine.ConvolveLic();
        benchmark::DoNotOptimize(engine.lic_image.get());
    }
    SetSimdPath("auto");
    SetThreadCount(0);
    state.SetLabel(path);
    state.counters["threads"] = threads;
    state.counters["pixels/s"] =
        benchmark::Counter(static_cast<double>(size) * size, benchmark::Counter::kIsIterationInvariantRate);
    state.counters["steps/s"] = benchmark::Counter(steps, benchmark::Counter::kIsIterationInvariantRate);
    state.counters["ns/step"] =
        benchmark::Counter(steps * 1e-9, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

// The stepper's modes against the plain path: 0 plain, 1 periodic in both axes, 2 an
// orientation field, 3 both; on the scalar path or the best instruction set, one thread.
// The Saddle field's streamlines run out of the grid, so periodic ones take more steps:
// compare nanoseconds per step.
void BM_ConvolveLicModes(benchmark::State& state) {
    const int mode = static_cast<int>(state.range(0));
    const bool scalar = state.range(1) != 0;
    const int size = static_cast<int>(state.range(2));
    LicEngine engine;
    engine.Reset();
    engine.x_res = engine.y_res = size;
    engine.kernel_length = 15;
    engine.Compute();
    const Boundary boundary = mode & 1 ? Boundary::kPeriodic : Boundary::kClosed;
    engine.streamline_modes = StreamlineModes{boundary, boundary, (mode & 2) != 0};
    const double steps = CountSteps(engine);

    SetThreadCount(1);
    SetSimdPath(scalar ? "scalar" : "auto");
    for (auto _ : state) {
        engine.ConvolveLic();
        benchmark::DoNotOptimize(engine.lic_image.get());
    }
    state.SetLabel(SimdPathName());
    SetSimdPath("auto");
    SetThreadCount(0);
    state.counters["steps/s"] = benchmark::Counter(steps, benchmark::Counter::kIsIterationInvariantRate);
    state.counters["ns/step"] =
        benchmark::Counter(steps * 1e-9, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_ConvolveLicModes)
    ->ArgNames({"mode", "scalar", "size"})
    ->ArgsProduct({{0, 1, 2, 3}, {0, 1}, {2000}})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MinTime(0.2);

// Path 0 is the scalar one; paths this machine lacks are skipped.
BENCHMARK(BM_ConvolveLic)
    ->ArgNames({"path", "size", "L", "maglic", "all_threads"})
    ->ArgsProduct({{0, 1, 2, 3, 4, 5}, {300, 1000, 2000}, {15, 60, 200}, {0, 1}, {0, 1}})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MinTime(0.2);

}  // namespace
}  // namespace flowloom

BENCHMARK_MAIN();
