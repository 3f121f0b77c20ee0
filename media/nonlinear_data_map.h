#pragma once

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

    NonlinearDataMap() = default;

    void Map(int count, float* values);
    void FindRange(int count, const float* values);
    void FindDominantRange(int count, float* values);
    void BuildTable(int count, const float* values);
    // Refuses (with a message on `host`) when no table was built.
    void ApplyTable(int count, float* values);

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

private:
    // The bin of a magnitude inside rangeMin..rangeMax; the largest lands in the top bin.
    int BinOf(float magnitude) const;
};

}  // namespace flowloom
