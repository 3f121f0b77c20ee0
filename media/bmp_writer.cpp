#include "media/bmp_writer.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <memory>
#include <new>
#include <utility>

namespace flowloom {

namespace {

constexpr int kHeaderBytes = 54;
constexpr size_t kWriteBuffer = size_t{1} << 20;

void PutLittleEndian(unsigned char* at, uint32_t value, int count) {
    for (int i = 0; i < count; ++i) at[i] = static_cast<unsigned char>(value >> (8 * i));
}

}  // namespace

int WriteBmp24(int width, int height, const unsigned char* pixels, const char* path) {
    const int64_t row_bytes = int64_t{width} * 3;
    const int64_t stride = (row_bytes + 3) / 4 * 4;
    const int64_t file_size = stride * height + kHeaderBytes;
    // Sizes that no reader could take back (or that the 32-bit size field cannot hold)
    // fail like a file that cannot be created: the caller sees one kind of failure.
    const bool writable =
        pixels && path && width > 0 && height > 0 && file_size <= std::numeric_limits<uint32_t>::max();
    std::FILE* file = writable ? std::fopen(path, "wb") : nullptr;
    if (!file) {
        std::printf("Failed to create %s for writing!\n", path ? path : "");
        return 0;
    }

    unsigned char header[kHeaderBytes] = {'B', 'M'};
    PutLittleEndian(header + 2, static_cast<uint32_t>(file_size), 4);
    PutLittleEndian(header + 10, kHeaderBytes, 4);  // pixel data offset
    PutLittleEndian(header + 14, 40, 4);            // info header size
    PutLittleEndian(header + 18, static_cast<uint32_t>(width), 4);
    // A positive height: rows are stored bottom-up.
    PutLittleEndian(header + 22, static_cast<uint32_t>(height), 4);
    PutLittleEndian(header + 26, 1, 2);   // planes
    PutLittleEndian(header + 28, 24, 2);  // bits per pixel
    // Compression, image size, resolutions and colour counts stay 0.

    // Rows go out through a large buffer: a few big writes instead of one per row. Without
    // the memory the default buffer serves as before. It must outlive the fclose below.
    const std::unique_ptr<char[]> buffer(new (std::nothrow) char[kWriteBuffer]);
    if (buffer) std::setvbuf(file, buffer.get(), _IOFBF, kWriteBuffer);
    bool ok = std::fwrite(header, 1, kHeaderBytes, file) == kHeaderBytes;
    const unsigned char zeros[3] = {};
    const size_t padding = static_cast<size_t>(stride - row_bytes);
    for (int64_t y = height - 1; ok && y >= 0; --y) {
        ok = std::fwrite(pixels + y * row_bytes, 1, static_cast<size_t>(row_bytes), file) ==
             static_cast<size_t>(row_bytes);
        if (ok && padding) ok = std::fwrite(zeros, 1, padding, file) == padding;
    }
    // Buffered data reaches the file only at close, so a full disk may show only here.
    if (std::fclose(file) != 0) ok = false;
    if (!ok) {
        std::printf("Failed to create %s for writing!\n", path);
        return 0;
    }
    return 1;
}

void MirrorImage24(int width, int height, unsigned char* pixels, char mode) {
    if (!pixels || width <= 0 || height <= 0) return;
    const int64_t row_bytes = int64_t{width} * 3;
    if (mode == 'H' || mode == 'h') {
        for (int64_t y = 0; y < height; ++y) {
            unsigned char* row = pixels + y * row_bytes;
            // Swap whole pixels so the three bytes of each keep their order.
            for (int64_t left = 0, right = width - 1; left < right; ++left, --right)
                std::swap_ranges(row + left * 3, row + left * 3 + 3, row + right * 3);
        }
    } else if (mode == 'V' || mode == 'v') {
        for (int64_t top = 0, bottom = height - 1; top < bottom; ++top, --bottom)
            std::swap_ranges(pixels + top * row_bytes, pixels + (top + 1) * row_bytes, pixels + bottom * row_bytes);
    }
}

void* ReverseBytes4(void* word) {
    auto* bytes = static_cast<unsigned char*>(word);
    std::swap(bytes[0], bytes[3]);
    std::swap(bytes[1], bytes[2]);
    return word;
}

}  // namespace flowloom
