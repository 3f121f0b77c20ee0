#pragma once

#include <string>
#include <string_view>

#include "media/color_map.h"

namespace flowloom {

// The colour maps known by name. The rainbow is the window's 1786-entry ColorMap with its
// smoothstep and its blue-to-red window; every other map is a 256-entry table equal to
// matplotlib's of the same name.
enum class ColorMapId : unsigned char {
    kRainbow,
    kViridis,
    kMagma,
    kInferno,
    kPlasma,
    kCividis,
    kTwilight,  // cyclic: its two ends meet, for directions
    kCoolwarm,
    kRdBu,
    kGrey,
};

constexpr int kNamedTableSize = 256;

// The name as matplotlib spells it ("RdBu"; "gray" is taken for "grey"). An unknown name
// gives false and a message that lists the known ones; `id` is then left alone.
bool ParseColorMapName(std::string_view name, ColorMapId& id, std::string& error);
const char* ColorMapName(ColorMapId id);
// "rainbow, viridis, ..." for messages and help texts.
std::string ColorMapNames();

// The 256 entries (red, green, blue) of a table map; null for the rainbow.
const unsigned char (*NamedColorTable(ColorMapId id))[3];

// The entry of a 256-entry table for a position t in 0..1, as matplotlib takes it:
// floor(256 t), with t = 1 on the last entry. Positions outside 0..1 are clamped; NaN
// gives the first entry (callers mask NaN before).
inline int NamedTableIndex(double t) {
    const double x = t * kNamedTableSize;
    if (!(x > 0.0)) return 0;
    if (x >= kNamedTableSize - 1) return kNamedTableSize - 1;
    return static_cast<int>(x);
}

// The colour of any map at position t (0 the bottom of the norm, 1 the top). The rainbow
// goes through ColorMap over 0..1 with the window's blue-to-red entries, so a position
// takes the very entry that the composition by magnitude gives its value.
ColorRgb8 ColorAt(ColorMapId id, double t);

}  // namespace flowloom
