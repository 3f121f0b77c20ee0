#include "lic/compose.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <memory>
#include <new>
#include <utility>
#include <vector>

#include "lic/parallel_rows.h"
#include "media/bmp_writer.h"
#include "media/color_map.h"

namespace flowloom {

namespace {

unsigned char TruncateToByte(double v) {
    if (!(v > 0.0)) return 0;
    if (v >= 255.0) return 255;
    return static_cast<unsigned char>(v);
}

// One output channel from a colour byte c and a grey level g. `unit` is the channel in
// 0..1 as each colour source has always scaled its bytes: the rainbow and the tables by
// ColorMap::UnitOf, the direction's hue by a double product.
struct Blender {
    BlendMode mode = BlendMode::kMultiply;
    double alpha = 0.5;
    double unit[256];
    // Every product is one of 256 x 256, so a table at [colour byte][grey] holds them all;
    // without its memory they are taken pixel by pixel.
    std::unique_ptr<unsigned char[]> table;

    Blender(const ColorOptions& options, bool float_unit) : mode(options.blend), alpha(options.alpha) {
        for (int c = 0; c < 256; ++c)
            unit[c] = float_unit ? ColorMap::UnitOf(static_cast<unsigned char>(c)) : c * double{0.0039215684f};
        table.reset(new (std::nothrow) unsigned char[256 * 256]);
        for (int c = 0; table && c < 256; ++c)
            for (int g = 0; g < 256; ++g) table[c * 256 + g] = Compute(static_cast<unsigned char>(c), g);
    }
    unsigned char Compute(unsigned char c, int g) const {
        if (mode == BlendMode::kOverlay) return TruncateToByte((1.0 - alpha) * 255.0 * unit[c] + alpha * g);
        return TruncateToByte(static_cast<double>(g) * unit[c]);
    }
    unsigned char operator()(unsigned char c, unsigned char g) const {
        return table ? table[c * 256 + g] : Compute(c, g);
    }
};

// The values the colour follows and the norm that places them, when it is not the hue.
struct ValuePlan {
    const float* values = nullptr;
    // The engine's mapped magnitudes: linear over data_min..data_max, and never masked for
    // their value (the data map gives every sample one).
    bool mapped = false;
    ColorNorm norm;
    // Every value has a place under the norm, so no sample needs masking for its value.
    bool all_placed = false;
};

ColorOptions DefaultOptions() {
    return ColorOptions();
}

bool Refuse(std::string* error, const std::string& message) {
    if (error) *error = message;
    return false;
}

// ResolveNorm over the values of the picture; the plain range of linear and log is found
// on vector lanes, the rest by ResolveNorm itself. One pass on the calling thread: a second
// team of threads costs more in waiting than the pass itself.
bool ResolvePictureNorm(const ComposeSource& source, const NormSpec& spec, const float* values, ValuePlan& plan,
                        std::string& error) {
    const long samples = static_cast<long>(source.width) * source.height;
    if (spec.kind == NormKind::kDecades || spec.percentiles || source.mask)
        return ResolveNorm(spec, values, samples, plan.norm, error, source.mask);
    float low = 0.0f;
    float high = 0.0f;
    long left_out = 0;
    FiniteRange(values, samples, spec.kind == NormKind::kLog, low, high, left_out);
    plan.all_placed = left_out == 0;
    return ResolveNormOverRange(spec, low, high, plan.norm, error);
}

bool PlanValues(const ComposeSource& source, const ColorOptions& options, ValuePlan& plan, std::string& error) {
    if (options.by == ColorBy::kScalar) {
        if (!source.scalar) {
            error = "Colouring by a scalar needs a scalar of the field's shape; none is held.";
            return false;
        }
        plan.values = source.scalar;
        return ResolvePictureNorm(source, options.norm.value_or(NormSpec()), source.scalar, plan, error);
    }
    if (!options.norm || options.norm->kind == NormKind::kDecades) {
        // Decades bounds come from the data map; ValidateNorm refuses any given with them.
        if (options.norm && !ValidateNorm(*options.norm, error)) return false;
        plan.values = source.magnitudes;
        plan.mapped = true;
        plan.norm.kind = NormKind::kLinear;
        plan.norm.vmin = std::min(source.data_min, source.data_max);
        plan.norm.vmax = std::max(source.data_min, source.data_max);
        return true;
    }
    if (!source.lengths) {
        error = "The magnitude under a linear or log norm needs the field's lengths; none are held.";
        return false;
    }
    plan.values = source.lengths;
    return ResolvePictureNorm(source, *options.norm, source.lengths, plan, error);
}

// The hue of a unit direction in 0..1, as DirectionColor takes it (0 along +x).
double HueOf(float x, float y) {
    constexpr double kPi = 3.1415925f;
    const double s = std::asin(std::clamp(static_cast<double>(y), -1.0, 1.0));
    const double theta = x >= 0.0f ? s : (y > 0.0f ? kPi - s : -kPi - s);
    double hue = theta * 0.15915495074143224;
    if (hue < 0.0) hue += 1.0;
    return hue;
}

}  // namespace

bool ValidateColorOptions(const ColorOptions& options, std::string& error) {
    if (options.norm && !ValidateNorm(*options.norm, error)) return false;
    if (options.blend == BlendMode::kOverlay && !(options.alpha >= 0.0 && options.alpha <= 1.0)) {
        error = "The overlay's alpha must lie in 0..1.";
        return false;
    }
    return ValidateGreyContrast(options.contrast, error);
}

bool ResolveComposeNorm(const ComposeSource& source, ColorNorm& norm, std::string& error) {
    const ColorOptions options = source.options ? *source.options : DefaultOptions();
    if (!ValidateColorOptions(options, error)) return false;
    if (options.by != ColorBy::kScalar && (!options.norm || options.norm->kind == NormKind::kDecades) &&
        source.lengths) {
        // In the data's units: the decade-window data map of the lengths, as the engine maps a
        // file's field.
        NormSpec decades;
        decades.kind = NormKind::kDecades;
        return ResolveNorm(decades, source.lengths, static_cast<long>(source.width) * source.height, norm, error,
                           source.mask);
    }
    ValuePlan plan;
    if (!PlanValues(source, options, plan, error)) return false;
    norm = std::move(plan.norm);
    return true;
}

bool ComposeColorImage(const ComposeSource& source, unsigned char* rgb, int color_flag, std::string* error) {
    const unsigned char* grey = source.grey;
    if (!grey || !rgb || source.width <= 0 || source.height <= 0) return true;
    const ColorOptions options = source.options ? *source.options : DefaultOptions();
    std::string message;
    if (!ValidateColorOptions(options, message)) return Refuse(error, message);
    std::vector<unsigned char> contrasted;
    if (options.contrast.kind != GreyContrastKind::kNone) {
        const size_t samples = static_cast<size_t>(source.width) * source.height;
        try {
            contrasted.assign(grey, grey + samples);
        } catch (const std::bad_alloc&) {
            return Refuse(error, "Not enough memory for the contrast of the grey picture.");
        }
        if (!ApplyGreyContrast(options.contrast, source.width, source.height, contrasted.data(), &message))
            return Refuse(error, message);
        grey = contrasted.data();
    }
    const int width = source.width;
    const bool have_field = source.vectors && source.magnitudes;
    const bool colour = color_flag && have_field;
    const bool by_direction = source.color_by_data || options.by == ColorBy::kDirection;
    const bool hsv = colour && by_direction && options.cmap == ColorMapId::kRainbow;
    ValuePlan plan;
    if (colour && !by_direction && !PlanValues(source, options, plan, message)) return Refuse(error, message);

    float lo = source.data_min;
    float hi = source.data_max;
    if (lo > hi) std::swap(lo, hi);
    DirectionColorParams direction;
    direction.magnitudeMin = lo;
    direction.hueOffset = 0.0f;
    direction.saturationBase = 0.6f;
    direction.valueBase = 0.3f;
    // An empty magnitude range has nothing to spread: every sample gets the base colour.
    direction.saturationSlope = hi > lo ? static_cast<float>(0.4 / (static_cast<double>(hi) - lo)) : 0.0f;
    direction.valueSlope = hi > lo ? static_cast<float>(0.7 / (static_cast<double>(hi) - lo)) : 0.0f;

    // The rainbow over the norm's bounds when the values are placed linearly (the window's
    // magnitudes among them), over 0..1 when the norm gives positions first.
    const bool linear = plan.norm.kind == NormKind::kLinear;
    const bool rainbow_needed = colour && !by_direction && options.cmap == ColorMapId::kRainbow;
    std::unique_ptr<ColorMap> rainbow;
    if (rainbow_needed) {
        if (plan.mapped)
            rainbow = std::make_unique<ColorMap>(source.data_min, source.data_max, 255, 1275);
        else if (linear)
            rainbow = std::make_unique<ColorMap>(static_cast<float>(plan.norm.vmin), static_cast<float>(plan.norm.vmax),
                                                 255, 1275);
        else
            rainbow = std::make_unique<ColorMap>(0.0f, 1.0f, 255, 1275);
    }
    const unsigned char(*table)[3] = NamedColorTable(options.cmap);
    if (rainbow_needed && rainbow->colorBytes) table = rainbow->colorBytes;
    const Blender blend(options, !hsv);
    // (v - vmin) x 256 / (vmax - vmin), kept in double since it is only truncated.
    const double table_scale =
        plan.norm.vmax > plan.norm.vmin ? kNamedTableSize / (plan.norm.vmax - plan.norm.vmin) : 0.0;

    const unsigned char* mask = source.mask;
    const auto masked = [&](long i) { return mask && mask[i]; };
    const auto put_mask = [&](unsigned char* out) {
        out[0] = source.mask_color[0];
        out[1] = source.mask_color[1];
        out[2] = source.mask_color[2];
    };
    ForEachRow(source.height, [&](int row) {
        const long first = static_cast<long>(row) * width;
        const long end = first + width;
        if (!colour) {
            for (long i = first; i < end; ++i) {
                unsigned char* out = rgb + 3 * i;
                if (masked(i))
                    put_mask(out);
                else
                    out[0] = out[1] = out[2] = grey[i];
            }
            return;
        }
        if (hsv) {
            for (long i = first; i < end; ++i) {
                unsigned char* out = rgb + 3 * i;
                if (masked(i)) {
                    put_mask(out);
                    continue;
                }
                const ColorRgb8 c =
                    DirectionColor(direction, source.vectors[2 * i], source.vectors[2 * i + 1], source.magnitudes[i]);
                const unsigned char g = grey[i];
                out[0] = blend(c.b, g);
                out[1] = blend(c.g, g);
                out[2] = blend(c.r, g);
            }
            return;
        }
        if (!table) {
            // Without its table the rainbow is black, as Lookup gives it.
            for (long i = first; i < end; ++i) {
                unsigned char* out = rgb + 3 * i;
                if (masked(i))
                    put_mask(out);
                else
                    out[0] = out[1] = out[2] = 0;
            }
            return;
        }
        constexpr long kChunk = 256;
        int indices[kChunk];
        float positions[kChunk];
        for (long chunk = first; chunk < end; chunk += kChunk) {
            const long count = std::min(kChunk, end - chunk);
            const float* values = plan.values ? plan.values + chunk : nullptr;
            // The entry of each sample, -1 for one without a place under the norm.
            if (by_direction) {
                for (long k = 0; k < count; ++k)
                    indices[k] =
                        NamedTableIndex(HueOf(source.vectors[2 * (chunk + k)], source.vectors[2 * (chunk + k) + 1]));
            } else if (rainbow) {
                const float* placed = values;
                if (!linear) {
                    plan.norm.Positions(count, values, positions);
                    placed = positions;
                }
                RainbowIndices(*rainbow, placed, count, indices);
                if (!plan.mapped && !plan.all_placed)
                    for (long k = 0; k < count; ++k)
                        indices[k] = std::fabs(placed[k]) <= std::numeric_limits<float>::max() ? indices[k] : -1;
            } else if (linear) {
                TableIndices(values, count, plan.norm.vmin, table_scale, !plan.mapped && !plan.all_placed, indices);
            } else {
                plan.norm.Positions(count, values, positions);
                for (long k = 0; k < count; ++k)
                    indices[k] = std::isnan(positions[k]) ? -1 : NamedTableIndex(positions[k]);
            }
            const unsigned char* g = grey + chunk;
            unsigned char* out = rgb + 3 * chunk;
            if (const unsigned char* shade = blend.table.get()) {
                for (long k = 0; k < count; ++k) {
                    if (indices[k] < 0) {
                        put_mask(out + 3 * k);
                        continue;
                    }
                    const unsigned char* product = shade + g[k];
                    const unsigned char* c = table[indices[k]];
                    out[3 * k] = product[c[2] * 256];
                    out[3 * k + 1] = product[c[1] * 256];
                    out[3 * k + 2] = product[c[0] * 256];
                }
            } else {
                for (long k = 0; k < count; ++k) {
                    if (indices[k] < 0) {
                        put_mask(out + 3 * k);
                        continue;
                    }
                    const unsigned char* c = table[indices[k]];
                    out[3 * k] = blend.Compute(c[2], g[k]);
                    out[3 * k + 1] = blend.Compute(c[1], g[k]);
                    out[3 * k + 2] = blend.Compute(c[0], g[k]);
                }
            }
            for (long k = 0; mask && k < count; ++k)
                if (mask[chunk + k]) put_mask(out + 3 * k);
        }
    });

    if (source.flip_rows) MirrorImage24(width, source.height, rgb, 'V');
    if (source.flip_columns) MirrorImage24(width, source.height, rgb, 'H');
    return true;
}

}  // namespace flowloom
