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

// The command line as given, before it is checked and turned into RenderOptions.
struct RenderCli {
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
    int lod = 0;
    int frames = 0;
    int image_iterations = 0;
    int grey = 0;
    int equalize = 0;
    int high_pass = 0;
    int length = 0;
    int scale = 0;
    int iterations = 0;
    ImportCli import;
    DisplayTexts display;
    std::string boundary, boundary_x, boundary_y;
    int orientation = 0;
    int colorbar = 0;
};

void AddRenderOptions(CLI::App& app, RenderCli& cli, RenderOptions& options) {
    const SettingsRecord& r = options.record;
    cli.lod = r.lod;
    cli.frames = r.anim_frames;
    cli.image_iterations = r.image_iterations;
    cli.length = r.kernel_length;
    cli.scale = r.roi_scale;
    cli.iterations = r.enhance_iterations;

    app.add_option("--size", cli.size, "Grid WIDTHxHEIGHT, each 0..2000 (a binary field file sets its own)")
        ->capture_default_str();
    AddChoice(app, "field_type", cli.field)->capture_default_str();
    app.add_option("--field-file", cli.field_file,
                   "Vector-field file instead of --field: .vec (binary or text), NumPy .npy/.npz, NetCDF or CSV");
    AddImportOptions(app, cli.import);
    AddChoice(app, "noise_type", cli.noise)->capture_default_str();
    AddChoice(app, "kernel_type", cli.kernel)->capture_default_str();
    AddSetting(app, "kernel_length", cli.length)->capture_default_str();
    AddFlag(app, "color_mapping", cli.grey);
    app.add_flag("--color-by-direction", options.color_by_direction, "Colour by field direction, not magnitude");
    app.add_flag("--flip-rows", options.flip_rows, "Show the rows bottom to top");
    app.add_flag("--flip-columns", options.flip_columns, "Show the columns right to left");
    AddFlag(app, "equalization", cli.equalize);
    AddFlag(app, "high_pass", cli.high_pass);
    app.add_option("--roi", cli.region, "Zoom into the region LEFT,TOP,RIGHT,BOTTOM (inclusive)");
    AddSetting(app, "roi_scale", cli.scale)->capture_default_str();
    AddSetting(app, "output_scale", cli.display.output_scale)->capture_default_str();
    AddChoice(app, "boundary", cli.boundary);
    AddChoice(app, "boundary_x", cli.boundary_x);
    AddChoice(app, "boundary_y", cli.boundary_y);
    AddFlag(app, "orientation", cli.orientation);
    AddChoice(app, "cmap", cli.display.cmap);
    AddText(app, "color_var", cli.display.color_var);
    AddChoice(app, "norm", cli.display.norm);
    AddText(app, "vmin", cli.display.vmin);
    AddText(app, "vmax", cli.display.vmax);
    AddText(app, "percentiles", cli.display.percentiles);
    AddChoice(app, "blend", cli.display.blend);
    AddText(app, "alpha", cli.display.alpha);
    AddText(app, "mask_color", cli.display.mask_color);
    AddText(app, "stretch", cli.display.stretch);
    AddText(app, "clahe", cli.display.clahe);
    AddFlag(app, "colorbar", cli.colorbar);
    AddSetting(app, "png_compression", options.png_compression);
    AddChoice(app, "method", cli.method)->capture_default_str();
    AddSetting(app, "lod", cli.lod)->capture_default_str();
    app.add_option("--pass-region", cli.pass_region, "prolic: restrict to LEFT,TOP,RIGHT,BOTTOM (inclusive) ...");
    AddSetting(app, "pass_region_from", options.pass_region_from);
    AddSetting(app, "anim_frames", cli.frames)->capture_default_str();
    app.add_option("--out-dir", options.out_dir, "animation: the frames go to DIR/LICAnimation")->capture_default_str();
    app.add_option("--image", cli.image,
                   "licing: the colour image, .bmp/.BMP, .rgb/.RGB (SGI), or a PNG or JPEG photograph");
    AddSetting(app, "image_iterations", cli.image_iterations)->capture_default_str();
    AddFlag(app, "force_extraction", cli.no_force);
    AddSetting(app, "enhance_iterations", cli.iterations)->capture_default_str();
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

}

