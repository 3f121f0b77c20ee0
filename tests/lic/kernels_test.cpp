#include "lic/kernels.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <limits>
#include <vector>

namespace flowloom {
namespace {

using Table = std::vector<float>;
using Kernel = std::function<double(double)>;

struct Tables {
    Table forward = Table(kKernelTableSize, -123.0f);
    Table backward = Table(kKernelTableSize, -123.0f);
};

Tables Build(int type, float length, float ripples, float phase) {
    Tables t;
    BuildKernelTables(t.forward.data(), t.backward.data(), length, ripples, phase, type);
    return t;
}

// The kernels as functions of the arc length t on -L..L, written from their definitions.
double RampKernel(double L, double shift, double t) {
    const double jump = shift - L;
    if (t >= jump && t <= L) return (L - t) / (2 * L - shift);
    if (t >= -L && t < jump) return (jump - t) / (2 * L);
    return 0.0;
}

double HanningKernel(double L, double ripples, double phase, double t) {
    const double pi = 3.1415925f;
    const double beta = (phase == 0 || phase == 360) ? 0.0 : phase * 0.017453292;
    return 0.25 * (1 + std::cos(pi / L * t)) * (1 + std::cos(ripples * pi / L * t + beta));
}

// Running Simpson integral of k over 0..s_i for every entry, each step split at the
// kernel's breakpoints so that every piece is smooth.
std::vector<double> IntegralTable(float length, const Kernel& k, std::vector<double> breaks) {
    const int pieces_per_part = 8;
    auto simpson = [&](double a, double b) {
        const double h = (b - a) / (2 * pieces_per_part);
        // The ends are taken from inside the piece: a jump may sit on either of them.
        double sum = k(std::nextafter(a, b)) + k(std::nextafter(b, a));
        for (int j = 1; j < 2 * pieces_per_part; ++j) sum += (j % 2 ? 4 : 2) * k(a + j * h);
        return sum * h / 3;
    };
    std::vector<double> table(kKernelTableSize, 0.0);
    for (int i = 1; i < kKernelTableSize; ++i) {
        const double a = (i - 1) * static_cast<double>(length) / 2048;
        const double b = i * static_cast<double>(length) / 2048;
        double from = a;
        double step = 0;
        for (double at : breaks) {
            if (at > from && at < b) {
                step += simpson(from, at);
                from = at;
            }
        }
        table[i] = table[i - 1] + step + simpson(from, b);
    }
    return table;
}

void ExpectMatchesIntegral(const Table& table, const std::vector<double>& integral, double tolerance,
                           const std::string& what) {
    EXPECT_EQ(table[0], 0.0f) << what;
    int reported = 0;
    for (int i = 0; i < kKernelTableSize && reported < 3; ++i) {
        const double allowed = tolerance * std::max(1.0, std::abs(integral[i]));
        if (std::abs(table[i] - integral[i]) > allowed) {
            ADD_FAILURE() << what << " entry " << i << ": table " << table[i] << ", integral " << integral[i];
            ++reported;
        }
    }
}

// ---- box ----

TEST(KernelTables, BoxCountsEntriesWhateverTheLengthOrType) {
    for (int type : {int{kKernelBox}, -1, 3, 99}) {
        for (float length : {1.0f, 15.0f, 200.0f, 0.0f, std::numeric_limits<float>::quiet_NaN()}) {
            const Tables t = Build(type, length, 3.0f, 0.0f);
            for (int i = 0; i < kKernelTableSize; ++i) {
                ASSERT_EQ(t.forward[i], static_cast<float>(i)) << type << " " << length;
                ASSERT_EQ(t.backward[i], static_cast<float>(i)) << type << " " << length;
            }
        }
    }
}

// ---- ramp ----

TEST(KernelTables, RampReferenceValuesAndUnshiftedHalvesSumToTheArcLength) {
    const Tables t = Build(kKernelRamp, 15.0f, 3.0f, 0.0f);
    EXPECT_NEAR(t.forward[1024], 2.8125, 1e-5);
    EXPECT_NEAR(t.backward[1024], 4.6875, 1e-5);

    // With no shift, k(t) + k(-t) = 1 on the whole window.
    for (float length : {1.0f, 15.0f, 37.5f, 200.0f}) {
        const Tables r = Build(kKernelRamp, length, 3.0f, 0.0f);
        for (int i = 0; i < kKernelTableSize; ++i) {
            const double s = i * static_cast<double>(length) / 2048;
            ASSERT_NEAR(r.forward[i] + r.backward[i], s, 1e-6 * std::max(1.0, s)) << length << " entry " << i;
        }
    }
}

TEST(KernelTables, RampTablesIntegrateTheSawtoothForEveryShift) {
    for (float length : {1.0f, 7.25f, 15.0f, 200.0f}) {
        // Shifts with the jump upstream (c <= L), at 0 (c = L) and downstream (c > L).
        for (float fraction : {0.0f, 0.3f, 0.999f, 1.0f, 1.01f, 1.5f, 1.999f}) {
            const float shift = fraction * length;
            const Tables t = Build(kKernelRamp, length, 3.0f, shift);
            const double jump = shift - static_cast<double>(length);
            const std::string what = "L " + std::to_string(length) + " shift " + std::to_string(shift);
            ExpectMatchesIntegral(t.forward,
                                  IntegralTable(length, [&](double x) { return RampKernel(length, shift, x); }, {jump}),
                                  2e-6, what + " forward");
            ExpectMatchesIntegral(
                t.backward, IntegralTable(length, [&](double x) { return RampKernel(length, shift, -x); }, {-jump}),
                2e-6, what + " backward");
        }
    }
}

// ---- Hanning ----

TEST(KernelTables, HanningReferenceValues) {
    const Tables still = Build(kKernelHanning, 15.0f, 3.0f, 0.0f);
    EXPECT_NEAR(still.forward[1024], 2.6708, 1e-4);
    EXPECT_NEAR(still.forward[2047], 3.7500, 1e-4);  // the half window holds L / 4
    EXPECT_EQ(still.forward, still.backward);        // no phase: a symmetric kernel

    const Tables turned = Build(kKernelHanning, 15.0f, 3.0f, 90.0f);
    EXPECT_NEAR(turned.forward[1024], 2.0739, 1e-4);
    EXPECT_NEAR(turned.backward[1024], 4.0634, 1e-4);

    // A full turn is no turn at all.
    const Tables full = Build(kKernelHanning, 15.0f, 3.0f, 360.0f);
    EXPECT_EQ(full.forward, still.forward);
    EXPECT_EQ(full.backward, still.backward);
}

TEST(KernelTables, HanningWithOneRippleKeepsTheLimitTerm) {
    // k(t) = 1/4 (1 + cos(pi t / L))^2 integrates to 3L/8 over the half window; dropping
    // the w1 - w2 term would lose L/8 of it.
    const Tables t = Build(kKernelHanning, 15.0f, 1.0f, 0.0f);
    EXPECT_NEAR(t.forward[2047], 3.0 * 15 / 8, 1e-4);
    EXPECT_NEAR(t.backward[2047], 3.0 * 15 / 8, 1e-4);
}

TEST(KernelTables, MirroredHanningPhaseSwapsTheTables) {
    const Tables plus = Build(kKernelHanning, 40.0f, 2.5f, 70.0f);
    const Tables minus = Build(kKernelHanning, 40.0f, 2.5f, -70.0f);
    EXPECT_EQ(plus.forward, minus.backward);
    EXPECT_EQ(plus.backward, minus.forward);
    EXPECT_NE(plus.forward, plus.backward);
}

TEST(KernelTables, HanningTablesIntegrateTheKernelForEveryRippleAndPhase) {
    for (float length : {1.0f, 15.0f, 64.5f, 200.0f}) {
        // One ripple (and one a hair away from it) exercises the limit of the last term.
        for (float ripples : {0.5f, 1.0f, 1.0001f, 2.0f, 3.0f, 4.5f}) {
            for (float phase : {0.0f, 30.0f, 90.0f, 180.0f, 271.5f, 360.0f}) {
                const Tables t = Build(kKernelHanning, length, ripples, phase);
                const std::string what = "L " + std::to_string(length) + " ripples " + std::to_string(ripples) +
                                         " phase " + std::to_string(phase);
                ExpectMatchesIntegral(
                    t.forward,
                    IntegralTable(length, [&](double x) { return HanningKernel(length, ripples, phase, x); }, {}), 1e-6,
                    what + " forward");
                ExpectMatchesIntegral(
                    t.backward,
                    IntegralTable(length, [&](double x) { return HanningKernel(length, ripples, phase, -x); }, {}),
                    1e-6, what + " backward");
            }
        }
    }
}

// ---- invalid parameters ----

TEST(KernelTables, InvalidParametersLeaveTheTablesUntouched) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    const Tables untouched;

