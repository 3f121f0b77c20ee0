#pragma once

#include <cstdint>

#include "media/host.h"

namespace flowloom {

// Remaps an array of floats onto outLow..outHigh by histogram equalisation of their
// magnitudes (10000 bins), keeping each value's sign. rangeMode 1 takes the plain
// minimum and maximum of the magnitudes; rangeMode 0 takes the range of the dominant
// four-decade window and clamps the values into it first.
// When no magnitude falls into any window, or the array is empty, every element becomes
// outLow and no table is built.
class NonlinearDataMap {
public:
    static constexpr int kBins = 10000;
    static constexpr int kWindows = 12;

    // What the range search counts over some of the values. Counts of several pieces of
    // one array (the tiles of a field) add up to the counts of the whole array.
    struct RangeCounts {
        RangeCounts();
        void Count(int64_t count, const float* values);
        void Add(const RangeCounts& other);

        int64_t counted = 0;
        float low;   // smallest and largest magnitude, NaN left out
        float high;  // (+inf and -inf when there was none)
        int64_t windowCount[kWindows] = {};
        float windowMin[kWindows];
        float windowMax[kWindows];
    };

    NonlinearDataMap() = default;

    void Map(int count, float* values);
    // With no measurable magnitude (empty, or only NaN) the range is the reversed 1e10..-1e10.
    void FindRange(int count, const float* values);
    // Bounds are the float literals 1e-5f..1e10f, both ends inside a window; a tie goes to
    // the lower window. Values are clamped only when some window counted a magnitude.
    void FindDominantRange(int count, float* values);
    // NaN values are left out of the distribution; the table rises from outLow to outHigh.
    void BuildTable(int count, const float* values);
    // Refuses (with a message on `host`) when no table was built. A value <= 0 (0 too)
    // gets -table[bin of -v]; a NaN becomes outLow.
    void ApplyTable(int count, float* values);

    // Map for an array held in pieces: count every piece into one RangeCounts, SetRange,
    // ClampIntoRange every piece, CountBins every piece into one histogram, then
    // BuildTableFromBins and ApplyTable every piece. Map runs through the same steps, so
    // the pieces give exactly the values of one Map over the whole array; unlike Map,
    // SetRange leaves the cases without a table to the caller (see Map).
    void SetRange(const RangeCounts& counts);  // by rangeMode, as FindRange/FindDominantRange
    // Decade windows only: clamps the values into the range, keeping their signs.
    void ClampIntoRange(int64_t count, float* values) const;
    // Adds the bin counts of the values to histogram[kBins]; needs the range set. Changes
    // nothing in the map, so pieces may be counted on several threads at once.
    void CountBins(int64_t count, const float* values, int64_t* histogram) const;
    void BuildTableFromBins(const int64_t* histogram);

    // Map for values that take a few distinct levels: levels[k] stands for occurrences[k]
    // equal values (0 for none). Writes to mapped[k] what Map gives each of them and leaves
    // the map as Map over all the values would, in time of the levels rather than the values.
    void MapLevels(int count, const float* levels, const int64_t* occurrences, float* mapped);

    int rangeMode = 1;
    int countedValues = 0;
    int established = 0;
    float scale = 1.0f;
    float rangeMin = 1.0f;
    float rangeMax = 1000.0f;
    float outLow = 1.0f;
    float outHigh = 1000.0f;
    float binShare[kBins] = {};
    float table[kBins] = {};
    // Where the "not yet established" message goes; the default host when null.
    Host* host = nullptr;

    // The scale a table for the range set now would store: 9999 / (rangeMax - rangeMin),
    // as a float.
    float ScaleOfRange() const;

private:
    // 1 the plain range, any other the dominant decade window.
    void SetRangeByRule(int rule, const RangeCounts& counts);
    void SetScale();
    // The bin of a magnitude inside rangeMin..rangeMax, clamped into 0..kBins-1; a
    // magnitude >= rangeMax lands in the top bin whatever the rounding of `scale`.
    int BinOf(float magnitude) const;
};

}  // namespace flowloom
