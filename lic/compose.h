#pragma once

#include <optional>
#include <string>

#include "media/color_norm.h"
#include "media/color_tables.h"
#include "media/grey_contrast.h"

namespace flowloom {

class ColorMap;

// What the colour follows. The engine's color_by_data flag (the window's double click)
// chooses the direction whatever is asked here.
enum class ColorBy : unsigned char { kMagnitude, kDirection, kScalar };

// How the streaks meet the colour c (0..1 per channel, a table byte times ColorMap::UnitOf)
// at grey level g: multiply, truncate(g x c); overlay, truncate((1 - A) x 255 x c + A x g).
enum class BlendMode : unsigned char { kMultiply, kOverlay };

// Colouring beyond the window's flags. The defaults give the window's picture: the
// magnitude through the rainbow under the decade-window data map, multiplied.
struct ColorOptions {
    ColorBy by = ColorBy::kMagnitude;
    ColorMapId cmap = ColorMapId::kRainbow;
    // Absent: the magnitude as the engine mapped it (decades), a scalar linear over its
    // data's range. The direction has no norm: its position is the hue, 0..1 from +x.
    std::optional<NormSpec> norm;
    BlendMode blend = BlendMode::kMultiply;
    double alpha = 0.5;  // overlay only, 0..1
    // Applied to a copy of the grey picture before colouring (in grey mode too), so that the
    // engine's grey image and a re-colouring never accumulate it.
    GreyContrast contrast;
};

// Refuses (false, a message) what no picture can be made of: a bad norm, an overlay alpha
// outside 0..1, or a contrast step ValidateGreyContrast refuses.
bool ValidateColorOptions(const ColorOptions& options, std::string& error);

// What the colour composition reads: the grey LIC image, the field it was computed on,
// and the display options.
struct ComposeSource {
    const unsigned char* grey = nullptr;  // width x height
    const float* vectors = nullptr;       // unit or zero (vx, vy) per sample
    const float* magnitudes = nullptr;    // mapped onto data_min..data_max
    // The lengths before the data map (NaN where masked), for a magnitude under a linear or
    // log norm; may be null otherwise.
    const float* lengths = nullptr;
    const float* scalar = nullptr;            // the caller's colour scalar, width x height, or null
    const ColorOptions* options = nullptr;    // null: the defaults
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
// With options, the colour follows what they ask, through their map, norm and blend;
// samples without a position under the norm (NaN, or <= 0 under log) are masked too.
// Options that cannot be met (invalid, a scalar asked for but absent, lengths missing
// for a magnitude norm) write nothing and give false with a message in `error`.
bool ComposeColorImage(const ComposeSource& source, unsigned char* rgb, int color_flag, std::string* error = nullptr);

// The norm the composition puts the colour values under, with its bounds settled (the
// colour bar draws it). The magnitude under decades is linear over data_min..data_max of
// the mapped magnitudes. False with a message when the options cannot be met.
bool ResolveComposeNorm(const ComposeSource& source, ColorNorm& norm, std::string& error);

// map.IndexOf of each of `count` values, into `indices`: the same entries, on the best
// instruction set of the machine.
void RainbowIndices(const ColorMap& map, const float* values, long count, int* indices);

// The smallest and largest finite value of `count` (positive ones only when asked), on the
// best instruction set of the machine; low > high when there is none. `left_out` counts the
// values that are not taken.
void FiniteRange(const float* values, long count, bool positive_only, float& low, float& high, long& left_out);

// The entry of a 256-entry table for each value under a linear norm: (v - vmin) x scale,
// taken in double, clamped into 0..255 (NaN to 0) and truncated; -1 for a NaN or infinite
// value when mask_non_finite is set. On the best instruction set of the machine.
void TableIndices(const float* values, long count, double vmin, double scale, bool mask_non_finite, int* indices);

}  // namespace flowloom
