#pragma once

#include <cstdio>
#include <string>

namespace flowloom {

// Reads a JPEG file through libjpeg-turbo into a 24-bit pixel buffer: blue, green, red
// per pixel, rows from the top, no padding; the buffer comes from malloc and the caller
// frees it. A grey image becomes three equal channels; CMYK and YCCK images are turned
// into RGB (Adobe's inverted CMYK when the file carries Adobe's marker). The header's size
// is checked against kPhotoMaxSide and kPhotoMaxPixels (photo_reader.h) before decoding,
// and a file with more than kJpegMaxScans progressive scans, or needing more than
// kJpegMaxMemory of decoder memory, is refused, so a hostile file costs neither unbounded
// memory nor time. Image data that ends before the image does (a cut file) fails rather
// than decode as a picture that is grey below the cut; harmless damage such as stray
// bytes between markers decodes, with the library's warning on standard error. A failed
// read returns null, leaves the size outputs unchanged and says why in `error` (when
// given). The stream is read from its current position and not closed.
unsigned char* ReadJpegStream(std::FILE* stream, int& width, int& height, std::string* error = nullptr);

inline constexpr int kJpegMaxScans = 500;
// The decoder's own working memory, besides the result.
inline constexpr long kJpegMaxMemory = 1L << 30;

// True when `head` starts with a JPEG start-of-image marker followed by another marker.
bool HasJpegSignature(const unsigned char* head, size_t bytes);

}  // namespace flowloom
