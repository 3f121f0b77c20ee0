#include "tools/render_options.h"

#include <CLI/CLI.hpp>
#include <cctype>
#include <climits>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "engine/commands.h"
#include "engine/display_settings.h"
#include "engine/settings_table.h"
#include "lic/streamline_simd.h"
#include "tools/checked_integer.h"
#include "tools/import_options.h"
#include "tools/setting_options.h"

namespace flowloom {

namespace {

// Splits `text` at each `separator` into integers in min..max; false when a part is none.
bool ParseIntegerList(const std::string& text, char separator, int min, int max, std::vector<int>& values) {
    values.clear();
    std::size_t start = 0;
    for (;;) {
        const std::size_t end = text.find(separator, start);
        int64_t value = 0;
        if (!ParseCheckedInteger(text.substr(start, end - start), min, max, value)) return false;
        values.push_back(static_cast<int>(value));
        if (end == std::string::npos) return true;
        start = end + 1;
    }
}

// "300x200" -> 300, 200 within the window's range, less the empty grid: a side of 0
// leaves nothing to compute or write.
std::string ParseSize(const std::string& text, int& width, int& height) {
    std::vector<int> sides;
    const SettingRow& x = Setting("x_res");
    if (!ParseIntegerList(text, 'x', static_cast<int>(x.min), static_cast<int>(x.max), sides) || sides.size() != 2)
        return "--size takes WIDTHxHEIGHT with each from 1 to 2000, e.g. 300x300";
    if (sides[0] == 0 || sides[1] == 0)
        return "--size " + text + " is an empty grid, with nothing to draw: each side must be from 1 to 2000";
    width = sides[0];
    height = sides[1];
    return {};
}

bool ParseFour(const std::string& text, int& left, int& top, int& right, int& bottom) {
    std::vector<int> values;
    if (!ParseIntegerList(text, ',', INT_MIN, INT_MAX, values) || values.size() != 4) return false;
    left = values[0];
    top = values[1];
    right = values[2];
    bottom = values[3];
    return true;
}

std::string ParseRegion(const std::string& text, SettingsRecord& r) {
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;
    auto in = [](std::string_view name, int value) {
        const SettingRow& row = Setting(name);
        return value >= row.min && value <= row.max;
    };
    if (!ParseFour(text, left, top, right, bottom) || !in("roi_left", left) || !in("roi_top", top) ||
        !in("roi_right", right) || !in("roi_bottom", bottom))
        return "--roi takes LEFT,TOP,RIGHT,BOTTOM with LEFT and TOP in 0..996, RIGHT and BOTTOM in 4..1000, "
               "e.g. 100,100,199,199";
    r.roi_left = left;
    r.roi_top = top;
    r.roi_right = right;
    r.roi_bottom = bottom;
    r.roi_enabled = 1;
    return {};
}

bool HasEnding(std::string name, const std::string& ending) {
    if (name.size() < ending.size()) return false;
    for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return name.compare(name.size() - ending.size(), ending.size(), ending) == 0;
}

}  // namespace

int ParseRenderOptions(int argc, char** argv, RenderOptions& options) {
    SettingsRecord& r = options.record;
    r = DefaultSettings();

    CLI::App app{
        "flowloom-render: computes a Line Integral Convolution picture of a 2D vector field "
        "without a window, with the same engine and settings as the Flowloom window."};
    app.set_help_flag("-h,--help", "Print this help and exit");
    app.set_version_flag("--version", "flowloom-render " FLOWLOOM_VERSION, "Print the version and exit");
    app.get_formatter()->column_width(34);

    std::string size = "300x300";
    std::string field = "saddle";
    std::string field_file;
    std::string noise = "white";
    std::string kernel = "box";
    std::string method = "lic";
    std::string region;
    std::string pass_region;
    std::string image;
    int no_force = 0;
    int lod = r.lod;
    int frames = r.anim_frames;
    int image_iterations = r.image_iterations;
    int grey = 0;
    int equalize = 0;
    int high_pass = 0;
    int length = r.kernel_length;
    int scale = r.roi_scale;
    int iterations = r.enhance_iterations;

    const std::map<std::string, int> methods{
        {"lic", kCommandLic},       {"maglic", kCommandMagLic},       {"enhance", kCommandEnhance},
        {"prolic", kCommandProLic}, {"animation", kCommandAnimation}, {"licing", kCommandLicing}};

    app.add_option("--size", size, "Grid WIDTHxHEIGHT, each 0..2000 (a binary field file sets its own)")
        ->capture_default_str();
    AddChoice(app, "field_type", field)->capture_default_str();
    app.add_option("--field-file", field_file,
                   "Vector-field file instead of --field: .vec (binary or text), NumPy .npy/.npz, NetCDF or CSV");
    ImportCli import;
    AddImportOptions(app, import);
    AddChoice(app, "noise_type", noise)->capture_default_str();
    AddChoice(app, "kernel_type", kernel)->capture_default_str();
    AddSetting(app, "kernel_length", length)->capture_default_str();
    AddFlag(app, "color_mapping", grey);
    app.add_flag("--color-by-direction", options.color_by_direction, "Colour by field direction, not magnitude");
    app.add_flag("--flip-rows", options.flip_rows, "Show the rows bottom to top");
    app.add_flag("--flip-columns", options.flip_columns, "Show the columns right to left");
    AddFlag(app, "equalization", equalize);
    AddFlag(app, "high_pass", high_pass);
    app.add_option("--roi", region, "Zoom into the region LEFT,TOP,RIGHT,BOTTOM (inclusive)");
    AddSetting(app, "roi_scale", scale)->capture_default_str();
    DisplayTexts display;
    AddSetting(app, "output_scale", display.output_scale)->capture_default_str();
    std::string boundary, boundary_x, boundary_y;
    int orientation = 0;
    AddChoice(app, "boundary", boundary);
    AddChoice(app, "boundary_x", boundary_x);
    AddChoice(app, "boundary_y", boundary_y);
    AddFlag(app, "orientation", orientation);
    int colorbar = 0;
    AddChoice(app, "cmap", display.cmap);
    AddText(app, "color_var", display.color_var);
    AddChoice(app, "norm", display.norm);
    AddText(app, "vmin", display.vmin);
    AddText(app, "vmax", display.vmax);
    AddText(app, "percentiles", display.percentiles);
    AddChoice(app, "blend", display.blend);
    AddText(app, "alpha", display.alpha);
    AddText(app, "mask_color", display.mask_color);
    AddText(app, "stretch", display.stretch);
    AddText(app, "clahe", display.clahe);
    AddFlag(app, "colorbar", colorbar);
    AddSetting(app, "png_compression", options.png_compression);
    AddChoice(app, "method", method)->capture_default_str();
    AddSetting(app, "lod", lod)->capture_default_str();
    app.add_option("--pass-region", pass_region, "prolic: restrict to LEFT,TOP,RIGHT,BOTTOM (inclusive) ...");
    AddSetting(app, "pass_region_from", options.pass_region_from);
    AddSetting(app, "anim_frames", frames)->capture_default_str();
    app.add_option("--out-dir", options.out_dir, "animation: the frames go to DIR/LICAnimation")->capture_default_str();
    app.add_option("--image", image,
                   "licing: the colour image, .bmp/.BMP, .rgb/.RGB (SGI), or a PNG or JPEG photograph");
    AddSetting(app, "image_iterations", image_iterations)->capture_default_str();
    AddFlag(app, "force_extraction", no_force);
    AddSetting(app, "enhance_iterations", iterations)->capture_default_str();
    AddSetting(app, "threads", options.threads)->capture_default_str();
    std::vector<std::string> simd_paths{"auto", "scalar"};
    for (const std::string& name : SimdPathNames()) simd_paths.push_back(name);
    app.add_option("--simd", options.simd,
                   "Instruction set of the streamline passes: auto (the best this machine runs), scalar (the "
                   "reference) or one by name; the picture is the same for every choice")
        ->check(CLI::IsMember(simd_paths))
        ->capture_default_str();
    AddSetting(app, "seed", options.seed);
    app.add_option("-o,--output", options.output, "Picture to write: .bmp or .png")->capture_default_str();
    app.add_option("--save-field", options.save_field, "Also write the field as computed to this binary .vec file");

    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp& e) {
        return app.exit(e);
    } catch (const CLI::CallForVersion& e) {
        return app.exit(e);
    } catch (const CLI::ParseError& e) {
        std::fprintf(stderr, "flowloom-render: %s\nRun with --help for the options.\n", e.what());
        return 2;
    }

