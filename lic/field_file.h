#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <functional>

namespace flowloom {

// Vector-field files. A field is width x height samples, row by row from the top, each
// two floats (vx along the columns, vy down the rows); the readers return it in a block
// from malloc that the caller frees, or null. Diagnostics go to standard output.

// Reads a binary field file: a two-integer header (width 4..3999, height) or, when the
// first integer is 2, a three-integer one (2, width, height), then the body. Integers and
// floats are 32-bit little-endian; a first integer outside 2..3999 read that way means the
// whole file is big-endian. On success width/height take the file's values; on any failure
// they are left exactly as they were. Fails (null) when:
//  - the file cannot be opened: "Failed to open %s as a binary file!!!";
//  - the first integer is 3: "%s may be a 3D vector data file!!!";
//  - a header is short, its first integer is outside 2..3999 in both byte orders, or a
//    dimension is 0 or negative: no message;
//  - the body is shorter than 8 * width * height bytes: "%s has no sufficient vector
//    data!!!", checked against the file's length before anything is allocated;
//  - 2 * width * height exceeds the largest int (a grid nobody can index): no message.
// Bytes after the body are ignored; non-finite floats are data and are kept.
float* LoadBinaryData(int& width, int& height, const char* path);

// The same on an open stream whose next `stream_bytes` bytes are the whole file (a
// negative count fails at once); `path_for_messages` names it in the diagnostics. The
// stream is read, never closed.
float* LoadBinaryDataStream(int& width, int& height, std::FILE* stream, const char* path_for_messages,
                            long stream_bytes);

// Reads a headerless text file of 2 * width * height decimal numbers (vx, vy per sample,
// any white space between), each scanned as a double and stored as a float; numbers
// beyond those are ignored. A failed scan repeats the last number read (0 before the
// first one), so a short file, or one that turns to garbage, still loads. Fails (null)
// when the file holds no number at all, empty or garbage from its start ("%s holds no
// number to read as a text field!!!"), when width or height is 0 or negative (no
// message), when the buffer cannot be had
// ("Failed to allocate memory for LoadTextData:p_vctr!!!", also for a grid of more than
// the largest int floats) or when the file cannot be opened ("Failed to open %s as a
// text file!!!", three blanks before "text").
float* LoadTextData(int width, int height, const char* path);

// The same on an open stream, read from its current position and never closed; a stream
// without a number fails silently.
float* LoadTextDataStream(int width, int height, std::FILE* stream);

// Writes a field as a little-endian binary file with the two-integer header (width,
// height), whatever the host's byte order. Each sample is stored as its direction times
// its magnitude: a vector with vx^2 + vy^2 < 1e-12 becomes (0, 0), any other is scaled
// to unit length first; a null `magnitudes` means magnitude 1 everywhere. Returns 1, or 0
// when the file cannot be created or a write or the close fails (printing "Failed to
// create %s for writing!"), or without touching the disk when a dimension is negative or
// `vectors` is null for a non-empty grid. A field narrower than 4 samples is written but
// cannot be read back as binary (its width would be taken for another header form).
// A sample marked in `mask` (one byte per sample, may be null) is written as (NaN, NaN):
// the format has no mask, and a reader that meets NaN takes the sample as masked again.
int WriteFieldFile(const char* path, int width, int height, const float* vectors, const float* magnitudes,
                   const unsigned char* mask = nullptr);

// The one binary writer beneath every .vec file the programs write: `header` (two or three
// integers), then `samples` (vx, vy) float pairs, all little-endian. `fill(start, end, out)`
// puts the pairs of samples start..end-1 into `out`, a chunk at a time, so that no copy of
// the field is made.
enum class VecWrite { kWritten, kCannotCreate, kIncomplete };
VecWrite WriteVecWords(const char* path, const int32_t* header, int header_words, std::size_t samples,
                       const std::function<void(std::size_t start, std::size_t end, float* out)>& fill);

}  // namespace flowloom
