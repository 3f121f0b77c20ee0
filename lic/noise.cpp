#include "lic/noise.h"

#include <cstddef>
#include <cstring>
#include <ctime>

namespace flowloom {

namespace {

// constinit: the state is 1 before any dynamic initialiser of any file can draw from it.
constinit uint32_t g_noise_state = 1;
constinit int64_t g_sparse_seed = -1;

}  // namespace

void SeedNoiseGenerator(uint32_t seed) {
    g_noise_state = seed;
}

int NextNoiseRandom() {
    // Unsigned arithmetic wraps modulo 2^32, which is the recurrence's modulus.
    g_noise_state = g_noise_state * 214013u + 2531011u;
    return static_cast<int>((g_noise_state >> 16) & 0x7FFFu);
}

void SetSparseNoiseSeed(int64_t seed) {
    g_sparse_seed = seed;
}

void MakeWhiteNoise(unsigned char* buffer, int width, int height) {
    if (buffer == nullptr || width <= 0 || height <= 0) return;
    const size_t count = static_cast<size_t>(width) * static_cast<size_t>(height);
    for (size_t i = 0; i < count; ++i) {
        const int r = NextNoiseRandom();
        buffer[i] = static_cast<unsigned char>(((r >> 8) + r) & 0xFF);
    }
}

void MakeSparseNoise(unsigned char* buffer, int width, int height) {
    if (buffer == nullptr || width <= 0 || height <= 0) return;
    std::memset(buffer, 0, static_cast<size_t>(width) * static_cast<size_t>(height));

    // The clock seeds in whole seconds and is truncated to the 32-bit state.
    SeedNoiseGenerator(g_sparse_seed >= 0 ? static_cast<uint32_t>(g_sparse_seed)
                                          : static_cast<uint32_t>(std::time(nullptr)));

    const auto set = [&](int row, int col) {
        buffer[static_cast<size_t>(row) * static_cast<size_t>(width) + static_cast<size_t>(col)] = 255;
    };
    // Cells start at 4 and end 3 short of the border, so a jittered plus sign (reach 2)
    // stays inside rows and columns 2..size-2 and neighbouring signs never touch.
    for (int y = 4; y < height - 3; y += 9) {
        for (int x = 4; x < width - 3; x += 9) {
            const int r1 = NextNoiseRandom();
            const int r2 = NextNoiseRandom();
            const int col = x + r1 % 3 - 1;
            const int row = y + r2 % 3 - 1;
            set(row, col);
            set(row, col - 1);
            set(row, col + 1);
            set(row - 1, col);
            set(row + 1, col);
        }
    }
}

}  // namespace flowloom
