#pragma once

namespace flowloom {

// Writes a 24-bit pixel buffer (blue, green, red; rows from the top) as an 8-bit RGB PNG
// file through libpng. Prints "Failed to create %s for writing!" and returns 0 when the
// buffer is null, a size is not positive (PNG has no empty image), or the file cannot
// be created or written; a file that broke off while writing is removed. 1 on success.
int WritePng24(int width, int height, const unsigned char* pixels, const char* path);

}  // namespace flowloom
