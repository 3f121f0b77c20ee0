#include "engine/settings_table.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>

namespace flowloom {

namespace {

using R = SettingsRecord;
constexpr double kNoReal = std::numeric_limits<double>::quiet_NaN();
using K = SettingKind;

constexpr std::array<std::string_view, 4> kFieldNames{"saddle", "spiralling", "vortex", "repelling"};
constexpr std::array<std::string_view, 2> kNoiseNames{"white", "sparse"};
constexpr std::array<std::string_view, 3> kKernelNames{"box", "ramp", "hanning"};
constexpr std::array<std::string_view, 2> kGradientNames{"downhill", "uphill"};
constexpr std::array<std::string_view, 4> kCoordinateNames{"index", "grid", "geographic", "auto"};
constexpr std::array<std::string_view, 2> kAngleUnitNames{"degrees", "radians"};
// In the order of ColorMapId, NormKind and BlendMode.
constexpr std::array<std::string_view, 10> kColorMapNames{"rainbow", "viridis",  "magma",    "inferno", "plasma",
                                                          "cividis", "twilight", "coolwarm", "RdBu",    "grey"};
constexpr std::array<std::string_view, 3> kNormNames{"linear", "log", "decades"};
constexpr std::array<std::string_view, 2> kBlendNames{"multiply", "overlay"};
constexpr std::array<std::string_view, 2> kBoundaryNames{"closed", "periodic"};
constexpr std::array<std::string_view, 6> kMethodNames{"lic", "maglic", "enhance", "prolic", "animation", "licing"};

SettingRow Row(std::string_view name, std::string_view option, std::string_view keyword, SettingKind kind,
               int R::*record, int64_t min, int64_t max, int64_t initial, std::string_view help, bool computed,
               std::span<const std::string_view> choices = {}) {
    SettingRow row;
    row.name = name;
    row.option = option;
    row.keyword = keyword;
    row.kind = kind;
    row.record = record;
    row.min = min;
    row.max = max;
    row.initial = initial;
    row.help = help;
    row.computed = computed;
    row.choices = choices;
    row.python_min = min;
    row.python_max = max;
    return row;
}

SettingRow Real(std::string_view name, std::string_view option, std::string_view keyword, double min, double max,
                double initial, std::string_view help, int count = 1, std::string_view metavar = {}) {
    SettingRow row = Row(name, option, keyword, SettingKind::kReal, nullptr, 0, 0, 0, help, false);
    row.real_min = min;
    row.real_max = max;
    row.real_initial = initial;
    row.count = count;
    row.metavar = metavar;
    return row;
}

SettingRow Integers(std::string_view name, std::string_view option, std::string_view keyword, int64_t min, int64_t max,
                    std::string_view help, int count, std::string_view metavar) {
    SettingRow row = Row(name, option, keyword, SettingKind::kInteger, nullptr, min, max, 0, help, false);
    row.count = count;
    row.metavar = metavar;
    return row;
}

SettingRow WithPythonRange(SettingRow row, int64_t min, int64_t max) {
    row.python_min = min;
    row.python_max = max;
    return row;
}

const std::array<SettingRow, 54>& Table() {
    static const std::array<SettingRow, 54> table{
        // The window's controls, in the order it reads them.
        Row("x_res", "", "", K::kInteger, &R::x_res, 0, 2000, 300, "Grid width", true),
        Row("y_res", "", "", K::kInteger, &R::y_res, 0, 2000, 300, "Grid height", true),
        Row("field_type", "--field", "field", K::kChoice, &R::field_type, 0, 4, 0, "Analytic field", true, kFieldNames),
        Row("noise_type", "--noise", "texture", K::kChoice, &R::noise_type, 0, 1, 0, "Texture", true, kNoiseNames),
        Row("kernel_type", "--kernel", "kernel", K::kChoice, &R::kernel_type, 0, 2, 0, "Convolution kernel", true,
            kKernelNames),
        Row("kernel_length", "--length", "length", K::kInteger, &R::kernel_length, 1, 200, 15,
            "Kernel length in pixels", true),
        Row("color_mapping", "--grey", "", K::kFlag, &R::color_mapping, 0, 1, 1, "Colour mapping off: a grey picture",
            true),
        Row("equalization", "--equalize", "equalize", K::kFlag, &R::equalization, 0, 1, 0,
            "Pass the LIC image through the contrast curve", true),
        Row("high_pass", "--high-pass", "high_pass", K::kFlag, &R::high_pass, 0, 1, 0, "High-pass filter the LIC image",
            true),
        Row("enhance_iterations", "--enhance-iterations", "iterations", K::kInteger, &R::enhance_iterations, 2, 10, 2,
            "LIC passes of the enhance method", true),
        Row("roi_left", "", "", K::kInteger, &R::roi_left, 0, 996, 0, "Left column of the region", true),
        Row("roi_right", "", "", K::kInteger, &R::roi_right, 4, 1000, 299, "Right column of the region", true),
        Row("roi_bottom", "", "", K::kInteger, &R::roi_bottom, 4, 1000, 299, "Bottom row of the region", true),
        Row("roi_top", "", "", K::kInteger, &R::roi_top, 0, 996, 0, "Top row of the region", true),
        Row("roi_scale", "--roi-scale", "", K::kInteger, &R::roi_scale, 1, 20, 2, "Zoom factor of the region", true),
        Row("image_iterations", "--image-iterations", "iterations", K::kInteger, &R::image_iterations, 1, 10, 1,
            "licing: passes over the image", true),
        Row("force_extraction", "--no-force-extraction", "force_extraction", K::kFlag, &R::force_extraction, 0, 1, 1,
            "licing: follow the analytic --field instead of the image's own brightness gradient", true),
        Row("lod", "--lod", "", K::kInteger, &R::lod, 2, 8, 3, "Levels of detail of prolic: LOD x LOD passes", true),
        WithPythonRange(Row("anim_frames", "--frames", "frames", K::kInteger, &R::anim_frames, 8, 20, 8,
                            "Frames of the animation", true),
                        1, 100),
        Row("anim_fps", "", "", K::kInteger, &R::anim_fps, 1, 100, 8, "Frames per second of the playback", true),
        Row("roi_enabled", "", "", K::kFlag, &R::roi_enabled, 0, 1, 0, "Zoom into the region", false),
        // The front ends' own settings.
        Row("method", "--method", "", K::kChoice, nullptr, 0, 5, 0,
            "Command: lic, maglic, enhance, prolic, animation or licing", false, kMethodNames),
        Row("anim_iterations", "", "iterations", K::kInteger, nullptr, 1, 10, 2, "animation: LIC passes of each frame",
            false),
        Row("output_scale", "--scale", "scale", K::kInteger, nullptr, 1, 16, 1,
            "Draw on a grid this many times finer than the field's (1..16; up to 16384 pixels a side)", false),
        Row("threads", "--threads", "threads", K::kInteger, nullptr, 0, 1024, 0,
            "Threads (0: all processors); the picture is the same for any count", false),
        Row("seed", "--seed", "seed", K::kInteger, nullptr, 0, 4294967295LL, 0,
            "Seed of the sparse noise instead of the clock, to repeat a render exactly", false),
        // What to take from a NumPy, NetCDF or CSV field file.
        Row("u_var", "--u-var", "", K::kText, nullptr, 0, 0, 0,
            "NetCDF/.npz/CSV: the variable, array or column of the x component", false),
        Row("v_var", "--v-var", "", K::kText, nullptr, 0, 0, 0,
            "... and of the y component (north or up for NetCDF and CSV)", false),
        Row("scalar_var", "--scalar-var", "", K::kText, nullptr, 0, 0, 0,
            "Take the gradient of this scalar variable, array or column", false),
        Row("gradient", "--gradient", "", K::kChoice, nullptr, 0, 1, 0,
            "Gradient of a scalar grid: downhill (the default) or uphill", false, kGradientNames),
        Row("time_index", "--time", "", K::kInteger, nullptr, 0, 1 << 30, 0, "NetCDF: index along the time dimension",
            false),
        Row("level_index", "--level", "", K::kInteger, nullptr, 0, 1 << 30, 0,
            "NetCDF: index along the level dimension", false),
        Row("coordinates", "--coordinates", "coordinates", K::kChoice, nullptr, 0, 3, 3,
            "What the file's coordinates mean: index (steps in samples), grid (convert by the coordinates' "
            "spacing), geographic (longitude/latitude in degrees, also by cos(latitude)) or auto (geographic when "
            "NetCDF coordinates carry CF degrees_east/degrees_north units, else index; the default of pictures)",
            false, kCoordinateNames),
        Row("boundary", "--boundary", "boundary", K::kChoice, nullptr, 0, 1, 0,
            "At the grid's edges a streamline ends (closed) or goes on at the opposite edge (periodic); by default "
            "a geographic grid round the globe is periodic in x",
            false, kBoundaryNames),
        Row("boundary_x", "--boundary-x", "", K::kChoice, nullptr, 0, 1, 0, "... for the left and right edges alone",
            false, kBoundaryNames),
        Row("boundary_y", "--boundary-y", "", K::kChoice, nullptr, 0, 1, 0, "... for the top and bottom edges alone",
            false, kBoundaryNames),
        Row("orientation", "--orientation", "orientation", K::kFlag, nullptr, 0, 1, 0,
            "The field is an orientation, defined up to its sign: streamlines never reverse (angle and Stokes "
            "inputs are)",
            false),
        Row("angle_var", "--angle-var", "", K::kText, nullptr, 0, 0, 0,
            "An orientation field from this angle variable, array or column: unit vectors (cos, sin)", false),
        Row("angle_units", "--angle-units", "", K::kChoice, nullptr, 0, 1, 0,
            "Units of the --angle-var values where the file gives none", false, kAngleUnitNames),
        Row("stokes", "--stokes", "", K::kText, nullptr, 0, 0, 0,
            "An orientation field from Stokes Q,U: the angle 1/2 atan2(U, Q), coloured by sqrt(Q^2 + U^2)", false),
        // Colour: what it follows, through which map and norm, and how it meets the streaks.
        Row("cmap", "--cmap", "cmap", K::kChoice, nullptr, 0, 9, 0,
            "Colour map: rainbow (the window's), viridis, magma, inferno, plasma, cividis, twilight (cyclic, for "
            "direction), coolwarm, RdBu or grey",
            false, kColorMapNames),
        Row("color_var", "--color-var", "", K::kText, nullptr, 0, 0, 0,
            "Colour by this variable, array or column of the field file instead of the magnitude", false),
        Row("norm", "--norm", "norm", K::kChoice, nullptr, 0, 2, 2,
            "How values meet the colour map: linear, log (values <= 0 masked) or decades (the window's data map; "
            "the magnitude's default, linear a colour variable's)",
            false, kNormNames),
        Real("vmin", "--vmin", "vmin", -3.4e38, 3.4e38, kNoReal, "The value at the bottom of the colour map"),
        Real("vmax", "--vmax", "vmax", -3.4e38, 3.4e38, kNoReal, "The value at the top of the colour map"),
        Real("percentiles", "--percentiles", "percentiles", 0.0, 100.0, kNoReal,
             "The bounds of the colour map at these percentiles of the data, e.g. 2,98", 2, "LO,HI"),
        Row("blend", "--blend", "blend", K::kChoice, nullptr, 0, 1, 0,
            "How the streaks meet the colour: multiply (the window's) or overlay with --alpha", false, kBlendNames),
        Real("alpha", "--alpha", "alpha", 0.0, 1.0, 0.5, "overlay: the weight of the grey streaks, 0..1"),
        Integers("mask_color", "--mask-color", "mask_color", 0, 255, "Colour of masked samples (default black)", 3,
                 "R,G,B"),
        Real("stretch", "--stretch", "", 0.0, 100.0, kNoReal,
             "Stretch the grey picture so that these percentiles become black and white, e.g. 1,99", 2, "LO,HI"),
        Real("clahe", "--clahe", "", 0.0, 65536.0, kNoReal,
             "Adaptive histogram equalisation of the grey picture: TILES across and down, CLIP limit 0..1, e.g. "
             "8,0.01",
             2, "TILES,CLIP"),
        Row("colorbar", "--colorbar", "", K::kFlag, nullptr, 0, 1, 0,
            "Add a colour bar with the scale's ticks, name and units beside the picture", false),
        Row("png_compression", "--png-compression", "compression", K::kInteger, nullptr, -1, 9, -1,
            "PNG: -1 the fast default, or a zlib level 0..9 (9 the smallest file)", false),
        Row("pass_region_from", "--pass-region-from", "", K::kInteger, nullptr, 0, 63, 0,
            "... from this pass on (default 0)", false),
    };
    return table;
}

}  // namespace

std::span<const SettingRow> SettingsTable() {
    return Table();
}

const SettingRow& Setting(std::string_view name) {
    for (const SettingRow& row : Table())
        if (row.name == name) return row;
    std::fprintf(stderr, "flowloom: no setting named %.*s\n", static_cast<int>(name.size()), name.data());
    std::abort();
}

void CopyComputedSettings(const SettingsRecord& from, SettingsRecord& to) {
    for (const SettingRow& row : Table())
        if (row.computed) to.*row.record = from.*row.record;
}

std::string RangeText(const SettingRow& row) {
    return "between " + std::to_string(row.min) + " and " + std::to_string(row.max);
}

namespace {

std::string Number(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%g", value);
    return text;
}

}  // namespace

std::string ParseSettingValues(const SettingRow& row, std::string_view text, std::vector<double>& values) {
    const bool real = row.kind == SettingKind::kReal;
    const double low = real ? row.real_min : static_cast<double>(row.min);
    const double high = real ? row.real_max : static_cast<double>(row.max);
    values.clear();
    bool ok = true;
    std::size_t start = 0;
    while (ok) {
        const std::size_t end = std::min(text.find(',', start), text.size());
        const std::string_view part = text.substr(start, end - start);
        double value = 0.0;
        const auto [next, error] = std::from_chars(part.data(), part.data() + part.size(), value);
        ok = error == std::errc() && next == part.data() + part.size() && !part.empty() && std::isfinite(value) &&
             value >= low && value <= high && (real || value == std::floor(value));
        if (ok) values.push_back(value);
        if (end == text.size()) break;
        start = end + 1;
    }
    if (ok && static_cast<int>(values.size()) == row.count) return {};
    values.clear();
    std::string what = std::string(row.option) + " takes ";
    what += row.count > 1 ? std::string(row.metavar) + " with each " : (real ? "a number " : "an integer ");
    what += "from " + Number(low) + " to " + Number(high);
    return what;
}

int ChoiceIndex(const SettingRow& row, std::string_view text) {
    for (std::size_t i = 0; i < row.choices.size(); ++i)
        if (row.choices[i] == text) return static_cast<int>(i);
    return -1;
}

}  // namespace flowloom
