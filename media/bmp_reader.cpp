#include "media/bmp_reader.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <limits>

#include "media/regular_file.h"

namespace flowloom {

namespace {

constexpr int kEndOfFile = -1;

// Pulls the stream one byte at a time and counts what it consumed; never seeks, so a
// pipe or a memory stream reads like a file.
class ByteSource {
public:
    explicit ByteSource(BmpReader& reader) : reader_(reader) {}

    // The next byte, or kEndOfFile. Once the end is seen the stream is not asked again.
    int Next() {
        if (ended_) return kEndOfFile;
        const int c = std::fgetc(reader_.file);
        if (c == EOF) {
            ended_ = true;
            return kEndOfFile;
        }
        // The count only serves to reach the data offset, which is an int32.
        if (reader_.position < std::numeric_limits<int32_t>::max()) ++reader_.position;
        return c;
    }

    // A little-endian field of `count` bytes, assembled byte by byte so that the host's
    // byte order never matters. Returns 0 when the file ends inside it.
    int Field(int count, uint32_t& value) {
        value = 0;
        for (int i = 0; i < count; ++i) {
            const int c = Next();
            if (c == kEndOfFile) return 0;
            value |= static_cast<uint32_t>(c) << (8 * i);
        }
        return 1;
    }

    // Drops `count` bytes; returns 0 when the file ends first, so a header that claims
    // gigabytes costs no more than the file's length.
    int Skip(int64_t count) {
        for (int64_t i = 0; i < count; ++i)
            if (Next() == kEndOfFile) return 0;
        return 1;
    }

    // A byte of uncompressed pixel data; a missing one marks the data as cut short.
    int DataByte() {
        const int c = Next();
        if (c != kEndOfFile) return c;
        data_cut_ = true;
        return 0;
    }

