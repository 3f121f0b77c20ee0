#include "lic/parallel_data_map.h"

#include <algorithm>
#include <cstdint>
#include <limits>
#include <memory>
#include <new>
#include <vector>

#include "lic/parallel_rows.h"

namespace flowloom {

namespace {

// Below this many values the plain Map is as fast as the steps below.
constexpr long kSerialCount = 1L << 16;

}  // namespace

void MapInParallel(NonlinearDataMap& map, long count, float* values) {
    const int pieces = static_cast<int>(std::min<long>(ThreadCount(), count / kSerialCount));
    // The map counts in int, as Map does. One piece still takes the steps below, for the
    // bin counts and the table lookup on vector lanes.
    if (pieces < 1 || count > std::numeric_limits<int>::max()) {
        map.Map(static_cast<int>(std::min<long>(count, std::numeric_limits<int>::max())), values);
        return;
    }
    const auto first = [&](int piece) { return count * piece / pieces; };
    const auto each_piece = [&](auto&& fn) {
        ForEachRow(pieces, [&](int piece) { fn(values + first(piece), first(piece + 1) - first(piece)); });
    };

    // The same steps as Map, in the same order.
    map.established = 0;
    std::vector<NonlinearDataMap::RangeCounts> counts(static_cast<size_t>(pieces));
    ForEachRow(pieces, [&](int piece) { counts[piece].Count(first(piece + 1) - first(piece), values + first(piece)); });
    for (int piece = 1; piece < pieces; ++piece) counts[0].Add(counts[piece]);
    map.SetRange(counts[0]);
    if (map.rangeMode != 1) each_piece([&](float* v, long n) { map.ClampIntoRange(n, v); });

    if (!(map.rangeMin <= map.rangeMax) || map.rangeMin == map.rangeMax) {
        // No distribution to equalise (see Map): every element gets one value.
        const float fill = map.rangeMin == map.rangeMax ? map.outHigh : map.outLow;
        each_piece([&](float* v, long n) { std::fill(v, v + n, fill); });
        return;
    }
    std::unique_ptr<int64_t[]> histograms(new (std::nothrow) int64_t[static_cast<size_t>(pieces) * map.kBins]());
    if (!histograms) {
        map.Map(static_cast<int>(count), values);
        return;
    }
    ForEachRow(pieces, [&](int piece) {
        CountBinsOnLanes(map, first(piece + 1) - first(piece), values + first(piece),
                         histograms.get() + static_cast<size_t>(piece) * map.kBins);
    });
    for (int piece = 1; piece < pieces; ++piece) {
        const int64_t* h = histograms.get() + static_cast<size_t>(piece) * map.kBins;
        for (int bin = 0; bin < map.kBins; ++bin) histograms[bin] += h[bin];
    }
    map.BuildTableFromBins(histograms.get());
    each_piece([&](float* v, long n) { ApplyTableOnLanes(map, n, v); });
}

}  // namespace flowloom
