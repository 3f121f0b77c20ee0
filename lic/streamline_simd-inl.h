// The cell-exit stepper of lic/streamline.h over many streamlines at once, one per lane,
// compiled once per instruction set (included by a file that includes
// hwy/foreach_target.h). Every expression keeps the scalar stepper's roundings: double
// lanes where it evaluates in double and rounds once, float lanes only for one correctly
// rounded operation on two floats (the sum of two floats rounded through double is the
// float sum, as double has more than twice float's precision plus two bits). The build
// sets -ffp-contract=off for this code as for the rest, so the compiler fuses nothing; the
// two fused multiply-adds written out here (the table entry and the running sum, on
// instruction sets that have them) are used only where they give the scalar result
// exactly, as their comments show.

#if defined(FLOWLOOM_LIC_STREAMLINE_SIMD_INL_H_) == defined(HWY_TARGET_TOGGLE)
#ifdef FLOWLOOM_LIC_STREAMLINE_SIMD_INL_H_
#undef FLOWLOOM_LIC_STREAMLINE_SIMD_INL_H_
#else
#define FLOWLOOM_LIC_STREAMLINE_SIMD_INL_H_
#endif

#include <cstdint>

#include "hwy/highway.h"
#include "lic/kernels.h"
#include "lic/streamline.h"

