// Feeds arbitrary bytes to the NetCDF importer as a classic file. The netCDF library reads
// only from a path, so each input is written to a file of this process first. A success
// must deliver a whole field within the size limit; a failure must say why.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "fieldio/field_import.h"
#include "fuzz/field_import_check.h"
#include "lic/field_mask.h"

namespace {

// The file of this process's inputs, removed when the process ends.
struct InputFile {
    std::string path = "/tmp/flowloom-netcdf-fuzz-" + std::to_string(getpid()) + ".nc";
    ~InputFile() { std::remove(path.c_str()); }
};

const std::string& InputPath() {
    static const InputFile file;
    return file.path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 4 || data[0] != 'C' || data[1] != 'D' || data[2] != 'F') return 0;  // classic files only
    const std::string& path = InputPath();
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (!file) return 0;
    const bool written = std::fwrite(data, 1, size, file) == size;
    if (std::fclose(file) != 0 || !written) return 0;

    flowloom::ImportContents contents;
    std::string error;
    if (!flowloom::DescribeFieldFile(path.c_str(), contents, error) && error.empty()) std::abort();
    flowloom::ImportOptions options;
    options.gradient = static_cast<int>(size % 3);
    // Some inputs also colour by the file's first grid, read a second time as a scalar.
    if (size % 2 && !contents.variables.empty()) options.color_var = contents.variables.front().name;
    flowloom::ImportedField field;
    error.clear();
    const int ok = flowloom::ImportFieldFile(path.c_str(), options, field, error);
    CheckImportOutcome(ok, field, error);
    return 0;
}
