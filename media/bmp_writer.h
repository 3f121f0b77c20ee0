#pragma once

namespace flowloom {

// Writes a 24-bit pixel buffer (blue, green, red; rows from the top) as an uncompressed
// bottom-up 24-bit BMP file. When the file cannot be created (or a write or the close
// fails, or the buffer is null or a size not positive) it prints
// "Failed to create %s for writing!" on standard output and returns 0; 1 on success.
int WriteBmp24(int width, int height, const unsigned char* pixels, const char* path);

// Mirrors a 24-bit pixel buffer in place: 'H'/'h' reverses every row, 'V'/'v' the order
// of the rows; any other mode, or a null buffer, changes nothing.
void MirrorImage24(int width, int height, unsigned char* pixels, char mode);

// Reverses the four bytes of the word at `word` in place and returns `word`.
void* ReverseBytes4(void* word);

}  // namespace flowloom
