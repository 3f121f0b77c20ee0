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
// memory nor time. Data that breaks off inside the image decodes
// as far as it goes, the rest grey, and the library's warning goes to standard error, as
// image viewers show such files. Any other damage is a failed read: null, the size
// outputs unchanged, and `error` (when given) says why. The stream is read from its
// current position and not closed.
unsigned char* ReadJpegStream(std::FILE* stream, int& width, int& height, std::string* error = nullptr);

inline constexpr int kJpegMaxScans = 500;
// The decoder's own working memory, besides the result.
inline constexpr long kJpegMaxMemory = 1L << 30;

// True when `head` starts with a JPEG start-of-image marker followed by another marker.
bool HasJpegSignature(const unsigned char* head, size_t bytes);

}  // namespace flowloom
