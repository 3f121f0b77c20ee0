#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "fieldio/field_import.h"

// The format readers behind ImportFieldFile; not for use elsewhere.
namespace flowloom::import_detail {

// A grid as a reader delivers it: row 0 at the top as displayed, one or two values per
// sample, NaN where data is missing.
struct ImportGrid {
    int width = 0;
    int height = 0;
    int components = 0;  // 2: (u, v) interleaved; 1: a scalar
    std::vector<double> values;
    bool v_up = false;  // the second component points up (north) rather than down the rows
    std::string name;
    std::string units;
    // The coordinates of the columns and of the rows as displayed; empty values where the
    // file has none.
    FieldAxis x_axis;
    FieldAxis y_axis;
};

// Each returns 1, or 0 with `error` saying what is wrong (without the path, which the
// caller puts in front). `bytes` is the whole file.
int ReadNpy(const std::vector<unsigned char>& bytes, ImportGrid& grid, std::string& error);
int ReadNpz(const std::vector<unsigned char>& bytes, const ImportOptions& options, ImportGrid& grid, std::string& error,
            ImportContents* contents);
int ReadCsv(const std::vector<unsigned char>& bytes, const ImportOptions& options, ImportGrid& grid,
            std::string& error);
int ReadNetcdf(const char* path, const ImportOptions& options, ImportGrid& grid, std::string& error,
               ImportContents* contents);

// A side in 1..kMaxFieldSide; error text otherwise.
bool SideInRange(long long width, long long height, std::string& error);

// Text taken from a file, fit for a one-line message: in single quotes, control characters
// and bytes above 0x7E escaped (\n, \x1b), cut after about 60 characters with "...".
std::string QuoteFileText(std::string_view text);

// A classic NetCDF header longer than this is refused; no grid file needs one.
inline constexpr long kMaxClassicHeaderBytes = 16L << 20;

// Walks a classic NetCDF header (CDF-1, CDF-2, CDF-5): `head` is the start of a file of
// `file_bytes` bytes. False, with the fault in `error`, for a name longer than
// NC_MAX_NAME, a count of dimensions, attributes, variables, values or a variable's
// dimensions that the file cannot hold, an unknown type, a dimension id that does not
// exist, two unlimited dimensions, or a variable whose data begins inside the header or
// ends past the end of the file.
bool CheckClassicNetcdfHeader(const std::vector<unsigned char>& head, uint64_t file_bytes, std::string& error);
// The same on a file; its header is read up to kMaxClassicHeaderBytes.
bool CheckClassicNetcdfFile(const char* path, std::string& error);

}  // namespace flowloom::import_detail
