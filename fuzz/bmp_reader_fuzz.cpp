// libFuzzer driver: any byte string is a BMP file to the reader, which must either
// decode it or fail cleanly.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "media/bmp_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // A memory stream cannot be empty; an empty file fails at its signature anyway.
    if (size == 0) return 0;
    std::FILE* stream = fmemopen(const_cast<uint8_t*>(data), size, "rb");
    if (!stream) return 0;
    flowloom::BmpReader reader;
    int width = 0;
    int height = 0;
    unsigned char* pixels = reader.ReadStream(stream, width, height);
    std::fclose(stream);
    if (pixels) {
        // Touch every byte the reader claims to have delivered, so that a buffer shorter
        // than its reported size shows up.
        if (width <= 0 || height <= 0) std::abort();
        unsigned sum = 0;
        const size_t bytes = static_cast<size_t>(width) * static_cast<size_t>(height) * 3;
        for (size_t i = 0; i < bytes; ++i) sum += pixels[i];
        volatile unsigned sink = sum;
        (void)sink;
        std::free(pixels);
    }
    return 0;
}
