#pragma once

#include <cstdint>
#include <string>

#include "engine/display_settings.h"
#include "engine/settings_record.h"
#include "fieldio/field_import.h"

namespace flowloom {

// Everything one run of the command-line renderer does.
struct RenderOptions {
    SettingsRecord record{};  // as the window would hand it to the engine
    int command = 2;          // a window command code (engine/commands.h)
    int threads = 0;          // 0: all processors
    int64_t seed = -1;        // fixed sparse-noise seed, or -1 for the clock
    int color_by_direction = 0;
    int flip_rows = 0;
    int flip_columns = 0;
    std::string output = "flowloom.bmp";
    bool png = false;        // the output ends in .png
    std::string save_field;  // write the field after the computation, when set
    ImportOptions import;    // what to take from a NumPy, NetCDF or CSV field file
    // Colour beyond the window's flags, boundaries, orientation and the picture's scale; the
    // defaults give the window's picture.
    DisplayChoices display;
    bool colorbar = false;
    int png_compression = -1;   // the fast default, or a zlib level 0..9
    std::string out_dir = ".";  // the animation's frames go to out_dir/LICAnimation
    // Progressive LIC: an optional region (left, top, right, bottom), applied from this
    // pass on; -1 for none.
    int pass_region[4] = {0, 0, 0, 0};
    int pass_region_from = -1;

    // The instruction set of the streamline passes (SetSimdPath).
    std::string simd = "auto";
};

// Parses the command line. Returns -1 to go on and render, or the exit status to end
// with at once: 0 after --help or --version, 2 after a wrong option or value (message on stderr).
int ParseRenderOptions(int argc, char** argv, RenderOptions& options);

}  // namespace flowloom
