// The data map's two passes over every value, the bin count and the table lookup, on
// vector lanes, one instruction set per target, chosen at run time.

#include <algorithm>
#include <cstdint>
#include <limits>

#include "lic/parallel_data_map.h"

#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "lic/data_map_lanes.cpp"
#include "hwy/foreach_target.h"  // IWYU pragma: keep
// Must come after foreach_target.h.
#include "hwy/highway.h"

HWY_BEFORE_NAMESPACE();
namespace flowloom {
namespace HWY_NAMESPACE {

namespace hn = hwy::HWY_NAMESPACE;

using DD = hn::ScalableTag<double>;
using DF = hn::Rebind<float, DD>;
using DI = hn::Rebind<int32_t, DD>;
using VF = hn::Vec<DF>;
using VI = hn::Vec<DI>;

constexpr int kTopBin = NonlinearDataMap::kBins - 1;
// Values per block: the bins of a block are counted from a buffer on the stack. A
// multiple of every lane count.
constexpr long kBlock = 1024;

// The map's bin of each lane's magnitude m (not negative, or NaN): the top bin from the
// top of the range on, else (m - low) * scale in double, truncated into 0..kTopBin.
HWY_INLINE VI BinLanes(VF m, float low, float high, double scale) {
    const DD dd;
    const DI di;
    const auto b = hn::Mul(hn::Sub(hn::PromoteTo(dd, m), hn::Set(dd, static_cast<double>(low))), hn::Set(dd, scale));
    // Below the range or NaN gives bin 0; from the top bin on, the top bin.
    const auto kept = hn::Min(hn::IfThenElseZero(hn::Gt(b, hn::Zero(dd)), b), hn::Set(dd, kTopBin));
    const VI bin = hn::DemoteTo(di, kept);
    return hn::IfThenElse(hn::RebindMask(di, hn::Ge(m, hn::Set(DF(), high))), hn::Set(di, kTopBin), bin);
}

// The lanes of `values` from i on, those at or past `count` set to `pad`.
HWY_INLINE VF LoadPadded(const float* values, long i, long count, float pad) {
    const DF df;
    const long n = static_cast<long>(hn::Lanes(df));
    if (i + n <= count) return hn::LoadU(df, values + i);
    HWY_ALIGN float tail[hn::MaxLanes(DF())];
    std::fill(tail, tail + n, pad);
    std::copy(values + i, values + count, tail);
    return hn::Load(df, tail);
}

void CountBinsLanes(const NonlinearDataMap& map, long count, const float* values, int64_t* histogram) {
    const DF df;
    const DI di;
    const long n = static_cast<long>(hn::Lanes(df));
    const float low = map.rangeMin;
    const float high = map.rangeMax;
    const double scale = map.ScaleOfRange();
    HWY_ALIGN int32_t bins[kBlock];
    for (long first = 0; first < count; first += kBlock) {
        const long block = std::min(kBlock, count - first);
        for (long k = 0; k < block; k += n) {
            // NaN has no place in the distribution: bin -1, not counted.
            const VF m = hn::Abs(LoadPadded(values + first, k, block, std::numeric_limits<float>::quiet_NaN()));
            const VI bin = BinLanes(m, low, high, scale);
            hn::Store(hn::IfThenElse(hn::RebindMask(di, hn::IsNaN(m)), hn::Set(di, -1), bin), di, bins + k);
        }
        for (long k = 0; k < block; ++k)
            if (bins[k] >= 0) ++histogram[bins[k]];
    }
}

void ApplyTableLanes(const NonlinearDataMap& map, long count, float* values) {
    const DF df;
    const long n = static_cast<long>(hn::Lanes(df));
    const float low = map.rangeMin;
    const float high = map.rangeMax;
    const double scale = map.scale;
    const VF out_low = hn::Set(df, map.outLow);
    for (long i = 0; i < count; i += n) {
        const VF v = LoadPadded(values, i, count, 0.0f);
        // The entry of v's bin when v is positive, minus that of -v's when not (-0 and +0
        // share a bin); a NaN becomes outLow.
        const VF entry = hn::GatherIndex(df, map.table, BinLanes(hn::Abs(v), low, high, scale));
        const VF mapped = hn::IfThenElse(hn::Gt(v, hn::Zero(df)), entry,
                                         hn::IfThenElse(hn::Le(v, hn::Zero(df)), hn::Neg(entry), out_low));
        if (i + n <= count)
            hn::StoreU(mapped, df, values + i);
        else
            hn::BlendedStore(mapped, hn::FirstN(df, static_cast<size_t>(count - i)), df, values + i);
    }
}

}  // namespace HWY_NAMESPACE
}  // namespace flowloom
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace flowloom {

HWY_EXPORT(CountBinsLanes);
HWY_EXPORT(ApplyTableLanes);

void CountBinsOnLanes(const NonlinearDataMap& map, long count, const float* values, int64_t* histogram) {
    if (count <= 0 || !values || !histogram) return;
    HWY_DYNAMIC_DISPATCH(CountBinsLanes)(map, count, values, histogram);
}

void ApplyTableOnLanes(const NonlinearDataMap& map, long count, float* values) {
    if (count <= 0 || !values || !map.established) return;
    HWY_DYNAMIC_DISPATCH(ApplyTableLanes)(map, count, values);
}

}  // namespace flowloom
#endif  // HWY_ONCE
