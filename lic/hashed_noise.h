#pragma once

#include <cstdint>

namespace flowloom {

// White noise without a sequence: the byte of sample (row, column) is a hash of
// (seed, row, column) alone, so any part of a texture can be made on its own and every
// tiling of a grid gives the same texture. It is a different texture from the window's
// white noise, which continues one generator sample after sample.

// The byte of one sample.
unsigned char HashedNoiseByte(uint64_t seed, int64_t row, int64_t col);

// Fills rows x cols bytes, row-major, with the samples (row0 + r, col0 + c). A null
// buffer or a non-positive size does nothing.
void MakeHashedWhiteNoise(unsigned char* buffer, int rows, int cols, int64_t row0, int64_t col0, uint64_t seed);

}  // namespace flowloom
