// Feeds arbitrary bytes to the SGI reader as a whole file.
#include "fuzz/photo_stream_fuzz.h"
#include "media/sgi_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    return FuzzPhotoStream(data, size, [size](std::FILE* stream, int& width, int& height, std::string*) {
        return flowloom::ReadSgiImage24Stream(stream, static_cast<long>(size), width, height);
    });
}