HWY_BEFORE_NAMESPACE();
namespace flowloom {
namespace HWY_NAMESPACE {
namespace hn = hwy::HWY_NAMESPACE;

// One lane per streamline: full float vectors set the count, and indices ride along in
// vectors of the same number of lanes. The work the scalar path does in double runs on
// the two halves of the lanes (VD2), each promoted to a full double vector, so the float
// and integer work is not held to the narrower double lane count.
using DF = hn::ScalableTag<float>;
using DI = hn::Rebind<int32_t, DF>;
using VF = hn::Vec<DF>;
using VI = hn::Vec<DI>;
using MF = hn::Mask<DF>;

#if HWY_TARGET == HWY_SCALAR
// One lane cannot be halved: both halves hold that lane.
using DD = hn::Rebind<double, DF>;
using VD = hn::Vec<DD>;
struct VD2 {
    VD lo, hi;
};
HWY_INLINE VD2 Wide(VF v) {
    return {hn::PromoteTo(DD(), v), hn::PromoteTo(DD(), v)};
}
HWY_INLINE VD2 Wide(VI v) {
    return {hn::PromoteTo(DD(), v), hn::PromoteTo(DD(), v)};
}
HWY_INLINE VF Narrow(VD2 v) {
    return hn::DemoteTo(DF(), v.lo);
}
HWY_INLINE VI NarrowToInt(VD2 v) {
    return hn::DemoteTo(DI(), v.lo);
}
#else
using DFH = hn::Half<DF>;
using DIH = hn::Half<DI>;
using DD = hn::Rebind<double, DFH>;
using VD = hn::Vec<DD>;
struct VD2 {
    VD lo, hi;  // the lower and upper half of the lanes
};
HWY_INLINE VD2 Wide(VF v) {
    const DFH dh;
    return {hn::PromoteTo(DD(), hn::LowerHalf(dh, v)), hn::PromoteTo(DD(), hn::UpperHalf(dh, v))};
}
HWY_INLINE VD2 Wide(VI v) {
    const DIH dh;
    return {hn::PromoteTo(DD(), hn::LowerHalf(dh, v)), hn::PromoteTo(DD(), hn::UpperHalf(dh, v))};
}
// Each lane rounded once to float (or truncated to int32: the caller keeps it in range).
HWY_INLINE VF Narrow(VD2 v) {
    return hn::Combine(DF(), hn::DemoteTo(DFH(), v.hi), hn::DemoteTo(DFH(), v.lo));
}
HWY_INLINE VI NarrowToInt(VD2 v) {
    return hn::Combine(DI(), hn::DemoteTo(DIH(), v.hi), hn::DemoteTo(DIH(), v.lo));
}
#endif

// Lane-wise double arithmetic on both halves; each operation rounds once, as in the scalar path.
HWY_INLINE VD2 Set2(double value) {
    return {hn::Set(DD(), value), hn::Set(DD(), value)};
}
HWY_INLINE VD2 Add2(VD2 a, VD2 b) {
    return {hn::Add(a.lo, b.lo), hn::Add(a.hi, b.hi)};
}
HWY_INLINE VD2 Sub2(VD2 a, VD2 b) {
    return {hn::Sub(a.lo, b.lo), hn::Sub(a.hi, b.hi)};
}
HWY_INLINE VD2 Mul2(VD2 a, VD2 b) {
    return {hn::Mul(a.lo, b.lo), hn::Mul(a.hi, b.hi)};
}
HWY_INLINE VD2 Div2(VD2 a, VD2 b) {
    return {hn::Div(a.lo, b.lo), hn::Div(a.hi, b.hi)};
}

// KernelTableScale per lane: the quotient in double, rounded once to float.
HWY_INLINE VF KernelTableScaleLanes(VF length) {
    return Narrow(Div2(Set2(kKernelTableSize - 1), Wide(length)));
}

// MagLicLength per lane, with the scalar function's double operations and one rounding.
HWY_INLINE VF MagLicLengthLanes(VF magnitude) {
    const VD2 above_one = Sub2(Wide(magnitude), Set2(1.0));
    return Narrow(Add2(Mul2(above_one, Set2(kMagLicPerUnit)), Set2(kMagLicShortest)));
}

// One half (downstream or upstream) of a batch of streamlines.
struct HalfLanes {
    VF x, y, s;
    VF px, py;  // an orientation field's previous vector, before an upstream half's negation
    VF length;
    MF active;             // still stepping
    MF critical_at_start;  // the pixel's own vector is zero
};

// The halves start at the centres of the given pixels; a lane outside `valid`, or whose
// length is not above 0, takes no step (and contributes nothing).
HWY_INLINE HalfLanes StartHalf(VI rows, VI cols, VF length, MF valid) {
    const DF df;
    HalfLanes h;
    // col + 0.5 is exact in double; rounded to float once, as the scalar start.
    h.x = Narrow(Add2(Wide(cols), Set2(0.5)));
    h.y = Narrow(Add2(Wide(rows), Set2(0.5)));
    h.s = hn::Zero(df);
    h.px = h.py = hn::Zero(df);
    h.length = length;
    h.active = hn::And(valid, hn::Gt(length, hn::Zero(df)));
    h.critical_at_start = hn::MaskFromVec(hn::Zero(df));
    return h;
}

// Truncation toward zero of lanes within int32's range. Highway's conversion also
// saturates lanes beyond that range, which costs four more operations on x86; the bare
// instruction gives INT32_MIN there, which every caller keeps away or clamps.
HWY_INLINE VI TruncateInRange(VF v) {
#if HWY_ARCH_X86 && HWY_TARGET <= HWY_AVX3
    return VI{_mm512_cvttps_epi32(v.raw)};
#elif HWY_ARCH_X86 && HWY_TARGET == HWY_AVX2
    return VI{_mm256_cvttps_epi32(v.raw)};
#elif HWY_ARCH_X86 && (HWY_TARGET == HWY_SSE4 || HWY_TARGET == HWY_SSSE3)
    return VI{_mm_cvttps_epi32(v.raw)};
#else
    return hn::ConvertTo(DI(), v);
#endif
}

// Truncation toward zero of lanes that are known to be finite and small; other lanes
// become 0 first, so every lane is a usable index.
HWY_INLINE VI TruncateLanes(VF v, MF usable) {
    return TruncateInRange(hn::IfThenElseZero(usable, v));
}

// MidpointCell per lane: the midpoint rounded to float, its cell clamped into the grid.
// The float sum of two floats is their double sum rounded to float (see above), and
// halving is exact in both unless the half is subnormal; a sum below twice the smallest
// normal float is a multiple of the smallest subnormal with at most 24 bits, so exact in
// float, and then both round the same exact half once. The step keeps every coordinate
// far below float's overflow (|vx advance| is at most 1 + |vx| kStepEpsilon, or a
// sub-threshold component times the arc length), so float lanes give the scalar midpoint.
HWY_INLINE VI MidpointCellLanes(VF a, VF b, VF size_f, VI size) {
    const DF df;
    const DI di;
    const VF m = hn::Mul(hn::Add(a, b), hn::Set(df, 0.5f));
    const MF nonnegative = hn::Ge(m, hn::Zero(df));
    const MF below = hn::Lt(m, size_f);
    const VI inside = TruncateLanes(m, hn::And(nonnegative, below));
    const VI clamped = hn::IfThenElse(hn::RebindMask(di, below), inside, hn::Sub(size, hn::Set(di, 1)));
    return hn::IfThenElseZero(hn::RebindMask(di, nonnegative), clamped);
}

// The lanes with p in [0, size).
HWY_INLINE MF Within(VF p, VF size_f) {
    return hn::And(hn::Ge(p, hn::Zero(DF())), hn::Lt(p, size_f));
}

// WrapCoordinate per lane, for the lanes outside [0, size) (the others keep p): the
// scalar function's double operations and one rounding.
HWY_INLINE VF WrapLanes(VF p, VF size_f, int size, MF active) {
    const DF df;
    const MF outside = hn::Not(Within(p, size_f));
    if (HWY_LIKELY(hn::AllFalse(df, hn::And(outside, active)))) return p;
    const VD2 pd = Wide(p);
    const VD period = hn::Set(DD(), static_cast<double>(size));
    const VD2 periods = {hn::Floor(hn::Div(pd.lo, period)), hn::Floor(hn::Div(pd.hi, period))};
    const VF wrapped = Narrow(Sub2(pd, Mul2(periods, {period, period})));
    return hn::IfThenElse(outside, hn::IfThenElse(hn::Eq(wrapped, size_f), hn::Zero(df), wrapped), p);
}

// MidpointCell per lane on a periodic axis: the midpoint as MidpointCellLanes takes it,
// wrapped when it lies outside the grid.
HWY_INLINE VI PeriodicMidpointCellLanes(VF a, VF b, VF size_f, int size, MF active) {
    const DF df;
    const VF m = WrapLanes(hn::Mul(hn::Add(a, b), hn::Set(df, 0.5f)), size_f, size, active);
    return TruncateLanes(m, Within(m, size_f));
}

// OrientLike per lane. The scalar path keeps only the sign of the dot product taken in
// double (an undefined one counts as 0). The float dot product d of the exact products'
// roundings is within 2^-23 (|vx px| + |vy py|) + 2^-23 |d| of the exact one when they are
// normal, so where |d| exceeds 2^-20 times the computed sum of the products' magnitudes,
// and 2^-100 (far above the error of subnormal products), d has the exact sign and is not
// 0; lanes near right angles, or with huge or undefined products, take the double path.
// The first step's previous vector is 0, so only the fixed sign decides.
HWY_INLINE void OrientLanes(VF& vx, VF& vy, VF px, VF py, bool first_step, MF active) {
    const DF df;
    const VF zero = hn::Zero(df);
    auto backward = [&] { return hn::Or(hn::Lt(vx, zero), hn::And(hn::Eq(vx, zero), hn::Lt(vy, zero))); };
    MF flip;
    if (first_step) {
        flip = backward();
    } else {
        const VF x_product = hn::Mul(vx, px);
        const VF y_product = hn::Mul(vy, py);
        const VF dot = hn::Add(x_product, y_product);
        const VF size = hn::Add(hn::Abs(x_product), hn::Abs(y_product));
        const VF bound = hn::Max(hn::Mul(size, hn::Set(df, 0x1p-20f)), hn::Set(df, 0x1p-100f));
        const MF certain = hn::Gt(hn::Abs(dot), bound);
        if (HWY_LIKELY(hn::AllFalse(df, hn::AndNot(certain, active)))) {
            flip = hn::Lt(dot, zero);
        } else {
            const DD dd;
            const VD2 exact = Add2(Mul2(Wide(vx), Wide(px)), Mul2(Wide(vy), Wide(py)));
            auto sign = [&](VD d) {
                return hn::IfThenElse(hn::Lt(d, hn::Zero(dd)), hn::Set(dd, -1.0),
                                      hn::IfThenElseZero(hn::Gt(d, hn::Zero(dd)), hn::Set(dd, 1.0)));
            };
            const VF sign_f = Narrow({sign(exact.lo), sign(exact.hi)});
            flip = hn::Or(hn::Lt(sign_f, zero), hn::And(hn::Eq(sign_f, zero), backward()));
        }
    }
    vx = hn::IfThenElse(flip, hn::Neg(vx), vx);
    vy = hn::IfThenElse(flip, hn::Neg(vy), vy);
}

// The exit parameter along one axis: the scalar stepper's division per lane, kNoExit where
// the component does not limit the step. The distance to the cell edge is exact in float
// (pos lies in [cell, cell + 1), so the difference is exact by Sterbenz's lemma or is pos
// itself), and then the float division is the double one rounded to float. The one
// exception is the far edge 1 of the first cell from a point below 0.5, which the scalar
// path takes in double: lanes with such a step take the double division.
HWY_INLINE VF ExitLanes(VF pos, VI cell, VF v, MF active) {
    const DF df;
    const MF negative = hn::Lt(v, hn::Set(df, -kComponentThreshold));
    const MF positive = hn::Gt(v, hn::Set(df, kComponentThreshold));
    const VF edge = hn::ConvertTo(df, cell);
    const VF far_edge = hn::IfThenElse(negative, edge, hn::Add(edge, hn::Set(df, 1.0f)));
    VF t = hn::Div(hn::Sub(far_edge, pos), v);
    const MF inexact = hn::And(hn::And(positive, active), hn::Lt(pos, hn::Set(df, 0.5f)));
    if (HWY_UNLIKELY(!hn::AllFalse(df, inexact))) {
        t = hn::IfThenElse(inexact, Narrow(Div2(Sub2(Wide(far_edge), Wide(pos)), Wide(v))), t);
    }
    return hn::IfThenElse(hn::Or(negative, positive), t, hn::Set(df, kNoExit));
}

// One step of every lane of G halves, as one iteration of TraceStreamline each; even
// halves run downstream and odd ones upstream, in the grid's modes. The halves' steps are independent, and
// each stage runs for every half before the next stage begins, so the core has the other
// halves' work at hand while one waits for a gather or a division. Calls visit(g, s,
// sample, active) with the lanes of half g that took the step; afterwards the lanes that
// left the grid or reached their length are inactive. A half whose lanes have all stopped
// is skipped; returns false, having done nothing, when every half has stopped.
template <int G, class Visit>
HWY_INLINE bool StepHalves(const StreamlineGrid& grid, bool first_step, HalfLanes (&h)[G], Visit& visit) {
    const DF df;
    const DI di;
    const VI width = hn::Set(di, grid.width);
    const VI height = hn::Set(di, grid.height);
    const VF width_f = hn::Set(df, static_cast<float>(grid.width));
    const VF height_f = hn::Set(df, static_cast<float>(grid.height));
    const StreamlineModes modes = grid.modes;
    const bool periodic_x = modes.boundary_x == Boundary::kPeriodic;
    const bool periodic_y = modes.boundary_y == Boundary::kPeriodic;

    bool live[G];
    bool any = false;
    for (int g = 0; g < G; ++g) any |= live[g] = !hn::AllFalse(df, h[g].active);
    if (!any) return false;
    VI ci[G], ri[G];
    VF vx[G], vy[G];
    MF active[G];
#pragma GCC unroll 8
    for (int g = 0; g < G; ++g) {
        if (!live[g]) {  // every stage skips a finished half; defined values keep GCC from warning
            ci[g] = ri[g] = hn::Zero(di);
            vx[g] = vy[g] = hn::Zero(df);
            continue;
        }
        ci[g] = TruncateLanes(h[g].x, h[g].active);
        ri[g] = TruncateLanes(h[g].y, h[g].active);
        const VI cell = hn::Add(hn::Mul(ri[g], width), ci[g]);
        const VI pair = hn::Add(cell, cell);
        vx[g] = hn::GatherIndex(df, grid.vectors, pair);
        vy[g] = hn::GatherIndex(df, grid.vectors + 1, pair);
    }
#pragma GCC unroll 8
    for (int g = 0; g < G; ++g) {
        if (!live[g]) {
            active[g] = h[g].active;
            continue;
        }
        const MF zero = hn::And(hn::Eq(vx[g], hn::Zero(df)), hn::Eq(vy[g], hn::Zero(df)));
        if (first_step) h[g].critical_at_start = hn::And(h[g].active, zero);
        active[g] = hn::AndNot(zero, h[g].active);
        if (modes.orientation) {
            OrientLanes(vx[g], vy[g], h[g].px, h[g].py, first_step, active[g]);
            h[g].px = vx[g];
            h[g].py = vy[g];
        }
        if (g % 2 == 1) {
            vx[g] = hn::Neg(vx[g]);
            vy[g] = hn::Neg(vy[g]);
        }
    }
    VF nx[G], ny[G], s[G];
#pragma GCC unroll 8
    for (int g = 0; g < G; ++g) {
        if (!live[g]) {
            nx[g] = h[g].x;
            ny[g] = h[g].y;
            s[g] = h[g].s;
            continue;
        }
        VF t = ExitLanes(h[g].x, ci[g], vx[g], active[g]);
        const VF ty = ExitLanes(h[g].y, ri[g], vy[g], active[g]);
        t = hn::IfThenElse(hn::Lt(ty, t), ty, t);
        const VF s_prev = h[g].s;
        s[g] = hn::Add(s_prev, t);
        VF advance = hn::Add(t, hn::Set(df, kStepEpsilon));
        const MF over = hn::Gt(s[g], h[g].length);
        s[g] = hn::IfThenElse(over, h[g].length, s[g]);
        advance = hn::IfThenElse(over, hn::Sub(h[g].length, s_prev), advance);
        const VD2 advance_d = Wide(advance);
        nx[g] = Narrow(Add2(Wide(h[g].x), Mul2(Wide(vx[g]), advance_d)));
        ny[g] = Narrow(Add2(Wide(h[g].y), Mul2(Wide(vy[g]), advance_d)));
    }
#pragma GCC unroll 8
    for (int g = 0; g < G; ++g) {
        if (!live[g]) continue;
        // A step that stays inside the grid has its midpoint inside too (rounding keeps it
        // between the ends), so on a periodic axis only a step that leaves needs wrapping.
        const bool wrap_x = periodic_x && !hn::AllFalse(df, hn::AndNot(Within(nx[g], width_f), active[g]));
        const bool wrap_y = periodic_y && !hn::AllFalse(df, hn::AndNot(Within(ny[g], height_f), active[g]));
        const VI sc = wrap_x ? PeriodicMidpointCellLanes(h[g].x, nx[g], width_f, grid.width, active[g])
                             : MidpointCellLanes(h[g].x, nx[g], width_f, width);
        const VI sr = wrap_y ? PeriodicMidpointCellLanes(h[g].y, ny[g], height_f, grid.height, active[g])
                             : MidpointCellLanes(h[g].y, ny[g], height_f, height);
        visit(g, s[g], hn::Add(hn::Mul(sr, width), sc), active[g]);
        // A lane that stops keeps whatever position it reached: only active lanes are read.
        h[g].x = wrap_x ? WrapLanes(nx[g], width_f, grid.width, active[g]) : nx[g];
        h[g].y = wrap_y ? WrapLanes(ny[g], height_f, grid.height, active[g]) : ny[g];
        h[g].s = s[g];
        const MF inside = hn::And(hn::And(hn::Ge(h[g].x, hn::Zero(df)), hn::Lt(h[g].x, width_f)),
                                  hn::And(hn::Ge(h[g].y, hn::Zero(df)), hn::Lt(h[g].y, height_f)));
        h[g].active = hn::And(hn::And(active[g], inside), hn::Lt(s[g], h[g].length));
    }
    return true;
}

// Traces G halves together, even ones downstream and odd ones upstream, for at most
// max_steps steps each, until every lane has stopped.
template <int G, class Visit>
HWY_INLINE void TraceHalves(const StreamlineGrid& grid, int max_steps, HalfLanes (&halves)[G], Visit& visit) {
    for (int step = 0; step < max_steps; ++step)
        if (!StepHalves(grid, step == 0, halves, visit)) break;
}

// KernelWalk per lane: the table entry of arc length s, floor(s sigma) kept in the table,
// and the weight of a step as the rise of the table since the previous step. The product
// of two floats is exact in double. With a fused multiply-add the float product p and its
// exact error e = s sigma - p give the same floor: rounding to nearest never crosses an
// integer, which float holds exactly at this size, so the floor is trunc(p), less one
// when p is an integer that the exact product lies below. An undefined product (only in
// a lane that no longer steps) takes entry 0, so every lookup is in range.
HWY_INLINE VI EntryLanes(VF s, VF sigma) {
    const DI di;
    const VI top = hn::Set(di, kKernelTableSize - 1);
#if HWY_NATIVE_FMA
    const DF df;
    const VF p = hn::Mul(s, sigma);
    const VF e = hn::MulSub(s, sigma, p);
    const VI k = TruncateInRange(p);  // INT32_MIN for an undefined or huge product
    const MF below_integer = hn::And(hn::Eq(hn::ConvertTo(df, k), p), hn::Lt(e, hn::Zero(df)));
    const VI floor = hn::IfThenElse(hn::RebindMask(di, below_integer), hn::Sub(k, hn::Set(di, 1)), k);
    return hn::Min(hn::Max(floor, hn::Zero(di)), top);
#else
    const DD dd;
    const VD2 k = Mul2(Wide(s), Wide(sigma));
    auto kept = [&](VD v) {
        const VD clamped = hn::Min(hn::Max(v, hn::Zero(dd)), hn::Set(dd, kKernelTableSize - 1));
        return hn::IfThenElseZero(hn::Eq(clamped, clamped), clamped);
    };
    (void)top;
    return NarrowToInt({kept(k.lo), kept(k.hi)});
#endif
}

struct WalkLanes {
    VF last;

