// libFuzzer driver: any byte string is a PNG file to libpng's decode path as we drive it.
#include "fuzz/photo_stream_fuzz.h"
#include "media/png_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    return FuzzPhotoStream(data, size, flowloom::ReadPngStream);
}
