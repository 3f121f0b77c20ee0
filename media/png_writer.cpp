#include "media/png_writer.h"

#include <png.h>
#include <zlib.h>

#include <csetjmp>
#include <cstdio>
#include <cstdlib>

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
    if (compression == kPngFastCompression) {
        png_set_filter(w.png, PNG_FILTER_TYPE_BASE, PNG_FILTER_UP);
        png_set_compression_strategy(w.png, Z_RLE);
        png_set_compression_level(w.png, 1);
    } else {
        png_set_compression_level(w.png, compression);
    }
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

}  // namespace

int WritePng24(int width, int height, const unsigned char* pixels, const char* path, int compression) {
    if (!pixels || !path || width <= 0 || height <= 0) return Fail(path);
    if (compression != kPngFastCompression && (compression < 0 || compression > 9)) return Fail(path);
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
