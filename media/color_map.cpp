#include "media/color_map.h"

#include <cmath>
#include <cstdlib>
#include <utility>

namespace flowloom {

namespace {

// Seven ramps of 255 steps (the last one reaching 255, hence one entry more).
void FillRainbow(unsigned char (*bytes)[3]) {
    int n = 0;
    auto put = [&](int r, int g, int b) {
        bytes[n][0] = static_cast<unsigned char>(r);
        bytes[n][1] = static_cast<unsigned char>(g);
        bytes[n][2] = static_cast<unsigned char>(b);
        ++n;
    };
    for (int k = 0; k < 255; ++k) put(0, 0, k);          // black -> blue
    for (int k = 0; k < 255; ++k) put(0, k, 255);        // blue -> cyan
    for (int k = 0; k < 255; ++k) put(0, 255, 255 - k);  // cyan -> green
    for (int k = 0; k < 255; ++k) put(k, 255, 0);        // green -> yellow
    for (int k = 0; k < 255; ++k) put(255, 255 - k, 0);  // yellow -> red
    for (int k = 0; k < 255; ++k) put(255, 0, k);        // red -> magenta
    for (int k = 0; k <= 255; ++k) put(255, k, 255);     // magenta -> white
}

// Real-to-byte: clamp to 0..255, truncate toward zero; NaN gives 0.
unsigned char ToByte(double x) {
    if (!(x > 0)) return 0;
    if (x >= 255) return 255;
    return static_cast<unsigned char>(x);
}

}  // namespace

ColorMap::ColorMap(float value_min, float value_max, int index_low, int index_high) {
    colorBytes = static_cast<unsigned char(*)[3]>(std::malloc(sizeof(*colorBytes) * entryCount));
    colors = static_cast<float(*)[3]>(std::malloc(sizeof(*colors) * entryCount));
    if (colorBytes) {
        FillRainbow(colorBytes);
        if (colors) {
            for (int i = 0; i < entryCount; ++i)
                for (int c = 0; c < 3; ++c) colors[i][c] = UnitOf(colorBytes[i][c]);
        }
    } else {
        // Without the bytes the float table has nothing to come from.
        std::free(colors);
        colors = nullptr;
    }

    indexLow = index_low < 0 ? 0 : (index_low > maxIndex ? maxIndex : index_low);
    indexHigh = index_high < 0 ? 0 : (index_high > maxIndex ? maxIndex : index_high);
    if (indexLow > indexHigh) std::swap(indexLow, indexHigh);
    indexSpan = indexHigh - indexLow;

    valueMin = value_min;
    valueMax = value_max;
    if (valueMin > valueMax) std::swap(valueMin, valueMax);
    valueScale = valueMin == valueMax ? 1.0f : 1.0f / (valueMax - valueMin);
}

ColorMap::~ColorMap() {
    std::free(colors);
    std::free(colorBytes);
}

ColorRgbF ColorMap::Lookup(float value) const {
    if (!colors) return {};
    const int index = IndexOf(value);
    return {colors[index][0], colors[index][1], colors[index][2]};
}

ColorRgb8 DirectionColor(const DirectionColorParams& params, float x, float y, float magnitude) {
    // The single-precision pi, widened.
    constexpr double kPi = static_cast<double>(3.1415925f);
    // A normalised vector may come out a hair longer than 1; asin must not see that.
    double sy = y;
    if (sy > 1.0) sy = 1.0;
    if (sy < -1.0) sy = -1.0;
    double theta;
    if (x >= 0)
        theta = std::asin(sy);
    else if (y > 0)
        theta = kPi - std::asin(sy);
    else
        theta = -kPi - std::asin(sy);

    double hue = theta * 0.15915495074143224;
    if (hue < 0) hue += 1.0;

    const float d = magnitude - params.magnitudeMin;
    const float saturation = params.saturationBase + d * params.saturationSlope;
    const float value = params.valueBase + d * params.valueSlope;

    double h = hue + params.hueOffset;
    if (h > 0)
        h -= std::trunc(h);
    else
        h = h + 1.0 - std::trunc(h);  // an exact 0 becomes 1, which HsvToRgb reads as 0
    return HsvToRgb(h, saturation, value);
}

ColorRgb8 HsvToRgb(double hue, double saturation, double value) {
    if (std::isnan(hue) || std::isinf(hue)) hue = 0.0;
    hue -= std::floor(hue);
    // A tiny negative hue wraps to a value that rounds up to exactly 1.
    if (hue >= 1.0) hue = 0.0;

    if (saturation == 0.0) {
        const unsigned char v = ToByte(value * 255.0);
        return {v, v, v};
    }

    // hue < 1 keeps 6 * hue below 6 (rounding is monotone and 6 * (1 - 2^-53) < 6).
    const double h6 = hue * 6.0;
    const int i = static_cast<int>(h6);
    const double f = h6 - i;
    const double p = value * (1.0 - saturation);
    const double q = value * (1.0 - saturation * f);
    const double t = value * (1.0 - saturation * (1.0 - f));

    const double sector[6][3] = {{value, t, p}, {q, value, p}, {p, value, t},
                                 {p, q, value}, {t, p, value}, {value, p, q}};
    return {ToByte(sector[i][0] * 255.0), ToByte(sector[i][1] * 255.0), ToByte(sector[i][2] * 255.0)};
}

}  // namespace flowloom
