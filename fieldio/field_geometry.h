#pragma once

#include <string>
#include <vector>

namespace flowloom {

// What a field's coordinates mean for tracing. The engine steps in samples; a field given
// in physical units on a coordinate grid is converted to samples per step here, once.
//   kIndex       the values are steps in samples already (the .vec convention).
//   kGrid        the two 1-D coordinates give the spacing: vx = u / dx(column), vy = v / dy(row),
//                where dx and dy are the coordinate's change per column and per displayed row,
//                so the sign of the displayed row order is built in. Uneven spacing is fine.
//   kGeographic  kGrid on longitude/latitude in degrees, with the eastward component also
//                divided by cos(latitude): trajectories are the true ones on the sphere,
//                drawn in plate carree. Samples on a row at +-90 degrees are missing (NaN).
//   kAuto        kGeographic when the columns' coordinate carries CF units of degrees_east and
//                the rows' of degrees_north, else kIndex.
enum class Coordinates { kIndex = 0, kGrid = 1, kGeographic = 2, kAuto = 3 };

// "index", "grid", "geographic" or "auto"; false for anything else.
bool ParseCoordinates(const std::string& text, Coordinates& mode);
const char* CoordinatesName(Coordinates mode);

// One axis of a grid as displayed: columns left to right, or rows top to bottom.
struct FieldAxis {
    std::vector<double> values;  // empty when the file gives no coordinate
    std::string name;
    std::string units;
    std::string standard_name;
};

// Longitude and latitude by CF units (degrees_east, degree_E, ...); the lenient forms also
// take a CF standard_name or the names lon/longitude and lat/latitude.
bool HasCfLongitudeUnits(const FieldAxis& axis);
bool HasCfLatitudeUnits(const FieldAxis& axis);
bool IsLongitudeAxis(const FieldAxis& axis);
bool IsLatitudeAxis(const FieldAxis& axis);

// kAuto resolved for the axes of one grid; any other mode as it is.
Coordinates ResolveCoordinates(Coordinates asked, const FieldAxis& x, const FieldAxis& y);

// The conversion of one grid, derived once from its axes.
struct FieldGeometry {
    Coordinates mode = Coordinates::kIndex;
    std::vector<double> dx;       // per column: coordinate change per column
    std::vector<double> dy;       // per row: coordinate change per displayed row
    std::vector<double> cos_lat;  // per row, kGeographic only; 0 on a pole row
    // Longitudes that cover 360 degrees without a repeated column: the grid wraps in x.
    bool periodic_x = false;
    // The last column repeats the first (its longitude 360 degrees on): drop it before use.
    bool drop_last_column = false;
};

// Checks the axes of a width x height grid for `mode` (kIndex and kAuto are not converted
// and always succeed) and derives the spacing. Refused with a message in `error`: an axis
// that is missing, of the wrong length, not finite, or not strictly monotonic (a repeated
// value included); for kGeographic also columns that are not longitude or rows that are not
// latitude, and latitudes beyond +-90. Spacing is the central difference of the coordinate,
// one-sided at the ends, across the seam where the grid wraps in x.
// `width` is the grid's before any repeated column is dropped; the result describes the
// grid after it (width - 1 columns when drop_last_column).
int MakeFieldGeometry(Coordinates mode, const FieldAxis& x, const FieldAxis& y, int width, int height,
                      FieldGeometry& geometry, std::string& error);

// Converts width x height physical components, interleaved (east or x, north or rising y;
// NaN where missing), into the engine's steps in samples (vx to the right, vy down the
// rows) and their physical magnitudes sqrt(u^2 + v^2) (NaN where missing), in double and
// rounded to float once. `magnitudes` may be null.
void ConvertToSampleSteps(const FieldGeometry& geometry, int width, int height, const double* components,
                          float* vectors, float* magnitudes);

// The metric scale of one sample: the physical length of one step along a column (x) or
// row (y), so that a physical gradient is (d/dcolumn / ScaleX, d/drow / ScaleY). ScaleX is
// dx times cos(latitude) for kGeographic; NaN on a pole row.
double ScaleX(const FieldGeometry& geometry, int row, int column);
double ScaleY(const FieldGeometry& geometry, int row);

// Unit vectors (cos, sin) of angles in radians; NaN stays NaN. Stokes Q and U: the angle
// of polarisation 1/2 atan2(U, Q) as a unit vector and the polarised intensity
// sqrt(Q^2 + U^2); Q = U = 0 has no angle and gives a zero vector. `count` pairs, in and out
// interleaved, doubles.
void AnglesToVectors(const double* angles, long count, double* pairs);
void StokesToVectors(const double* qu, long count, double* pairs, double* intensity);

// The factor that turns an angle in `units` into radians: 1 for radians, pi/180 for
// degrees; 0 when the units say neither.
double AngleUnitFactor(const std::string& units);

}  // namespace flowloom
