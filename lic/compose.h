#pragma once

namespace flowloom {

class ColorMap;

// What the colour composition reads: the grey LIC image, the field it was computed on,
// and the display options.
struct ComposeSource {
    const unsigned char* grey = nullptr;      // width x height
    const float* vectors = nullptr;           // unit or zero (vx, vy) per sample
    const float* magnitudes = nullptr;        // mapped onto data_min..data_max
    const unsigned char* mask = nullptr;      // 1 per masked sample, or null when nothing is masked
    unsigned char mask_color[3] = {0, 0, 0};  // blue, green, red of a masked sample
    int width = 0;
    int height = 0;
    int color_by_data = 0;  // 0 colour by magnitude, 1 by direction
    int flip_rows = 0;
    int flip_columns = 0;
    float data_min = 1.0f;
    float data_max = 1000.0f;
};

// Writes the colour image (blue, green, red per pixel) from the grey image: the grey
// value repeated (color_flag 0), or the grey value as the brightness of the colour of
// the field's magnitude (rainbow, blue to red) or direction (hue). Then mirrors rows and
// columns as the flags say; since the colour image is rebuilt each time, flips never
// accumulate. Does nothing when either image is absent. Without a field to colour by,
// the image is composed in grey. A masked sample is drawn in the mask colour in every mode
// (grey too), before the flips, so the mask moves with the picture.
void ComposeColorImage(const ComposeSource& source, unsigned char* rgb, int color_flag);

// map.IndexOf of each of `count` values, into `indices`: the same entries, on the best
// instruction set of the machine.
void RainbowIndices(const ColorMap& map, const float* values, long count, int* indices);

}  // namespace flowloom
