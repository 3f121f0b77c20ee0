#pragma once

#include <cmath>

namespace flowloom {

// The cell-exit streamline stepper shared by every pass that traces streamlines (the
// plain convolution, the progressive passes, the animation, the colour-image LIC). The
// passes differ in what they accumulate, not in how they step.
//
// Within a cell the vector is constant and each step runs to where the straight line
// leaves the cell. Stored values are floats; each expression is evaluated in double and
// rounded once where it is stored, so the result does not depend on the compiler's
// choice of precision.

inline constexpr float kStepEpsilon = 0.0004f;       // moves a point on a cell edge into the next cell
inline constexpr float kComponentThreshold = 0.05f;  // a smaller component does not limit the step
inline constexpr float kNoExit = 1000000.0f;

// What a streamline does at the edge of the grid along one axis.
enum class Boundary : unsigned char {
    kClosed,    // it ends there (the leaving step is counted)
    kPeriodic,  // it continues across the opposite edge: the field repeats with the grid's period
};

// How the stepper reads the field; the defaults are the plain stepper.
struct StreamlineModes {
    Boundary boundary_x = Boundary::kClosed;
    Boundary boundary_y = Boundary::kClosed;
    // The field is defined only up to its sign (polarisation angles, eigenvectors, fibre
    // directions): each step takes the sample's vector with the sign that continues the
    // previous step (see OrientLike), so the picture does not depend on the input's signs.
    bool orientation = false;
};

struct StreamlineGrid {
    StreamlineGrid() = default;
    StreamlineGrid(const float* vectors_in, int width_in, int height_in, StreamlineModes modes_in = {})
        : vectors(vectors_in), width(width_in), height(height_in), modes(modes_in) {}

    const float* vectors = nullptr;  // (vx, vy) per sample, row-major
    int width = 0;
    int height = 0;
    StreamlineModes modes;
};

// A coordinate on a periodic axis of `size` cells moved into [0, size) by whole periods.
// The quotient's floor and the difference are taken in double and rounded once; a result
// that rounds up to `size` is the same point as 0. A point inside is returned as it is; an
// undefined one stays undefined, so it still ends the streamline.
inline float WrapCoordinate(float p, int size) {
    const double periods = std::floor(static_cast<double>(p) / size);
    const float wrapped = static_cast<float>(p - periods * size);
    return wrapped == static_cast<float>(size) ? 0.0f : wrapped;
}

// The cell, along one axis of `size` cells, of the texture sample under a step from a to
// b. The midpoint is a stored working value: it is rounded to float before its cell is
// taken. A vector shorter than the threshold in both axes (an interpolated one) takes one
// step as long as the remaining arc length, which can end far outside the grid, so on a
// closed axis the cell is clamped into the grid and the lookup always reads a real sample;
// on a periodic axis the midpoint wraps.
inline int MidpointCell(float a, float b, int size, Boundary boundary = Boundary::kClosed) {
    const float m = static_cast<float>((static_cast<double>(a) + b) * 0.5);
    if (boundary == Boundary::kPeriodic && !(m >= 0.0f && m < size)) {
        const float wrapped = WrapCoordinate(m, size);
        return wrapped >= 0.0f && wrapped < size ? static_cast<int>(wrapped) : 0;
    }
    return m >= 0.0f ? (m < size ? static_cast<int>(m) : size - 1) : 0;
}

// The sign of the sample's vector (vx, vy) on an orientation field: the one whose dot
// product with the previous step's vector (px, py) is positive. At right angles, and at the
// start (px = py = 0), the one with vx > 0, or vy > 0 when vx = 0. Either sign of the input
// gives the same vector. The products of floats are exact in double and the sum is rounded
// once, so the sign of the dot product is exact.
inline void OrientLike(float& vx, float& vy, float px, float py) {
    const double dot = static_cast<double>(vx) * px + static_cast<double>(vy) * py;
    const bool backward = vx < 0.0f || (vx == 0.0f && vy < 0.0f);
    if (dot < 0.0 || (!(dot > 0.0) && backward)) {
        vx = -vx;
        vy = -vy;
    }
}

// What ended one half of a streamline.
enum class TraceEnd {
    kNothing,          // L not above 0 or no step allowed: contributes nothing
    kCriticalAtStart,  // the pixel's own vector is zero: the caller weighs it 1, sums 0
    kCritical,         // reached a zero vector
    kLength,           // reached arc length L
    kBorder,           // left the grid (the leaving step is counted)
    kStepLimit,        // took max_steps steps
};

// Follows the streamline through the centre of pixel (row, col), downstream or upstream
// (vectors negated), for arc length `length`, at most `max_steps` steps. For each step
// calls visit(s, sample): s the arc length reached (clipped to `length`), sample the
// index of the texture sample under the step's midpoint, clamped into the grid (wrapped
// on a periodic axis). On a periodic axis the position wraps after each step instead of
// leaving the grid.
template <class Visit>
inline TraceEnd TraceStreamline(const StreamlineGrid& grid, int row, int col, bool upstream, float length,
                                int max_steps, Visit&& visit) {
    if (!(length > 0.0f) || max_steps <= 0) return TraceEnd::kNothing;
    const int width = grid.width;
    const int height = grid.height;
    float x = static_cast<float>(col + 0.5);
    float y = static_cast<float>(row + 0.5);
    float s = 0.0f;
    const StreamlineModes modes = grid.modes;
    float px = 0.0f;  // an orientation field's previous vector, before an upstream half's negation
    float py = 0.0f;
    for (int step = 0; step < max_steps; ++step) {
        const int ci = static_cast<int>(x);
        const int ri = static_cast<int>(y);
        const float* v = grid.vectors + 2 * (static_cast<long>(ri) * width + ci);
        float vx = v[0];
        float vy = v[1];
        if (vx == 0.0f && vy == 0.0f) return step == 0 ? TraceEnd::kCriticalAtStart : TraceEnd::kCritical;
        if (modes.orientation) {
            OrientLike(vx, vy, px, py);
            px = vx;
            py = vy;
        }
        if (upstream) {
            vx = -vx;
            vy = -vy;
        }
        float t = kNoExit;
        if (vx < -kComponentThreshold)
            t = static_cast<float>((ci - static_cast<double>(x)) / vx);
        else if (vx > kComponentThreshold)
            t = static_cast<float>((ci + 1 - static_cast<double>(x)) / vx);
        if (vy < -kComponentThreshold) {
            const float ty = static_cast<float>((ri - static_cast<double>(y)) / vy);
            if (ty < t) t = ty;
        } else if (vy > kComponentThreshold) {
            const float ty = static_cast<float>((ri + 1 - static_cast<double>(y)) / vy);
            if (ty < t) t = ty;
        }
        const float s_prev = s;
        s = static_cast<float>(static_cast<double>(s) + t);
        float advance = static_cast<float>(static_cast<double>(t) + kStepEpsilon);
        if (s > length) {
            s = length;
            advance = static_cast<float>(static_cast<double>(length) - s_prev);
        }
        const float nx = static_cast<float>(x + static_cast<double>(vx) * advance);
        const float ny = static_cast<float>(y + static_cast<double>(vy) * advance);
        const int sc = MidpointCell(x, nx, width, modes.boundary_x);
        const int sr = MidpointCell(y, ny, height, modes.boundary_y);
        visit(s, static_cast<long>(sr) * width + sc);
        x = nx;
        y = ny;
        if (modes.boundary_x == Boundary::kPeriodic && !(x >= 0.0f && x < width)) x = WrapCoordinate(x, width);
        if (modes.boundary_y == Boundary::kPeriodic && !(y >= 0.0f && y < height)) y = WrapCoordinate(y, height);
        if (!(x >= 0.0f && x < width && y >= 0.0f && y < height)) return TraceEnd::kBorder;
        if (!(s < length)) return TraceEnd::kLength;
    }
    return TraceEnd::kStepLimit;
}

// The weight bookkeeping of a LIC half: each step weighs its sample by the difference of
// successive kernel-table entries, so a half's weights sum to the kernel integral over the
// arc length actually reached.
struct KernelWalk {
    const float* table;
    float sigma;        // 2047 / L
    float last = 0.0f;  // K: the last table value, also the half's total weight