    bool DataCut() const { return data_cut_; }

private:
    BmpReader& reader_;
    bool ended_ = false;
    bool data_cut_ = false;
};

int SupportedCombination(int bits, int compression) {
    switch (compression) {
        case 0:
            return bits == 1 || bits == 4 || bits == 8 || bits == 24;
        case 1:
            return bits == 8;
        case 2:
            return bits == 4;
        default:
            return 0;
    }
}

// Reads the file and info headers. Returns 1 when every rule holds and the size is one
// whose buffer can sensibly be allocated.
int Fail(BmpReader& r, const char* why) {
    r.failure = why;
    return 0;
}

const char* UnsupportedReason(int bits, int compression) {
    if (bits != 1 && bits != 4 && bits != 8 && bits != 24) {
        switch (bits) {
            case 16:
                return "16 bits per pixel are not read (1, 4, 8 and 24 are)";
            case 32:
                return "32 bits per pixel are not read (1, 4, 8 and 24 are)";
            default:
                return "its bits per pixel are none of 1, 4, 8 and 24";
        }
    }
    switch (compression) {
        case 1:
            return "RLE8 compression needs 8 bits per pixel";
        case 2:
            return "RLE4 compression needs 4 bits per pixel";
        case 3:
            return "bit-field compression is not read (none, RLE8 and RLE4 are)";
        case 4:
        case 5:
            return "it holds an embedded JPEG or PNG, which is not read";
        default:
            return "its compression is unknown";
    }
}

int ReadHeaders(BmpReader& r, ByteSource& in) {
    constexpr const char* kShortHeader = "the file ends inside its headers";
    uint32_t value = 0;
    if (in.Next() != 'B' || in.Next() != 'M') return Fail(r, "it does not start with \"BM\"");
    if (!in.Skip(8)) return Fail(r, kShortHeader);  // file size and two reserved words
    if (!in.Field(4, value)) return Fail(r, kShortHeader);
    r.dataOffset = static_cast<int32_t>(value);

    if (!in.Field(4, value)) return Fail(r, kShortHeader);
    const int32_t header_size = static_cast<int32_t>(value);
    // The 12-byte core header has 16-bit sizes: not read.
    if (header_size == 12) return Fail(r, "its 12-byte OS/2 info header is not read (40 bytes or longer are)");
    if (header_size < 40) return Fail(r, "its info header is shorter than 40 bytes");
    if (!in.Field(4, value)) return Fail(r, kShortHeader);
    r.width = static_cast<int32_t>(value);
    if (!in.Field(4, value)) return Fail(r, kShortHeader);
    r.height = static_cast<int32_t>(value);
    if (!in.Field(2, value)) return Fail(r, kShortHeader);
    if (value != 1) return Fail(r, "its number of planes is not 1");
    if (!in.Field(2, value)) return Fail(r, kShortHeader);
    r.bitsPerPixel = static_cast<int16_t>(value);
    if (!in.Field(4, value)) return Fail(r, kShortHeader);
    r.compression = static_cast<int32_t>(value);
    // Image size, resolutions, colours used and important colours are not needed.
    if (!in.Skip(20)) return Fail(r, kShortHeader);
    if (!in.Skip(int64_t{header_size} - 40)) return Fail(r, kShortHeader);

    if (!SupportedCombination(r.bitsPerPixel, r.compression))
        return Fail(r, UnsupportedReason(r.bitsPerPixel, r.compression));
    // A negative height would be a top-down file, which this reader does not take.
    if (r.height < 0) return Fail(r, "it is stored top-down (a negative height), which is not read");
    if (r.width <= 0 || r.height == 0) return Fail(r, "its width or height is 0 or negative");
    if (r.width > kBmpMaxSide || r.height > kBmpMaxSide || int64_t{r.width} * r.height > kBmpMaxPixels)
        return Fail(r, "its size is beyond the limit of 32768 per side and 2^26 pixels in all");
    return 1;
}

// Reads 2^bits entries, fewer when the pixel data starts inside that table (a writer
// may store only the colours it uses). Then drops the bytes up to the data offset.
// Returns 0 when the file ends before its pixel data.
int ReadPaletteAndGap(BmpReader& r, ByteSource& in) {
    int64_t entries = r.bitsPerPixel <= 8 ? (int64_t{1} << r.bitsPerPixel) : 0;
    if (r.dataOffset > r.position) entries = std::min<int64_t>(entries, (int64_t{r.dataOffset} - r.position) / 4);
    r.paletteEntries = static_cast<int>(entries);
    for (int64_t i = 0; i < entries; ++i) {
        uint32_t entry = 0;
        if (!in.Field(4, entry)) return Fail(r, "the file ends inside its palette");
        r.palette[i][0] = static_cast<unsigned char>(entry);
        r.palette[i][1] = static_cast<unsigned char>(entry >> 8);
        r.palette[i][2] = static_cast<unsigned char>(entry >> 16);
    }
    // Only forward: a data offset that the headers already passed means "right here".
    if (r.dataOffset > r.position && !in.Skip(int64_t{r.dataOffset} - r.position))
        return Fail(r, "the file ends before its pixel data");
    return 1;
}

// Bytes that one stored row's pixels take, without the padding to a multiple of 4.
int64_t UncompressedRowBytes(const BmpReader& r) {
    const int64_t width = r.width;
    switch (r.bitsPerPixel) {
        case 1:
            return (width + 7) / 8;
        case 4:
            return (width + 1) / 2;
        case 8:
            return width;
        default:
            return 3 * width;
    }
}

int64_t RowPadding(int64_t row_bytes) {
    return (4 - row_bytes % 4) % 4;
}

// Bytes of uncompressed pixel data up to the last pixel's: the last row's padding may be
// missing, as some writers leave it out.
int64_t UncompressedDataBytes(const BmpReader& r) {
    const int64_t row_bytes = UncompressedRowBytes(r);
    return (row_bytes + RowPadding(row_bytes)) * (r.height - 1) + row_bytes;
}

constexpr const char* kPastPalette = "a pixel names a colour past the end of the palette";

// Returns 0 when the file ends before the last pixel's bytes, or a pixel names a palette
// entry that the file does not hold.
int DecodeUncompressed(BmpReader& r, ByteSource& in) {
    const int64_t width = r.width;
    const int64_t row_bytes = UncompressedRowBytes(r);
    const int64_t padding = RowPadding(row_bytes);

    for (int64_t y = 0; y < r.height; ++y) {
        unsigned char* out = r.pixels + y * width * 3;
        int byte = 0;
        int index = 0;
        for (int64_t x = 0; x < width; ++x, out += 3) {
            switch (r.bitsPerPixel) {
                case 1:
                    if (x % 8 == 0) byte = in.DataByte();
                    index = (byte >> (7 - x % 8)) & 1;
                    break;
                case 4:
                    if (x % 2 == 0) byte = in.DataByte();
                    index = x % 2 == 0 ? byte >> 4 : byte & 0x0F;
                    break;
                case 8:
                    index = in.DataByte();
                    break;
                default:
                    for (int c = 0; c < 3; ++c) out[c] = static_cast<unsigned char>(in.DataByte());
                    continue;
            }
            if (index >= r.paletteEntries && !in.DataCut()) return Fail(r, kPastPalette);
            std::memcpy(out, r.palette[index], 3);
        }
        if (in.DataCut()) return Fail(r, "the file ends before its last pixel");
        for (int64_t p = 0; p < padding; ++p) in.Next();
    }
    return 1;
}

// RLE8 and RLE4 into a zeroed buffer. Returns 1 at the end-of-bitmap code, 0 when the
// data breaks off before it, a delta leaves the image, or a pixel falls below the last
// row. Pixels past the right edge of their row are dropped: common writers pad rows
// with such runs (a run filling out the row, a two-pixel run in the last column).
int DecodeRunLength(BmpReader& r, ByteSource& in) {
    const bool rle4 = r.compression == 2;
    int x = 0;
    int y = 0;
    constexpr const char* kBrokenOff = "the run-length data ends before its end-of-bitmap code";
    constexpr const char* kBelow = "a run-length pixel falls below the last row";
    auto put = [&](int index) {
        if (y >= r.height) return Fail(r, kBelow);
        if (index >= r.paletteEntries) return Fail(r, kPastPalette);
        if (x < r.width) {
            std::memcpy(r.pixels + (static_cast<int64_t>(y) * r.width + x) * 3, r.palette[index], 3);
            ++x;
        }
        return 1;
    };

    for (;;) {
        const int count = in.Next();
        const int value = in.Next();
        if (value == kEndOfFile) return Fail(r, kBrokenOff);
        if (count > 0) {
            for (int i = 0; i < count; ++i) {
                const int index = !rle4 ? value : (i % 2 == 0 ? value >> 4 : value & 0x0F);
                if (!put(index)) return 0;
            }
        } else if (value == 0) {  // end of line
            x = 0;
            if (y >= r.height) return Fail(r, kBelow);
            ++y;
        } else if (value == 1) {  // end of bitmap
            return 1;
        } else if (value == 2) {  // delta
            const int dx = in.Next();
            const int dy = in.Next();
            if (dy == kEndOfFile) return Fail(r, kBrokenOff);
            x += dx;
            y += dy;
            if (x >= r.width || y >= r.height) return Fail(r, "a run-length delta leaves the image");
        } else {  // absolute run of `value` pixels
            int bytes_read = 0;
            int byte = 0;
            for (int i = 0; i < value; ++i) {
                if (!rle4 || i % 2 == 0) {
                    byte = in.Next();
                    if (byte == kEndOfFile) return Fail(r, kBrokenOff);
                    ++bytes_read;
                }
                const int index = !rle4 ? byte : (i % 2 == 0 ? byte >> 4 : byte & 0x0F);
                if (!put(index)) return 0;
            }
            // Absolute runs are padded to a 16-bit boundary.
            if (bytes_read % 2 == 1) in.Next();
        }
    }
}

// The file stores the bottom row first.
void ReverseRows(unsigned char* pixels, int width, int height) {
    const int64_t row = int64_t{width} * 3;
    for (int64_t top = 0, bottom = height - 1; top < bottom; ++top, --bottom)
        std::swap_ranges(pixels + top * row, pixels + (top + 1) * row, pixels + bottom * row);
}

}  // namespace

unsigned char* BmpReader::Read(const char* path, int& out_width, int& out_height) {
    out_width = 0;
    out_height = 0;
    long bytes = -1;
    std::FILE* opened = OpenRegularFile(path, bytes);
    if (!opened) {
        failure = "it cannot be opened";
        return nullptr;
    }
    unsigned char* result = ReadStream(opened, out_width, out_height, bytes);
    std::fclose(opened);
    return result;
}

unsigned char* BmpReader::ReadStream(std::FILE* stream, int& out_width, int& out_height, long stream_bytes) {
    out_width = 0;
    out_height = 0;
    width = height = bitsPerPixel = compression = dataOffset = position = paletteEntries = 0;
    std::memset(palette, 0, sizeof palette);
    pixels = nullptr;
    failure = nullptr;
    file = stream;
    if (!file) {
        failure = "it cannot be opened";
        return nullptr;
    }

    ByteSource in(*this);
    unsigned char* result = nullptr;
    if (ReadHeaders(*this, in)) {
        out_width = width;
        out_height = height;
        const size_t bytes = static_cast<size_t>(width) * static_cast<size_t>(height) * 3;
        // A header may claim any size: uncompressed pixels must fit in what the stream
        // holds before their buffer is allocated. (Run-length data has no such bound: an
        // end-of-bitmap code may end a file of any size.)
        if (ReadPaletteAndGap(*this, in)) {
            if (compression == 0 && stream_bytes >= 0 && position + UncompressedDataBytes(*this) > stream_bytes) {
                failure = "the file ends before its last pixel";
            } else {
                // Run-length data may skip pixels, which then stay black.
                pixels = static_cast<unsigned char*>(compression == 0 ? std::malloc(bytes) : std::calloc(bytes, 1));
                if (!pixels) failure = "out of memory";
            }
        }
        if (pixels) {
            int decoded = 1;
            if (compression == 0)
                decoded = DecodeUncompressed(*this, in);
            else
                decoded = DecodeRunLength(*this, in);
            if (decoded) {
                ReverseRows(pixels, width, height);
                result = pixels;
            } else {
                std::free(pixels);
            }
        }
    }
    pixels = nullptr;
    file = nullptr;
    return result;
}

}  // namespace flowloom
