// The two per-sample passes of colouring by a scalar, on vector lanes, one instruction set
// per target chosen at run time: the data's range for the norm, and each value's entry in
// a 256-entry table.

#include <cfloat>
#include <cmath>
#include <cstdint>
#include <limits>

#include "lic/compose.h"

#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "lic/color_lanes.cpp"
#include "hwy/foreach_target.h"  // IWYU pragma: keep
// Must come after foreach_target.h.
#include "hwy/highway.h"

HWY_BEFORE_NAMESPACE();
namespace flowloom {
namespace HWY_NAMESPACE {

namespace hn = hwy::HWY_NAMESPACE;

void FiniteRangeLanes(const float* values, long count, bool positive_only, float* low, float* high, long* left_out) {
    const hn::ScalableTag<float> df;
    const long n = static_cast<long>(hn::Lanes(df));
    const auto largest = hn::Set(df, FLT_MAX);
    auto lo = hn::Set(df, std::numeric_limits<float>::infinity());
    auto hi = hn::Neg(lo);
    long taken = 0;
    long i = 0;
    for (; i + n <= count; i += n) {
        const auto v = hn::LoadU(df, values + i);
        auto in = hn::Le(hn::Abs(v), largest);  // not NaN, not infinite
        if (positive_only) in = hn::And(in, hn::Gt(v, hn::Zero(df)));
        lo = hn::IfThenElse(in, hn::Min(lo, v), lo);
        hi = hn::IfThenElse(in, hn::Max(hi, v), hi);
        taken += static_cast<long>(hn::CountTrue(df, in));
    }
    float l = hn::GetLane(hn::MinOfLanes(df, lo));
    float h = hn::GetLane(hn::MaxOfLanes(df, hi));
    for (; i < count; ++i) {
        const float v = values[i];
        if (std::fabs(v) <= FLT_MAX && (!positive_only || v > 0.0f)) {
            l = v < l ? v : l;
            h = v > h ? v : h;
            ++taken;
        }
    }
    *low = l;
    *high = h;
    *left_out = count - taken;
}

// Lane for lane the scalar rule: (v - vmin) x scale in double, NaN and below to 0, above to
// 255, truncated; -1 for a value that is not finite when asked.
void TableIndexLanes(const float* values, long count, double vmin, double scale, bool mask_non_finite, int* indices) {
    const hn::ScalableTag<double> dd;
    const hn::Rebind<float, decltype(dd)> df;
    const hn::Rebind<int32_t, decltype(dd)> di;
    const long n = static_cast<long>(hn::Lanes(dd));
    const auto low = hn::Set(dd, vmin);
    const auto factor = hn::Set(dd, scale);
    const auto last = hn::Set(dd, kNamedTableSize - 1.0);
    const auto largest = hn::Set(dd, FLT_MAX);
    const auto none = hn::Set(dd, -1.0);
    long i = 0;
    for (; i + n <= count; i += n) {
        const auto v = hn::PromoteTo(dd, hn::LoadU(df, values + i));
        auto x = hn::Mul(hn::Sub(v, low), factor);
        x = hn::IfThenElseZero(hn::Gt(x, hn::Zero(dd)), x);
        x = hn::IfThenElse(hn::Lt(x, last), x, last);
        if (mask_non_finite) x = hn::IfThenElse(hn::Le(hn::Abs(v), largest), x, none);
        hn::StoreU(hn::DemoteTo(di, x), di, reinterpret_cast<int32_t*>(indices) + i);
    }
    for (; i < count; ++i) {
        double x = (static_cast<double>(values[i]) - vmin) * scale;
        x = x > 0.0 ? x : 0.0;
        x = x < kNamedTableSize - 1 ? x : kNamedTableSize - 1;
        indices[i] = mask_non_finite && !(std::fabs(values[i]) <= FLT_MAX) ? -1 : static_cast<int>(x);
    }
}

}  // namespace HWY_NAMESPACE
}  // namespace flowloom
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace flowloom {

HWY_EXPORT(FiniteRangeLanes);
HWY_EXPORT(TableIndexLanes);

void FiniteRange(const float* values, long count, bool positive_only, float& low, float& high, long& left_out) {
    low = std::numeric_limits<float>::infinity();
    high = -low;
    left_out = 0;
    if (count <= 0 || !values) return;
    HWY_DYNAMIC_DISPATCH(FiniteRangeLanes)(values, count, positive_only, &low, &high, &left_out);
}

void TableIndices(const float* values, long count, double vmin, double scale, bool mask_non_finite, int* indices) {
    static_assert(sizeof(int) == sizeof(int32_t));
    if (count <= 0 || !values || !indices) return;
    HWY_DYNAMIC_DISPATCH(TableIndexLanes)(values, count, vmin, scale, mask_non_finite, indices);
}

}  // namespace flowloom
#endif  // HWY_ONCE
