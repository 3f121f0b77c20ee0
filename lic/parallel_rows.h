#pragma once

#include <algorithm>

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

// As ForEachRow, and calls step() once per finished row on the calling thread (the
// progress bar lives on the window's thread), in batches of a few rows per thread.
template <class RowFn, class StepFn>
void ForEachRowWithProgress(int rows, RowFn&& row_fn, StepFn&& step) {
    const int batch = std::max(1, 4 * ThreadCount());
    for (int first = 0; first < rows; first += batch) {
        const int count = std::min(batch, rows - first);
        ForEachRow(count, [&](int i) { row_fn(first + i); });
        for (int i = 0; i < count; ++i) step();
    }
}

}  // namespace flowloom
