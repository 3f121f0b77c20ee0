#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace flowloom {

// Largest photograph accepted, as for BMP: a side and a total pixel count beyond which
// the buffer could not sensibly be allocated.
inline constexpr int32_t kPhotoMaxSide = 32768;
inline constexpr int64_t kPhotoMaxPixels = int64_t{1} << 26;

// Writes "W x H pixels are beyond the limit ..." into `text` for a refused size.
void DescribeOversize(char* text, size_t size, unsigned width, unsigned height);

// Reads a PNG or JPEG photograph, recognised by its first bytes whatever its name, into
// a 24-bit pixel buffer (blue, green, red, rows from the top; from malloc, the caller
// frees it). width and height take the image's size on success and stay unchanged
// otherwise. A file that cannot be opened, is neither format, or fails to decode prints
// "Failed to read image %s: <reason>" on standard output and returns null; `failure`,
// when given, takes the reason too.
unsigned char* ReadPhotoImage24(const char* path, int& width, int& height, std::string* failure = nullptr);

}  // namespace flowloom
