// Timing shared by the benchmarks that report a pass against one plain LIC of the same grid.
#pragma once

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>

#include "engine/lic_engine.h"

namespace flowloom {

using Clock = std::chrono::steady_clock;

inline double Seconds(Clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

// The fastest of a few plain convolutions, timed outside the benchmark's own loop.
inline double PlainLicSeconds(LicEngine& engine) {
    double best = 1e30;
    for (int i = 0; i < 3; ++i) {
        const auto start = Clock::now();
        engine.ConvolveLic();
        benchmark::DoNotOptimize(engine.lic_image.get());
        best = std::min(best, Seconds(Clock::now() - start));
    }
    return best;
}

}  // namespace flowloom
