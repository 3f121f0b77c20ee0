// The extension module behind the `flowloom` package: the engine's computations on NumPy
// arrays. The Python layer checks and converts the arguments (and gives the messages);
// this layer moves the data in and out of the engine and releases the GIL while it computes.

#include <pybind11/stl.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "engine/fields.h"
#include "engine/filters.h"
#include "engine/lic_engine.h"
#include "engine/output_scale.h"
#include "engine/settings_table.h"
#include "fieldio/field_geometry.h"
#include "lic/animation.h"
#include "lic/compose.h"
#include "lic/field_file.h"
#include "lic/field_mask.h"
#include "lic/image_lic.h"
#include "lic/kernels.h"
#include "lic/noise.h"
#include "lic/parallel_rows.h"
#include "media/avi_writer.h"
#include "media/bmp_reader.h"
#include "media/bmp_writer.h"
#include "media/color_norm.h"
#include "media/color_tables.h"
#include "media/grey_contrast.h"
#include "media/png_writer.h"
#include "media/regular_file.h"
#include "media/sgi_reader.h"
#include "python/src/core.h"

namespace flowloom::python {

std::mutex& NoiseLock() {
    static std::mutex lock;
    return lock;
}

std::vector<float> Interleave(const float* u, const float* v, size_t count) {
    std::vector<float> pairs(2 * count);
    for (size_t i = 0; i < count; ++i) {
        pairs[2 * i] = u[i];
        pairs[2 * i + 1] = v[i];
    }
    return pairs;
}

py::tuple Planes(const float* pairs, py::ssize_t rows, py::ssize_t cols) {
    FloatArray u(std::vector<py::ssize_t>{rows, cols});
    FloatArray v(std::vector<py::ssize_t>{rows, cols});
    float* pu = u.mutable_data();
    float* pv = v.mutable_data();
    for (py::ssize_t i = 0; i < rows * cols; ++i) {
        pu[i] = pairs[2 * i];
        pv[i] = pairs[2 * i + 1];
    }
    return py::make_tuple(u, v);
}

int CheckedThreads(int threads) {
    const SettingRow& row = Setting("threads");
    if (threads < row.min || threads > row.max)
        throw py::value_error("threads must be " + RangeText(row) + ", got " + std::to_string(threads));
    return threads;
}

const char* PlainPath(const std::string& path) {
    if (path.find('\0') != std::string::npos) throw py::value_error("a path must not hold a NUL character");
    return path.c_str();
}

FieldAxis AxisOf(const py::dict& d) {
    FieldAxis a;
    a.values = d["values"].cast<std::vector<double>>();
    a.name = d["name"].cast<std::string>();
    a.units = d["units"].cast<std::string>();
    a.standard_name = d["standard_name"].cast<std::string>();
    return a;
}

ByteArray NewBytes(std::initializer_list<py::ssize_t> shape) {
    return ByteArray(std::vector<py::ssize_t>(shape));
}

void RequireShape(const py::array& a, const char* name, py::ssize_t rows, py::ssize_t cols) {
    if (a.ndim() != 2 || (rows >= 0 && (a.shape(0) != rows || a.shape(1) != cols)))
        throw py::value_error(std::string(name) + " must be a 2-D array of the field's shape");
}

// The colour options of the settings; each key absent leaves the window's default, so a
// call without them composes today's picture. ValueError for what no picture can be made of.
ColorOptions ReadColorOptions(const py::dict& kw, bool by_scalar, unsigned char mask_bgr[3]) {
    ColorOptions options;
    std::string error;
    if (by_scalar) options.by = ColorBy::kScalar;
    if (kw.contains("cmap") && !ParseColorMapName(kw["cmap"].cast<std::string>(), options.cmap, error))
        throw py::value_error(error);
    if (kw.contains("norm")) {
        NormSpec spec;
        if (!ParseNormName(kw["norm"].cast<std::string>(), spec.kind, error)) throw py::value_error(error);
        if (kw.contains("vmin")) spec.vmin = kw["vmin"].cast<double>();
        if (kw.contains("vmax")) spec.vmax = kw["vmax"].cast<double>();
        if (kw.contains("percentiles")) {
            const auto pair = kw["percentiles"].cast<std::pair<double, double>>();
            spec.percentiles = true;
            spec.low_percent = pair.first;
            spec.high_percent = pair.second;
        }
        if (!ValidateNorm(spec, error)) throw py::value_error(error);
        options.norm = spec;
    }
    if (kw.contains("blend")) {
        const std::string blend = kw["blend"].cast<std::string>();
        if (blend == "overlay") {
            options.blend = BlendMode::kOverlay;
        } else if (blend != "multiply") {
            throw py::value_error("blend must be multiply or overlay, got " + blend);
        }
    }
    if (kw.contains("alpha")) options.alpha = kw["alpha"].cast<double>();
    if (kw.contains("stretch")) {
        const auto pair = kw["stretch"].cast<std::pair<double, double>>();
        options.contrast.kind = GreyContrastKind::kStretch;
        options.contrast.low_percent = pair.first;
        options.contrast.high_percent = pair.second;
    }
    if (kw.contains("clahe")) {
        const auto pair = kw["clahe"].cast<std::pair<int, double>>();
        options.contrast.kind = GreyContrastKind::kClahe;
        options.contrast.tiles = pair.first;
        options.contrast.clip = pair.second;
    }
    if (!ValidateColorOptions(options, error)) throw py::value_error(error);
    if (kw.contains("mask_color")) {
        const auto rgb = kw["mask_color"].cast<std::vector<int>>();
        if (rgb.size() != 3) throw py::value_error("mask_color must be (red, green, blue)");
        for (int i = 0; i < 3; ++i) {
            if (rgb[i] < 0 || rgb[i] > 255) throw py::value_error("mask_color values must be 0..255");
            mask_bgr[2 - i] = static_cast<unsigned char>(rgb[i]);
        }
    }
    return options;
}

namespace {

// Keeps the engine's messages (out of memory, a refused map) for the exception that follows.
class RecordingHost : public Host {
public:
    void ProgressCreate(int) override {}
    void ProgressStep() override {}
    void ProgressDestroy() override {}
    void ShowMessage(const char* text) override { message = text; }
    std::string message;
};

[[noreturn]] void RaiseOSError(const std::string& text) {
    PyErr_SetString(PyExc_OSError, text.c_str());
    throw py::error_already_set();
}

enum TextureKind { kTextureWhite = 0, kTextureSparse = 1, kTextureArray = 2 };

struct LicSettings {
    int texture = kTextureWhite;
    int64_t seed = -1;  // none
    int kernel = kKernelBox;
    int length = 15;
    bool maglic = false;
    int enhance_iterations = 0;  // 0: plain LIC
    bool high_pass = false;
    bool equalize = false;
    int frames = 8;
    int scale = 1;            // the picture's grid, this many times finer
    bool periodic_x = false;  // the field wraps in x (a grid round the globe)
    int boundary_x = -1;      // -1 the field's own, 0 closed, 1 periodic
    int boundary_y = -1;
    int orientation = -1;           // -1 the field's own, 0 off, 1 on
    const float* colour = nullptr;  // magnitudes that colour the field, or none
    const float* scalar = nullptr;  // a colour scalar that takes the magnitude's place, or none
};

// An engine holding the caller's field the way it holds a field read from a file: unit
// vectors, non-finite samples masked, magnitudes mapped by the decade-window rule; with the
// kernel tables built and the images allocated. Runs without the GIL.
class FieldEngine {
public:
    FieldEngine(const float* u, const float* v, int width, int height, const LicSettings& s) {
        SettingsRecord record = DefaultSettings();
        record.x_res = width;
        record.y_res = height;
        record.field_type = kFieldSaddle;
        record.noise_type = s.texture == kTextureSparse ? 1 : 0;
        record.kernel_type = s.kernel;
        record.kernel_length = s.length;
        record.color_mapping = 0;
        record.equalization = s.equalize;
        record.high_pass = s.high_pass;
        record.mag_lic = s.maglic;
        record.enhanced_lic = s.enhance_iterations > 0;
        record.enhance_iterations = s.enhance_iterations;
        record.anim_frames = s.frames;
        engine.Reset();
        engine.ImportSettings(record);
        engine.kernel_changed = 1;
        engine.UpdateKernelTables();
        engine.output_scale = s.scale;
        engine.field_periodic_x = s.periodic_x;
        engine.boundary_x_choice = s.boundary_x;
        engine.boundary_y_choice = s.boundary_y;
        engine.orientation_choice = s.orientation;
        const std::vector<float> pairs = Interleave(u, v, static_cast<size_t>(width) * height);
        if (!engine.LoadFieldFromMemory(width, height, pairs.data(), nullptr, nullptr, s.colour, s.scalar)) return;
        engine.ResizeImages();
    }

