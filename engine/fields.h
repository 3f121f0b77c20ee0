#pragma once

namespace flowloom {

// The analytic fields. Each fills width x height vectors (vx, vy) of `vectors`, row 0 at
// the top, vx along the columns and vy along the rows. A grid one sample wide or high
// uses a factor of 0 on that axis instead of dividing by zero; an empty grid writes nothing.
// The result does not depend on the thread count.
void MakeSaddleField(float* vectors, int width, int height);
void MakeSpirallingField(float* vectors, int width, int height);
// Forward differences of p = 10y^2 + 5y / (x^2 + y^2); the last row and column keep the
// potential in vx and 0 in vy; an undefined quotient (the centre of an odd grid) gives 0.
// On an odd grid the centre sample (row (height+1)/2, column (width+1)/2) has x = y = 0
// exactly.
void MakeVortexField(float* vectors, int width, int height);
void MakeRepellingField(float* vectors, int width, int height);

// Normalises `count` (vx, vy) pairs in place as the engine normalises a field: a vector whose
// squared length is below 1e-12, or not finite, becomes (0, 0) with length 0; any other
// becomes a unit vector. Each length goes to `lengths` when it is not null.
// Runs on the best instruction set of the machine, with the roundings of the scalar form.
void NormalizeVectorPairs(long count, float* vectors, float* lengths);
// The same one pair at a time: the reference that the vector form is tested against.
void NormalizeVectorPairsScalar(long count, float* vectors, float* lengths);

// Fills by field type 0..3; any other type builds the Saddle field and returns 0
// (the caller then records type 0), else returns the type.
int MakeAnalyticField(int field_type, float* vectors, int width, int height);

// Accepts the inclusive region [left..right] x [top..bottom] of a width x height grid when
// it lies inside the grid and spans at least 5 samples on each axis; otherwise replaces it
// by the whole grid. Returns 1 when accepted as it was, 0 when replaced.
int CheckRegion(int width, int height, int& left, int& top, int& right, int& bottom);

// Samples along one axis of a region first..last zoomed by `scale`: (last-first)*scale+1,
// which for scale 1 is the cut-out last-first+1. A scale below 1 gives 0; a size beyond
// the int range gives the largest int.
int ZoomedSize(int first, int last, int scale);

// Cuts the inclusive region [left..right] x [top..bottom] out of a width-wide field and,
// for scale >= 2, up-samples it bilinearly to (right-left)*scale+1 by
// (bottom-top)*scale+1. Returns the new malloc'd vectors and sets width and height, or
// returns null (scale < 1, a region not inside the grid, or no memory) leaving them alone.
// When `magnitudes` is not null, *magnitudes (width x height floats) is resampled the same
// way, replaced by the new malloc'd array (the old one freed) and mapped onto
// out_low..out_high with the plain-range data map; a null *magnitudes stays null.
// On failure *magnitudes is untouched. The result does not depend on the thread count.
float* ResampleRegion(int& width, int& height, const float* vectors, int left, int top, int right, int bottom,
                      int scale, float** magnitudes, float out_low, float out_high);

// One float per sample of a width x height grid, resampled as ResampleRegion resamples the
// vectors (a NaN spreads to the samples blended with it). The new malloc'd array, or null
// for null values, a region ResampleRegion refuses, or no memory.
float* ResampleScalarRegion(const float* values, int width, int height, int left, int top, int right, int bottom,
                            int scale);

}  // namespace flowloom
