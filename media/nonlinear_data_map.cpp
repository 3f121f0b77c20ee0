#include "media/nonlinear_data_map.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

namespace flowloom {

namespace {

// Powers of ten 1e-5 .. 1e10 as float literals, each the nearest float to its decade;
// window i spans kDecades[i] .. kDecades[i + 4], both ends included.
constexpr float kDecades[16] = {1e-5f, 1e-4f, 1e-3f, 1e-2f, 1e-1f, 1e0f, 1e1f, 1e2f,
                                1e3f,  1e4f,  1e5f,  1e6f,  1e7f,  1e8f, 1e9f, 1e10f};
constexpr int kTopBin = NonlinearDataMap::kBins - 1;

// The bin of a magnitude inside range_min..range_max, clamped into 0..kTopBin; a magnitude
// >= range_max lands in the top bin whatever the rounding of `scale`. Kept inline here so
// that the loops over whole arrays hold the range in registers.
inline int BinIndex(float magnitude, float range_min, float range_max, double scale) {
    // The product below may truncate to 9998 for the largest magnitude, so the top of the
    // range is placed by comparison rather than by arithmetic.
    if (magnitude >= range_max) return kTopBin;
    // The bin is only truncated, never stored, so the product stays in double.
    const double b = (static_cast<double>(magnitude) - range_min) * scale;
    if (!(b > 0.0)) return 0;  // below the range, or NaN
    if (b >= kTopBin) return kTopBin;
    return static_cast<int>(b);
}

}  // namespace

int NonlinearDataMap::BinOf(float magnitude) const {
    return BinIndex(magnitude, rangeMin, rangeMax, scale);
}

void NonlinearDataMap::Map(int count, float* values) {
    // A table left from an earlier array would not fit this one's range.
    established = 0;
    if (count <= 0 || !values) {
        countedValues = 0;
        return;
    }
    if (rangeMode == 1)
        FindRange(count, values);
    else
        FindDominantRange(count, values);

    // No magnitude gave a range (all outside every decade window, or all NaN): there is no
    // distribution to equalise, and the caller still needs every element defined.
    if (!(rangeMin <= rangeMax)) {
        for (int i = 0; i < count; ++i) values[i] = outLow;
        return;
    }
    if (rangeMin == rangeMax) {
        for (int i = 0; i < count; ++i) values[i] = outHigh;
        return;
    }
    BuildTable(count, values);
    ApplyTable(count, values);
}

NonlinearDataMap::RangeCounts::RangeCounts()
    : low(std::numeric_limits<float>::infinity()), high(-std::numeric_limits<float>::infinity()) {
    for (int w = 0; w < kWindows; ++w) {
        windowMin[w] = 1e10f;
        windowMax[w] = -1e10f;
    }
}

namespace {

// The values of one decade bucket: bucket 0 holds magnitudes below 1e-5, bucket k + 1 those
// in kDecades[k] .. kDecades[k + 1] (the upper end excluded), bucket 16 those from 1e10 up.
// Window w is buckets w + 1 .. w + 4 plus the values that equal its upper end exactly, which
// sit at the bottom of bucket w + 5; counting buckets once per value, instead of testing
// twelve windows, is what makes the range search cheap.
constexpr int kBuckets = 17;

struct DecadeBucket {
    int64_t count = 0;
    int64_t at_lower_end = 0;  // values equal to the bucket's lower end
    float low = std::numeric_limits<float>::infinity();
    float high = -std::numeric_limits<float>::infinity();
};

// The number of decades at or below a (0..16); a is not NaN. A binary search over the first
// fifteen, then the last.
int BucketOf(float a) {
    int b = 0;
    for (int step = 8; step > 0; step /= 2)
        if (a >= kDecades[b + step - 1]) b += step;
    return b == 15 && a >= kDecades[15] ? 16 : b;
}

}  // namespace

void NonlinearDataMap::RangeCounts::Count(int64_t count, const float* values) {
    if (count <= 0 || !values) return;
    DecadeBucket buckets[kBuckets];
    // Neighbouring values mostly share a bucket: a run of them is gathered in locals, bounded
    // by the bucket's ends, and folded in when a value leaves the bucket.
    int current = 0;
    float run_from = 0.0f;
    float run_below = kDecades[0];
    int64_t run_count = 0;
    int64_t run_at_from = 0;
    float run_low = std::numeric_limits<float>::infinity();
    float run_high = -std::numeric_limits<float>::infinity();
    const auto take = [&](float value) {
        const float a = std::fabs(value);
        // NaN fails this test too, and is then left out below.
        if (!(a >= run_from && a < run_below)) {
            if (std::isnan(a)) return;  // counted, but has no place in any range
            DecadeBucket& b = buckets[current];
            b.count += run_count;
            b.at_lower_end += run_at_from;
            b.low = std::min(b.low, run_low);
            b.high = std::max(b.high, run_high);
            current = BucketOf(a);
            run_from = current > 0 ? kDecades[current - 1] : 0.0f;
            // Infinite magnitudes fall outside every run and so come back here each time.
            run_below = current < 16 ? kDecades[current] : std::numeric_limits<float>::infinity();
            run_count = run_at_from = 0;
            run_low = std::numeric_limits<float>::infinity();
            run_high = -std::numeric_limits<float>::infinity();
        }
        ++run_count;
        run_at_from += a == run_from;
        run_low = a < run_low ? a : run_low;
        run_high = a > run_high ? a : run_high;
    };
    // A block that lies wholly in the run's bucket joins it at once; its extremes are taken
    // on four independent chains. Any other block goes value by value.
    constexpr int kBlock = 32;
    constexpr int kChains = 4;
    int64_t i = 0;
    for (; i + kBlock <= count; i += kBlock) {
        float block_low[kChains];
        float block_high[kChains];
        for (int k = 0; k < kChains; ++k) {
            block_low[k] = std::numeric_limits<float>::infinity();
            block_high[k] = -std::numeric_limits<float>::infinity();
        }
        bool outside = false;
        int64_t at_from = 0;
        for (int k = 0; k < kBlock; ++k) {
            const float a = std::fabs(values[i + k]);
            outside |= !(a >= run_from && a < run_below);
            at_from += a == run_from;
            block_low[k % kChains] = a < block_low[k % kChains] ? a : block_low[k % kChains];
            block_high[k % kChains] = a > block_high[k % kChains] ? a : block_high[k % kChains];
        }
        if (outside) {
            for (int k = 0; k < kBlock; ++k) take(values[i + k]);
            continue;
        }
        run_count += kBlock;
        run_at_from += at_from;
        for (int k = 0; k < kChains; ++k) {
            run_low = std::min(run_low, block_low[k]);
            run_high = std::max(run_high, block_high[k]);
        }
    }
    for (; i < count; ++i) take(values[i]);
    DecadeBucket& last = buckets[current];
    last.count += run_count;
    last.at_lower_end += run_at_from;
    last.low = std::min(last.low, run_low);
    last.high = std::max(last.high, run_high);

    counted += count;
    for (const DecadeBucket& b : buckets) {
        low = std::min(low, b.low);
        high = std::max(high, b.high);
    }
    for (int w = 0; w < kWindows; ++w) {
        for (int bucket = w + 1; bucket <= w + 4; ++bucket) {
            const DecadeBucket& b = buckets[bucket];
            if (b.count == 0) continue;
            windowCount[w] += b.count;
            windowMin[w] = std::min(windowMin[w], b.low);
            windowMax[w] = std::max(windowMax[w], b.high);
        }
        // The window's upper end belongs to it too.
        if (const int64_t ends = buckets[w + 5].at_lower_end; ends > 0) {
            windowCount[w] += ends;
            windowMin[w] = std::min(windowMin[w], kDecades[w + 4]);
            windowMax[w] = std::max(windowMax[w], kDecades[w + 4]);
        }
    }
}

void NonlinearDataMap::RangeCounts::Add(const RangeCounts& other) {
    counted += other.counted;
    low = std::min(low, other.low);
    high = std::max(high, other.high);
    for (int w = 0; w < kWindows; ++w) {
        windowCount[w] += other.windowCount[w];
        windowMin[w] = std::min(windowMin[w], other.windowMin[w]);
        windowMax[w] = std::max(windowMax[w], other.windowMax[w]);
    }
}

void NonlinearDataMap::SetRange(const RangeCounts& counts) {
    SetRangeByRule(rangeMode, counts);
}

void NonlinearDataMap::SetRangeByRule(int rule, const RangeCounts& counts) {
    countedValues = static_cast<int>(std::min<int64_t>(counts.counted, std::numeric_limits<int>::max()));
    if (rule == 1) {
        // With nothing measurable the range is the usual reversed 1e10..-1e10.
        rangeMin = counts.low <= counts.high ? counts.low : 1e10f;
        rangeMax = counts.low <= counts.high ? counts.high : -1e10f;
        return;
    }
    int best = 0;
    for (int w = 1; w < kWindows; ++w)
        if (counts.windowCount[w] > counts.windowCount[best]) best = w;  // a tie keeps the lower window
    // With no window counted this is window 0's reversed start range.
    rangeMin = counts.windowMin[best];
    rangeMax = counts.windowMax[best];
}

void NonlinearDataMap::FindRange(int count, const float* values) {
    RangeCounts counts;
    counts.Count(count, values);
    SetRangeByRule(1, counts);
}

void NonlinearDataMap::FindDominantRange(int count, float* values) {
    RangeCounts counts;
    counts.Count(count, values);
    SetRangeByRule(0, counts);
    ClampIntoRange(count, values);
}

void NonlinearDataMap::MapLevels(int count, const float* levels, const int64_t* occurrences, float* mapped) {
    established = 0;
    RangeCounts counts;
    for (int k = 0; k < count; ++k) {
        if (occurrences[k] <= 0) continue;
        // A single value counts 0 or 1 in each window; its occurrences multiply that.
        RangeCounts one;
        one.Count(1, levels + k);
        one.counted = occurrences[k];
        for (int64_t& window : one.windowCount) window *= occurrences[k];
        counts.Add(one);
    }
    if (counts.counted == 0) {
        countedValues = 0;
        return;
    }
    SetRange(counts);
    std::copy(levels, levels + count, mapped);
    if (rangeMode != 1) ClampIntoRange(count, mapped);
    if (!(rangeMin <= rangeMax) || rangeMin == rangeMax) {
        std::fill(mapped, mapped + count, rangeMin == rangeMax ? outHigh : outLow);
        return;
    }
    std::vector<int64_t> histogram(kBins, 0);
    const double s = ScaleOfRange();
    for (int k = 0; k < count; ++k) {
        const float a = std::fabs(mapped[k]);
        if (occurrences[k] > 0 && !std::isnan(a)) histogram[BinIndex(a, rangeMin, rangeMax, s)] += occurrences[k];
    }
    BuildTableFromBins(histogram.data());
    ApplyTable(count, mapped);
}

void NonlinearDataMap::ClampIntoRange(int64_t count, float* values) const {
    // With no window counted the range is reversed; clamping into it would be meaningless.
    if (!(rangeMin <= rangeMax) || count <= 0 || !values) return;
    for (int64_t i = 0; i < count; ++i) {
        const float v = values[i];
        const float a = std::fabs(v);
        // 0 counts as non-negative and so is clamped to +rangeMin.
        if (a < rangeMin)
            values[i] = v < 0 ? -rangeMin : rangeMin;
        else if (a > rangeMax)
            values[i] = v < 0 ? -rangeMax : rangeMax;
    }
}

float NonlinearDataMap::ScaleOfRange() const {
    return static_cast<float>(9999.0 / (static_cast<double>(rangeMax) - rangeMin));
}

void NonlinearDataMap::SetScale() {
    scale = ScaleOfRange();
}

void NonlinearDataMap::CountBins(int64_t count, const float* values, int64_t* histogram) const {
    if (count <= 0 || !values) return;
    const float low = rangeMin;
    const float high = rangeMax;
    // The scale BuildTableFromBins stores; computed here so that pieces may count at once.
    const double s = ScaleOfRange();
    for (int64_t i = 0; i < count; ++i) {
        const float a = std::fabs(values[i]);
        if (std::isnan(a)) continue;  // has no place in the distribution
        ++histogram[BinIndex(a, low, high, s)];
    }
}

void NonlinearDataMap::BuildTable(int count, const float* values) {
    std::vector<int64_t> histogram(kBins, 0);
    CountBins(count, values, histogram.data());
    BuildTableFromBins(histogram.data());
}

void NonlinearDataMap::BuildTableFromBins(const int64_t* histogram) {
    SetScale();
    int64_t counted = 0;
    for (int i = 0; i < kBins; ++i) counted += histogram[i];
    countedValues = static_cast<int>(std::min<int64_t>(counted, std::numeric_limits<int>::max()));

    float c[kBins];
    float sum = 0.0f;
    for (int i = 0; i < kBins; ++i) {
        binShare[i] =
            counted > 0 ? static_cast<float>(static_cast<double>(histogram[i]) / static_cast<double>(counted)) : 0.0f;
        sum = static_cast<float>(static_cast<double>(sum) + binShare[i]);
        c[i] = static_cast<float>(1.0 + 9999.0 * static_cast<double>(sum));
        // The running float sum can pass 1 before the top bin; a level above the top would
        // put values beyond outHigh and break the order of the table.
        if (c[i] > 10000.0f) c[i] = 10000.0f;
    }
    c[kTopBin] = 10000.0f;

    const double c0 = c[0];
    const double denominator = 10000.0 - c0;
    const double span = static_cast<double>(outHigh) - outLow;
    for (int i = 0; i < kBins; ++i) {
        // One expression, rounded once where it is stored. When rounding has put the whole
        // share into bin 0 there is nothing to stretch.
        table[i] = denominator > 0.0 ? static_cast<float>(outLow + span * (c[i] - c0) / denominator) : outLow;
    }
    // The ends are the target interval's ends, whatever the rounding of outLow + span.
    table[0] = outLow;
    table[kTopBin] = outHigh;
    established = 1;
}

void NonlinearDataMap::ApplyTable(int count, float* values) {
    if (!established) {
        (host ? *host : DefaultHost()).ShowMessage("Nonlinear data map not yet established!!!");
        return;
    }
    if (count <= 0 || !values) return;
    const float low = rangeMin;
    const float high = rangeMax;
    const double s = scale;
    for (int i = 0; i < count; ++i) {
        const float v = values[i];
        if (v > 0)
            values[i] = table[BinIndex(v, low, high, s)];
        else if (v <= 0)  // 0 takes this branch: -table[0] when rangeMin is 0
            values[i] = -table[BinIndex(-v, low, high, s)];
        else
            values[i] = outLow;  // NaN
    }
}

}  // namespace flowloom
