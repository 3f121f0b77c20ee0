// The animation's frame files are read back from disk for playback and for the AVI
// export, and anyone may have replaced them: any byte string is a frame file. It is read
// through its path, as the window reads it (a file of known length), and must give
// exactly what the byte-by-byte stream read gives without knowing the length.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "media/bmp_reader.h"
#include "media/malloc_buffer.h"

namespace {

// One scratch file per fuzzing process, rewritten for every input.
const char* FramePath() {
    static char path[] = "/tmp/flowloom-frame-fuzz-XXXXXX";
    static const int fd = [] {
        const int created = mkstemp(path);
        if (created < 0) std::abort();
        std::atexit([] { unlink(path); });
        return created;
    }();
    (void)fd;
    return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;  // fmemopen refuses an empty buffer
    const char* path = FramePath();
    std::FILE* out = std::fopen(path, "wb");
    if (!out) std::abort();
    if (std::fwrite(data, 1, size, out) != size || std::fclose(out) != 0) std::abort();

    flowloom::BmpReader reader;
    int width = 0;
    int height = 0;
    const flowloom::MallocBuffer<unsigned char> frame(reader.Read(path, width, height));

    std::FILE* stream = fmemopen(const_cast<uint8_t*>(data), size, "rb");
    if (!stream) return 0;
    int stream_width = 0;
    int stream_height = 0;
    const flowloom::MallocBuffer<unsigned char> streamed(reader.ReadStream(stream, stream_width, stream_height));
    std::fclose(stream);

    if (!frame != !streamed || width != stream_width || height != stream_height) std::abort();
    if (frame && std::memcmp(frame.get(), streamed.get(), static_cast<size_t>(width) * height * 3) != 0) std::abort();
    return 0;
}
