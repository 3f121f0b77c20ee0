#include "media/png_writer.h"

#include <zlib.h>

#include <cstdint>
#include <cstdio>
#include <vector>

namespace flowloom {

namespace {

void PutBigEndian32(std::vector<unsigned char>& out, uint32_t v) {
    out.push_back(static_cast<unsigned char>(v >> 24));
    out.push_back(static_cast<unsigned char>(v >> 16));
    out.push_back(static_cast<unsigned char>(v >> 8));
    out.push_back(static_cast<unsigned char>(v));
}

void PutChunk(std::vector<unsigned char>& out, const char type[4], const std::vector<unsigned char>& data) {
    PutBigEndian32(out, static_cast<uint32_t>(data.size()));
    const size_t type_at = out.size();
    out.insert(out.end(), type, type + 4);
    out.insert(out.end(), data.begin(), data.end());
    const uLong crc = crc32(0L, out.data() + type_at, static_cast<uInt>(4 + data.size()));
    PutBigEndian32(out, static_cast<uint32_t>(crc));
}

int Fail(const char* path) {
    std::printf("Failed to create %s for writing!\n", path);
    return 0;
}

}  // namespace

int WritePng24(int width, int height, const unsigned char* pixels, const char* path) {
    // PNG has no empty image: a grid of 0 samples cannot be written.
    if (!pixels || width <= 0 || height <= 0) return Fail(path);
    const size_t row_bytes = 1 + 3 * static_cast<size_t>(width);
    std::vector<unsigned char> raw(row_bytes * static_cast<size_t>(height));
    for (int y = 0; y < height; ++y) {
        unsigned char* dst = raw.data() + y * row_bytes;
        const unsigned char* src = pixels + 3 * static_cast<size_t>(width) * y;
        dst[0] = 0;  // filter type: none
        for (int x = 0; x < width; ++x) {
            dst[1 + 3 * x] = src[3 * x + 2];
            dst[2 + 3 * x] = src[3 * x + 1];
            dst[3 + 3 * x] = src[3 * x];
        }
    }
    uLongf packed_size = compressBound(static_cast<uLong>(raw.size()));
    std::vector<unsigned char> packed(packed_size);
    if (compress2(packed.data(), &packed_size, raw.data(), static_cast<uLong>(raw.size()), 6) != Z_OK)
        return Fail(path);
    packed.resize(packed_size);

    std::vector<unsigned char> file = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
    std::vector<unsigned char> header;
    PutBigEndian32(header, static_cast<uint32_t>(width));
    PutBigEndian32(header, static_cast<uint32_t>(height));
    header.insert(header.end(), {8, 2, 0, 0, 0});  // 8 bits, RGB, deflate, no filter choice, no interlace
    PutChunk(file, "IHDR", header);
    PutChunk(file, "IDAT", packed);
    PutChunk(file, "IEND", {});

    std::FILE* out = std::fopen(path, "wb");
    if (!out) return Fail(path);
    const bool written = std::fwrite(file.data(), 1, file.size(), out) == file.size();
    if (std::fclose(out) != 0 || !written) return Fail(path);
    return 1;
}

}  // namespace flowloom
