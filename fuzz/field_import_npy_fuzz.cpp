// Feeds arbitrary bytes to the NumPy importer, as .npy (and, when they start like a zip
// archive, as .npz). A success must deliver a whole field within the size limit; a failure
// must say why.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz/field_import_check.h"
#include "fieldio/field_import.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<unsigned char> bytes(data, data + size);
    if (size < 6 || bytes[0] != 0x93) {
        // Steer most inputs into the .npy reader rather than the sniffer's other branches.
        const unsigned char magic[] = {0x93, 'N', 'U', 'M', 'P', 'Y'};
        if (!(size >= 2 && bytes[0] == 'P' && bytes[1] == 'K')) bytes.insert(bytes.begin(), magic, magic + 6);
    }
    flowloom::ImportOptions options;
    options.gradient = size % 3;
    ImportAndCheck(bytes, options);
    return 0;
}
