#include "engine/display_settings.h"

#include <cmath>
#include <vector>

#include "engine/lic_engine.h"
#include "engine/settings_table.h"

namespace flowloom {

namespace {

// Values of a real or list setting given as text; an empty text leaves `values` empty.
std::string SettingValues(std::string_view name, const std::string& text, std::vector<double>& values) {
    values.clear();
    if (text.empty()) return {};
    return ParseSettingValues(Setting(name), text, values);
}

// The index of a choice row's `text`, -1 for an empty text; `error` names the row's option
// and its choices when the text is none of them.
int Choice(std::string_view name, const std::string& text, std::string& error) {
    if (text.empty()) return -1;
    const SettingRow& row = Setting(name);
    const int index = ChoiceIndex(row, text);
    if (index < 0) {
        error = std::string(row.option) + " takes one of";
        for (std::string_view choice : row.choices) error += " " + std::string(choice);
        error += ", not " + text;
    }
    return index;
}

// The colour options: a map, a norm with its bounds or percentiles, a blend, the mask colour
// and the grey contrast, checked as the composition will take them.
std::string ParseColorTexts(const DisplayTexts& t, DisplayChoices& choices) {
    ColorOptions& c = choices.color;
    std::string error;
    std::vector<double> values;
    if (const int cmap = Choice("cmap", t.cmap, error); cmap >= 0) c.cmap = static_cast<ColorMapId>(cmap);
    if (const int blend = Choice("blend", t.blend, error); blend >= 0) c.blend = static_cast<BlendMode>(blend);
    const int norm = Choice("norm", t.norm, error);
    if (!error.empty()) return error;
    if (error = SettingValues("alpha", t.alpha, values); !error.empty()) return error;
    if (!values.empty()) {
        if (c.blend != BlendMode::kOverlay) return "--alpha goes with --blend overlay";
        c.alpha = values[0];
    }
    NormSpec spec;
    bool bounds = false;
    if (error = SettingValues("vmin", t.vmin, values); !error.empty()) return error;
    if (!values.empty()) spec.vmin = values[0], bounds = true;
    if (error = SettingValues("vmax", t.vmax, values); !error.empty()) return error;
    if (!values.empty()) spec.vmax = values[0], bounds = true;
    if (error = SettingValues("percentiles", t.percentiles, values); !error.empty()) return error;
    if (!values.empty()) {
        if (bounds) return "--percentiles or --vmin/--vmax, not both";
        spec.percentiles = true;
        spec.low_percent = values[0];
        spec.high_percent = values[1];
        bounds = true;
    }
    // Bounds without a norm ask for a linear scale: the data map chooses its own range.
    if (norm >= 0 || bounds) {
        spec.kind = norm < 0 ? NormKind::kLinear : static_cast<NormKind>(norm);
        c.norm = spec;
    }
    if (error = SettingValues("mask_color", t.mask_color, values); !error.empty()) return error;
    if (!values.empty())
        for (int k = 0; k < 3; ++k) choices.mask_color[2 - k] = static_cast<unsigned char>(values[k]);
    if (!t.stretch.empty() && !t.clahe.empty()) return "--stretch or --clahe, not both";
    if (error = SettingValues("stretch", t.stretch, values); !error.empty()) return error;
    if (!values.empty()) {
        c.contrast.kind = GreyContrastKind::kStretch;
        c.contrast.low_percent = values[0];
        c.contrast.high_percent = values[1];
    }
    if (error = SettingValues("clahe", t.clahe, values); !error.empty()) return error;
    if (!values.empty()) {
        if (values[0] != std::floor(values[0]) || values[0] < 1)
            return "--clahe takes TILES,CLIP with TILES a whole number of at least 1, e.g. 8,0.01";
        c.contrast.kind = GreyContrastKind::kClahe;
        c.contrast.tiles = static_cast<int>(values[0]);
        c.contrast.clip = values[1];
    }
    if (!ValidateColorOptions(c, error)) return error;
    return {};
}

}  // namespace

std::string ParseDisplayTexts(const DisplayTexts& texts, DisplayChoices& choices) {
    choices = DisplayChoices();
    if (std::string error = ParseColorTexts(texts, choices); !error.empty()) return error;
    if (!texts.color_var.empty()) {
        choices.color_var = texts.color_var;
        choices.color.by = ColorBy::kScalar;
    }
    if (!texts.coordinates.empty() && !ParseCoordinates(texts.coordinates, choices.coordinates))
        return "--coordinates takes index, grid, geographic or auto, not " + texts.coordinates;
    std::string error;
    choices.boundary_x = Choice("boundary_x", texts.boundary_x, error);
    choices.boundary_y = Choice("boundary_y", texts.boundary_y, error);
    if (!error.empty()) return error;
    choices.orientation = texts.orientation ? 1 : -1;
    const SettingRow& scale = Setting("output_scale");
    if (texts.output_scale < scale.min || texts.output_scale > scale.max)
        return std::string(scale.option) + " takes an integer from " + std::to_string(scale.min) + " to " +
               std::to_string(scale.max);
    choices.output_scale = texts.output_scale;
    return {};
}

void ApplyDisplayChoices(const DisplayChoices& choices, LicEngine& engine) {
    engine.color_options = choices.color;
    for (int k = 0; k < 3; ++k) engine.mask_color[k] = choices.mask_color[k];
    engine.import_options.coordinates = choices.coordinates;
    engine.import_options.color_var = choices.color_var;
    engine.boundary_x_choice = choices.boundary_x;
    engine.boundary_y_choice = choices.boundary_y;
    engine.orientation_choice = choices.orientation;
    engine.output_scale = choices.output_scale;
}

}  // namespace flowloom
