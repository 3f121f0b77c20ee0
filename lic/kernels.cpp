#include "lic/kernels.h"

#include <cmath>

namespace flowloom {

namespace {

// The ramp and Hanning tables divide by the length; anything else would fill them with
// infinities or NaN.
bool UsableLength(float length) {
    return std::isfinite(length) && length > 0.0f;
}

// Integral over 0..s of cos(w t + phi). A zero frequency (one ripple makes w1 - w2 zero)
// takes the limit s cos(phi) instead of dividing by zero.
double CosineIntegral(double w, double phi, double s) {
    if (w == 0.0) return s * std::cos(phi);
    return (std::sin(w * s + phi) - std::sin(phi)) / w;
}

}  // namespace

void BuildKernelTables(float* forward, float* backward, float length, float ripples, float phase, int kernel_type) {
    switch (kernel_type) {
        case kKernelRamp:
            BuildRampKernel(forward, backward, length, phase);
            break;
        case kKernelHanning:
            BuildHanningKernel(forward, backward, length, ripples, phase);
            break;
        default:
            BuildBoxKernel(forward, backward);
            break;
    }
}

void BuildBoxKernel(float* forward, float* backward) {
    if (forward == nullptr || backward == nullptr) return;
    for (int i = 0; i < kKernelTableSize; ++i) {
        forward[i] = static_cast<float>(i);
        backward[i] = static_cast<float>(i);
    }
}

void BuildRampKernel(float* forward, float* backward, float length, float shift) {
    if (forward == nullptr || backward == nullptr || !UsableLength(length)) return;
    const float L = length;
    // Written as a range test so that a NaN shift is out of range too.
    if (!(shift >= 0.0f && shift < 2.0f * L)) return;

    const float jump = shift - L;         // the sawtooth's jump, -L <= jump < L
    const float head = 2.0f * L - shift;  // (L - t) / head right of the jump
    const float tail = 2.0f * L;          // (jump - t) / tail left of it
    // Each quadratic is kept in factored form: expanded, L*s and s*s/2 nearly cancel
    // near the window's end, and single precision would lose the small increments there.
    for (int i = 0; i < kKernelTableSize; ++i) {
        const float s = static_cast<float>(i) * L / 2048.0f;
        float fwd;
        float bwd;
        if (jump <= 0.0f) {
            // Downstream lies wholly right of the jump; upstream crosses it at s = -jump.
            fwd = s * (L - 0.5f * s) / head;
            if (s <= -jump) {
                bwd = s * (L + 0.5f * s) / head;
            } else {
                const float past = s + jump;
                bwd = jump * (0.5f * jump - L) / head + past * past / (2.0f * tail);
            }
        } else {
            // Upstream lies wholly left of the jump; downstream crosses it at s = jump.
            bwd = s * (jump + 0.5f * s) / tail;
            if (s <= jump) {
                fwd = s * (jump - 0.5f * s) / tail;
            } else {
                fwd = jump * jump / (2.0f * tail) + (s - jump) * (L - 0.5f * (s + jump)) / head;
            }
        }
        forward[i] = fwd;
        backward[i] = bwd;
    }
}

void BuildHanningKernel(float* forward, float* backward, float length, float ripples, float phase) {
    if (forward == nullptr || backward == nullptr || !UsableLength(length)) return;
    if (!std::isfinite(ripples) || !std::isfinite(phase)) return;

    // Evaluated in double and stored as float. The terms are quotients of sine differences
    // by frequencies; with a ripple count near 1 the last frequency is tiny, and single
    // precision would cancel to noise there. The constants stay the single-precision ones.
    const double pi = 3.1415925f;
    const double w1 = pi / length;
    const double w2 = static_cast<double>(ripples) * pi / length;
    // 360 * 0.017453292 misses 2 pi, so a full turn is pinned to 0 like no turn at all.
    const double beta = (phase == 0.0f || phase == 360.0f) ? 0.0 : phase * 0.017453292;

    // k(t) = 1/4 (1 + cos w1 t)(1 + cos(w2 t + beta)) expands into cosines of the
    // frequencies 0, w1, w2, w1 + w2 and w1 - w2; k(-t) flips the sign of each phase.
    for (int i = 0; i < kKernelTableSize; ++i) {
        const double s = i * static_cast<double>(length) / 2048.0;
        const double common = s + CosineIntegral(w1, 0.0, s);
        const double fwd = common + CosineIntegral(w2, beta, s) + 0.5 * CosineIntegral(w1 + w2, beta, s) +
                           0.5 * CosineIntegral(w1 - w2, -beta, s);
        const double bwd = common + CosineIntegral(w2, -beta, s) + 0.5 * CosineIntegral(w1 + w2, -beta, s) +
                           0.5 * CosineIntegral(w1 - w2, beta, s);
        forward[i] = static_cast<float>(0.25 * fwd);
        backward[i] = static_cast<float>(0.25 * bwd);
    }
}

}  // namespace flowloom
