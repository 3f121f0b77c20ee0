#include "media/color_tables.h"

#include <iterator>

namespace flowloom {

namespace {

struct NamedTable {
    const char* name;
    unsigned char rgb[kNamedTableSize][3];
};

// In the order of ColorMapId after kRainbow.
constexpr NamedTable kTables[] = {
#include "media/color_tables.inc"
};

constexpr int kTableCount = static_cast<int>(std::size(kTables));
static_assert(kTableCount == static_cast<int>(ColorMapId::kGrey), "one table per id after the rainbow");

}  // namespace

bool ParseColorMapName(std::string_view name, ColorMapId& id, std::string& error) {
    if (name == "rainbow") {
        id = ColorMapId::kRainbow;
        return true;
    }
    if (name == "gray") name = "grey";
    for (int i = 0; i < kTableCount; ++i) {
        if (name == kTables[i].name) {
            id = static_cast<ColorMapId>(i + 1);
            return true;
        }
    }
    error = "Unknown colour map '" + std::string(name) + "'; known maps: " + ColorMapNames() + ".";
    return false;
}

const char* ColorMapName(ColorMapId id) {
    const int i = static_cast<int>(id);
    return i >= 1 && i <= kTableCount ? kTables[i - 1].name : "rainbow";
}

std::string ColorMapNames() {
    std::string names = "rainbow";
    for (const NamedTable& table : kTables) names += std::string(", ") + table.name;
    return names;
}

const unsigned char (*NamedColorTable(ColorMapId id))[3] {
    const int i = static_cast<int>(id);
    return i >= 1 && i <= kTableCount ? kTables[i - 1].rgb : nullptr;
}

ColorRgb8 ColorAt(ColorMapId id, double t) {
    ColorRgb8 c;
    const unsigned char(*table)[3] = NamedColorTable(id);
    if (table) {
        const unsigned char* e = table[NamedTableIndex(t)];
        c.r = e[0];
        c.g = e[1];
        c.b = e[2];
        return c;
    }
    const ColorMap rainbow(0.0f, 1.0f, 255, 1275);
    if (!rainbow.colorBytes) return c;
    const unsigned char* e = rainbow.colorBytes[rainbow.IndexOf(static_cast<float>(t))];
    c.r = e[0];
    c.g = e[1];
    c.b = e[2];
    return c;
}

}  // namespace flowloom
