// ColorMap::IndexOf over whole rows of magnitudes on vector lanes, one instruction set per
// target, chosen at run time. Composing a picture by magnitude is mostly this lookup.

#include <cstdint>

#include "lic/compose.h"
#include "media/color_map.h"

#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "lic/rainbow_indices.cpp"
#include "hwy/foreach_target.h"  // IWYU pragma: keep
// Must come after foreach_target.h.
#include "hwy/highway.h"

HWY_BEFORE_NAMESPACE();
namespace flowloom {
namespace HWY_NAMESPACE {

namespace hn = hwy::HWY_NAMESPACE;

// Lane for lane IndexOf: the position in float (one rounding per operation, as there), the
// smoothstep and the index in double in the same order, truncated.
void RainbowIndexLanes(const ColorMap& map, const float* values, long count, int* indices) {
    const hn::ScalableTag<double> dd;
    const hn::Rebind<float, decltype(dd)> df;
    const hn::Rebind<int32_t, decltype(dd)> di;
    const long n = static_cast<long>(hn::Lanes(dd));
    const auto value_min = hn::Set(df, map.valueMin);
    const auto value_scale = hn::Set(df, map.valueScale);
    const auto one = hn::Set(df, 1.0f);
    const auto three = hn::Set(dd, 3.0);
    const auto two = hn::Set(dd, 2.0);
    const auto span = hn::Set(dd, static_cast<double>(map.indexSpan));
    const auto low = hn::Set(dd, static_cast<double>(map.indexLow));
    const auto first = hn::Set(di, map.indexLow);
    const auto last = hn::Set(di, map.indexHigh);
    long i = 0;
    for (; i + n <= count; i += n) {
        auto t = hn::Mul(hn::Sub(hn::LoadU(df, values + i), value_min), value_scale);
        t = hn::IfThenElseZero(hn::Gt(t, hn::Zero(df)), t);  // NaN too
        t = hn::IfThenElse(hn::Gt(t, one), one, t);
        const auto td = hn::PromoteTo(dd, t);
        const auto f = hn::Sub(hn::Mul(hn::Mul(three, td), td), hn::Mul(hn::Mul(hn::Mul(two, td), td), td));
        const auto index = hn::DemoteTo(di, hn::Add(hn::Mul(f, span), low));
        hn::StoreU(hn::Min(hn::Max(index, first), last), di, reinterpret_cast<int32_t*>(indices) + i);
    }
    for (; i < count; ++i) indices[i] = map.IndexOf(values[i]);
}

}  // namespace HWY_NAMESPACE
}  // namespace flowloom
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace flowloom {

HWY_EXPORT(RainbowIndexLanes);

void RainbowIndices(const ColorMap& map, const float* values, long count, int* indices) {
    static_assert(sizeof(int) == sizeof(int32_t));
    if (count <= 0 || !values || !indices) return;
    HWY_DYNAMIC_DISPATCH(RainbowIndexLanes)(map, values, count, indices);
}

}  // namespace flowloom
#endif  // HWY_ONCE
