#pragma once

#include <algorithm>
#include <atomic>

namespace flowloom {

// The one place where threads live. A pass calls ForEachRow with a kernel that writes
// only its own row's outputs, so the result is the same for every thread count.
void SetThreadCount(int threads);  // 0 or less: all processors
int ThreadCount();

template <class RowFn>
void ForEachRow(int rows, RowFn&& row_fn) {
    const int threads = ThreadCount();
#pragma omp parallel for schedule(dynamic, 1) num_threads(threads) if (threads > 1 && rows > 1)
    for (int row = 0; row < rows; ++row) row_fn(row);
}

// The number of the calling thread within its team: 0 for the thread that started it.
int TeamThreadNumber();

// As ForEachRow, and calls step() once per finished row on the calling thread (the
// progress bar lives on the window's thread). The rows run in one team, with no wait
// between them: the calling thread reports the rows finished so far after each of its
// own, and the rest when the team is done.
template <class RowFn, class StepFn>
void ForEachRowWithProgress(int rows, RowFn&& row_fn, StepFn&& step) {
    std::atomic<int> finished{0};
    int reported = 0;  // only the calling thread touches it
    const int threads = ThreadCount();
#pragma omp parallel for schedule(dynamic, 1) num_threads(threads) if (threads > 1 && rows > 1)
    for (int row = 0; row < rows; ++row) {
        row_fn(row);
        const int done = finished.fetch_add(1, std::memory_order_relaxed) + 1;
        if (TeamThreadNumber() == 0)
            for (; reported < done; ++reported) step();
    }
    for (; reported < rows; ++reported) step();
}

}  // namespace flowloom
