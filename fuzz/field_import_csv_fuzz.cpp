// Feeds arbitrary text, behind a header line, to the CSV importer. A success must deliver a
// whole field within the size limit; a failure must say why.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz/field_import_check.h"
#include "fieldio/field_import.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // The first byte picks a header, so the body is read as points rather than sniffed away.
    if (size < 1) return 0;
    static const char* const kHeaders[] = {"x,y,u,v\n", "lon,lat,v,u\n", "x,y,h\n", "y,x,speed,u,v\n"};
    const std::string header = kHeaders[data[0] % 4];
    std::vector<unsigned char> bytes(header.begin(), header.end());
    bytes.insert(bytes.end(), data + 1, data + size);
    flowloom::ImportOptions options;
    options.gradient = data[0] / 4 % 3;
    // Some inputs also colour by a column: the fourth header's speed beside its u and v.
    if (data[0] % 4 == 3 && data[0] / 16 % 2) options.color_var = "speed";
    ImportAndCheck(bytes, options);
    return 0;
}
