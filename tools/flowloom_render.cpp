// flowloom-render: the Flowloom engine without a window. Takes the settings from the
// command line, computes as the window's command buttons do and writes the picture.

#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <system_error>

#include "engine/commands.h"
#include "engine/lic_engine.h"
#include "lic/noise.h"
#include "lic/parallel_rows.h"
#include "lic/streamline_simd.h"
#include "media/bmp_writer.h"
#include "media/color_bar.h"
#include "media/host.h"
#include "media/png_writer.h"
#include "tools/render_options.h"

namespace flowloom {
namespace {

// Progress on standard error when it is a terminal; messages always go there.
class TerminalHost : public Host {
public:
    explicit TerminalHost(bool show_progress) : show_progress_(show_progress) {}

    void ProgressCreate(int range_max) override {
        range_ = range_max;
        position_ = 0;
        shown_ = -1;
        Draw();
    }
    void ProgressStep() override {
        ++position_;
        Draw();
    }
    void ProgressDestroy() override {
        if (show_progress_) std::fprintf(stderr, "\r%*s\r", 60, "");
    }
    void ShowMessage(const char* text) override { std::fprintf(stderr, "flowloom-render: %s\n", text); }

private:
    void Draw() {
        if (!show_progress_ || range_ <= 0) return;
        const int percent = static_cast<int>(100L * (position_ > range_ ? range_ : position_) / range_);
        if (percent == shown_) return;
        shown_ = percent;
        const int filled = percent * 40 / 100;
        std::fprintf(stderr, "\r[%.*s%*s] %3d%%", filled, "########################################", 40 - filled, "",
                     percent);
        std::fflush(stderr);
    }

    bool show_progress_;
    int range_ = 0;
    int position_ = 0;
    int shown_ = -1;
};

// ProLIC as the window drives it: clear the picture, then one pass at a time over the
// whole grid, or over the given region from the given pass on.
void RunProgressive(LicEngine& engine, Host& host, const RenderOptions& options) {
    const size_t samples = static_cast<size_t>(engine.x_res) * engine.y_res;
    if (!engine.ImagesMatchGrid()) return;
    std::memset(engine.lic_image.get(), 0, samples);
    std::memset(engine.rgb_image.get(), 0, 3 * samples);
    const int levels = engine.lod;
    host.ProgressCreate(levels * levels);
    for (int pass = 0; pass < levels * levels; ++pass) {
        const bool restricted = options.pass_region_from >= 0 && pass >= options.pass_region_from;
        const int* r = options.pass_region;
        if (restricted)
            engine.ProgressiveStep(levels, pass, pass, r[0], r[2], r[1], r[3]);
        else
            engine.ProgressiveStep(levels, pass, pass, -1, INT_MAX, -1, INT_MAX);
        host.ProgressStep();
    }
    host.ProgressDestroy();
}

int Run(int argc, char** argv) {
    RenderOptions options;
    if (const int status = ParseRenderOptions(argc, argv, options); status >= 0) return status;

    SetThreadCount(options.threads);
    SetSimdPath(options.simd);
    if (options.seed >= 0) SetSparseNoiseSeed(options.seed);

    TerminalHost host(isatty(STDERR_FILENO) != 0);
    LicEngine engine(&host);
    engine.Reset();
    engine.color_by_data = options.color_by_direction != 0;
    engine.flip_rows = options.flip_rows != 0;
    engine.flip_columns = options.flip_columns != 0;

    if (options.command == kCommandAnimation) {
        std::error_code error;
        std::filesystem::create_directories(options.out_dir, error);
        engine.animation_dir = options.out_dir;
    }

    const bool wanted_file = options.record.field_type == 4;
    engine.import_options = options.import;
    ApplyDisplayChoices(options.display, engine);
    engine.ImportSettings(options.record);
    engine.Compute();
    // A NumPy, NetCDF or CSV file that was asked for and is unusable is an error, not a
    // reason to picture another field.
    if (!engine.import_error.empty()) {
        std::fprintf(stderr, "flowloom-render: %s\n", engine.import_error.c_str());
        // A colour variable that does not fit the file is a wrong option, not a bad file.
        const bool wrong_option = engine.import_error.find(std::string(": ") + kColorVariableRefused) !=
                                  std::string::npos;
        return wrong_option ? 2 : 1;
    }
    // A refused scale has been reported by the engine; nothing is drawn in its place.
    if (!engine.scale_error.empty()) return 1;
    if (options.command == kCommandProLic) RunProgressive(engine, host, options);
    SettingsRecord result = options.record;
    engine.ExportSettings(result);
    if (wanted_file && result.field_type != 4)
        std::fprintf(stderr, "flowloom-render: could not read the field file %s; fell back to the Saddle field.\n",
                     options.record.field_file);

    if (options.command == kCommandAnimation) {
        const std::filesystem::path frames = std::filesystem::path(options.out_dir) / "LICAnimation";
        if (!engine.animation_written) {
            std::fprintf(stderr, "flowloom-render: the animation frames could not be written to %s.\n",
                         frames.string().c_str());
            return 1;
        }
        std::fprintf(stderr, "flowloom-render: wrote %d frames of %d x %d to %s\n", engine.anim_frames, engine.x_res,
                     engine.y_res, frames.string().c_str());
        return 0;
    }
    if (options.command == kCommandLicing && !engine.HasColorImage()) {
        if (!engine.image_error.empty())
            std::fprintf(stderr, "flowloom-render: could not read the image %s.\n", engine.image_error.c_str());
        else
            std::fprintf(stderr, "flowloom-render: could not read the image %s.\n", options.record.image_file);
        return 1;
    }
    if (!engine.HasColorImage()) {
        std::fprintf(stderr, "flowloom-render: nothing was computed, so no picture was written.\n");
        return 1;
    }
    // A colour the composition could not make has been reported; no picture stands for it.
    if (!engine.compose_error.empty()) {
        std::fprintf(stderr, "flowloom-render: %s\n", engine.compose_error.c_str());
        return 1;
    }
    const unsigned char* pixels = engine.rgb_image.get();
    int width = engine.x_res;
    MallocBuffer<unsigned char> with_bar;
    if (options.colorbar) {
        ColorBar bar;
        std::string error;
        if (!engine.ColorBarInUse(bar, error) ||
            !AddColorBar(pixels, engine.x_res, engine.y_res, bar, with_bar, width, error)) {
            std::fprintf(stderr, "flowloom-render: no colour bar: %s\n", error.c_str());
            return 1;
        }
        pixels = with_bar.get();
    }
    const char* path = options.output.c_str();
    const int written = options.png ? WritePng24(width, engine.y_res, pixels, path, options.png_compression)
                                    : WriteBmp24(width, engine.y_res, pixels, path);
    if (!written) {
        std::fprintf(stderr, "flowloom-render: could not write the picture to %s.\n", path);
        return 1;
    }
    std::fprintf(stderr, "flowloom-render: wrote the %d x %d picture to %s\n", width, engine.y_res, path);

    if (!options.save_field.empty()) {
        if (!engine.SaveBinaryData(options.save_field.c_str())) {
            std::fprintf(stderr, "flowloom-render: could not write the field to %s.\n", options.save_field.c_str());
            return 1;
        }
        std::fprintf(stderr, "flowloom-render: wrote the %d x %d field to %s\n", engine.x_res, engine.y_res,
                     options.save_field.c_str());
    }
    return 0;
}

}  // namespace
}  // namespace flowloom

int main(int argc, char** argv) {
    return flowloom::Run(argc, argv);
}
