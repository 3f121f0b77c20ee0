#include "media/color_norm.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

namespace flowloom {

namespace {

std::string Number(double x) {
    char text[32];
    std::snprintf(text, sizeof text, "%g", x);
    return text;
}

bool Given(double bound) {
    return !std::isnan(bound);
}

// Whether a value takes part in the bounds and has a position under the norm.
bool Usable(NormKind kind, double v) {
    return std::isfinite(v) && (kind != NormKind::kLog || v > 0.0);
}

// numpy's default percentile of sorted-in-place data: linear between the neighbouring ranks.
double Percentile(std::vector<float>& data, double percent) {
    const double rank = percent / 100.0 * static_cast<double>(data.size() - 1);
    const size_t below = static_cast<size_t>(std::floor(rank));
    std::nth_element(data.begin(), data.begin() + static_cast<long>(below), data.end());
    const double low = data[below];
    if (below + 1 >= data.size()) return low;
    const double high = *std::min_element(data.begin() + static_cast<long>(below) + 1, data.end());
    return low + (rank - static_cast<double>(below)) * (high - low);
}

bool Fail(std::string& error, const std::string& message) {
    error = message;
    return false;
}

// The data's bounds lo..hi, overridden by the bounds given; refused when they end up turned.
bool Settle(const NormSpec& spec, double lo, double hi, ColorNorm& norm, std::string& error) {
    if (Given(spec.vmin)) lo = spec.vmin;
    if (Given(spec.vmax)) hi = spec.vmax;
    if (lo > hi || (lo == hi && (Given(spec.vmin) || Given(spec.vmax))))
        return Fail(error, "vmin (" + Number(lo) + ") must be below vmax (" + Number(hi) +
                               "); a bound given alone lies beyond the data's range.");
    ColorNorm out;
    out.kind = spec.kind;
    out.vmin = lo;
    out.vmax = hi;
    norm = std::move(out);
    return true;
}

}  // namespace

bool ParseNormName(std::string_view name, NormKind& kind, std::string& error) {
    for (NormKind k : {NormKind::kLinear, NormKind::kLog, NormKind::kDecades}) {
        if (name == NormName(k)) {
            kind = k;
            return true;
        }
    }
    return Fail(error, "Unknown norm '" + std::string(name) + "'; known norms: linear, log, decades.");
}

const char* NormName(NormKind kind) {
    switch (kind) {
        case NormKind::kLog:
            return "log";
        case NormKind::kDecades:
            return "decades";
        default:
            return "linear";
    }
}

bool ValidateNorm(const NormSpec& spec, std::string& error) {
    if ((Given(spec.vmin) && !std::isfinite(spec.vmin)) || (Given(spec.vmax) && !std::isfinite(spec.vmax)))
        return Fail(error, "vmin and vmax must be finite numbers.");
    if (spec.kind == NormKind::kDecades && (Given(spec.vmin) || Given(spec.vmax) || spec.percentiles))
        return Fail(error,
                    "The decades norm takes its range from the data's dominant decade window; "
                    "vmin, vmax and percentiles apply to the linear and log norms only.");
    if (Given(spec.vmin) && Given(spec.vmax) && !(spec.vmin < spec.vmax))
        return Fail(error, "vmin (" + Number(spec.vmin) + ") must be below vmax (" + Number(spec.vmax) + ").");
    if (spec.kind == NormKind::kLog && Given(spec.vmax) && !(spec.vmax > 0.0))
        return Fail(error, "The log norm needs vmax above 0, not " + Number(spec.vmax) + ".");
    if (spec.kind == NormKind::kLog && Given(spec.vmin) && !(spec.vmin > 0.0))
        return Fail(error, "The log norm needs vmin above 0, not " + Number(spec.vmin) + ".");
    if (spec.percentiles) {
        const double lo = spec.low_percent;
        const double hi = spec.high_percent;
        if (!(lo >= 0.0 && lo <= 100.0 && hi >= 0.0 && hi <= 100.0))
            return Fail(error, "Percentiles must lie in 0..100, not " + Number(lo) + "," + Number(hi) + ".");
        if (!(lo < hi))
            return Fail(error,
                        "The low percentile (" + Number(lo) + ") must be below the high one (" + Number(hi) + ").");
    }
    return true;
}

double ColorNorm::Position(double value) const {
    if (!Usable(kind, value)) return std::numeric_limits<double>::quiet_NaN();
    double t = 0.0;
    if (kind == NormKind::kDecades) {
        // Without a range the data map gives every value its low end, and with a single
        // magnitude its high end.
        if (!map) return 0.0;
        if (map->rangeMin == map->rangeMax) return 1.0;
        float v = static_cast<float>(value);
        map->ClampIntoRange(1, &v);
        map->ApplyTable(1, &v);
        t = v;
    } else if (vmax > vmin) {
        t = kind == NormKind::kLog ? (std::log10(value) - std::log10(vmin)) / (std::log10(vmax) - std::log10(vmin))
                                   : (value - vmin) / (vmax - vmin);
    }
    return std::clamp(t, 0.0, 1.0);
}

void ColorNorm::Positions(long count, const float* values, float* positions) const {
    if (kind != NormKind::kDecades || !map || map->rangeMin == map->rangeMax) {
        for (long i = 0; i < count; ++i) positions[i] = static_cast<float>(Position(values[i]));
        return;
    }
    // The data map's own passes over the whole run, rather than one call per value.
    for (long i = 0; i < count; ++i) positions[i] = std::isfinite(values[i]) ? values[i] : 0.0f;
    map->ClampIntoRange(count, positions);
    map->ApplyTable(static_cast<int>(count), positions);
    for (long i = 0; i < count; ++i)
        positions[i] =
            std::isfinite(values[i]) ? std::clamp(positions[i], 0.0f, 1.0f) : std::numeric_limits<float>::quiet_NaN();
}

bool ResolveNorm(const NormSpec& spec, const float* values, long count, ColorNorm& norm, std::string& error,
                 const unsigned char* skip) {
    if (!ValidateNorm(spec, error)) return false;
    ColorNorm out;
    out.kind = spec.kind;
    const auto take = [&](long i) { return Usable(spec.kind, values[i]) && !(skip && skip[i]); };
    std::vector<float> usable;
    double low_found = 1.0;
    double high_found = 0.0;
    if (spec.kind == NormKind::kDecades || spec.percentiles) {
        for (long i = 0; values && i < count; ++i)
            if (take(i)) usable.push_back(values[i]);
    } else {
        // The plain range needs one pass and no copy. NaN fails every comparison below, and
        // the magnitude test also leaves out the infinities, so the loop needs no branch.
        float low = std::numeric_limits<float>::infinity();
        float high = -low;
        const bool log = spec.kind == NormKind::kLog;
        for (long i = 0; values && i < count; ++i) {
            const float v = values[i];
            const bool in =
                std::fabs(v) <= std::numeric_limits<float>::max() && (!log || v > 0.0f) && !(skip && skip[i]);
            low = in && v < low ? v : low;
            high = in && v > high ? v : high;
        }
        low_found = low;
        high_found = high;
    }

    if (spec.kind == NormKind::kDecades) {
        auto map = std::make_shared<NonlinearDataMap>();
        map->rangeMode = 0;
        map->outLow = 0.0f;
        map->outHigh = 1.0f;
        NonlinearDataMap::RangeCounts counts;
        counts.Count(static_cast<int64_t>(usable.size()), usable.data());
        map->SetRange(counts);
        if (map->rangeMin <= map->rangeMax) {
            out.vmin = map->rangeMin;
            out.vmax = map->rangeMax;
            if (map->rangeMin < map->rangeMax) {
                std::vector<int64_t> histogram(NonlinearDataMap::kBins, 0);
                map->CountBins(static_cast<int64_t>(usable.size()), usable.data(), histogram.data());
                map->BuildTableFromBins(histogram.data());
            }
            out.map = std::move(map);
        }
        norm = std::move(out);
        return true;
    }

    if (!spec.percentiles) return ResolveNormOverRange(spec, low_found, high_found, norm, error);
    double lo = spec.kind == NormKind::kLog ? 1.0 : 0.0;
    double hi = spec.kind == NormKind::kLog ? 10.0 : 1.0;
    if (!usable.empty()) {
        lo = Percentile(usable, spec.low_percent);
        hi = Percentile(usable, spec.high_percent);
    }
    return Settle(spec, lo, hi, norm, error);
}

bool ResolveNormOverRange(const NormSpec& spec, double low, double high, ColorNorm& norm, std::string& error) {
    if (!ValidateNorm(spec, error)) return false;
    const bool found = low <= high;
    const double lo = found ? low : (spec.kind == NormKind::kLog ? 1.0 : 0.0);
    const double hi = found ? high : (spec.kind == NormKind::kLog ? 10.0 : 1.0);
    return Settle(spec, lo, hi, norm, error);
}

}  // namespace flowloom