    // The table entry looked up for arc length s: floor(s * 2047 / L), kept in the table.
    static int Entry(float s, float sigma) {
        int k = static_cast<int>(static_cast<double>(s) * sigma);
        if (k > 2047) k = 2047;
        if (k < 0) k = 0;
        return k;
    }
    // The weight of a step whose arc length maps to entry k: the table's rise since the
    // previous step.
    float WeighEntry(int k) {
        const float value = table[k];
        const float weight = static_cast<float>(static_cast<double>(value) - last);
        last = value;
        return weight;
    }
    // The weight of a step that reached arc length s.
    float Weigh(float s) { return WeighEntry(Entry(s, sigma)); }
};

// Real-to-byte conversion of every LIC pass: clamp, then truncate toward zero; an
// undefined value (0/0) counts as below the range.
inline unsigned char ClampToByte(double v) {
    if (!(v > 0.0)) return 0;
    if (v > 255.0) return 255;
    return static_cast<unsigned char>(v);
}

// A pixel's value from its downstream and upstream sums and weights. The quotient is a
// stored working value: it is rounded to float before it is clamped and truncated.
inline unsigned char LicValue(float sum0, float sum1, float weight0, float weight1) {
    const float v = static_cast<float>((static_cast<double>(sum0) + sum1) / (static_cast<double>(weight0) + weight1));
    return ClampToByte(v);
}

// The plain LIC of one pixel: the kernel-weighted average of `texture` along its
// streamline, downstream with `forward` and upstream with `backward`. A pixel on a zero
// vector weighs 1 with sum 0 in each half, so it comes out black.
inline unsigned char ConvolvePixel(const StreamlineGrid& grid, const unsigned char* texture, const float* forward,
                                   const float* backward, float length, float sigma, int max_steps, int row, int col) {
    const float* tables[2] = {forward, backward};
    float sum[2] = {0.0f, 0.0f};
    float weight[2] = {0.0f, 0.0f};
    for (int d = 0; d < 2; ++d) {
        KernelWalk walk{tables[d], sigma};
        float acc = 0.0f;
        const TraceEnd end = TraceStreamline(grid, row, col, d == 1, length, max_steps, [&](float s, long sample) {
            const float w = walk.Weigh(s);
            acc = static_cast<float>(acc + static_cast<double>(texture[sample]) * w);
        });
        sum[d] = acc;
        weight[d] = end == TraceEnd::kCriticalAtStart ? 1.0f : walk.last;
    }
    return LicValue(sum[0], sum[1], weight[0], weight[1]);
}

}  // namespace flowloom
