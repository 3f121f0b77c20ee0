#pragma once

#include <string>

#include "fieldio/field_geometry.h"
#include "lic/compose.h"

namespace flowloom {

class LicEngine;

// The colour and geometry choices beyond the window's panel, each as the text a user gives
// it: the renderer's option values, the Display dialog's fields. An empty text (a cleared
// flag, a scale of 1) leaves the engine's default, so that nothing chosen draws today's
// picture. The names are the settings table's rows.
struct DisplayTexts {
    std::string cmap, color_var, norm, vmin, vmax, percentiles, blend, alpha, mask_color, stretch, clahe;
    std::string coordinates, boundary_x, boundary_y;
    bool orientation = false;
    int output_scale = 1;

    bool operator==(const DisplayTexts&) const = default;
};

// What DisplayTexts ask of the engine.
struct DisplayChoices {
    ColorOptions color;
    unsigned char mask_color[3] = {0, 0, 0};  // blue, green, red
    Coordinates coordinates = Coordinates::kAuto;
    std::string color_var;
    // -1 leaves them to the field, else closed/off 0, periodic/on 1.
    int boundary_x = -1;
    int boundary_y = -1;
    int orientation = -1;
    int output_scale = 1;
};

// Checks `texts` as the composition and the field import will take them and fills
// `choices`. An empty result means all is well; otherwise it is the message for the user,
// the renderer's own (it names the renderer's options), and `choices` must not be used.
// A colour variable colours by that variable.
std::string ParseDisplayTexts(const DisplayTexts& texts, DisplayChoices& choices);

// Hands the choices to the engine for its next computation. Of the import options only the
// coordinates and the colour variable change; the rest stay as the field's file chose them.
void ApplyDisplayChoices(const DisplayChoices& choices, LicEngine& engine);

}  // namespace flowloom
