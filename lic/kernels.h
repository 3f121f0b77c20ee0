#pragma once

namespace flowloom {

// Entries of each kernel integral table. Entry i holds the integral of the kernel from
// arc length 0 to i * L / 2048; a LIC step looks up entry floor(s * 2047 / L).
inline constexpr int kKernelTableSize = 2048;

// The scale from arc length to table entry for a kernel of arc length `length`: a step
// that reached arc length s weighs by entry floor(s * KernelTableScale(length)).
inline float KernelTableScale(float length) {
    return static_cast<float>(static_cast<double>(kKernelTableSize - 1) / length);
}

// The MagLIC kernel length of a pixel: 1.5 pixels at the smallest mapped magnitude,
// growing by one pixel per six units of magnitude.
inline constexpr float kMagLicShortest = 1.5f;
inline constexpr float kMagLicPerUnit = 0.16666667f;
inline float MagLicLength(float magnitude) {
    return static_cast<float>((static_cast<double>(magnitude) - 1.0) * kMagLicPerUnit + kMagLicShortest);
}

enum KernelType { kKernelBox = 0, kKernelRamp = 1, kKernelHanning = 2 };

// Dispatches by type (any other type builds the box); writes only the two tables.
// Null tables are left alone. A length that is not finite and positive leaves the ramp and
// Hanning tables as they were, like an out-of-range ramp shift (the box needs no length).
void BuildKernelTables(float* forward, float* backward, float length, float ripples, float phase, int kernel_type);

// forward[i] = backward[i] = i, whatever the length.
void BuildBoxKernel(float* forward, float* backward);

// Descending sawtooth over -L..L with its jump at t = shift - L; exact integrals in single
// precision. A shift outside 0 <= shift < 2L (or NaN) leaves both tables as they were.
void BuildRampKernel(float* forward, float* backward, float length, float shift);

// Hanning window times a Hanning ripple of `ripples` periods over -L..L, the ripple
// shifted by `phase` degrees (0 and 360 both mean no shift). Evaluated in double, stored as
// float. One ripple uses the limit of the last term, (1/2) s cos(phase), so that kernel
// integrates correctly too. A non-finite ripple count or phase leaves the tables as they were.
void BuildHanningKernel(float* forward, float* backward, float length, float ripples, float phase);

}  // namespace flowloom
