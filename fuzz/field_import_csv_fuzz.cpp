// Feeds arbitrary text, behind a header line, to the CSV importer. A success must deliver a
// whole field within the size limit; a failure must say why.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "lic/field_import.h"
#include "lic/field_mask.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // The first byte picks a header, so the body is read as points rather than sniffed away.
    if (size < 1) return 0;
    static const char* const kHeaders[] = {"x,y,u,v\n", "lon,lat,v,u\n", "x,y,h\n", "y,x,speed,u,v\n"};
    const std::string header = kHeaders[data[0] % 4];
    std::vector<unsigned char> bytes(header.begin(), header.end());
    bytes.insert(bytes.end(), data + 1, data + size);
    flowloom::ImportOptions options;
    options.gradient = data[0] / 4 % 3;
    flowloom::ImportedField field;
    std::string error;
    if (flowloom::ImportFieldBytes(bytes, "fuzz", options, field, error)) {
        if (!field.vectors || field.width < 1 || field.height < 1 || field.width > flowloom::kMaxFieldSide ||
            field.height > flowloom::kMaxFieldSide)
            std::abort();
        volatile float last = field.vectors[2 * static_cast<size_t>(field.width) * field.height - 1];
        (void)last;
    } else if (error.empty() || field.vectors) {
        std::abort();
    }
    return 0;
}
