#include "engine/lic_engine.h"

#include <cstdio>
#include <cstring>
#include <utility>

#include "engine/fields.h"
#include "engine/filters.h"
#include "engine/settings_table.h"
#include "lic/animation.h"
#include "lic/compose.h"
#include "lic/field_file.h"
#include "lic/image_lic.h"
#include "lic/kernels.h"
#include "lic/noise.h"
#include "lic/parallel_rows.h"
#include "lic/progressive.h"
#include "media/bmp_reader.h"
#include "media/photo_reader.h"
#include "media/sgi_reader.h"

namespace flowloom {

unsigned char* ReadInputImage24(const char* path, int& width, int& height, std::string* failure) {
    // The ending decides the reader, case-sensitively: "bmp"/"BMP" or "rgb"/"RGB".
    const size_t length = std::strlen(path);
    const char* ending = length >= 3 ? path + length - 3 : "";
    std::string why;
    unsigned char* image = nullptr;
    if (!std::strcmp(ending, "bmp") || !std::strcmp(ending, "BMP")) {
        BmpReader reader;
        image = reader.Read(path, width, height);
        if (reader.failure) why = reader.failure;
    } else if (!std::strcmp(ending, "rgb") || !std::strcmp(ending, "RGB")) {
        const char* reason = nullptr;
        image = ReadSgiImage24(path, width, height, &reason);
        if (reason) why = reason;
    } else {
        // Any other name: a PNG or JPEG photograph, told by its content.
        image = ReadPhotoImage24(path, width, height, &why);
    }
    if (!image && failure) *failure = why;
    return image;
}

long LicEngine::Samples(int width, int height) {
    return (width > 0 && height > 0) ? static_cast<long>(width) * height : 0;
}

LicEngine::LicEngine(Host* owner_host) : SettingsRecord(DefaultSettings()), owner(owner_host) {}

LicEngine::~LicEngine() {
    ReleaseAll();
    owner = nullptr;
}

Host& LicEngine::host() const {
    return owner ? *owner : DefaultHost();
}

void LicEngine::Reset() {
    ReleaseAll();
    static_cast<SettingsRecord&>(*this) = DefaultSettings();
    kernel_phase = 0.0f;
    kernel_ripples = 3.0f;
    flip_rows = 0;
    flip_columns = 0;
    color_by_data = 0;
    mask_color[0] = mask_color[1] = mask_color[2] = 0;
    color_options = ColorOptions();
    compose_error.clear();
    import_options = ImportOptions();
    output_scale = 1;
    scale_error.clear();
    field_periodic_x = 0;
    field_orientation = 0;
    field_name.clear();
    field_units.clear();
    file_grid = FieldFileGrid();
    import_error.clear();
    field_v_upwards = 0;
    data_min = 1.0f;
    data_max = 1000.0f;
    BuildContrastTable(5.0f, contrast_table);
    kernel_fwd.Allocate(kKernelTableSize);
    kernel_bwd.Allocate(kKernelTableSize);
    // Filled by the first Compute (kernel_changed is 1); zero until then.
    if (kernel_fwd) std::memset(kernel_fwd.get(), 0, sizeof(float) * kKernelTableSize);
    if (kernel_bwd) std::memset(kernel_bwd.get(), 0, sizeof(float) * kKernelTableSize);
}

void LicEngine::ReleaseAll() {
    ReleaseImages();
    kernel_fwd.Release();
    kernel_bwd.Release();
}

void LicEngine::ReleaseField() {
    vectors.Release();
    mask.Release();
    magnitudes.Release();
    physical_vectors.Release();
    physical_samples_ = -1;
    field_colour_.Release();
    raw_magnitudes.Release();
    ReleaseColorScalar();
    field_width_ = field_height_ = 0;
}

void LicEngine::ReleaseImages() {
    ReleaseField();
    noise.Release();
    lic_image.Release();
    rgb_image.Release();
    image_samples_ = -1;
    rgb_samples_ = -1;
}

void LicEngine::ImportSettings(const SettingsRecord& record) {
    static_cast<SettingsRecord&>(*this) = record;
    // The record arrives from outside: make sure both paths are terminated.
    field_file[kPathCapacity - 1] = '\0';
    image_file[kPathCapacity - 1] = '\0';
}

void LicEngine::ExportSettings(SettingsRecord& record) const {
    CopyComputedSettings(*this, record);
}

void LicEngine::ReportRefusedRegion(const int asked[4]) {
    // The whole grid is what a refused region becomes; saying so only when something else
    // was asked keeps a grid too small for any region from repeating the message.
    if (asked[0] == roi_left && asked[1] == roi_top && asked[2] == roi_right && asked[3] == roi_bottom) return;
    const bool inverted = asked[2] - asked[0] < 4 || asked[3] - asked[1] < 4;
    const char* why =
        inverted ? "is inverted or spans fewer than 5 samples across or down" : "does not lie inside the grid";
    char text[256];
    std::snprintf(text, sizeof text,
                  "Region refused: %d,%d,%d,%d (left, top, right, bottom) %s, so the whole %d x %d grid is used.",
                  asked[0], asked[1], asked[2], asked[3], why, x_res, y_res);
    host().ShowMessage(text);
}

void LicEngine::ReportOutOfMemory() {
    char text[160];
    std::snprintf(text, sizeof text, "Not enough memory for a %d x %d grid; nothing was computed.", x_res, y_res);
    host().ShowMessage(text);
}

bool LicEngine::ImagesMatchGrid() const {
    return noise && lic_image && rgb_image && image_samples_ == Samples(x_res, y_res);
}

bool LicEngine::HasColorImage() const {
    return rgb_image && rgb_samples_ == Samples(x_res, y_res);
}

bool LicEngine::HasPhysicalField() const {
    return physical_vectors && FieldUsable() && physical_samples_ == Samples(x_res, y_res);
}

void LicEngine::KeepPhysicalField() {
    physical_vectors.Release();
    physical_samples_ = -1;
    if (keep_physical_field != 1 || !vectors) return;
    const long samples = Samples(field_width_, field_height_);
    // Without memory for the copy the values are not shown; the picture is unaffected.
    if (!physical_vectors.Allocate(2 * static_cast<size_t>(samples))) return;
    std::memcpy(physical_vectors.get(), vectors.get(), 2 * static_cast<size_t>(samples) * sizeof(float));
    physical_samples_ = samples;
}

bool LicEngine::FieldUsable() const {
    return vectors && magnitudes && field_width_ == x_res && field_height_ == y_res;
}

void LicEngine::UpdateKernelTables() {
    if (!kernel_changed) return;
    kernel_changed = 0;
    if (kernel_fwd && kernel_bwd)
        BuildKernelTables(kernel_fwd.get(), kernel_bwd.get(), static_cast<float>(kernel_length), kernel_ripples,
                          kernel_phase, kernel_type);
}

StreamlineModes LicEngine::TracedModes() const {
    StreamlineModes modes = streamline_modes;
    auto chosen = [](int choice, bool field_default) { return choice == 1 || (choice == -1 && field_default); };
    if (chosen(boundary_x_choice, modes.boundary_x == Boundary::kPeriodic || field_periodic_x))
        modes.boundary_x = Boundary::kPeriodic;
    else
        modes.boundary_x = Boundary::kClosed;
    if (chosen(boundary_y_choice, modes.boundary_y == Boundary::kPeriodic))
        modes.boundary_y = Boundary::kPeriodic;
    else
        modes.boundary_y = Boundary::kClosed;
    modes.orientation = chosen(orientation_choice, modes.orientation || field_orientation);
    if (roi_enabled == 1) modes.boundary_x = modes.boundary_y = Boundary::kClosed;
    return modes;
}

void LicEngine::Compute() {
    if (x_res < 0) x_res = 0;
    if (y_res < 0) y_res = 0;

    UpdateKernelTables();

    if (image_lic) {
        ProcessImage();
        return;
    }

    scale_error.clear();
    if (!PrepareFileField() && scale_error.empty()) PrepareAnalyticField();
    if (!vectors || !magnitudes) return;  // out of memory or a refused scale, already reported

    if (field_changed || size_changed || !ImagesMatchGrid()) {
        field_changed = 0;
        size_changed = 0;
        noise_changed = 0;
        ResizeImages();
        MakeNoise();
    } else if (roi_enabled == 1) {
        // Zooms whatever field is held, so each further computation zooms again.
        ZoomRegion(1);
        ResizeImages();
        MakeNoise();
        RenderLic();
        return;
    } else if (noise_changed) {
        noise_changed = 0;
        MakeNoise();
    }
    RenderLic();
}

void LicEngine::ResizeImages() {
    const size_t samples = static_cast<size_t>(Samples(x_res, y_res));
    if (ImagesMatchGrid()) return;  // allocated once per size, reused across computations
    if (!noise.Allocate(samples) || !lic_image.Allocate(samples) || !rgb_image.Allocate(3 * samples)) {
        noise.Release();
        lic_image.Release();
        rgb_image.Release();
        image_samples_ = rgb_samples_ = -1;
        ReportOutOfMemory();
        return;
    }
    image_samples_ = rgb_samples_ = static_cast<long>(samples);
}

void LicEngine::MakeNoise() {
    if (!ImagesMatchGrid()) return;
    if (noise_type == 0)
        MakeWhiteNoise(noise.get(), x_res, y_res);
    else if (noise_type == 1)
        MakeSparseNoise(noise.get(), x_res, y_res);
}

void LicEngine::RenderLic() {
    if (pro_lic == 1) return;
    if (!ImagesMatchGrid() || !FieldUsable()) return;
    if (animation == 1) {
        ComputeAnimationFrames();
        return;
    }
    if (enhanced_lic) {
        EnhancedLic();
    } else {
        ConvolveLic();
        if (high_pass == 1) HighPassFilter(x_res, y_res, lic_image.get());
    }
    if (equalization == 1) ApplyContrastTable(contrast_table, static_cast<int>(Samples(x_res, y_res)), lic_image.get());
    ComposeImage(lic_image.get(), rgb_image.get(), color_mapping);
}

void LicEngine::EnhancedLic() {
    if (!ImagesMatchGrid()) return;
    const size_t samples = static_cast<size_t>(Samples(x_res, y_res));
    MallocBuffer<unsigned char> saved;
    if (!saved.Allocate(samples)) {
        ReportOutOfMemory();
        return;
    }
    std::memcpy(saved.get(), noise.get(), samples);
    for (int pass = 0; pass < enhance_iterations; ++pass) {
        ConvolveLic();
        if (pass != enhance_iterations - 1) {
            HighPassFilter(x_res, y_res, lic_image.get());
            std::memcpy(noise.get(), lic_image.get(), samples);
        }
    }
    std::memcpy(noise.get(), saved.get(), samples);
    if (noise_type == 1) StretchGreyLevels(static_cast<int>(samples), lic_image.get());
}

ComposeSource LicEngine::ComposeSourceOf(const unsigned char* grey) const {
    ComposeSource source;
    source.grey = grey;
    source.width = x_res;
    source.height = y_res;
    // Colour needs a field of the image's own size; otherwise the picture is grey.
    if (FieldUsable()) {
        source.vectors = vectors.get();
        source.magnitudes = magnitudes.get();
        source.lengths = raw_magnitudes.get();
        source.scalar = color_scalar.get();
        source.mask = mask.get();
    }
    std::memcpy(source.mask_color, mask_color, sizeof mask_color);
    source.color_by_data = color_by_data;
    source.flip_rows = flip_rows;
    source.flip_columns = flip_columns;
    source.data_min = data_min;
    source.data_max = data_max;
    source.options = &color_options;
    return source;
}

int LicEngine::ComposeImage(const unsigned char* grey, unsigned char* rgb, int color_flag) {
    if (!grey || !rgb) return 1;
    if ((grey == lic_image.get() || rgb == rgb_image.get()) && !ImagesMatchGrid()) return 1;
    compose_error.clear();
    if (ComposeColorImage(ComposeSourceOf(grey), rgb, color_flag, &compose_error)) return 1;
    host().ShowMessage(compose_error.c_str());
    return 0;
}

int LicEngine::ColorBarInUse(ColorBar& bar, std::string& error) const {
    bar.cmap = color_options.cmap;
    const bool scalar = !color_scalar_name.empty();
    bar.name = scalar ? color_scalar_name : field_name.empty() ? "magnitude" : field_name;
    bar.units = scalar ? color_scalar_units : field_units;
    return ColorNormInUse(bar.norm, error);
}

int LicEngine::ColorNormInUse(ColorNorm& norm, std::string& error) const {
    if (!FieldUsable()) {
        error = "No field to colour by.";
        return 0;
    }
    return ResolveComposeNorm(ComposeSourceOf(nullptr), norm, error) ? 1 : 0;
}

int LicEngine::SetColorScalar(int width, int height, const float* values, const char* name, const char* units) {
    if (!values || !vectors || width != field_width_ || height != field_height_) return 0;
    MallocBuffer<float> copy;
    const size_t samples = static_cast<size_t>(Samples(width, height));
    if (!copy.Allocate(samples)) return 0;
    std::memcpy(copy.get(), values, samples * sizeof(float));
    color_scalar = std::move(copy);
    color_scalar_name = name ? name : "";
    color_scalar_units = units ? units : "";
    return 1;
}

void LicEngine::ReleaseColorScalar() {
    color_scalar.Release();
    color_scalar_name.clear();
    color_scalar_units.clear();
}

int LicEngine::SaveBinaryData(const char* path) {
    if (!vectors || field_width_ != x_res || field_height_ != y_res) {
        std::printf("No vector field to write to %s!\n", path);
        return 0;
    }
    return WriteFieldFile(path, x_res, y_res, vectors.get(), magnitudes ? magnitudes.get() : nullptr, mask.get());
}

void LicEngine::ProgressiveStep(int levels, int first_pass, int last_pass, int left, int right, int top, int bottom) {
    if (first_pass > last_pass || last_pass < 0 || levels < 1 || last_pass >= levels * levels) return;
    if (!ImagesMatchGrid() || !FieldUsable() || !kernel_fwd || !kernel_bwd) return;
    ProgressiveInput in;
    in.vectors = vectors.get();
    in.noise = noise.get();
    in.width = x_res;
    in.height = y_res;
    in.kernel_fwd = kernel_fwd.get();
    in.kernel_bwd = kernel_bwd.get();
    in.kernel_length = kernel_length;
    in.modes = TracedModes();
    ProgressivePasses(in, levels, first_pass, last_pass, left, right, top, bottom, lic_image.get());
    ComposeImage(lic_image.get(), rgb_image.get(), color_mapping);
}

AnimationInput LicEngine::AnimationSetup() const {
    AnimationInput in;
    in.vectors = vectors.get();
    in.noise = noise.get();
    in.width = x_res;
    in.height = y_res;
    in.kernel_length = kernel_length;
    in.kernel_ripples = kernel_ripples;
    in.anim_frames = anim_frames;
    in.enhance_iterations = enhance_iterations;
    in.out_dir = animation_dir;
    in.modes = TracedModes();
    return in;
}

int LicEngine::ComputeAnimationFrames() {
    animation_written = 0;
    if (!ImagesMatchGrid() || !FieldUsable()) return 0;
    const AnimationInput in = AnimationSetup();
    AnimationCallbacks callbacks;
    callbacks.high_pass = [](int width, int height, unsigned char* grey) { HighPassFilter(width, height, grey); };
    callbacks.compose = [this](const unsigned char* grey, unsigned char* rgb) {
        ComposeImage(grey, rgb, color_mapping);
    };
    animation_written = flowloom::ComputeAnimationFrames(in, host(), callbacks);
    return animation_written;
}

int LicEngine::ComputeImageLIC(int width, int height, unsigned char* image, const float* field) {
    if (!kernel_fwd || !kernel_bwd) return 0;
    return ComputeImageLic(width, height, image, field, kernel_fwd.get(), kernel_bwd.get(), kernel_length, host(),
                           TracedModes());
}

void LicEngine::ProcessImage() {
    ReleaseImages();
    int width = 0;
    int height = 0;
    std::string failure;
    image_error.clear();
    unsigned char* image = ReadInputImage24(image_file, width, height, &failure);
    // The grid takes the image's size only when the image was read: a failed read leaves
    // the size the user had, rather than a header's or 0 x 0, in the window's boxes.
    if (!image) {
        image_error = std::string(image_file) + ": " + (failure.empty() ? std::string("it cannot be read") : failure);
        return;
    }
    LicImagePixels(image, width, height);
}

int LicEngine::LicImagePixels(unsigned char* image, int width, int height) {
    ReleaseImages();
    x_res = width;
    y_res = height;
    rgb_image.Adopt(image);
    rgb_samples_ = Samples(x_res, y_res);

    if (force_extraction) {
        for (int pass = 0; pass < image_iterations; ++pass) {
            vectors.Release();
            field_width_ = field_height_ = 0;
            float* field = ExtractForceField(x_res, y_res, rgb_image.get());
            if (!field) {
                ReportOutOfMemory();
                return 0;
            }
            vectors.Adopt(field);
            field_width_ = x_res;
            field_height_ = y_res;
            if (!ComputeImageLIC(x_res, y_res, rgb_image.get(), vectors.get())) return 0;
        }
        return 1;
    }
    if (!AllocateField()) return 0;
    field_type = MakeAnalyticField(field_type, vectors.get(), x_res, y_res);
    NormalizeVectors(nullptr);
    for (int pass = 0; pass < image_iterations; ++pass) {
        if (!ComputeImageLIC(x_res, y_res, rgb_image.get(), vectors.get())) return 0;
        if (high_pass == 1) HighPassFilterRgb(x_res, y_res, rgb_image.get());
    }
    return 1;
}

}  // namespace flowloom
