#include "lic/parallel_data_map.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <memory>
#include <random>
#include <vector>

#include "lic/parallel_rows.h"

namespace flowloom {
namespace {

// Split into pieces on two threads, the map gives the values and table of one serial Map,
// in both range rules, with NaN, zero and negative values, on sizes that split unevenly.
TEST(MapInParallel, EqualsTheSerialMap) {
    std::mt19937 random(3);
    std::uniform_real_distribution<float> exponent(-6.0f, 4.0f);
    for (const long count : {1L, 1000L, 200001L}) {
        std::vector<float> values(static_cast<size_t>(count));
        for (long i = 0; i < count; ++i) values[i] = (i % 9 == 0 ? -1.0f : 1.0f) * std::pow(10.0f, exponent(random));
        values[0] = 0.0f;
        values[count / 2] = std::nanf("");
        for (const int mode : {0, 1}) {
            auto serial = std::make_unique<NonlinearDataMap>();
            auto parallel = std::make_unique<NonlinearDataMap>();
            serial->rangeMode = parallel->rangeMode = mode;
            std::vector<float> want = values;
            serial->Map(static_cast<int>(count), want.data());
            std::vector<float> got = values;
            SetThreadCount(2);
            MapInParallel(*parallel, count, got.data());
            SetThreadCount(0);
            EXPECT_EQ(std::memcmp(want.data(), got.data(), want.size() * sizeof(float)), 0) << count << " " << mode;
            EXPECT_EQ(std::memcmp(serial->table, parallel->table, sizeof serial->table), 0) << count << " " << mode;
            EXPECT_EQ(serial->countedValues, parallel->countedValues);
            EXPECT_EQ(serial->scale, parallel->scale);
        }
    }
    // All equal: every element becomes outHigh, as Map makes it.
    std::vector<float> flat(300000, 2.0f);
    auto map = std::make_unique<NonlinearDataMap>();
    SetThreadCount(2);
    MapInParallel(*map, static_cast<long>(flat.size()), flat.data());
    SetThreadCount(0);
    for (const float v : flat) ASSERT_EQ(v, map->outHigh);
}

}  // namespace
}  // namespace flowloom
