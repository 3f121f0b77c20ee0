#pragma once

#include <limits>
#include <memory>
#include <string>
#include <string_view>

#include "media/nonlinear_data_map.h"

namespace flowloom {

// How values become positions 0..1 along a colour map.
enum class NormKind : unsigned char {
    kLinear,
    kLog,      // base ten; values <= 0 have no position and are masked
    kDecades,  // the data map of the window: histogram equalisation in the dominant decade window
};

bool ParseNormName(std::string_view name, NormKind& kind, std::string& error);
const char* NormName(NormKind kind);

// A norm as asked for, before the data is seen. The bounds are vmin and vmax where given
// (NaN: not given), else the percentiles when asked, else the data's range; a bound given
// alone takes its partner from the data. Decades chooses its own range from the data.
struct NormSpec {
    NormKind kind = NormKind::kLinear;
    double vmin = std::numeric_limits<double>::quiet_NaN();
    double vmax = std::numeric_limits<double>::quiet_NaN();
    bool percentiles = false;
    double low_percent = 0.0;  // 0..100, below high_percent
    double high_percent = 100.0;
};

// What can be refused without the data: vmin >= vmax; log with vmax <= 0 or vmin <= 0;
// percentiles outside 0..100 or inverted; bounds or percentiles given with decades; a
// bound that is not finite. A clear message into `error` and false.
bool ValidateNorm(const NormSpec& spec, std::string& error);

// A norm with its bounds settled.
struct ColorNorm {
    NormKind kind = NormKind::kLinear;
    double vmin = 0.0;  // in the data's units; for decades the dominant window's range
    double vmax = 1.0;
    // Decades only: the data map of the data onto 0..1 (absent when no value had a range).
    std::shared_ptr<NonlinearDataMap> map;

    // Where a value sits: 0 at vmin, 1 at vmax, clamped into 0..1; NaN when it has no
    // place (NaN or infinite, or <= 0 under log). Equal bounds put every value at 0.
    double Position(double value) const;
    // Position for `count` values at once, as floats; the same numbers as Position.
    void Positions(long count, const float* values, float* positions) const;
};

// Settles the bounds of `spec` over `count` values; NaN and infinite values are left out,
// and under log so are values <= 0 (percentiles as numpy's default, linear between ranks).
// Data without a single usable value gives the bounds 0..1 (log 1..10), since every sample
// is masked then anyway. Refuses what ValidateNorm refuses, and bounds that the data turns
// around (vmin given above the data's maximum, for instance). Samples where `skip` (may be
// null) is non-zero are left out too.
bool ResolveNorm(const NormSpec& spec, const float* values, long count, ColorNorm& norm, std::string& error,
                 const unsigned char* skip = nullptr);

// ResolveNorm for callers that found the data's usable range themselves (low > high when
// there was none): the same bounds and refusals, for linear and log without percentiles.
bool ResolveNormOverRange(const NormSpec& spec, double low, double high, ColorNorm& norm, std::string& error);

}  // namespace flowloom
