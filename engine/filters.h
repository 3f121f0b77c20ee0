#pragma once

namespace flowloom {

// Sharpening and contrast filters for grey LIC images (one byte per pixel, row-major) and
// 24-bit colour images (blue, green, red per pixel, no gaps between rows). Every filter
// works in place; a null buffer or a non-positive size leaves everything untouched, and
// so does a failed allocation of the working copy. Results are the same for every
// thread count.

// 3 x 3 high-pass filter: each interior pixel becomes 9 p - (sum of its eight
// neighbours), read from a copy of the input, clamped to 0..255 and truncated. The
// outermost rows and columns keep their values; an image less than 3 pixels wide or
// high is unchanged. A flat image stays flat.
void HighPassFilter(int width, int height, unsigned char* grey);

// HighPassFilter on each of the three channels of a colour image independently.
void HighPassFilterRgb(int width, int height, unsigned char* bgr);

// The equalization curve: for i = 0..127, t = trunc((i / 127)^exponent * 127 + 0.5),
// table[i] = t and table[255 - i] = 255 - t, so the table is symmetric about the middle
// (table[255 - i] == 255 - table[i]) and, for a positive exponent, rising. With exponent
// 5, 0..41 map to 0, 127 to 127, 128 to 128 and 214..255 to 255. t is kept in 0..127
// whatever the exponent (an infinite or undefined power gives 127 or 0).
void BuildContrastTable(float exponent, unsigned char table[256]);

// Replaces each of `count` grey levels v by table[v].
void ApplyContrastTable(const unsigned char table[256], int count, unsigned char* grey);

// Spreads the grey levels of a (sparse-noise) LIC image over 0..255 by histogram
// equalisation with a fresh NonlinearDataMap (plain minimum and maximum, output
// 0.0..255.0), truncating the mapped values back to bytes. The darkest level becomes 0
// and the brightest 255; an image of one grey level becomes all 255.
void StretchGreyLevels(int count, unsigned char* grey);

}  // namespace flowloom
