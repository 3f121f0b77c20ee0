// NormalizeVectorPairs on vector lanes, one instruction set per target, chosen at run time.
// The square root and the quotient are bound by the divider, whose vector forms deliver
// several lanes in about the time of one scalar operation.

#include <cstddef>
#include <limits>

#include "engine/fields.h"

#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "engine/normalize_pairs.cpp"
#include "hwy/foreach_target.h"  // IWYU pragma: keep
// Must come after foreach_target.h.
#include "hwy/highway.h"

HWY_BEFORE_NAMESPACE();
namespace flowloom {
namespace HWY_NAMESPACE {

namespace hn = hwy::HWY_NAMESPACE;

// Lane for lane the scalar form: each operation below is one correctly rounded double
// operation (or an exact conversion) of that form, and each DemoteTo the rounding to float
// where it stores one.
void NormalizePairLanes(long count, float* vectors, float* lengths) {
    const hn::ScalableTag<double> dd;
    const hn::Rebind<float, decltype(dd)> df;
    const long n = static_cast<long>(hn::Lanes(dd));
    const auto smallest = hn::Set(dd, static_cast<double>(1e-12f));
    const auto largest = hn::Set(dd, std::numeric_limits<double>::max());
    const auto one = hn::Set(dd, 1.0);
    long i = 0;
    for (; i + n <= count; i += n) {
        hn::Vec<decltype(df)> xf, yf;
        hn::LoadInterleaved2(df, vectors + 2 * i, xf, yf);
        const auto x = hn::PromoteTo(dd, xf);
        const auto y = hn::PromoteTo(dd, yf);
        const auto q = hn::Add(hn::Mul(x, x), hn::Mul(y, y));
        // NaN fails both comparisons, infinity the second: no direction, a zero vector.
        const auto usable = hn::And(hn::Ge(q, smallest), hn::Le(q, largest));
        const auto root = hn::Sqrt(hn::IfThenElse(usable, q, one));
        const auto factor = hn::PromoteTo(dd, hn::DemoteTo(df, hn::IfThenElseZero(usable, hn::Div(one, root))));
        // A factor of 0 (unusable, or underflowed) gives +0 components.
        const auto zero_factor = hn::Eq(factor, hn::Zero(dd));
        const auto vx = hn::DemoteTo(df, hn::IfThenZeroElse(zero_factor, hn::Mul(x, factor)));
        const auto vy = hn::DemoteTo(df, hn::IfThenZeroElse(zero_factor, hn::Mul(y, factor)));
        hn::StoreInterleaved2(vx, vy, df, vectors + 2 * i);
        if (lengths) hn::StoreU(hn::DemoteTo(df, hn::IfThenElseZero(usable, root)), df, lengths + i);
    }
    NormalizeVectorPairsScalar(count - i, vectors + 2 * i, lengths ? lengths + i : nullptr);
}

}  // namespace HWY_NAMESPACE
}  // namespace flowloom
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace flowloom {

HWY_EXPORT(NormalizePairLanes);

void NormalizeVectorPairs(long count, float* vectors, float* lengths) {
    if (count <= 0 || !vectors) return;
    HWY_DYNAMIC_DISPATCH(NormalizePairLanes)(count, vectors, lengths);
}

}  // namespace flowloom
#endif  // HWY_ONCE
