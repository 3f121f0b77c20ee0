#include "lic/hashed_noise.h"

#include <cstddef>

#include "lic/parallel_rows.h"

namespace flowloom {

namespace {

// The finaliser of SplitMix64: every input bit affects every output bit.
uint64_t Mix(uint64_t z) {
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

}  // namespace

unsigned char HashedNoiseByte(uint64_t seed, int64_t row, int64_t col) {
    const uint64_t row_key = Mix(Mix(seed + 0x9E3779B97F4A7C15ull) ^ static_cast<uint64_t>(row));
    return static_cast<unsigned char>(Mix(row_key + static_cast<uint64_t>(col)) >> 56);
}

void MakeHashedWhiteNoise(unsigned char* buffer, int rows, int cols, int64_t row0, int64_t col0, uint64_t seed) {
    if (buffer == nullptr || rows <= 0 || cols <= 0) return;
    ForEachRow(rows, [&](int r) {
        unsigned char* out = buffer + static_cast<size_t>(r) * static_cast<size_t>(cols);
        for (int c = 0; c < cols; ++c) out[c] = HashedNoiseByte(seed, row0 + r, col0 + c);
    });
}

}  // namespace flowloom
