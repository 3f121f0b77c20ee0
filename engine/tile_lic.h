#pragma once

#include "lic/streamline.h"

namespace flowloom {

// The LIC of one tile of a field that is never held whole (a field split into chunks on a
// cluster). The tile's pixels are computed in the coordinates of the whole grid, so every
// streamline takes exactly the steps, with exactly the roundings, that it takes in the whole
// grid, and the tile equals that part of the whole picture byte for byte, provided the tile
// comes with a halo of LicHalo samples of field and texture on every side (clipped to the
// grid on a closed axis).
//
// On a periodic axis the halo wraps: a streamline that leaves one edge continues across the
// opposite one, so a tile at an edge needs the samples across it. The window then reaches
// past the grid's edge, its first row or column negative or its end beyond the grid, by up
// to one period each way, and holds there the samples of the opposite side (rows or columns
// taken modulo the grid's side), as a halo exchange that wraps hands them over. A window as
// wide as the grid's axis covers every halo of that axis.

// How many samples a half-streamline can reach from its own pixel along either axis, for arc
// length `length`, at most `max_steps` steps, on a grid no side of which exceeds `grid_side`.
// Derived from the stepping rules, per axis and per step n <= max_steps:
//  - the arc bound, for any vector of length <= 1: a step advances t + 0.0004, or just what is
//    left of the arc length when it is clipped (so the long step of a vector shorter than 0.05
//    in both components, t = 1e6, moves no further than the arc that remains); the t add up to
//    the arc length reached, at most `length`, give or take the rounding of the stored arc
//    length (below an ulp of `length` per step). Reach <= length + n (0.0004 + ulp(length)).
//  - the step bound, for unit vectors only: a step ends where the line leaves its cell, so it
//    moves at most one cell plus the epsilon along either axis. Reach <= n (1 + 0.0004 + ulp).
//  - each stored coordinate is rounded to float once per step: at most an ulp of the grid's
//    side more per step.
// The smaller bound, widened by 2^-20 for the rounding of the vector and of each product,
// plus the coordinate roundings, rounded up. A texture sample lies under the midpoint of a
// step, which lies between two points already bounded.
int LicHalo(float length, int max_steps, int grid_side, bool unit_vectors);

// The largest MagLIC kernel length (as the convolution takes it from a mapped magnitude) of
// `count` magnitudes; 0 when count <= 0.
float LargestMagLicLength(long count, const float* magnitudes);

// A window of a grid_width x grid_height grid: rows row0.. and columns col0.. of it. On a
// periodic axis of `modes` the window may reach past the grid's edges (see above): row r of
// the window is then grid row (row0 + r) modulo grid_height, and likewise for columns.
struct LicTile {
    int grid_width = 0;
    int grid_height = 0;
    int row0 = 0;
    int col0 = 0;
    int rows = 0;
    int cols = 0;
    const float* vectors = nullptr;          // rows x cols (vx, vy), unit or zero
    const unsigned char* texture = nullptr;  // rows x cols
    const float* magnitudes = nullptr;       // rows x cols mapped magnitudes, read for MagLIC
    StreamlineModes modes;                   // the whole grid's boundaries and orientation
};

struct TileRegion {
    int row0 = 0;
    int col0 = 0;
    int rows = 0;
    int cols = 0;
};

// Writes the LIC of the pixels of `region` (grid coordinates, inside the grid and the window)
// into `out` (region.rows x region.cols), each pixel as LicEngine::ConvolveLic computes it on
// the whole grid with the same tables, kernel length, MagLIC flag and modes (without the
// grey-level stretch of sparse noise, which needs the whole picture). Returns 1; 0 with `out`
// untouched when an input is absent or out of range, the window lacks part of the halo the
// region needs, or memory runs out. Rows run in parallel; the result is the same for every thread count.
int ConvolveLicTile(const LicTile& tile, const TileRegion& region, const float* kernel_fwd, const float* kernel_bwd,
                    int kernel_length, bool mag_lic, unsigned char* out);

}  // namespace flowloom
