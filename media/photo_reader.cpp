#include "media/photo_reader.h"

#include <cstdio>
#include <string>

#include "media/jpeg_reader.h"
#include "media/png_reader.h"
#include "media/regular_file.h"

namespace flowloom {

void DescribeOversize(char* text, size_t size, unsigned width, unsigned height) {
    std::snprintf(text, size, "%u x %u pixels are beyond the limit of %d per side and %lld in all", width, height,
                  kPhotoMaxSide, static_cast<long long>(kPhotoMaxPixels));
}

unsigned char* ReadPhotoImage24(const char* path, int& width, int& height, std::string* failure) {
    long length = 0;
    std::FILE* file = OpenRegularFile(path, length);
    if (!file) {
        std::printf("Failed to read image %s: cannot open it\n", path ? path : "");
        if (failure) *failure = "it cannot be opened";
        return nullptr;
    }
    unsigned char head[8] = {};
    const size_t got = std::fread(head, 1, sizeof head, file);
    std::rewind(file);
    std::string error = "neither a PNG nor a JPEG file";
    unsigned char* pixels = nullptr;
    if (HasPngSignature(head, got)) {
        pixels = ReadPngStream(file, width, height, &error);
    } else if (HasJpegSignature(head, got)) {
        pixels = ReadJpegStream(file, width, height, &error);
    }
    std::fclose(file);
    if (!pixels) {
        std::printf("Failed to read image %s: %s\n", path, error.c_str());
        if (failure) *failure = error;
    }
    return pixels;
}

}  // namespace flowloom
