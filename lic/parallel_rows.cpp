#include "lic/parallel_rows.h"

#include <omp.h>

#include <atomic>

namespace flowloom {

namespace {
std::atomic<int> g_threads{0};
}

void SetThreadCount(int threads) {
    g_threads = threads > 0 ? threads : 0;
}

int ThreadCount() {
    const int threads = g_threads.load();
    return threads > 0 ? threads : omp_get_max_threads();
}

int TeamThreadNumber() {
    return omp_get_thread_num();
}

}  // namespace flowloom
