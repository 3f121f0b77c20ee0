#pragma once

#include <cstdint>

namespace flowloom {

// The process-wide 15-bit generator of the noise textures:
// state = state * 214013 + 2531011 (mod 2^32), result (state >> 16) & 0x7FFF.
// The state is 1 at program start. It is our own, never the C library's rand, so a
// texture is the same on every platform.
void SeedNoiseGenerator(uint32_t seed);
int NextNoiseRandom();

// Fills width x height bytes with white noise, continuing the generator's sequence.
void MakeWhiteNoise(unsigned char* buffer, int width, int height);

// Black with one 5-pixel plus sign per 9 x 9 cell, jittered by -1..1 in each direction.
// Reseeds the generator first: with the calendar time in seconds, or with the fixed seed
// set by SetSparseNoiseSeed (so a batch render can be repeated exactly).
void MakeSparseNoise(unsigned char* buffer, int width, int height);
void SetSparseNoiseSeed(int64_t seed);  // a negative seed restores the clock

}  // namespace flowloom
