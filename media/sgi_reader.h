#pragma once

#include <cstdint>
#include <cstdio>

#include "media/malloc_buffer.h"

namespace flowloom {

// Reads SGI RGB images (verbatim and run-length encoded, one byte per channel, one to
// four channels; channels beyond the fourth are ignored) into a 24-bit pixel buffer:
// blue, green, red per pixel, rows from the top, no padding. The buffer comes from
// malloc; the caller frees it.
// Every file is treated as hostile: a failed read returns null, never reads or writes
// outside a buffer, leaves nothing open or allocated, and leaves the size outputs as
// they were. Rejected: a header shorter than 12 bytes, a size of 0, two bytes per
// channel (or any count but one), more than kSgiMaxPixels pixels, a verbatim body or
// run-length row tables that the file does not hold, a row-table entry outside the file,
// a compressed row longer than `rowBuffer`, and a compressed row whose runs break off or
// overflow `xsize` bytes. A row that ends early is kept, the rest of it black; its end
// code may be missing once the row is full. Two bytes per channel would decode as a
// scrambled picture, so such files are refused rather than misread. A run-length row of
// length 0 holds not even its end code, so nothing says what the row is: refused. The
// magic number and the dimension are not checked, and a storage byte other than 1 means
// verbatim.

// Largest image accepted: the RGBA intermediate of such an image takes 256 MiB.
inline constexpr int64_t kSgiMaxPixels = int64_t{1} << 26;
// Channels that are read; any further ones are skipped.
inline constexpr int kSgiMaxChannels = 4;

// An open SGI file: the header's first six fields in host order, and for run-length
// files the compressed-row buffer and the row tables.
struct SgiImageFile {
    uint16_t magic = 0;
    uint16_t type = 0;  // high byte 1: run-length encoded, else verbatim; low byte: bytes per channel
    uint16_t dimension = 0;
    uint16_t xsize = 0;
    uint16_t ysize = 0;
    uint16_t zsize = 0;
    std::FILE* file = nullptr;
    // Run-length files only (absent otherwise): xsize * 256 bytes for one compressed row,
    // and the offset and length of row (y, z) at index y + z * ysize, for the channels
    // that are read (z below min(zsize, 4)).
    MallocBuffer<unsigned char> rowBuffer;
    MallocBuffer<uint32_t> rowStart;
    MallocBuffer<uint32_t> rowLength;
    // Where the file starts in `file`, and its length in bytes.
    long fileBase = 0;
    long fileBytes = 0;
    bool ownsFile = false;  // CloseSgiImage closes only a file that OpenSgiImage opened
    // Why the last open or row read failed, as a phrase for a message; null otherwise.
    const char* failure = nullptr;
};

// Opens `path` and reads and checks the header and row tables. Returns the open file or
// null: an unopenable file prints "\nFailed to open %s\n" on standard output, a failed
// allocation "Out of memory!\n" on standard error, a rejected header nothing. `failure`,
// when given, takes why the open failed (a phrase for a message).
SgiImageFile* OpenSgiImage(const char* path, const char** failure = nullptr);
// The same on an open seekable stream whose next `file_bytes` bytes are the whole file.
// The stream is never closed, not even by CloseSgiImage.
SgiImageFile* OpenSgiImageStream(std::FILE* stream, long file_bytes, const char** failure = nullptr);

// Fills `dest` (xsize bytes) with row y (counted from the bottom) of channel z. Returns
// 1, or 0 for a row or channel out of range or a row that cannot be read as described
// above; `dest` may then hold part of the row.
int ReadSgiRow(SgiImageFile* image, unsigned char* dest, int y, int z);

// Closes the file (if the record opened it) and releases the record; null is allowed.
void CloseSgiImage(SgiImageFile* image);

// The image as RGBA, 4 bytes per pixel, rows from the bottom (file order): 3 or more
// channels are red, green, blue (alpha 255 or the fourth channel), 2 are grey and
// alpha, 1 is grey. On success width, height and channels take xsize, ysize and zsize.
unsigned char* ReadSgiRgba(const char* path, int& width, int& height, int& channels);

// The 24-bit buffer of the image at `path`; width and height take its size on success.
// This is the entry that the engine calls. `failure`, when given, takes why a read failed.
unsigned char* ReadSgiImage24(const char* path, int& width, int& height, const char** failure = nullptr);
// The same on a stream, as for OpenSgiImageStream.
unsigned char* ReadSgiImage24Stream(std::FILE* stream, long file_bytes, int& width, int& height,
                                    const char** failure = nullptr);

}  // namespace flowloom