    bool Ready() const { return engine.ImagesMatchGrid() && engine.magnitudes; }
    // The failure as Python sees it.
    [[noreturn]] void Fail() const {
        if (!engine.scale_error.empty()) throw py::value_error(engine.scale_error);
        if (!host.message.empty()) throw std::runtime_error(host.message);
        throw std::bad_alloc();
    }

    // The engine's own texture (white noise from its generator, started at `seed`, or 1 as
    // at program start; sparse noise seeded with `seed` or the clock), or the caller's.
    void MakeTexture(const LicSettings& s, const unsigned char* texture) {
        const size_t samples = static_cast<size_t>(engine.x_res) * engine.y_res;
        if (s.texture == kTextureArray) {
            std::memcpy(engine.noise.get(), texture, samples);
            return;
        }
        std::lock_guard<std::mutex> hold(NoiseLock());
        if (s.texture == kTextureWhite) {
            SeedNoiseGenerator(s.seed >= 0 ? static_cast<uint32_t>(s.seed) : 1u);
        } else {
            SetSparseNoiseSeed(s.seed);
        }
        engine.MakeNoise();
        if (s.texture == kTextureSparse) SetSparseNoiseSeed(-1);
    }

    RecordingHost host;
    LicEngine engine{&host};
};

LicSettings ReadSettings(const py::dict& kw) {
    LicSettings s;
    s.texture = kw["texture"].cast<int>();
    s.seed = kw["seed"].cast<int64_t>();
    s.kernel = kw["kernel"].cast<int>();
    s.length = kw["length"].cast<int>();
    s.maglic = kw["maglic"].cast<bool>();
    s.enhance_iterations = kw["enhance_iterations"].cast<int>();
    s.high_pass = kw["high_pass"].cast<bool>();
    s.equalize = kw["equalize"].cast<bool>();
    s.frames = kw["frames"].cast<int>();
    if (kw.contains("scale")) s.scale = kw["scale"].cast<int>();
    if (kw.contains("periodic_x")) s.periodic_x = kw["periodic_x"].cast<bool>();
    if (kw.contains("boundary_x")) s.boundary_x = kw["boundary_x"].cast<int>();
    if (kw.contains("boundary_y")) s.boundary_y = kw["boundary_y"].cast<int>();
    if (kw.contains("orientation")) s.orientation = kw["orientation"].cast<int>();
    return s;
}

// The colour magnitudes of the settings, when given: float32 of the field's shape.
const float* ColourOf(const py::dict& kw, py::ssize_t rows, py::ssize_t cols, FloatArray& keep) {
    if (!kw.contains("colour") || kw["colour"].is_none()) return nullptr;
    keep = kw["colour"].cast<FloatArray>();
    RequireShape(keep, "colour", rows, cols);
    return keep.data();
}


const unsigned char* TextureOf(const py::object& texture, const LicSettings& s, py::ssize_t rows, py::ssize_t cols,
                               ByteArray& keep) {
    if (s.texture != kTextureArray) return nullptr;
    keep = texture.cast<ByteArray>();
    RequireShape(keep, "texture", rows, cols);
    return keep.data();
}

ByteArray Lic(const FloatArray& u, const FloatArray& v, const py::object& texture, int threads, const py::dict& kw) {
    const int checked_threads = CheckedThreads(threads);
    RequireShape(u, "u", -1, -1);
    RequireShape(v, "v", u.shape(0), u.shape(1));
    const int height = static_cast<int>(u.shape(0));
    const int width = static_cast<int>(u.shape(1));
    LicSettings s = ReadSettings(kw);
    if (s.scale < 1 || s.scale > kMaxOutputScale) throw py::value_error("scale out of range");
    FloatArray colour_keep;
    s.colour = ColourOf(kw, height, width, colour_keep);
    // A texture is drawn on the picture's grid.
    const int out_height = height * s.scale, out_width = width * s.scale;
    ByteArray keep;
    const unsigned char* tex = TextureOf(texture, s, out_height, out_width, keep);
    ByteArray out = NewBytes({out_height, out_width});
    unsigned char* dest = out.mutable_data();
    {
        py::gil_scoped_release release;
        SetThreadCount(checked_threads);
        FieldEngine fe(u.data(), v.data(), width, height, s);
        if (!fe.Ready()) fe.Fail();
        fe.MakeTexture(s, tex);
        fe.engine.RenderLic();
        std::memcpy(dest, fe.engine.lic_image.get(), static_cast<size_t>(out_width) * out_height);
    }
    return out;
}

// Physical components on 1-D coordinates (in displayed order) as the engine's steps in
// samples, as an importer converts them: (vx, vy, magnitudes, periodic_x, dropped last
// column, the mode applied). ValueError with the importer's message when they cannot be.
py::tuple ConvertField(const FloatArray& u, const FloatArray& v, const py::dict& x, const py::dict& y,
                       const std::string& mode_name) {
    RequireShape(u, "u", -1, -1);
    RequireShape(v, "v", u.shape(0), u.shape(1));
    Coordinates asked;
    if (!ParseCoordinates(mode_name, asked)) throw py::value_error("unknown coordinates " + mode_name);
    const FieldAxis xa = AxisOf(x), ya = AxisOf(y);
    int width = static_cast<int>(u.shape(1));
    const int height = static_cast<int>(u.shape(0));
    const Coordinates mode = ResolveCoordinates(asked, xa, ya);
    FieldGeometry geometry;
    std::string error;
    if (!MakeFieldGeometry(mode, xa, ya, width, height, geometry, error)) throw py::value_error(error);
    const int source_width = width;
    if (geometry.drop_last_column) --width;
    const size_t samples = static_cast<size_t>(width) * height;
    std::vector<double> pairs(2 * samples);
    for (int r = 0; r < height; ++r) {
        for (int c = 0; c < width; ++c) {
            const size_t from = static_cast<size_t>(r) * source_width + c, to = static_cast<size_t>(r) * width + c;
            pairs[2 * to] = u.data()[from];
            pairs[2 * to + 1] = v.data()[from];
        }
    }
    FloatArray vx(std::vector<py::ssize_t>{height, width});
    FloatArray vy(std::vector<py::ssize_t>{height, width});
    FloatArray magnitudes(std::vector<py::ssize_t>{height, width});
    std::vector<float> vectors(2 * samples);
    ConvertToSampleSteps(geometry, width, height, pairs.data(), vectors.data(), magnitudes.mutable_data());
    for (size_t i = 0; i < samples; ++i) {
        vx.mutable_data()[i] = vectors[2 * i];
        vy.mutable_data()[i] = vectors[2 * i + 1];
    }
    return py::make_tuple(vx, vy, magnitudes, geometry.periodic_x, geometry.drop_last_column,
                          std::string(CoordinatesName(geometry.mode)));
}

// Between the engine's blue-green-red and Python's red-green-blue, in place.
void SwapRedBlue(unsigned char* pixels, size_t count) {
    for (size_t i = 0; i < count; ++i) std::swap(pixels[3 * i], pixels[3 * i + 2]);
}

// What colouring takes from Python: the field's grid and colour magnitudes, the colour
// scalar (the arrays kept alive here) and the colour options.
struct ColourRequest {
    LicSettings s;
    FloatArray colour_keep;
    FloatArray scalar_keep;
    ColorOptions options;
    unsigned char mask_bgr[3] = {0, 0, 0};
};

void ReadColourRequest(const FloatArray& u, const FloatArray& v, int mode, const py::dict& kw, ColourRequest& r) {
    LicSettings& s = r.s;
    if (kw.contains("scale")) s.scale = kw["scale"].cast<int>();
    if (kw.contains("periodic_x")) s.periodic_x = kw["periodic_x"].cast<bool>();
    if (s.scale < 1 || s.scale > kMaxOutputScale) throw py::value_error("scale out of range");
    RequireShape(u, "u", -1, -1);
    RequireShape(v, "v", u.shape(0), u.shape(1));
    s.colour = ColourOf(kw, u.shape(0), u.shape(1), r.colour_keep);
    const bool by_scalar = kw.contains("scalar") && !kw["scalar"].is_none();
    if (by_scalar) {
        if (mode != 1) throw py::value_error("a colour scalar takes the magnitude's place: it needs by='magnitude'");
        r.scalar_keep = kw["scalar"].cast<FloatArray>();
        RequireShape(r.scalar_keep, "scalar", u.shape(0), u.shape(1));
        s.scalar = r.scalar_keep.data();
    }
    r.options = ReadColorOptions(kw, by_scalar, r.mask_bgr);
}

// An engine holding the field of a colour request, with its colour settings.
void SetColour(FieldEngine& fe, const ColourRequest& r, int mode) {
    if (!fe.Ready()) fe.Fail();
    fe.engine.color_by_data = mode == 2;
    fe.engine.color_options = r.options;
    std::memcpy(fe.engine.mask_color, r.mask_bgr, sizeof r.mask_bgr);
}

// The norm a colouring puts its values under, settled on the data, for a colour bar drawn
// elsewhere: the engine's own positions of values.
struct PyColorNorm {
    ColorNorm norm;
};

PyColorNorm ColorNormOf(const FloatArray& u, const FloatArray& v, const py::dict& kw) {
    ColourRequest r;
    ReadColourRequest(u, v, 1, kw, r);
    PyColorNorm out;
    std::string refused;
    {
        py::gil_scoped_release release;
        FieldEngine fe(u.data(), v.data(), static_cast<int>(u.shape(1)), static_cast<int>(u.shape(0)), r.s);
        SetColour(fe, r, 1);
        if (!fe.engine.ColorNormInUse(out.norm, refused) && refused.empty()) refused = "no norm for these colours";
    }
    if (!refused.empty()) throw py::value_error(refused);
    return out;
}

FloatArray NormPositions(const PyColorNorm& n, const FloatArray& values) {
    FloatArray out(std::vector<py::ssize_t>(values.shape(), values.shape() + values.ndim()));
    n.norm.Positions(static_cast<long>(values.size()), values.data(), out.mutable_data());
    return out;
}

ByteArray Colorize(const ByteArray& grey, const FloatArray& u, const FloatArray& v, int mode, bool flip_rows,
                   bool flip_columns, const py::dict& kw) {
    ColourRequest r;
    ReadColourRequest(u, v, mode, kw, r);
    const LicSettings& s = r.s;
    RequireShape(grey, "lic", -1, -1);
    if (grey.shape(0) != u.shape(0) * s.scale || grey.shape(1) != u.shape(1) * s.scale)
        throw py::value_error("lic must have the field's shape times the scale");
    std::string refused;
    const int height = static_cast<int>(grey.shape(0));
    const int width = static_cast<int>(grey.shape(1));
    ByteArray out = NewBytes({height, width, 3});
    unsigned char* dest = out.mutable_data();
    {
        py::gil_scoped_release release;
        FieldEngine fe(u.data(), v.data(), static_cast<int>(u.shape(1)), static_cast<int>(u.shape(0)), s);
        SetColour(fe, r, mode);
        fe.engine.flip_rows = flip_rows;
        fe.engine.flip_columns = flip_columns;
        const size_t samples = static_cast<size_t>(width) * height;
        std::memcpy(fe.engine.lic_image.get(), grey.data(), samples);
        if (fe.engine.ComposeImage(fe.engine.lic_image.get(), fe.engine.rgb_image.get(), mode != 0)) {
            // Python wants red, green, blue.
            std::memcpy(dest, fe.engine.rgb_image.get(), 3 * samples);
            SwapRedBlue(dest, samples);
        } else {
            refused = fe.engine.compose_error.empty() ? "the colour options cannot be met" : fe.engine.compose_error;
        }
    }
    if (!refused.empty()) throw py::value_error(refused);
    return out;
}

ByteArray Animation(const FloatArray& u, const FloatArray& v, const py::object& texture, int threads,
                    const py::dict& kw) {
    const int checked_threads = CheckedThreads(threads);
    RequireShape(u, "u", -1, -1);
    RequireShape(v, "v", u.shape(0), u.shape(1));
    const int height = static_cast<int>(u.shape(0));
    const int width = static_cast<int>(u.shape(1));
    const LicSettings s = ReadSettings(kw);
    if (s.scale < 1 || s.scale > kMaxOutputScale) throw py::value_error("scale out of range");
    // The frames, like a texture, are on the picture's grid.
    const int out_height = height * s.scale, out_width = width * s.scale;
    ByteArray keep;
    const unsigned char* tex = TextureOf(texture, s, out_height, out_width, keep);
    ByteArray out = NewBytes({s.frames, out_height, out_width});
    unsigned char* dest = out.mutable_data();
    {
        py::gil_scoped_release release;
        SetThreadCount(checked_threads);
        FieldEngine fe(u.data(), v.data(), width, height, s);
        if (!fe.Ready()) fe.Fail();
        fe.MakeTexture(s, tex);
        // The engine's own set-up, so that its boundaries and orientation trace the frames too.
        const AnimationInput in = fe.engine.AnimationSetup();
        const MallocBuffer<unsigned char> frames =
            ComputeAnimationFrameImages(in, fe.host, [](int w, int h, unsigned char* g) { HighPassFilter(w, h, g); });
        if (!frames) throw std::bad_alloc();
        std::memcpy(dest, frames.get(), static_cast<size_t>(s.frames) * out_width * out_height);
    }
    return out;
}

ByteArray ImageLic(const ByteArray& rgb, bool force_extraction, int iterations, int field_type, int kernel, int length,
                   bool high_pass, int threads) {
    const int checked_threads = CheckedThreads(threads);
    if (rgb.ndim() != 3 || rgb.shape(2) != 3) throw py::value_error("rgb must be an array of shape (height, width, 3)");
    const int height = static_cast<int>(rgb.shape(0));
    const int width = static_cast<int>(rgb.shape(1));
    const size_t samples = static_cast<size_t>(width) * height;
    ByteArray out = NewBytes({height, width, 3});
    unsigned char* image = out.mutable_data();
    {
        py::gil_scoped_release release;
        SetThreadCount(checked_threads);
        // The engine's own image path, on the caller's pixels instead of a file's.
        MallocBuffer<unsigned char> pixels;
        if (!pixels.Allocate(3 * samples)) throw std::bad_alloc();
        std::memcpy(pixels.get(), rgb.data(), 3 * samples);
        SwapRedBlue(pixels.get(), samples);
        RecordingHost host;
        LicEngine engine{&host};
        engine.Reset();
        engine.kernel_type = kernel;
        engine.kernel_length = length;
        engine.kernel_changed = 1;
        engine.UpdateKernelTables();
        engine.field_type = field_type;
        engine.force_extraction = force_extraction ? 1 : 0;
        engine.image_iterations = iterations;
        engine.high_pass = high_pass ? 1 : 0;
        if (!engine.LicImagePixels(pixels.Detach(), width, height) || !engine.HasColorImage()) throw std::bad_alloc();
        std::memcpy(image, engine.rgb_image.get(), 3 * samples);
        SwapRedBlue(image, samples);
    }
    return out;
}

py::tuple AnalyticField(int field_type, int width, int height) {
    MallocBuffer<float> field;
    const size_t samples = static_cast<size_t>(width) * height;
    if (!field.Allocate(2 * samples)) throw std::bad_alloc();
    MakeAnalyticField(field_type, field.get(), width, height);
    return Planes(field.get(), height, width);
}

py::tuple ReadVec(const std::string& path, int rows, int cols) {
    PlainPath(path);
    int width = cols;
    int height = rows;
    MallocBuffer<float> field;
    bool text_too_short = false;
    {
        py::gil_scoped_release release;
        field.Adopt(LoadBinaryData(width, height, path.c_str()));
        if (!field && rows > 0 && cols > 0) {
            width = cols;
            height = rows;
            // The text reader fills a short file out with its last number; a shape that
            // the file cannot hold would make a few bytes a field of gigabytes.
            long bytes = -1;
            std::FILE* file = OpenRegularFile(path.c_str(), bytes);
            if (file) std::fclose(file);
            const long long numbers = 2LL * rows * cols;
            text_too_short = file && (bytes + 1) / 2 < numbers;
            if (!text_too_short) field.Adopt(LoadTextData(width, height, path.c_str()));
        }
    }
    if (text_too_short) {
        throw py::value_error(path + " is too short to hold the " + std::to_string(2LL * rows * cols) +
                              " numbers of a text field of shape (" + std::to_string(rows) + ", " +
                              std::to_string(cols) + ")");
    }
    if (!field) throw py::value_error("cannot read " + path + " as a vector-field file");
    return Planes(field.get(), height, width);
}

void WriteVec(const std::string& path, const FloatArray& u, const FloatArray& v) {
    PlainPath(path);
    RequireShape(u, "u", -1, -1);
    RequireShape(v, "v", u.shape(0), u.shape(1));
    const int height = static_cast<int>(u.shape(0));
    const int width = static_cast<int>(u.shape(1));
    const size_t samples = static_cast<size_t>(width) * height;
    int written = 0;
    {
        py::gil_scoped_release release;
        const std::vector<float> field = Interleave(u.data(), v.data(), samples);
        std::vector<float> lengths(samples);
        // The writer stores direction times magnitude; a NaN stays a NaN (a masked sample).
        for (size_t i = 0; i < samples; ++i)
            lengths[i] = static_cast<float>(std::hypot(static_cast<double>(u.data()[i]), v.data()[i]));
        written = WriteFieldFile(path.c_str(), width, height, field.data(), lengths.data());
    }
    if (!written) RaiseOSError("cannot write the vector-field file " + path);
}

}  // namespace
}  // namespace flowloom::python

