#pragma once

namespace flowloom {

struct ColorRgbF {
    float r = 0, g = 0, b = 0;  // each 0..1
};

struct ColorRgb8 {
    unsigned char r = 0, g = 0, b = 0;
};

// Magnitude colouring: a 1786-entry rainbow (black, blue, cyan, green, yellow, red,
// magenta, white) looked up through a smoothstep curve inside an index window.
class ColorMap {
public:
    // Window ends are clamped into 0..maxIndex and swapped if reversed; a reversed value
    // range is swapped too, and an empty one uses a scale of 1.
    ColorMap(float valueMin, float valueMax, int indexLow, int indexHigh);
    ~ColorMap();
    ColorMap(const ColorMap&) = delete;
    ColorMap& operator=(const ColorMap&) = delete;

    // Values outside valueMin..valueMax are clamped to the window's ends.
    ColorRgbF Lookup(float value) const;
    // colors[i][c] is UnitOf(colorBytes[i][c]): a byte times the single-precision 1/255,
    // so that colors[] holds exactly what byte / 255 gave before.
    static float UnitOf(unsigned char byte) { return byte * 0.003921569f; }
    // The entry Lookup takes for a value, inside indexLow..indexHigh; inline, for loops over
    // whole images.
    int IndexOf(float value) const {
        float t = (value - valueMin) * valueScale;
        // Clamping t (NaN included) keeps the index inside the window and so inside the table.
        if (!(t > 0.0f)) t = 0.0f;
        if (t > 1.0f) t = 1.0f;
        // Only t is stored; the smoothstep and the index are evaluated in double and truncated.
        const double td = t;
        const double f = 3.0 * td * td - 2.0 * td * td * td;
        int index = static_cast<int>(f * indexSpan + indexLow);
        // Rounding in the cubic may stray a hair outside 0..1.
        if (index < indexLow) index = indexLow;
        if (index > indexHigh) index = indexHigh;
        return index;
    }

    int indexLow = 0;
    int indexHigh = 0;
    int indexSpan = 0;
    float valueMin = 0;
    float valueMax = 0;
    float valueScale = 1;
    int entryCount = 1786;
    int maxIndex = 1785;
    float (*colors)[3] = nullptr;              // red, green, blue in 0..1
    unsigned char (*colorBytes)[3] = nullptr;  // red, green, blue as bytes
};

// How direction colouring turns a magnitude into saturation and value.
struct DirectionColorParams {
    float magnitudeMin = 0;
    float hueOffset = 0;
    float saturationBase = 0;
    float saturationSlope = 0;
    float valueBase = 0;
    float valueSlope = 0;
};

// Hue from the direction of the unit vector (x, y) (0 along +x, a quarter turn along +y),
// saturation and value rising linearly with the magnitude.
ColorRgb8 DirectionColor(const DirectionColorParams& params, float x, float y, float magnitude);

// Hexcone HSV to RGB; the hue is wrapped into 0..1 first (1 counts as 0).
ColorRgb8 HsvToRgb(double hue, double saturation, double value);

}  // namespace flowloom