    auto fail = [](const std::string& message) {
        std::fprintf(stderr, "flowloom-render: %s\n", message.c_str());
        return 2;
    };
    if (std::string error = ParseSize(size, r.x_res, r.y_res); !error.empty()) return fail(error);
    if (!region.empty())
        if (std::string error = ParseRegion(region, r); !error.empty()) return fail(error);
    if (!HasEnding(options.output, ".bmp") && !HasEnding(options.output, ".png"))
        return fail("-o must name a .bmp or .png file");
    options.png = HasEnding(options.output, ".png");
    if (std::string error = FinishImportOptions(import); !error.empty()) return fail(error);
    options.import = import.options;
    options.import.color_var = display.color_var;

    r.field_type = ChoiceIndex(Setting("field_type"), field);
    if (field_file.empty() && ImportNeedsImportedFile(options.import))
        return fail("--coordinates, --angle-var, --stokes and --color-var need a --field-file");
    if (!field_file.empty()) {
        if (!SetRecordPath(r.field_file, field_file.c_str()))
            return fail("--field-file: the path must be shorter than 200 bytes");
        r.field_type = 4;
    }
    r.noise_type = ChoiceIndex(Setting("noise_type"), noise);
    r.kernel_type = ChoiceIndex(Setting("kernel_type"), kernel);
    r.kernel_length = length;
    r.color_mapping = grey ? 0 : 1;
    r.equalization = equalize ? 1 : 0;
    r.high_pass = high_pass ? 1 : 0;
    r.roi_scale = scale;
    r.lod = lod;
    r.anim_frames = frames;
    r.image_iterations = image_iterations;
    r.force_extraction = no_force ? 0 : 1;
    if (!image.empty() && !SetRecordPath(r.image_file, image.c_str()))
        return fail("--image: the path must be shorter than 200 bytes");
    if (!pass_region.empty()) {
        int* b = options.pass_region;
        if (!ParseFour(pass_region, b[0], b[1], b[2], b[3]))
            return fail("--pass-region takes LEFT,TOP,RIGHT,BOTTOM, e.g. 50,50,149,149");
        if (options.pass_region_from < 0) options.pass_region_from = 0;
    } else if (options.pass_region_from >= 0) {
        return fail("--pass-region-from needs --pass-region");
    }
    r.enhance_iterations = iterations;
    // A first computation: everything is new to the engine.
    r.size_changed = r.field_changed = r.noise_changed = r.kernel_changed = 1;
    options.command = methods.at(method);
    if (options.command == kCommandLicing && image.empty()) return fail("--method licing needs --image PATH");
    options.colorbar = colorbar != 0;
    if (!display.color_var.empty()) {
        if (options.color_by_direction) return fail("--color-var colours by the variable, not by direction");
        if (grey) return fail("--color-var colours the picture, which --grey leaves grey");
    }
    if (options.png_compression != -1 && !options.png) return fail("--png-compression needs a .png picture (-o)");
    // An axis-specific boundary wins over --boundary, which wins over the field's own.
    display.boundary_x = boundary_x.empty() ? boundary : boundary_x;
    display.boundary_y = boundary_y.empty() ? boundary : boundary_y;
    display.orientation = orientation != 0;
    display.coordinates = import.coordinates;
    if (std::string error = ParseDisplayTexts(display, options.display); !error.empty()) return fail(error);
    // A grid of one sample across has no opposite edge to go on at.
    if ((options.display.boundary_x == 1 && r.field_type != 4 && r.x_res < 2) ||
        (options.display.boundary_y == 1 && r.field_type != 4 && r.y_res < 2))
        return fail("periodic boundaries need at least 2 samples along their axis");
    if (options.command == kCommandLicing && options.display.output_scale != 1)
        return fail("--scale applies to a field's picture, not to --method licing, which keeps the image's size");
    ForceCommandSettings(options.command, r);
    return -1;
}

}  // namespace flowloom
