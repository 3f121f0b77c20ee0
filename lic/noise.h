#pragma once

#include <cstdint>

namespace flowloom {

// The process-wide 15-bit generator of the noise textures:
// state = state * 214013 + 2531011 (mod 2^32), result (state >> 16) & 0x7FFF.
// The state is 1 at program start. It is our own, never the C library's rand, so a
// texture is the same on every platform. Not synchronised: draw from one thread, since the
// order of the draws defines the textures.
void SeedNoiseGenerator(uint32_t seed);
int NextNoiseRandom();

// Fills width x height bytes with white noise, continuing the generator's sequence.
// A null buffer or a non-positive size does nothing and draws nothing; the same holds for
// MakeSparseNoise, which then does not reseed either.
void MakeWhiteNoise(unsigned char* buffer, int width, int height);

// Black with one 5-pixel plus sign per 9 x 9 cell, jittered by -1..1 in each direction.
// Reseeds the generator first: with the calendar time in seconds, or with the fixed seed
// set by SetSparseNoiseSeed (so a batch render can be repeated exactly). Dots keep to rows
// and columns 2..size-2; a texture narrower or lower than 8 pixels is all black.
void MakeSparseNoise(unsigned char* buffer, int width, int height);
// A seed >= 0 is used (modulo 2^32) by every later sparse texture; a negative seed
// restores the clock.
void SetSparseNoiseSeed(int64_t seed);

}  // namespace flowloom
