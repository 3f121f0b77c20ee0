#include "media/nonlinear_data_map.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <random>
#include <vector>

#include "support/test_support.h"

namespace flowloom {
namespace {

// The map carries two 10000-entry tables; keep it off the stack.
std::unique_ptr<NonlinearDataMap> MakeMap(int range_mode, float out_low, float out_high) {
    auto map = std::make_unique<NonlinearDataMap>();
    map->rangeMode = range_mode;
    map->outLow = out_low;
    map->outHigh = out_high;
    return map;
}

std::vector<float> Mapped(int range_mode, float out_low, float out_high, std::vector<float> v) {
    MakeMap(range_mode, out_low, out_high)->Map(static_cast<int>(v.size()), v.data());
    return v;
}

TEST(NonlinearDataMap, PlainRangeEqualisesEvenlySpreadValues) {
    auto map = MakeMap(1, 0.0f, 255.0f);
    std::vector<float> v = {1, 2, 3, 4};
    map->Map(4, v.data());
    EXPECT_EQ(map->rangeMin, 1.0f);
    EXPECT_EQ(map->rangeMax, 4.0f);
    for (int bin : {0, 3333, 6666, 9999}) EXPECT_FLOAT_EQ(map->binShare[bin], 0.25f) << bin;
    const float want[] = {0, 85, 170, 255};
    for (int i = 0; i < 4; ++i) EXPECT_NEAR(v[i], want[i], 1e-3) << i;
    EXPECT_EQ(v[0], 0.0f);
    EXPECT_EQ(v[3], 255.0f);

    // A NaN among them takes no share of the distribution and comes out as outLow.
    auto with_nan = Mapped(1, 0.0f, 255.0f, {1, 2, std::nanf(""), 3, 4});
    EXPECT_EQ(with_nan[2], 0.0f);
    EXPECT_NEAR(with_nan[1], 85.0f, 1e-3);
    EXPECT_EQ(with_nan[4], 255.0f);
    std::vector<float> few = {1, std::nanf(""), 4};
    map->Map(3, few.data());
    EXPECT_EQ(map->countedValues, 2);

    // Magnitudes beyond 1e10 still set the bottom of the range.
    EXPECT_EQ(Mapped(1, 0.0f, 255.0f, {4e10f, 2e10f, 3e10f}), (std::vector<float>{255.0f, 0.0f, 127.5f}));

    // Equal magnitudes leave nothing to spread: all become outHigh.
    for (float x : Mapped(1, 0.0f, 255.0f, std::vector<float>(7, 128.0f))) EXPECT_EQ(x, 255.0f);
}

TEST(NonlinearDataMap, SignsAreKeptAndZeroTakesTheNonPositiveBranch) {
    auto v = Mapped(1, 0.0f, 255.0f, {-4, -3, 2, 1});
    EXPECT_NEAR(v[0], -255.0f, 1e-3);
    EXPECT_NEAR(v[1], -170.0f, 1e-3);
    EXPECT_NEAR(v[2], 85.0f, 1e-3);
    EXPECT_EQ(v[3], 0.0f);

    auto z = Mapped(1, 10.0f, 20.0f, {0, 1, 2});
    EXPECT_EQ(z[0], -10.0f);
    EXPECT_EQ(z[2], 20.0f);
}

TEST(NonlinearDataMap, DecadeWindowsPickTheFullestLowerWindowAndClamp) {
    auto map = MakeMap(0, 1.0f, 1000.0f);
    std::vector<float> v = {0, 0.002f, 5, 50, 500};
    map->FindDominantRange(5, v.data());
    EXPECT_EQ(map->rangeMin, 5.0f);
    EXPECT_EQ(map->rangeMax, 500.0f);
    EXPECT_EQ(v[0], 5.0f);
    EXPECT_EQ(v[1], 5.0f);

    v = {0, 0.002f, -5, 50, 500};
    map->Map(5, v.data());
    EXPECT_EQ(v[0], 1.0f);
    EXPECT_EQ(v[1], 1.0f);
    EXPECT_EQ(v[2], -1.0f);
    EXPECT_NEAR(v[3], 500.5f, 1e-2);  // shares 0.6, 0.2, 0.2
    EXPECT_EQ(v[4], 1000.0f);

    // Windows 1..4 hold the two below 1, windows 5..8 the two thousands: the tie goes to
    // window 1, and the thousands are clamped down to its top.
    EXPECT_EQ(Mapped(0, 1.0f, 1000.0f, {0.5f, 0.6f, 5e3f, -6e3f}),
              (std::vector<float>{1.0f, 1000.0f, 1000.0f, -1000.0f}));

    // Both window bounds are inside; one float beyond the outermost is in no window.
    const float inf = std::numeric_limits<float>::infinity();
    EXPECT_EQ(Mapped(0, 1.0f, 1000.0f, {1e-5f, 0.1f}), (std::vector<float>{1.0f, 1000.0f}));
    EXPECT_EQ(Mapped(0, 1.0f, 1000.0f, {1e6f, 1e10f}), (std::vector<float>{1.0f, 1000.0f}));
    EXPECT_EQ(Mapped(0, 1.0f, 1000.0f, {std::nextafter(1e-5f, 0.0f)})[0], 1.0f);
    EXPECT_EQ(Mapped(0, 1.0f, 1000.0f, {std::nextafter(1e10f, inf)})[0], 1.0f);
}

TEST(NonlinearDataMap, NothingToMeasureGivesOutLowAndNoTable) {
    test::RecordingHost host;
    auto map = MakeMap(1, 1.0f, 1000.0f);
    map->host = &host;
    std::vector<float> v = {1, 5, 9};
    map->Map(3, v.data());
    ASSERT_EQ(map->established, 1);

    // An all-zero field under the decade rule (the same map: its old table must not stick).
    map->rangeMode = 0;
    std::vector<float> zeros(100, 0.0f);
    zeros[7] = std::nanf("");
    map->Map(100, zeros.data());
    EXPECT_EQ(map->established, 0);
    for (float x : zeros) ASSERT_EQ(x, 1.0f);

    // Empty and absent arrays.
    for (int mode : {0, 1}) {
        map->rangeMode = mode;
        map->Map(0, nullptr);
        map->Map(5, nullptr);
        map->Map(0, v.data());
        EXPECT_EQ(map->established, 0);
    }
    EXPECT_EQ(v[0], 1.0f);
    EXPECT_TRUE(host.messages.empty());
}

TEST(NonlinearDataMap, ApplyTableBeforeBuildTableRefusesWithTheMessage) {
    test::RecordingHost host;
    auto map = MakeMap(1, 0.0f, 255.0f);
    map->host = &host;
    std::vector<float> v = {3, -1, 0, 7};
    const std::vector<float> before = v;
    map->ApplyTable(4, v.data());
    EXPECT_EQ(v, before);
    ASSERT_EQ(host.messages.size(), 1u);
    EXPECT_EQ(host.messages[0], "Nonlinear data map not yet established!!!");
}

// Random value and target ranges, among them many on which 9999 / (max - min) rounds so
// that the largest magnitude would truncate to bin 9998: the ends still map exactly.
TEST(NonlinearDataMap, EndsMapExactlyToTheTargetAndTheMapIsMonotone) {
    std::mt19937 rng(20240611);
    std::uniform_real_distribution<float> unit(0.0f, 1.0f);
    int short_of_top = 0;
    for (int trial = 0; trial < 400; ++trial) {
        const float lo = trial % 4 == 0 ? 0.0f : std::pow(10.0f, 6.0f * unit(rng) - 3.0f);
        const float hi = lo + std::pow(10.0f, 7.0f * unit(rng) - 3.0f);
        if (!(hi > lo)) continue;
        const float naive_scale = 9999.0f / (hi - lo);
        const bool naive_short = static_cast<int>((hi - lo) * naive_scale) == 9998;
        short_of_top += naive_short;

        std::vector<float> in = {lo, hi};
        for (int i = 0; i < 62; ++i) in.push_back(lo + (hi - lo) * unit(rng));
        for (float& x : in)
            if (rng() & 1) x = -x;
        const float out_low = 10.0f * unit(rng);
        const float out_high = out_low + 0.1f + 1000.0f * unit(rng);
        auto map = MakeMap(1, out_low, out_high);
        std::vector<float> out = in;
        map->Map(64, out.data());
        ASSERT_EQ(std::fabs(out[0]), out_low) << lo << ".." << hi;
        ASSERT_EQ(std::fabs(out[1]), out_high) << lo << ".." << hi;
        if (naive_short) {
            ASSERT_LT(map->table[9998], out_high);  // where the naive bin would have stopped
        }

        std::vector<int> order(64);
        for (int i = 0; i < 64; ++i) order[i] = i;
        std::sort(order.begin(), order.end(), [&](int a, int b) { return std::fabs(in[a]) < std::fabs(in[b]); });
        for (int k = 1; k < 64; ++k)
            ASSERT_LE(std::fabs(out[order[k - 1]]), std::fabs(out[order[k]])) << lo << ".." << hi;
        for (int i = 0; i < 64; ++i) {
            if (in[i] < 0) {
                ASSERT_LE(out[i], 0.0f);
            }
        }
    }
    EXPECT_GT(short_of_top, 0);

    // Byte ranges, as for grey images: the brightest pixel stays 255 where the naive bin
    // would have been one short.
    int byte_short = 0;
    for (int lo = 0; lo < 256; ++lo) {
        for (int hi = lo + 1; hi < 256; ++hi) {
            const float width = static_cast<float>(hi - lo);
            if (static_cast<int>(width * (9999.0f / width)) != 9998) continue;
            ++byte_short;
            auto v = Mapped(1, 0.0f, 255.0f, {float(lo), float(hi), float(lo + hi) / 2});
            ASSERT_EQ(static_cast<int>(v[1]), 255) << lo << ".." << hi;
        }
    }
    EXPECT_GT(byte_short, 0);
}

// Many values spread over the lower 70% and one at the top: the running float sum of the
// shares passes 1 before the top bin, which must not lift any value above outHigh.
TEST(NonlinearDataMap, RoundingOfTheRunningSumStaysBelowOutHigh) {
    const int n = 100000;
    std::vector<float> v(n);
    for (int i = 0; i < n - 1; ++i) v[i] = 0.7f * static_cast<float>(i) / static_cast<float>(n - 2);
    v[n - 1] = 1.0f;
    auto map = MakeMap(1, 1.0f, 1000.0f);
    map->Map(n, v.data());
    float sum = 0.0f;
    for (int i = 0; i < 9999; ++i) sum += map->binShare[i];
    ASSERT_GT(1.0f + 9999.0f * sum, 10000.0f);  // the case is really exercised
    for (int i = 1; i < NonlinearDataMap::kBins; ++i) ASSERT_LE(map->table[i - 1], map->table[i]) << i;
    EXPECT_LE(map->table[9998], 1000.0f);
    for (float x : v) ASSERT_LE(x, 1000.0f);
    EXPECT_EQ(v[n - 1], 1000.0f);
}

}  // namespace
// The bin is an integer, never a stored float: (a - rangeMin) * scale is truncated from
// the double product. Here the product is 2390.99995 in double but 2391.0 in float.
// The table entries are single double expressions, rounded once where they are stored.
TEST(NonlinearDataMap, BinsAndTableEntriesFollowTheDoubleReference) {
    auto map = MakeMap(1, 0.0f, 255.0f);
    std::vector<float> v = {0.0f, 239.12391662597656f, 1000.0f};
    map->Map(3, v.data());
    EXPECT_EQ(map->scale, static_cast<float>(9999.0 / 1000.0));
    EXPECT_FLOAT_EQ(map->binShare[2390], 1.0f / 3.0f);
    EXPECT_EQ(map->binShare[2391], 0.0f);

    std::mt19937 random(9);
    for (int trial = 0; trial < 20; ++trial) {
        auto m = MakeMap(1, 1.0f + trial, 1000.0f + 37.0f * trial);
        std::uniform_real_distribution<float> value(0.001f, 1.0f + 50.0f * trial);
        std::vector<float> data(3000 + 97 * trial);
        for (float& x : data) x = value(random);
        // Values placed just below a bin edge, where a float product would round up.
        for (int k = 0; k < 50; ++k) data[k] = std::nextafter(data[k], 0.0f);
        std::vector<float> in = data;
        m->Map(static_cast<int>(data.size()), data.data());

        const double scale = static_cast<float>(9999.0 / (static_cast<double>(m->rangeMax) - m->rangeMin));
        ASSERT_EQ(m->scale, static_cast<float>(scale));
        std::vector<int> histogram(NonlinearDataMap::kBins);
        for (float x : in) {
            // The largest magnitude goes to the top bin whatever the rounding of scale.
            const double b = x >= m->rangeMax ? 9999.0 : (static_cast<double>(x) - m->rangeMin) * scale;
            ++histogram[std::clamp(static_cast<int>(b), 0, NonlinearDataMap::kBins - 1)];
        }
        float sum = 0.0f;
        std::vector<float> c(NonlinearDataMap::kBins);
        for (int i = 0; i < NonlinearDataMap::kBins; ++i) {
            sum += static_cast<float>(static_cast<double>(histogram[i]) / in.size());
            c[i] = std::min(static_cast<float>(1.0 + 9999.0 * sum), 10000.0f);
        }
        c.back() = 10000.0f;
        for (int i = 1; i + 1 < NonlinearDataMap::kBins; ++i) {
            const double want = m->outLow + (static_cast<double>(m->outHigh) - m->outLow) *
                                                (static_cast<double>(c[i]) - c[0]) / (10000.0 - c[0]);
            ASSERT_EQ(m->table[i], static_cast<float>(want)) << trial << " bin " << i;
        }
    }
}

// An array held in pieces (a field in tiles) maps exactly as one Map over the whole array:
// each piece counts, the range and table come from the sums, each piece applies the table.
TEST(NonlinearDataMap, PiecesMapExactlyAsTheWholeArray) {
    std::mt19937 random(5);
    std::uniform_real_distribution<float> exponent(-7.0f, 6.0f);
    std::vector<float> values(5000);
    for (size_t i = 0; i < values.size(); ++i)
        values[i] = (i % 7 == 0 ? -1.0f : 1.0f) * std::pow(10.0f, exponent(random));
    values[3] = 0.0f;
    values[17] = std::nanf("");
    const size_t cuts[] = {0, 1, 1900, 4999, 5000};
    for (const int mode : {0, 1}) {
        std::vector<float> whole = values;
        MakeMap(mode, 1.0f, 1000.0f)->Map(static_cast<int>(whole.size()), whole.data());

        std::vector<float> pieces = values;
        auto map = MakeMap(mode, 1.0f, 1000.0f);
        NonlinearDataMap::RangeCounts counts;
        for (int p = 0; p < 4; ++p) {
            NonlinearDataMap::RangeCounts part;
            part.Count(static_cast<int64_t>(cuts[p + 1] - cuts[p]), pieces.data() + cuts[p]);
            counts.Add(part);
        }
        map->SetRange(counts);
        std::vector<int64_t> histogram(NonlinearDataMap::kBins, 0);
        for (int p = 0; p < 4; ++p) {
            if (mode == 0) map->ClampIntoRange(static_cast<int64_t>(cuts[p + 1] - cuts[p]), pieces.data() + cuts[p]);
            map->CountBins(static_cast<int64_t>(cuts[p + 1] - cuts[p]), pieces.data() + cuts[p], histogram.data());
        }
        map->BuildTableFromBins(histogram.data());
        for (int p = 0; p < 4; ++p) map->ApplyTable(static_cast<int>(cuts[p + 1] - cuts[p]), pieces.data() + cuts[p]);
        EXPECT_EQ(std::memcmp(whole.data(), pieces.data(), whole.size() * sizeof(float)), 0) << mode;
    }
}

// The range search counts each value once into its decade; the windows it derives must be
// those of testing every value against every window, on the windows' exact ends too.
TEST(NonlinearDataMap, RangeCountsEqualAWindowByWindowCount) {
    constexpr float kEnds[16] = {1e-5f, 1e-4f, 1e-3f, 1e-2f, 1e-1f, 1e0f, 1e1f, 1e2f,
                                 1e3f,  1e4f,  1e5f,  1e6f,  1e7f,  1e8f, 1e9f, 1e10f};
    std::mt19937 random(11);
    std::uniform_real_distribution<float> exponent(-7.0f, 11.0f);
    std::vector<float> scattered(3000);
    for (size_t i = 0; i < scattered.size(); ++i) {
        const float a = i % 5 == 0 ? kEnds[i / 5 % 16] : std::pow(10.0f, exponent(random));
        scattered[i] = i % 3 == 0 ? -a : a;
    }
    for (const float odd : {0.0f, std::nanf(""), std::numeric_limits<float>::infinity(), 1e-30f, 3e10f})
        scattered.push_back(odd);
    // Long runs inside one decade (whole blocks at a time), broken by a NaN, a decade's end
    // and a step into the next decade.
    std::vector<float> smooth(4001);
    for (size_t i = 0; i < smooth.size(); ++i) smooth[i] = std::pow(10.0f, -3.0f + static_cast<float>(i) / 700.0f);
    smooth[1000] = std::nanf("");
    smooth[2100] = 1e-2f;
    smooth[2101] = -1e0f;
    for (const auto& values : {scattered, smooth}) {
        NonlinearDataMap::RangeCounts counts;
        counts.Count(static_cast<int64_t>(values.size()), values.data());
        EXPECT_EQ(counts.counted, static_cast<int64_t>(values.size()));
        float low = std::numeric_limits<float>::infinity();
        float high = -low;
        for (const float v : values) {
            if (std::isnan(v)) continue;
            low = std::min(low, std::fabs(v));
            high = std::max(high, std::fabs(v));
        }
        EXPECT_EQ(counts.low, low);
        EXPECT_EQ(counts.high, high);
        for (int w = 0; w < NonlinearDataMap::kWindows; ++w) {
            int64_t count = 0;
            float window_low = 1e10f;
            float window_high = -1e10f;
            for (const float v : values) {
                const float a = std::fabs(v);
                if (a >= kEnds[w] && a <= kEnds[w + 4]) {
                    ++count;
                    window_low = std::min(window_low, a);
                    window_high = std::max(window_high, a);
                }
            }
            EXPECT_EQ(counts.windowCount[w], count) << w;
            EXPECT_EQ(counts.windowMin[w], window_low) << w;
            EXPECT_EQ(counts.windowMax[w], window_high) << w;
        }
    }
}

// Levels with their numbers of occurrences map as Map over the values written out.
TEST(NonlinearDataMap, LevelsMapAsTheValuesTheyStandFor) {
    const std::vector<float> levels = {0.0f, 3.0f, -7.5f, 0.002f, 250.0f, std::nanf(""), 1e12f};
    const std::vector<int64_t> occurrences = {5, 1, 40, 0, 7, 2, 1};
    for (const int mode : {0, 1}) {
        std::vector<float> values;
        for (size_t k = 0; k < levels.size(); ++k) values.insert(values.end(), occurrences[k], levels[k]);
        auto whole = MakeMap(mode, 0.0f, 255.0f);
        whole->Map(static_cast<int>(values.size()), values.data());

        auto map = MakeMap(mode, 0.0f, 255.0f);
        std::vector<float> mapped(levels.size());
        map->MapLevels(static_cast<int>(levels.size()), levels.data(), occurrences.data(), mapped.data());
        size_t at = 0;
        for (size_t k = 0; k < levels.size(); ++k) {
            if (occurrences[k] > 0) {
                EXPECT_EQ(std::memcmp(&mapped[k], &values[at], sizeof(float)), 0) << mode << " " << k;
            }
            at += static_cast<size_t>(occurrences[k]);
        }
        EXPECT_EQ(map->countedValues, whole->countedValues);
        EXPECT_EQ(std::memcmp(map->table, whole->table, sizeof map->table), 0) << mode;
    }
}

}  // namespace flowloom
