// Feeds arbitrary bytes to the binary field reader as a whole file.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "lic/field_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;  // fmemopen refuses an empty buffer
    std::FILE* stream = fmemopen(const_cast<uint8_t*>(data), size, "rb");
    if (!stream) return 0;
    int width = 7;
    int height = 9;
    float* field = flowloom::LoadBinaryDataStream(width, height, stream, "fuzz.vec", static_cast<long>(size));
    if (field) {
        // Touch the last sample: the reader promised 2 * width * height floats.
        volatile float last = field[2 * static_cast<size_t>(width) * static_cast<size_t>(height) - 1];
        (void)last;
        std::free(field);
    } else if (width != 7 || height != 9) {
        std::abort();  // a failed read must leave the dimensions alone
    }
    std::fclose(stream);
    return 0;
}
