#pragma once

#include <cstdint>
#include <string>
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

}  // namespace flowloom::import_detail
