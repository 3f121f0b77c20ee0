// libFuzzer driver: any byte string is a JPEG file to libjpeg's decode path as we drive it.
#include "fuzz/photo_stream_fuzz.h"
#include "media/jpeg_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    return FuzzPhotoStream(data, size, flowloom::ReadJpegStream);
}
