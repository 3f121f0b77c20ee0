#include "lic/parallel_data_map.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <iterator>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "lic/parallel_rows.h"

namespace flowloom {
namespace {

// In one piece or split into pieces on two threads, the map gives the values and table of
// one serial Map, in both range rules, with NaN, infinities, zeros of both signs, negative
// and subnormal values, on sizes that split unevenly and leave every lane remainder.
TEST(MapInParallel, EqualsTheSerialMap) {
    std::mt19937 random(3);
    std::uniform_real_distribution<float> exponent(-6.0f, 4.0f);
    for (const long count : {1L, 1000L, 131075L, 200001L}) {
        std::vector<float> values(static_cast<size_t>(count));
        for (long i = 0; i < count; ++i) values[i] = (i % 9 == 0 ? -1.0f : 1.0f) * std::pow(10.0f, exponent(random));
        const float special[] = {0.0f, std::nanf(""), -0.0f, INFINITY, -INFINITY, 1e-40f, -1e-40f, 1e-5f, 1e10f};
        for (size_t k = 0; k < std::size(special) && k < values.size(); ++k) values[k * values.size() / 9] = special[k];
        for (const int mode : {0, 1}) {
            for (const int threads : {1, 2}) {
                auto serial = std::make_unique<NonlinearDataMap>();
                auto parallel = std::make_unique<NonlinearDataMap>();
                serial->rangeMode = parallel->rangeMode = mode;
                std::vector<float> want = values;
                serial->Map(static_cast<int>(count), want.data());
                std::vector<float> got = values;
                SetThreadCount(threads);
                MapInParallel(*parallel, count, got.data());
                SetThreadCount(0);
                const std::string what = std::to_string(count) + " values, rule " + std::to_string(mode) + ", " +
                                         std::to_string(threads) + " thread(s)";
                EXPECT_EQ(std::memcmp(want.data(), got.data(), want.size() * sizeof(float)), 0) << what;
                EXPECT_EQ(std::memcmp(serial->table, parallel->table, sizeof serial->table), 0) << what;
                EXPECT_EQ(serial->countedValues, parallel->countedValues) << what;
                EXPECT_EQ(serial->scale, parallel->scale) << what;
            }
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
