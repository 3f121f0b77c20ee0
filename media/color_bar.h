#pragma once

#include <string>
#include <vector>

#include "media/color_norm.h"
#include "media/color_tables.h"
#include "media/malloc_buffer.h"

namespace flowloom {

// A tick of a colour bar: a value of the scalar, where it sits along the bar (0 bottom,
// 1 top, the norm's Position) and its label.
struct ColorBarTick {
    double value = 0.0;
    double position = 0.0;
    std::string label;
};

// Ticks at round values inside the norm's bounds: linear, multiples of 1, 2, 2.5 or 5 times
// a power of ten, at most `max_ticks` of them; log, the powers of ten (every n-th when there
// are many; with fewer than two, also 2 and 5 times them); decades, the powers of ten inside
// the data map's range and the range's two ends. Ascending by value. Bounds that make no
// scale (infinite, turned, or not above 0 for log and decades) give one tick at vmin.
std::vector<ColorBarTick> ColorBarTicks(const ColorNorm& norm, int max_ticks = 6);

// What a bar shows: a colour map under a norm, and the scalar's name and units.
struct ColorBar {
    ColorMapId cmap = ColorMapId::kRainbow;
    ColorNorm norm;
    std::string name;
    std::string units;
};

// The picture (width x height, blue, green, red, rows from the top) with the bar drawn on a
// white panel to its right: the colour map from bottom to top, ticks and labels, and the
// name with its units along the side. Text is set by Cairo in DejaVu Sans. The picture's
// own pixels are copied unchanged into the left width columns of every row. `out` gets the
// new picture, out_width x height; false with a message when a size is not positive, or
// Cairo or memory fails.
bool AddColorBar(const unsigned char* bgr, int width, int height, const ColorBar& bar, MallocBuffer<unsigned char>& out,
                 int& out_width, std::string& error);

}  // namespace flowloom