// Checks the parsed command line and fills `options`: empty, or the message for a wrong
// option or value.
std::string FinishRenderOptions(RenderCli& cli, RenderOptions& options) {
    SettingsRecord& r = options.record;
    const std::map<std::string, int> methods{
        {"lic", kCommandLic},       {"maglic", kCommandMagLic},       {"enhance", kCommandEnhance},
        {"prolic", kCommandProLic}, {"animation", kCommandAnimation}, {"licing", kCommandLicing}};
    if (std::string error = ParseSize(cli.size, r.x_res, r.y_res); !error.empty()) return error;
    if (!cli.region.empty())
        if (std::string error = ParseRegion(cli.region, r); !error.empty()) return error;
    if (!HasEnding(options.output, ".bmp") && !HasEnding(options.output, ".png"))
        return "-o must name a .bmp or .png file";
    options.png = HasEnding(options.output, ".png");
    if (std::string error = FinishImportOptions(cli.import); !error.empty()) return error;
    options.import = cli.import.options;
    options.import.color_var = cli.display.color_var;

    r.field_type = ChoiceIndex(Setting("field_type"), cli.field);
    if (cli.field_file.empty() && ImportNeedsImportedFile(options.import))
        return "--coordinates, --angle-var, --stokes and --color-var need a --field-file";
    if (!cli.field_file.empty()) {
        if (!SetRecordPath(r.field_file, cli.field_file.c_str()))
            return "--field-file: the path must be shorter than 200 bytes";
        r.field_type = 4;
    }
    r.noise_type = ChoiceIndex(Setting("noise_type"), cli.noise);
    r.kernel_type = ChoiceIndex(Setting("kernel_type"), cli.kernel);
    r.kernel_length = cli.length;
    r.color_mapping = cli.grey ? 0 : 1;
    r.equalization = cli.equalize ? 1 : 0;
    r.high_pass = cli.high_pass ? 1 : 0;
    r.roi_scale = cli.scale;
    r.lod = cli.lod;
    r.anim_frames = cli.frames;
    r.image_iterations = cli.image_iterations;
    r.force_extraction = cli.no_force ? 0 : 1;
    if (!cli.image.empty() && !SetRecordPath(r.image_file, cli.image.c_str()))
        return "--image: the path must be shorter than 200 bytes";
    if (!cli.pass_region.empty()) {
        int* b = options.pass_region;
        if (!ParseFour(cli.pass_region, b[0], b[1], b[2], b[3]))
            return "--pass-region takes LEFT,TOP,RIGHT,BOTTOM, e.g. 50,50,149,149";
        if (options.pass_region_from < 0) options.pass_region_from = 0;
    } else if (options.pass_region_from >= 0) {
        return "--pass-region-from needs --pass-region";
    }
    r.enhance_iterations = cli.iterations;
    // A first computation: everything is new to the engine.
    r.size_changed = r.field_changed = r.noise_changed = r.kernel_changed = 1;
    options.command = methods.at(cli.method);
    if (options.command == kCommandLicing && cli.image.empty()) return "--method licing needs --image PATH";
    options.colorbar = cli.colorbar != 0;
    if (!cli.display.color_var.empty()) {
        if (options.color_by_direction) return "--color-var colours by the variable, not by direction";
        if (cli.grey) return "--color-var colours the picture, which --grey leaves grey";
    }
    if (options.png_compression != -1 && !options.png) return "--png-compression needs a .png picture (-o)";
    // An axis-specific boundary wins over --boundary, which wins over the field's own.
    cli.display.boundary_x = cli.boundary_x.empty() ? cli.boundary : cli.boundary_x;
    cli.display.boundary_y = cli.boundary_y.empty() ? cli.boundary : cli.boundary_y;
    cli.display.orientation = cli.orientation != 0;
    cli.display.coordinates = cli.import.coordinates;
    if (std::string error = ParseDisplayTexts(cli.display, options.display); !error.empty()) return error;
    // A grid of one sample across has no opposite edge to go on at.
    if ((options.display.boundary_x == 1 && r.field_type != 4 && r.x_res < 2) ||
        (options.display.boundary_y == 1 && r.field_type != 4 && r.y_res < 2))
        return "periodic boundaries need at least 2 samples along their axis";
    if (options.command == kCommandLicing && options.display.output_scale != 1)
        return "--scale applies to a field's picture, not to --method licing, which keeps the image's size";
    ForceCommandSettings(options.command, r);
    return {};
}

}  // namespace

int ParseRenderOptions(int argc, char** argv, RenderOptions& options) {
    options.record = DefaultSettings();

    CLI::App app{
        "flowloom-render: computes a Line Integral Convolution picture of a 2D vector field "
        "without a window, with the same engine and settings as the Flowloom window."};
    app.set_help_flag("-h,--help", "Print this help and exit");
    app.set_version_flag("--version", "flowloom-render " FLOWLOOM_VERSION, "Print the version and exit");
    app.get_formatter()->column_width(34);

    RenderCli cli;
    AddRenderOptions(app, cli, options);

    if (const int status = ParseCommandLine(app, argc, argv, "flowloom-render"); status >= 0) return status;

    if (const std::string error = FinishRenderOptions(cli, options); !error.empty()) {
        std::fprintf(stderr, "flowloom-render: %s\n", error.c_str());
        return 2;
    }
    return -1;
}

}  // namespace flowloom
