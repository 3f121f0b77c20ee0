#pragma once

#include <string>
#include <vector>

#include "fieldio/field_geometry.h"
#include "media/malloc_buffer.h"

namespace flowloom {

// Fields from other programs' files: NumPy (.npy, .npz), NetCDF (classic and netCDF-4) and
// CSV tables, told apart by their content, never their name. Anything else is left to the
// .vec readers. Every importer turns its file into the engine's field: width x height
// samples of (vx, vy) floats, row 0 at the top as displayed, vx to the right, vy downwards.
// Values are computed in double and rounded to float once. Missing data (NaN, a fill or
// missing value, an absent CSV point) becomes NaN, which the engine masks.
//
// Orientation: a NumPy array is taken in the field file's own convention (row 0 at the
// top, the second component downwards), so it holds the same numbers as a .vec would.
// NetCDF and CSV grids are geographic: their second component (v, northward) points up,
// so vy = -v; a NetCDF y (latitude) coordinate that runs south to north, and a CSV grid
// always, put their largest y in row 0 so that north is at the top; a NetCDF x coordinate
// that runs east to west is turned around likewise.

enum class FieldFormat { kVec, kNpy, kNpz, kNetcdf, kCsv };

// What the first bytes of a file say it is; kVec for anything not imported here, and for
// a file that cannot be read (the .vec readers then report it as they always have).
FieldFormat SniffFieldFormat(const char* path);
const char* FieldFormatName(FieldFormat format);

// How every message that refuses ImportOptions::color_var begins, after the path and ": ",
// so that a front end can tell a colour option that does not fit the file from a bad file.
inline constexpr char kColorVariableRefused[] = "colour variable";

enum ImportGradient { kGradientNone = 0, kGradientDownhill = 1, kGradientUphill = 2 };

// Which data to take from a file. Empty names take the defaults: for NetCDF the pair whose
// CF standard_names are eastward_X / northward_X, else the variables `u` and `v`; for
// .npz the arrays `u` and `v` or a single array; for CSV the columns u and v (or vx, vy).
// A scalar (scalar_var, or a file holding only one grid) becomes the field of its
// gradient: central differences inside, one-sided at the borders, in grid units along the
// rows and columns as displayed; downhill (the default) points against it.
//
// Coordinates (see Coordinates): kIndex takes the numbers as steps in samples, as always. kGrid and kGeographic convert by the file's 1-D coordinates (NetCDF: the
// coordinate variables of the grid's two dimensions; CSV: its x/y or lon/lat columns, which
// may then be unevenly spaced); NumPy files have none and are refused. A gradient is then
// taken in the coordinates' units before it is converted. kAuto, the default, is geographic
// when a NetCDF file's coordinates carry CF longitude/latitude units, and kIndex otherwise.
//
// Orientation inputs, fields defined up to their sign: `angle_var` names an angle grid in
// the variable's units (degrees or radians; `angle_units` overrides them, and is needed
// where the file has no units), which becomes unit vectors (cos, sin); `stokes_q` and
// `stokes_u` name a Stokes pair, which becomes unit vectors at 1/2 atan2(U, Q) with the
// polarised intensity sqrt(Q^2 + U^2) as the magnitude for colouring. Angles count from the
// first component towards the second, in the file's own convention (north or up for NetCDF
// and CSV). Neither goes with u_var, v_var, scalar_var or a gradient.
struct ImportOptions {
    std::string u_var;
    std::string v_var;
    std::string scalar_var;
    int gradient = kGradientNone;  // an ImportGradient
    int time_index = 0;            // NetCDF: index along a time dimension
    int level_index = 0;           // NetCDF: index along a level (vertical) dimension
    // A CF longitude/latitude grid means positions on the sphere, so it is traced as one
    // unless asked otherwise; every other file is taken in samples, as always.
    Coordinates coordinates = Coordinates::kAuto;
    std::string angle_var;
    std::string angle_units;  // "degrees" or "radians" (or a CF spelling); empty: the file's
    std::string stokes_q;
    std::string stokes_u;
    // A second grid of the file that colours the picture instead of the magnitude: a NetCDF
    // variable, an .npz array or a CSV column, read by the same rules as the field (scale,
    // offset, fill and missing values, the flips, the time and level indices) and refused
    // unless it lies on the field's grid. Empty: none.
    std::string color_var;
};

struct ImportedField {
    int width = 0;
    int height = 0;
    MallocBuffer<float> vectors;  // 2 * width * height floats
    std::string name;             // the field's name as the file gives it, or empty
    std::string units;            // its units, or empty
    // The physical magnitude of each sample for colouring (NaN where missing), where the
    // vectors' lengths are not it: after a coordinate conversion, and for Stokes and angle
    // inputs. Absent otherwise: the vectors' own lengths are the magnitudes.
    MallocBuffer<float> magnitudes;
    Coordinates coordinates = Coordinates::kIndex;  // as applied (kAuto resolved)
    // A geographic grid whose longitudes go round the globe: streamlines may cross the
    // left and right edges. A repeated last column has been dropped.
    bool periodic_x = false;
    // From an angle or Stokes input: each vector stands for a direction up to its sign.
    bool orientation = false;
    // ImportOptions::color_var on the field's grid (a dropped repeated column dropped from
    // it too), NaN where missing; absent without one. Its name and units label a colour bar.
    MallocBuffer<float> color_scalar;
    std::string color_name;
    std::string color_units;
    // The grid's coordinates as displayed (columns left to right, rows top to bottom, a
    // dropped repeated column dropped), for a reader of positions; no values where the file
    // gives none.
    FieldAxis x_axis;
    FieldAxis y_axis;
    // The field in the file's own units, interleaved (x or east, y or north; NaN where
    // missing), where `vectors` were converted from them by the coordinates. Absent otherwise.
    MallocBuffer<float> components;
};

// Whether `options` ask for what only a NumPy, NetCDF or CSV file can give: coordinates to
// convert by (grid or geographic) or an angle or Stokes input. A .vec file has none of them,
// so such a request on one is an error, not something to ignore.
bool ImportNeedsImportedFile(const ImportOptions& options);

// Reads `path` (any format of FieldFormat but kVec). 1 on success; 0 with a one-line
// message naming the file and what is wrong in `error`, and `field` untouched. Sides above
// kMaxFieldSide (4000) and every size that the file cannot hold are refused before
// anything is allocated.
int ImportFieldFile(const char* path, const ImportOptions& options, ImportedField& field, std::string& error);

// The same for a file already in memory (NumPy and CSV only; NetCDF is read from a path).
// `name` stands for the file in messages.
int ImportFieldBytes(const std::vector<unsigned char>& bytes, const char* name, const ImportOptions& options,
                     ImportedField& field, std::string& error);

// Writes a field as it is (no normalisation; NaN stays NaN, so a masked sample reads back
// masked) to a little-endian binary .vec file: the two-integer header when the width lies
// in 4..3999, else the three-integer one (2, width, height), which every width can use.
// 1, or 0 with `error` set when the file cannot be written.
int WriteVecFile(const char* path, int width, int height, const float* vectors, std::string& error);

// One grid-shaped variable of a file, for a chooser: its name, what it is, and the counts
// along its leading (time and level) dimensions, 0 where it has none.
struct ImportVariable {
    std::string name;
    std::string long_name;
    std::string units;
    std::string standard_name;
    int width = 0;
    int height = 0;
    int times = 0;
    int levels = 0;
};

struct ImportContents {
    FieldFormat format = FieldFormat::kVec;
    std::vector<ImportVariable> variables;
    ImportOptions defaults;  // what ImportFieldFile takes when no name is given
};

// Lists the grids of a NetCDF or .npz file (one entry for .npy and CSV). 1 on success, 0
// with a message in `error`.
int DescribeFieldFile(const char* path, ImportContents& contents, std::string& error);

// Whether a user should be asked what to take from a NetCDF or .npz file: more than two
// grids, no default choice, or a time or level dimension with more than one index.
bool ImportNeedsChoice(const ImportContents& contents);

// The gradient of a width x height scalar grid as (vx, vy) pairs into `vectors`, in double
// and rounded once, uphill or downhill (negated). Central differences where both
// neighbours along an axis have data, one-sided where one is outside the grid or missing
// (NaN), 0 where both are; a missing sample itself gives (NaN, NaN).
void ScalarGradient(const double* scalar, int width, int height, int gradient, float* vectors);

}  // namespace flowloom
