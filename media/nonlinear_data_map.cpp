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

}  // namespace

int NonlinearDataMap::BinOf(float magnitude) const {
    // The product below may truncate to 9998 for the largest magnitude, so the top of the
    // range is placed by comparison rather than by arithmetic.
    if (magnitude >= rangeMax) return kTopBin;
    // The bin is only truncated, never stored, so the product stays in double.
    const double b = (static_cast<double>(magnitude) - rangeMin) * static_cast<double>(scale);
    if (!(b > 0.0)) return 0;  // below the range, or NaN
    if (b >= kTopBin) return kTopBin;
    return static_cast<int>(b);
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

void NonlinearDataMap::RangeCounts::Count(int64_t count, const float* values) {
    if (count <= 0 || !values) return;
    for (int64_t i = 0; i < count; ++i) {
        const float a = std::fabs(values[i]);
        ++counted;
        // Starting from the infinities, magnitudes above 1e10 still set the minimum.
        if (a < low) low = a;
        if (a > high) high = a;
        for (int w = 0; w < kWindows; ++w) {
            if (a >= kDecades[w] && a <= kDecades[w + 4]) {
                ++windowCount[w];
                if (a < windowMin[w]) windowMin[w] = a;
                if (a > windowMax[w]) windowMax[w] = a;
            }
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

void NonlinearDataMap::SetScale() {
    scale = static_cast<float>(9999.0 / (static_cast<double>(rangeMax) - rangeMin));
}

void NonlinearDataMap::CountBins(int64_t count, const float* values, int64_t* histogram) {
    SetScale();
    if (count <= 0 || !values) return;
    for (int64_t i = 0; i < count; ++i) {
        const float a = std::fabs(values[i]);
        if (std::isnan(a)) continue;  // has no place in the distribution
        ++histogram[BinOf(a)];
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
    for (int i = 0; i < count; ++i) {
        const float v = values[i];
        if (v > 0)
            values[i] = table[BinOf(v)];
        else if (v <= 0)  // 0 takes this branch: -table[0] when rangeMin is 0
            values[i] = -table[BinOf(-v)];
        else
            values[i] = outLow;  // NaN
    }
}

}  // namespace flowloom
