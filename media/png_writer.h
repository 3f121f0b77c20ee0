#pragma once

namespace flowloom {

// Writes a 24-bit pixel buffer (blue, green, red; rows from the top) as an 8-bit RGB PNG
// file. Prints "Failed to create %s for writing!" and returns 0 when the file cannot be
// created or written; 1 on success.
int WritePng24(int width, int height, const unsigned char* pixels, const char* path);

}  // namespace flowloom