namespace flowloom::python {
namespace {

// A BMP (any depth the reader takes) or SGI RGB image, chosen by the file's ending.
ByteArray ReadImage(const std::string& path, bool sgi) {
    PlainPath(path);
    int width = 0;
    int height = 0;
    MallocBuffer<unsigned char> pixels;
    const char* failure = nullptr;
    {
        py::gil_scoped_release release;
        if (sgi) {
            pixels.Adopt(ReadSgiImage24(path.c_str(), width, height, &failure));
        } else {
            BmpReader reader;
            pixels.Adopt(reader.Read(path.c_str(), width, height));
            failure = reader.failure;
        }
    }
    if (!pixels) {
        throw py::value_error("cannot read " + path + (sgi ? " as an SGI RGB image" : " as a BMP image") +
                              (failure ? std::string(": ") + failure : std::string()));
    }
    ByteArray out = NewBytes({height, width, 3});
    std::memcpy(out.mutable_data(), pixels.get(), 3 * static_cast<size_t>(width) * height);
    SwapRedBlue(out.mutable_data(), static_cast<size_t>(width) * height);
    return out;
}

void WriteImage(const std::string& path, const ByteArray& rgb, bool png) {
    PlainPath(path);
    if (rgb.ndim() != 3 || rgb.shape(2) != 3) throw py::value_error("rgb must be an array of shape (height, width, 3)");
    const int height = static_cast<int>(rgb.shape(0));
    const int width = static_cast<int>(rgb.shape(1));
    const size_t samples = static_cast<size_t>(width) * height;
    MallocBuffer<unsigned char> bgr;
    if (!bgr.Allocate(3 * samples)) throw std::bad_alloc();
    int written = 0;
    {
        py::gil_scoped_release release;
        std::memcpy(bgr.get(), rgb.data(), 3 * samples);
        SwapRedBlue(bgr.get(), samples);
        written = png ? WritePng24(width, height, bgr.get(), path.c_str())
                      : WriteBmp24(width, height, bgr.get(), path.c_str());
    }
    if (!written) RaiseOSError("cannot write the image " + path);
}

// Picks the encoder by FFmpeg's name, with the caller's quality.
class NamedCompressor : public AviOptionsChooser {
public:
    NamedCompressor(std::string name, int quality) : name_(std::move(name)), quality_(quality) {}
    int Choose(const std::vector<AviCompressor>& offered, AviCompressor& chosen, int& quality) override {
        for (const AviCompressor& c : offered) {
            if (c.name == name_) {
                chosen = c;
                quality = quality_;
                return 1;
            }
        }
        return 0;
    }

private:
    std::string name_;
    int quality_;
};

// The engine's AVI writer, fed frame by frame (red, green, blue) from Python.
class AviFile {
public:
    AviFile(const std::string& path, int fps, const std::string& codec, int quality)
        : chooser_(codec, quality), writer_(PlainPath(path), fps, -1, -1, &chooser_) {
        bool known = false;
        for (const AviCompressor& c : AviCompressorsAvailable()) known = known || c.name == codec;
        if (!known) throw py::value_error("this FFmpeg offers no AVI encoder named " + codec);
    }
    void Add(const ByteArray& rgb) {
        if (rgb.ndim() != 3 || rgb.shape(2) != 3)
            throw py::value_error("a frame must be uint8 of shape (height, width, 3)");
        const size_t samples = static_cast<size_t>(rgb.shape(0)) * rgb.shape(1);
        std::vector<unsigned char> bgr(rgb.data(), rgb.data() + 3 * samples);
        SwapRedBlue(bgr.data(), samples);
        bool added = false;
        {
            py::gil_scoped_release release;
            added =
                writer_.AddFrame(AviFrame{static_cast<int>(rgb.shape(1)), static_cast<int>(rgb.shape(0)), bgr.data()});
        }
        if (!added) RaiseOSError("cannot add the frame to " + writer_.fileName + " (another size, or a write failed)");
    }
    void Finish() {
        int ok = 0;
        {
            py::gil_scoped_release release;
            ok = writer_.Finish();
        }
        if (!ok) RaiseOSError("cannot finish " + writer_.fileName);
    }

private:
    NamedCompressor chooser_;
    AviWriter writer_;
};

// The grey picture's contrast steps, on a copy.
ByteArray Stretch(const ByteArray& grey, double low, double high) {
    RequireShape(grey, "grey", -1, -1);
    GreyContrast contrast;
    contrast.kind = GreyContrastKind::kStretch;
    contrast.low_percent = low;
    contrast.high_percent = high;
    std::string error;
    if (!ValidateGreyContrast(contrast, error)) throw py::value_error(error);
    const int height = static_cast<int>(grey.shape(0)), width = static_cast<int>(grey.shape(1));
    ByteArray out = NewBytes({height, width});
    std::memcpy(out.mutable_data(), grey.data(), static_cast<size_t>(width) * height);
    {
        py::gil_scoped_release release;
        StretchGrey(width, height, out.mutable_data(), low, high);
    }
    return out;
}

ByteArray Clahe(const ByteArray& grey, int tiles, double clip) {
    RequireShape(grey, "grey", -1, -1);
    GreyContrast contrast;
    contrast.kind = GreyContrastKind::kClahe;
    contrast.tiles = tiles;
    contrast.clip = clip;
    std::string error;
    if (!ValidateGreyContrast(contrast, error)) throw py::value_error(error);
    const int height = static_cast<int>(grey.shape(0)), width = static_cast<int>(grey.shape(1));
    ByteArray out = NewBytes({height, width});
    std::memcpy(out.mutable_data(), grey.data(), static_cast<size_t>(width) * height);
    bool done = false;
    {
        py::gil_scoped_release release;
        done = ClaheGrey(width, height, out.mutable_data(), tiles, clip);
    }
    if (!done) throw std::bad_alloc();
    return out;
}

// The 256 colours (red, green, blue) of a named map from its bottom to its top; the
// rainbow, which has more entries, sampled at 256 even positions.
ByteArray ColorTable(const std::string& name) {
    ColorMapId id;
    std::string error;
    if (!ParseColorMapName(name, id, error)) throw py::value_error(error);
    ByteArray out = NewBytes({kNamedTableSize, 3});
    unsigned char* p = out.mutable_data();
    for (int i = 0; i < kNamedTableSize; ++i) {
        const ColorRgb8 c = ColorAt(id, static_cast<double>(i) / (kNamedTableSize - 1));
        p[3 * i] = c.r;
        p[3 * i + 1] = c.g;
        p[3 * i + 2] = c.b;
    }
    return out;
}

}  // namespace
}  // namespace flowloom::python