    // The weight of the active lanes' step at `entry`; inactive lanes keep their total.
    HWY_INLINE VF Weigh(const float* table, VI entry, MF active) {
        const VF value = hn::GatherIndex(DF(), table, entry);
        const VF weight = hn::Sub(value, last);
        last = hn::IfThenElse(active, value, last);
        return weight;
    }
};

// acc + texel * weight, evaluated in double and rounded once, in the active lanes.
//
// The product (an integer below 256 times a float) is exact in double. When the exact sum
// is exact in double too, rounding it to float once is what a fused multiply-add in float
// does, without widening to double and back. The sum is a multiple of the smaller unit in
// the last place of acc and weight, and each of them (when not 0) exceeds its magnitude
// times 2^-24; so with M = max(|acc|, 256 |weight|) the sum, below 2 M, holds at most 53
// bits when neither nonzero magnitude is below M 2^-28. A step with a weight far smaller
// than its sum (at the ends of a ramp or Hanning kernel) takes the double path.
HWY_INLINE VF AccumulateLanes(VF acc, VI texel, VF weight, MF active) {
#if HWY_NATIVE_FMA
    const DF df;
    const DI di;
    const VF abs_acc = hn::Abs(acc);
    const VF abs_weight = hn::Abs(weight);
    const VF bound = hn::Mul(hn::Max(abs_acc, hn::Mul(abs_weight, hn::Set(df, 256.0f))), hn::Set(df, 0x1p-28f));
    // Nonnegative floats order as their bits do; 0 is taken past every finite value by
    // subtracting one and dropping the sign bit, so it never fails the test.
    const VI one = hn::Set(di, 1);
    const VI no_sign = hn::Set(di, 0x7FFFFFFF);
    const VI key_acc = hn::And(hn::Sub(hn::BitCast(di, abs_acc), one), no_sign);
    const VI key_weight = hn::And(hn::Sub(hn::BitCast(di, abs_weight), one), no_sign);
    // key >= bits(bound) - 1, as integers: Highway has no integer Ge.
    const VI least = hn::Sub(hn::BitCast(di, bound), hn::Set(di, 2));
    const MF exact = hn::RebindMask(df, hn::Gt(hn::Min(key_acc, key_weight), least));
    if (HWY_LIKELY(hn::AllFalse(df, hn::AndNot(exact, active))))
        return hn::IfThenElse(active, hn::MulAdd(hn::ConvertTo(df, texel), weight, acc), acc);
#endif
    return hn::IfThenElse(active, Narrow(Add2(Wide(acc), Mul2(Wide(texel), Wide(weight)))), acc);
}

// Four bytes from `bytes` + offset per lane (the caller pads the buffer).
HWY_INLINE VI GatherBytes4(const unsigned char* bytes, VI offset) {
    return hn::GatherOffset(DI(), reinterpret_cast<const int32_t*>(bytes), offset);
}

// The byte at `bytes` + offset per lane.
HWY_INLINE VI GatherBytes(const unsigned char* bytes, VI offset) {
    return hn::And(GatherBytes4(bytes, offset), hn::Set(DI(), 0xFF));
}

// LicValue per lane, as 0..255 in 32-bit lanes.
HWY_INLINE VI LicValueLanes(VF sum0, VF sum1, VF weight0, VF weight1) {
    const DF df;
    const VD2 num = Add2(Wide(sum0), Wide(sum1));
    const VD2 den = Add2(Wide(weight0), Wide(weight1));
    const VF v = Narrow(Div2(num, den));
    // ClampToByte: an undefined value counts as below the range.
    const MF positive = hn::Gt(v, hn::Zero(df));
    return TruncateLanes(hn::Min(v, hn::Set(df, 255.0f)), positive);
}

// The row's columns of a batch: first + (j + i) * step for lane i, and which of them are
// below `end`.
struct BatchColumns {
    VI cols;
    MF valid;
};
HWY_INLINE BatchColumns ColumnLanes(int first, int step, int end, int j) {
    const DI di;
    const VI lane = hn::Iota(di, 0);
    BatchColumns b;
    b.cols = hn::Add(hn::Set(di, first), hn::Mul(hn::Add(lane, hn::Set(di, j)), hn::Set(di, step)));
    b.valid = hn::RebindMask(DF(), hn::Lt(b.cols, hn::Set(di, end)));
    b.cols = hn::IfThenElseZero(hn::RebindMask(di, b.valid), b.cols);
    return b;
}

// Both halves of a batch start at the same pixels.
HWY_INLINE void StartBatch(VI rows, const BatchColumns& columns, VF length, HalfLanes* fwd_bwd) {
    fwd_bwd[0] = StartHalf(rows, columns.cols, length, columns.valid);
    fwd_bwd[1] = fwd_bwd[0];
}

}  // namespace HWY_NAMESPACE
}  // namespace flowloom
HWY_AFTER_NAMESPACE();

#endif  // FLOWLOOM_LIC_STREAMLINE_SIMD_INL_H_
