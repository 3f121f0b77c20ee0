#pragma once

#include <cstdint>

#include "media/nonlinear_data_map.h"

namespace flowloom {

// NonlinearDataMap::Map over `count` values, with each pass over the values (range search,
// clamping, bin counts, table lookup) split into pieces that run in parallel. Counts and
// extremes add up exactly in any order, so the values, the table and every field of `map`
// come out as from map.Map(count, values), for every thread count.
void MapInParallel(NonlinearDataMap& map, long count, float* values);

// map.CountBins and map.ApplyTable on the best instruction set of the machine: the same
// counts and the same values. ApplyTableOnLanes does nothing without a table.
void CountBinsOnLanes(const NonlinearDataMap& map, long count, const float* values, int64_t* histogram);
void ApplyTableOnLanes(const NonlinearDataMap& map, long count, float* values);

}  // namespace flowloom
