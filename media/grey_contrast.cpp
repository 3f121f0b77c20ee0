#include "media/grey_contrast.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <new>
#include <vector>

namespace flowloom {

namespace {

constexpr int kLevels = 1 << 14;  // the 14-bit working levels
constexpr int kBins = 256;
constexpr int kBinSize = 1 + kLevels / kBins;  // 65: levels 0..16383 fall into bins 0..252

// numpy's linear percentile of the bytes counted in `histogram` (n of them).
double PercentileOfLevels(const int64_t* histogram, int64_t n, double percent) {
    const double rank = percent / 100.0 * static_cast<double>(n - 1);
    const int64_t below = static_cast<int64_t>(std::floor(rank));
    auto level_at = [&](int64_t position) {
        int64_t seen = 0;
        for (int level = 0; level < 256; ++level) {
            seen += histogram[level];
            if (position < seen) return level;
        }
        return 255;
    };
    const double low = level_at(below);
    if (below + 1 >= n) return low;
    return low + (rank - static_cast<double>(below)) * (level_at(below + 1) - low);
}

// numpy's 'reflect' padding: the grid mirrored about its first and last sample.
int Reflect(long p, int n) {
    if (n == 1) return 0;
    const long period = 2L * (n - 1);
    p %= period;
    if (p < 0) p += period;
    return static_cast<int>(p < n ? p : period - p);
}

// The clipped histogram with its excess spread over the bins, exactly as skimage spreads it.
void ClipHistogram(int64_t* hist, int64_t limit) {
    int64_t excess = 0;
    for (int i = 0; i < kBins; ++i)
        if (hist[i] > limit) {
            excess += hist[i] - limit;
            hist[i] = limit;
        }
    const int64_t increment = excess / kBins;
    const int64_t upper = limit - increment;
    for (int i = 0; i < kBins; ++i)
        if (hist[i] < upper) {
            hist[i] += increment;
            excess -= increment;
        }
    for (int i = 0; i < kBins; ++i)
        if (hist[i] >= upper && hist[i] < limit) {
            excess += hist[i] - limit;
            hist[i] = limit;
        }
    while (excess > 0) {
        const int64_t before = excess;
        for (int index = 0; index < kBins; ++index) {
            int64_t under = 0;
            for (int i = 0; i < kBins; ++i) under += hist[i] < limit;
            const int64_t step = std::max<int64_t>(1, under / excess);
            int64_t raised = 0;
            for (int64_t i = index; i < kBins; i += step)
                if (hist[i] < limit) {
                    ++hist[i];
                    ++raised;
                }
            excess -= raised;
            if (excess <= 0) break;
        }
        if (before == excess) break;
    }
}

}  // namespace

bool ValidateGreyContrast(const GreyContrast& contrast, std::string& error) {
    char text[160];
    if (contrast.kind == GreyContrastKind::kStretch) {
        const double lo = contrast.low_percent;
        const double hi = contrast.high_percent;
        if (!(lo >= 0.0 && hi <= 100.0 && lo < hi)) {
            std::snprintf(text, sizeof text, "The stretch's percentiles must rise within 0..100, not %g,%g.", lo, hi);
            error = text;
            return false;
        }
    } else if (contrast.kind == GreyContrastKind::kClahe) {
        if (contrast.tiles < 1) {
            std::snprintf(text, sizeof text, "CLAHE needs at least 1 tile, not %d.", contrast.tiles);
            error = text;
            return false;
        }
        if (!(contrast.clip >= 0.0) || !std::isfinite(contrast.clip)) {
            std::snprintf(text, sizeof text, "CLAHE's clip limit must be 0 or more, not %g.", contrast.clip);
            error = text;
            return false;
        }
    }
    return true;
}

void StretchGrey(int width, int height, unsigned char* grey, double low_percent, double high_percent) {
    if (!grey || width <= 0 || height <= 0) return;
    const int64_t n = static_cast<int64_t>(width) * height;
    int64_t histogram[256] = {};
    for (int64_t i = 0; i < n; ++i) ++histogram[grey[i]];
    const double lo = PercentileOfLevels(histogram, n, low_percent);
    const double hi = PercentileOfLevels(histogram, n, high_percent);
    if (!(hi > lo)) return;
    unsigned char table[256];
    for (int g = 0; g < 256; ++g) {
        const double t = (std::clamp(static_cast<double>(g), lo, hi) - lo) / (hi - lo);
        table[g] = static_cast<unsigned char>(t * 255.0);
    }
    for (int64_t i = 0; i < n; ++i) grey[i] = table[grey[i]];
}

bool ClaheGrey(int width, int height, unsigned char* grey, int tiles, double clip) {
    if (!grey || width <= 0 || height <= 0 || tiles < 1) return true;
    const size_t n = static_cast<size_t>(width) * height;
    const auto [lowest, highest] = std::minmax_element(grey, grey + n);
    const int gmin = *lowest;
    const int gmax = *highest;
    if (gmin == gmax) return true;

    // The 14-bit level of each byte, as skimage scales its 16-bit copy (byte x 257) onto
    // 0..16383 and rounds half to even; then its bin.
    int bin_of[256];
    for (int g = gmin; g <= gmax; ++g) {
        const double t = (static_cast<double>(g) * 257 - gmin * 257.0) / ((gmax - gmin) * 257.0);
        bin_of[g] = static_cast<int>(std::nearbyint(t * (kLevels - 1))) / kBinSize;
    }
    const int kr = std::max(height / tiles, 1);
    const int kc = std::max(width / tiles, 1);
    // Regions cover the grid from its first sample; the last ones reach into the mirror.
    const int regions_down = (height + kr - 1) / kr;
    const int regions_across = (width + kc - 1) / kc;
    const int64_t pixels = static_cast<int64_t>(kr) * kc;
    const int64_t limit =
        clip > 0.0 ? std::max<int64_t>(static_cast<int64_t>(clip * static_cast<double>(pixels)), 1) : pixels;
    std::vector<int> maps;
    std::vector<float> result;
    try {
        maps.resize(static_cast<size_t>(regions_down) * regions_across * kBins);
        result.resize(n);
    } catch (const std::bad_alloc&) {
        return false;
    }
    std::vector<int64_t> hist(kBins);
    for (int rr = 0; rr < regions_down; ++rr)
        for (int rc = 0; rc < regions_across; ++rc) {
            std::fill(hist.begin(), hist.end(), 0);
            for (long y = static_cast<long>(rr) * kr; y < static_cast<long>(rr + 1) * kr; ++y) {
                const unsigned char* row = grey + static_cast<size_t>(Reflect(y, height)) * width;
                for (long x = static_cast<long>(rc) * kc; x < static_cast<long>(rc + 1) * kc; ++x)
                    ++hist[bin_of[row[Reflect(x, width)]]];
            }
            if (limit < pixels) ClipHistogram(hist.data(), limit);
            int* map = &maps[(static_cast<size_t>(rr) * regions_across + rc) * kBins];
            const double scale = static_cast<double>(kLevels - 1) / static_cast<double>(pixels);
            int64_t sum = 0;
            for (int b = 0; b < kBins; ++b) {
                sum += hist[b];
                map[b] = static_cast<int>(std::min(static_cast<double>(sum) * scale, kLevels - 1.0));
            }
        }

    // Each sample blends the maps of the four regions around it. In the grid padded by half a
    // region in front, sample p lies in block p / k at offset p % k; block b sits between
    // regions b - 1 and b (the outermost ones repeated).
    const auto map_at = [&](int rr, int rc) {
        rr = std::clamp(rr, 0, regions_down - 1);
        rc = std::clamp(rc, 0, regions_across - 1);
        return &maps[(static_cast<size_t>(rr) * regions_across + rc) * kBins];
    };
    for (int y = 0; y < height; ++y) {
        const int py = y + kr / 2;
        const int br = py / kr;
        const double fr = static_cast<double>(py % kr) / kr;
        for (int x = 0; x < width; ++x) {
            const int px = x + kc / 2;
            const int bc = px / kc;
            const double fc = static_cast<double>(px % kc) / kc;
            const int bin = bin_of[grey[static_cast<size_t>(y) * width + x]];
            float sum = 0.0f;
            sum += static_cast<float>(map_at(br - 1, bc - 1)[bin] * ((1.0 - fc) * (1.0 - fr)));
            sum += static_cast<float>(map_at(br - 1, bc)[bin] * (fc * (1.0 - fr)));
            sum += static_cast<float>(map_at(br, bc - 1)[bin] * ((1.0 - fc) * fr));
            sum += static_cast<float>(map_at(br, bc)[bin] * (fc * fr));
            // Truncated to the 14-bit level, as skimage stores it.
            result[static_cast<size_t>(y) * width + x] = std::trunc(sum);
        }
    }
    const auto [rlow, rhigh] = std::minmax_element(result.begin(), result.end());
    const double rmin = *rlow;
    const double rmax = *rhigh;
    for (size_t i = 0; i < n; ++i) {
        const double t = rmax > rmin ? (result[i] - rmin) / (rmax - rmin) : (result[i] > 0.0f ? 1.0 : 0.0);
        grey[i] = static_cast<unsigned char>(std::floor(t * 255.0 + 0.5));
    }
    return true;
}

bool ApplyGreyContrast(const GreyContrast& contrast, int width, int height, unsigned char* grey, std::string* error) {
    std::string message;
    if (!ValidateGreyContrast(contrast, message)) {
        if (error) *error = message;
        return false;
    }
    if (contrast.kind == GreyContrastKind::kStretch)
        StretchGrey(width, height, grey, contrast.low_percent, contrast.high_percent);
    if (contrast.kind == GreyContrastKind::kClahe && !ClaheGrey(width, height, grey, contrast.tiles, contrast.clip)) {
        if (error) *error = "Not enough memory for CLAHE.";
        return false;
    }
    return true;
}

}  // namespace flowloom
