// Feeds arbitrary text to the text field reader. The grid is not in the file, so the
// first two bytes choose it (0..63 each; 0 must fail cleanly).
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "lic/field_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 3) return 0;  // two grid bytes and a non-empty file for fmemopen
    const int width = data[0] % 64;
    const int height = data[1] % 64;
    std::FILE* stream = fmemopen(const_cast<uint8_t*>(data + 2), size - 2, "r");
    if (!stream) return 0;
    float* field = flowloom::LoadTextDataStream(width, height, stream);
    // A small grid loads whenever the text holds a number before its first garbage; a
    // text without one fails.
    if (field) {
        if (width <= 0 || height <= 0) std::abort();
        volatile float last = field[2 * static_cast<size_t>(width) * static_cast<size_t>(height) - 1];
        (void)last;
        std::free(field);
    }
    std::fclose(stream);
    return 0;
}