PYBIND11_MODULE(_core, m) {
    namespace fp = flowloom::python;
    m.doc() = "The Flowloom engine on NumPy arrays (use the `flowloom` package, which checks the arguments).";
    m.def("lic", &fp::Lic, pybind11::arg("u"), pybind11::arg("v"), pybind11::arg("texture"), pybind11::arg("threads"),
          pybind11::arg("settings"));
    m.def("colorize", &fp::Colorize, pybind11::arg("lic"), pybind11::arg("u"), pybind11::arg("v"),
          pybind11::arg("mode"), pybind11::arg("flip_rows"), pybind11::arg("flip_columns"),
          pybind11::arg("settings") = pybind11::dict());
    m.def("convert_field", &fp::ConvertField);
    m.attr("MAX_FIELD_SIDE") = flowloom::kMaxFieldSide;
    // The settings table, for the package's argument checks: name -> (keyword, min, max,
    // default, choices, help, count of a list), with Python's own bounds; a real setting
    // without a default has NaN.
    pybind11::dict settings;
    for (const flowloom::SettingRow& row : flowloom::SettingsTable()) {
        pybind11::list choices;
        for (std::string_view c : row.choices) choices.append(std::string(c));
        const bool real = row.kind == flowloom::SettingKind::kReal;
        pybind11::dict entry(pybind11::arg("keyword") = std::string(row.keyword), pybind11::arg("choices") = choices,
                             pybind11::arg("help") = std::string(row.help), pybind11::arg("count") = row.count);
        if (real) {
            entry["min"] = row.real_min;
            entry["max"] = row.real_max;
            entry["default"] = row.real_initial;
        } else {
            entry["min"] = row.python_min;
            entry["max"] = row.python_max;
            entry["default"] = row.initial;
        }
        settings[pybind11::str(std::string(row.name))] = entry;
    }
    m.attr("SETTINGS") = settings;
    m.attr("MAX_THREADS") = flowloom::Setting("threads").max;
    m.def("animation", &fp::Animation);
    m.def("image_lic", &fp::ImageLic);
    m.def("analytic_field", &fp::AnalyticField);
    m.def("read_vec", &fp::ReadVec);
    m.def("write_vec", &fp::WriteVec);
    m.def("read_image", &fp::ReadImage);
    m.def("write_image", &fp::WriteImage);
    m.def("stretch", &fp::Stretch, pybind11::arg("grey"), pybind11::arg("low"), pybind11::arg("high"));
    m.def("clahe", &fp::Clahe, pybind11::arg("grey"), pybind11::arg("tiles"), pybind11::arg("clip"));
    m.def("color_table", &fp::ColorTable, pybind11::arg("name"));
    pybind11::class_<fp::PyColorNorm>(m, "ColorNorm")
        .def_property_readonly("kind", [](const fp::PyColorNorm& n) { return std::string(flowloom::NormName(n.norm.kind)); })
        .def_property_readonly("vmin", [](const fp::PyColorNorm& n) { return n.norm.vmin; })
        .def_property_readonly("vmax", [](const fp::PyColorNorm& n) { return n.norm.vmax; })
        .def("positions", &fp::NormPositions, pybind11::arg("values"));
    m.def("color_norm", &fp::ColorNormOf, pybind11::arg("u"), pybind11::arg("v"), pybind11::arg("settings"));
    pybind11::class_<fp::AviFile>(m, "AviFile")
        .def(pybind11::init<const std::string&, int, const std::string&, int>())
        .def("add", &fp::AviFile::Add)
        .def("finish", &fp::AviFile::Finish);
    fp::BindTiles(m);
}
