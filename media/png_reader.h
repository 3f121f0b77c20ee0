#pragma once

#include <cstdio>
#include <string>

namespace flowloom {

// Reads a PNG file through libpng into a 24-bit pixel buffer: blue, green, red per
// pixel, rows from the top, no padding; the buffer comes from malloc and the caller frees
// it. Every colour type and depth is accepted: a palette is expanded, a grey image
// becomes three equal channels, a 16-bit sample v becomes v / 257, and alpha (an alpha
// channel or a transparent colour) is composited on black, c * a / 255; both truncate.
// No gamma or colour-profile correction is applied: the stored samples are the picture.
// The image is refused before anything image-sized is allocated when a side exceeds
// kPhotoMaxSide or the pixel count kPhotoMaxPixels (photo_reader.h). A damaged file is a
// failed read: null, the size outputs unchanged, and `error` (when given) says why.
// The stream is read from its current position and not closed.
unsigned char* ReadPngStream(std::FILE* stream, int& width, int& height, std::string* error = nullptr);

// True when `head` (at least 8 bytes) starts with the PNG signature.
bool HasPngSignature(const unsigned char* head, size_t bytes);

}  // namespace flowloom
