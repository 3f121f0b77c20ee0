// libFuzzer driver: any byte string is a PNG file to libpng's decode path as we drive it;
// it must decode within the size limits or fail cleanly.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "media/png_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;  // fmemopen refuses an empty buffer
    std::FILE* stream = fmemopen(const_cast<uint8_t*>(data), size, "rb");
    if (!stream) return 0;
    int width = 7;
    int height = 9;
    unsigned char* pixels = flowloom::ReadPngStream(stream, width, height);
    std::fclose(stream);
    if (pixels) {
        if (width <= 0 || height <= 0) std::abort();
        // Touch the last byte: the reader promised 3 * width * height of them.
        volatile unsigned char last = pixels[3 * static_cast<size_t>(width) * static_cast<size_t>(height) - 1];
        (void)last;
        std::free(pixels);
    } else if (width != 7 || height != 9) {
        std::abort();  // a failed read must leave the size alone
    }
    return 0;
}
