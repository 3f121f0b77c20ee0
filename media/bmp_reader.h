#pragma once

#include <cstdint>
#include <cstdio>

namespace flowloom {

// Reads Windows BMP files (1, 4, 8 and 24 bits per pixel; uncompressed, RLE8, RLE4;
// info headers of 40 bytes or longer) into a 24-bit pixel buffer: blue, green, red per
// pixel, rows from the top, no padding. The buffer comes from malloc; the caller frees it.
// Every file is treated as hostile: a failed read returns null, never reads or writes
// outside a buffer, and leaves nothing open or allocated.
// Rejected: sizes of 0, negative (top-down) sizes, sizes beyond the limits below, a file
// that ends before its pixel data. Uncompressed data must reach the last pixel's bytes
// (the last row's padding may be missing); when the stream's length is known this is
// checked before the buffer is allocated. Run-length data must reach its end-of-bitmap
// code; run pixels past the right edge of a row are dropped, a delta leaving the image or
// a pixel below the last row fails. The palette stops early when the pixel data offset
// lies inside it; a pixel that names an entry past its end fails the read.
class BmpReader {
public:
    // Sets width and height to 0, then to the header's size as soon as the headers are
    // accepted (depth, compression and size all usable); they stay so if decoding fails
    // afterwards. Returns the pixels or null. Only a regular file is read (see
    // OpenRegularFile): a named pipe or a device fails at once.
    unsigned char* Read(const char* path, int& width, int& height);
    // The same on an open stream positioned at the start of the file; reads byte by
    // byte, never seeks, and does not close the stream. `stream_bytes` is the file's
    // length when known, -1 when not (a pipe): then a short body is found as it is read.
    unsigned char* ReadStream(std::FILE* stream, int& width, int& height, long stream_bytes = -1);

    int32_t width = 0;
    int32_t height = 0;
    int32_t bitsPerPixel = 0;
    int32_t compression = 0;
    int32_t dataOffset = 0;
    int32_t position = 0;
    std::FILE* file = nullptr;
    unsigned char palette[256][3] = {};
    unsigned char* pixels = nullptr;
    // Why the last read failed, as a phrase for a message ("32 bits per pixel are not
    // read"); null after a read that worked. The reader itself still shows nothing.
    const char* failure = nullptr;
    // Palette entries that the file holds: 2^bits, or fewer when the pixel data starts
    // inside the table. A pixel naming an entry past them fails the read: the file does not
    // say its colour.
    int paletteEntries = 0;
};

// Largest image the reader accepts: a side and a total pixel count beyond which the
// buffer could not sensibly be allocated.
inline constexpr int32_t kBmpMaxSide = 32768;
inline constexpr int64_t kBmpMaxPixels = int64_t{1} << 26;

}  // namespace flowloom