    for (float shift : {-0.5f, 30.0f, 31.0f, nan, inf, -inf}) {
        const Tables t = Build(kKernelRamp, 15.0f, 3.0f, shift);
        EXPECT_EQ(t.forward, untouched.forward) << "shift " << shift;
        EXPECT_EQ(t.backward, untouched.backward) << "shift " << shift;
    }
    for (int type : {kKernelRamp, kKernelHanning}) {
        for (float length : {0.0f, -0.0f, -15.0f, nan, inf, -inf}) {
            const Tables t = Build(type, length, 3.0f, 0.0f);
            EXPECT_EQ(t.forward, untouched.forward) << type << " length " << length;
            EXPECT_EQ(t.backward, untouched.backward) << type << " length " << length;
        }
    }
    for (auto [ripples, phase] : {std::pair{nan, 0.0f}, {inf, 0.0f}, {3.0f, nan}, {3.0f, inf}}) {
        const Tables t = Build(kKernelHanning, 15.0f, ripples, phase);
        EXPECT_EQ(t.forward, untouched.forward) << ripples << " " << phase;
        EXPECT_EQ(t.backward, untouched.backward) << ripples << " " << phase;
    }

    // A missing table leaves the other one alone; neither crashes.
    for (int type : {kKernelBox, kKernelRamp, kKernelHanning}) {
        Tables t;
        BuildKernelTables(t.forward.data(), nullptr, 15.0f, 3.0f, 0.0f, type);
        BuildKernelTables(nullptr, t.backward.data(), 15.0f, 3.0f, 0.0f, type);
        EXPECT_EQ(t.forward, untouched.forward);
        EXPECT_EQ(t.backward, untouched.backward);
    }
}

TEST(KernelTables, DegenerateRippleCountsStayFinite) {
    // No ripple (w2 = 0) and one backward ripple (w1 + w2 = 0) hit the other zero frequencies.
    for (float ripples : {0.0f, -1.0f}) {
        const Tables t = Build(kKernelHanning, 15.0f, ripples, 45.0f);
        for (int i = 0; i < kKernelTableSize; ++i) {
            ASSERT_TRUE(std::isfinite(t.forward[i]) && std::isfinite(t.backward[i])) << ripples << " entry " << i;
        }
        ExpectMatchesIntegral(t.forward,
                              IntegralTable(15.0f, [&](double x) { return HanningKernel(15, ripples, 45, x); }, {}),
                              1e-6, "ripples " + std::to_string(ripples));
    }
}

}  // namespace
}  // namespace flowloom
