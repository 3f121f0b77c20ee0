#include "media/png_writer.h"

#include <png.h>
#include <zlib.h>

#include <algorithm>
#include <csetjmp>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <vector>

namespace flowloom {

namespace {

int Fail(const char* path) {
    std::printf("Failed to create %s for writing!\n", path ? path : "");
    return 0;
}

[[noreturn]] void OnPngError(png_structp png, png_const_charp) {
    std::longjmp(png_jmpbuf(png), 1);
}

void OnPngWarning(png_structp, png_const_charp) {}

// Everything that must be released whichever way the write ends; lives outside the
// setjmp frame so that a longjmp cannot leave it stale.
struct PngWrite {
    png_structp png = nullptr;
    png_infop info = nullptr;
    unsigned char* row = nullptr;
    ~PngWrite() {
        png_destroy_write_struct(&png, &info);
        std::free(row);
    }
};

int Encode(PngWrite& w, std::FILE* file, int width, int height, const unsigned char* pixels, int compression) {
    if (setjmp(png_jmpbuf(w.png))) return 0;
    png_init_io(w.png, file);
    png_set_compression_level(w.png, compression);
    png_set_IHDR(w.png, w.info, static_cast<png_uint_32>(width), static_cast<png_uint_32>(height), 8,
                 PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(w.png, w.info);
    const size_t row_bytes = 3 * static_cast<size_t>(width);
    for (int y = 0; y < height; ++y) {
        const unsigned char* src = pixels + row_bytes * static_cast<size_t>(y);
        for (size_t x = 0; x < row_bytes; x += 3) {
            w.row[x] = src[x + 2];
            w.row[x + 1] = src[x + 1];
            w.row[x + 2] = src[x];
        }
        png_write_row(w.png, w.row);
    }
    png_write_end(w.png, nullptr);
    return 1;
}

// The fast encoder: the Up filter, and the rows deflated in strips of a fixed number of
// rows, each strip on its own (in parallel where OpenMP is there), the strips' streams
// joined by full-byte flushes into the one zlib stream of the IDAT chunks. Run-length
// matches reach back one byte only, so a strip loses nothing by starting afresh. The
// strips do not depend on the thread count, so neither does the file.
constexpr int kStripRows = 64;
// libpng's own limit on a side, which the other path keeps.
constexpr int kMaxSide = 1000000;

struct Strip {
    std::vector<unsigned char> deflated;
    uLong adler = 1;
    uLong raw_bytes = 0;
    bool ok = false;
};

void DeflateStrip(const unsigned char* pixels, int width, int first, int end, bool last, Strip& strip) {
    try {
        const size_t row_bytes = 3 * static_cast<size_t>(width);
        std::vector<unsigned char> filtered((row_bytes + 1) * static_cast<size_t>(end - first));
        unsigned char* out = filtered.data();
        for (int y = first; y < end; ++y) {
            const unsigned char* row = pixels + row_bytes * static_cast<size_t>(y);
            const unsigned char* above = y > 0 ? row - row_bytes : nullptr;
            *out++ = 2;  // Up: each byte minus the byte above, in red, green, blue order
            for (size_t x = 0; x < row_bytes; x += 3) {
                out[x] = static_cast<unsigned char>(row[x + 2] - (above ? above[x + 2] : 0));
                out[x + 1] = static_cast<unsigned char>(row[x + 1] - (above ? above[x + 1] : 0));
                out[x + 2] = static_cast<unsigned char>(row[x] - (above ? above[x] : 0));
            }
            out += row_bytes;
        }
        strip.raw_bytes = static_cast<uLong>(filtered.size());
        strip.adler = adler32(adler32(0L, Z_NULL, 0), filtered.data(), static_cast<uInt>(filtered.size()));
        z_stream z{};
        if (deflateInit2(&z, 1, Z_DEFLATED, -15, 8, Z_RLE) != Z_OK) return;
        // The bound of one deflate call, and room for the flush's empty block.
        strip.deflated.resize(deflateBound(&z, static_cast<uLong>(filtered.size())) + 64);
        z.next_in = filtered.data();
        z.avail_in = static_cast<uInt>(filtered.size());
        z.next_out = strip.deflated.data();
        z.avail_out = static_cast<uInt>(strip.deflated.size());
        const int result = deflate(&z, last ? Z_FINISH : Z_FULL_FLUSH);
        strip.ok = z.avail_in == 0 && (last ? result == Z_STREAM_END : result == Z_OK);
        strip.deflated.resize(z.total_out);
        deflateEnd(&z);
    } catch (const std::bad_alloc&) {
        strip.ok = false;
    }
}

void PutBigEndian(unsigned char* out, uint32_t v) {
    out[0] = static_cast<unsigned char>(v >> 24);
    out[1] = static_cast<unsigned char>(v >> 16);
    out[2] = static_cast<unsigned char>(v >> 8);
    out[3] = static_cast<unsigned char>(v);
}

bool WriteChunk(std::FILE* file, const char* type, const unsigned char* data, size_t length) {
    unsigned char head[8];
    PutBigEndian(head, static_cast<uint32_t>(length));
    std::memcpy(head + 4, type, 4);
    uLong crc = crc32(0L, head + 4, 4);
    if (length) crc = crc32(crc, data, static_cast<uInt>(length));
    unsigned char tail[4];
    PutBigEndian(tail, static_cast<uint32_t>(crc));
    return std::fwrite(head, 1, 8, file) == 8 && (!length || std::fwrite(data, 1, length, file) == length) &&
           std::fwrite(tail, 1, 4, file) == 4;
}

int EncodeFast(std::FILE* file, int width, int height, const unsigned char* pixels) {
    if (width > kMaxSide || height > kMaxSide) return 0;
    const int strips = (height + kStripRows - 1) / kStripRows;
    std::vector<Strip> deflated;
    try {
        deflated.resize(static_cast<size_t>(strips));
    } catch (const std::bad_alloc&) {
        return 0;
    }
#ifdef _OPENMP
#pragma omp parallel for schedule(dynamic, 1)
#endif
    for (int k = 0; k < strips; ++k)
        DeflateStrip(pixels, width, k * kStripRows, std::min(height, (k + 1) * kStripRows), k == strips - 1,
                     deflated[static_cast<size_t>(k)]);
    uLong adler = adler32(0L, Z_NULL, 0);
    for (const Strip& strip : deflated) {
        if (!strip.ok) return 0;
        adler = adler32_combine(adler, strip.adler, static_cast<z_off_t>(strip.raw_bytes));
    }
    static const unsigned char kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
    unsigned char header[13];
    PutBigEndian(header, static_cast<uint32_t>(width));
    PutBigEndian(header + 4, static_cast<uint32_t>(height));
    header[8] = 8;   // bits per channel
    header[9] = 2;   // RGB
    header[10] = 0;  // deflate
    header[11] = 0;  // adaptive filters, one per row
    header[12] = 0;  // not interlaced
    // The zlib stream's header: deflate with a 32 KiB window, fastest level; 0x7801 is a
    // multiple of 31 as the format asks.
    static const unsigned char kZlibHeader[2] = {0x78, 0x01};
    unsigned char trailer[4];
    PutBigEndian(trailer, static_cast<uint32_t>(adler));
    if (std::fwrite(kSignature, 1, 8, file) != 8 || !WriteChunk(file, "IHDR", header, 13) ||
        !WriteChunk(file, "IDAT", kZlibHeader, 2))
        return 0;
    for (const Strip& strip : deflated)
        if (!strip.deflated.empty() && !WriteChunk(file, "IDAT", strip.deflated.data(), strip.deflated.size()))
            return 0;
    return WriteChunk(file, "IDAT", trailer, 4) && WriteChunk(file, "IEND", nullptr, 0) ? 1 : 0;
}

}  // namespace

int WritePng24(int width, int height, const unsigned char* pixels, const char* path, int compression) {
    if (!pixels || !path || width <= 0 || height <= 0) return Fail(path);
    if (compression != kPngFastCompression && (compression < 0 || compression > 9)) return Fail(path);
    if (compression == kPngFastCompression) {
        std::FILE* file = std::fopen(path, "wb");
        if (!file) return Fail(path);
        const int encoded = EncodeFast(file, width, height, pixels);
        if (std::fclose(file) != 0 || !encoded) {
            std::remove(path);
            return Fail(path);
        }
        return 1;
    }
    PngWrite w;
    w.png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, OnPngError, OnPngWarning);
    if (w.png) w.info = png_create_info_struct(w.png);
    w.row = static_cast<unsigned char*>(std::malloc(3 * static_cast<size_t>(width)));
    if (!w.info || !w.row) return Fail(path);
    std::FILE* file = std::fopen(path, "wb");
    if (!file) return Fail(path);
    const int encoded = Encode(w, file, width, height, pixels, compression);
    if (std::fclose(file) != 0 || !encoded) {
        std::remove(path);
        return Fail(path);
    }
    return 1;
}

}  // namespace flowloom
