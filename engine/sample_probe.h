#pragma once

#include <string>

#include "engine/lic_engine.h"

namespace flowloom {

// What the engine holds at one pixel of its picture, for a reader of values such as the
// viewer's status line. The picture may be mirrored (flip_rows, flip_columns); the sample
// is the field's own, with the mirroring undone.
struct SampleReadout {
    bool inside = false;  // the pixel lies on the picture
    int column = 0;       // the field's sample
    int row = 0;
    bool masked = false;  // no data there (NaN or a fill value in the file)
    // u, v and their magnitude as the field's file gives them (in `units`, which may be
    // empty), when the engine kept the values as read: u to the right, v as the file's
    // second component points (up for NetCDF and CSV grids, down for .vec and NumPy).
    bool has_vector = false;
    double u = 0.0;
    double v = 0.0;
    double magnitude = 0.0;
    std::string units;
    // Where the sample lies in the file's own coordinates (longitude/latitude or x/y, by
    // their names in the file), through any region zoom and output scale; unset for a field
    // without coordinates.
    bool has_coordinates = false;
    double x = 0.0;
    double y = 0.0;
    std::string x_name;
    std::string y_name;
};

// Reads pixel (x, y) of the picture, x to the right and y down from its top-left corner.
// Outside the x_res x y_res picture the readout has inside = false and nothing else.
SampleReadout ProbeSample(const LicEngine& engine, int x, int y);

}  // namespace flowloom
