// The body shared by the image readers' libFuzzer drivers: any byte string is a file to
// the reader's decode path, which must decode within the size limits or fail cleanly.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

template <class Read>
int FuzzPhotoStream(const uint8_t* data, size_t size, Read read) {
    if (size == 0) return 0;  // fmemopen refuses an empty buffer
    std::FILE* stream = fmemopen(const_cast<uint8_t*>(data), size, "rb");
    if (!stream) return 0;
    int width = 7;
    int height = 9;
    std::string error;  // the failure message is built on the same inputs
    unsigned char* pixels = read(stream, width, height, &error);
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
