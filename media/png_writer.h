#pragma once

namespace flowloom {

// The fast compression, the default: each row minus the row above, then deflate with runs
// and Huffman codes only, strips of rows in parallel. A LIC picture is mostly noise, which
// repeats no longer strings, so this costs a tenth of zlib's default effort (less again on
// several cores) for a file about a tenth larger. The file does not depend on the threads.
constexpr int kPngFastCompression = -1;

// Writes a 24-bit pixel buffer (blue, green, red; rows from the top) as an 8-bit RGB PNG
// file through libpng. `compression` is kPngFastCompression, or a zlib level 0..9 with
// libpng's choice of filter per row (9 for the smallest file, at many times the time).
// Prints "Failed to create %s for writing!" and returns 0 when the buffer is null, a size is
// not positive (PNG has no empty image), the level is none of these, or the file cannot be
// created or written; a file that broke off while writing is removed. 1 on success.
int WritePng24(int width, int height, const unsigned char* pixels, const char* path,
               int compression = kPngFastCompression);

}  // namespace flowloom
