#include "lic/compose.h"

#include <algorithm>
#include <memory>
#include <new>
#include <utility>

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

}  // namespace

void ComposeColorImage(const ComposeSource& source, unsigned char* rgb, int color_flag) {
    const unsigned char* grey = source.grey;
    if (!grey || !rgb || source.width <= 0 || source.height <= 0) return;
    const int width = source.width;
    const bool have_field = source.vectors && source.magnitudes;
    const int mode = (color_flag && have_field) ? (source.color_by_data ? 2 : 1) : 0;

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
    const ColorMap rainbow(source.data_min, source.data_max, 255, 1275);

    // A rainbow channel is one of 256 values (UnitOf a byte), the grey level another 256, so
    // every product the rainbow mode truncates is in this table, at [colour byte][grey].
    std::unique_ptr<unsigned char[]> shaded;
    if (mode == 1 && rainbow.colors) {
        // Without its memory the products are taken pixel by pixel.
        shaded.reset(new (std::nothrow) unsigned char[256 * 256]);
        for (int c = 0; shaded && c < 256; ++c)
            for (int g = 0; g < 256; ++g)
                shaded[c * 256 + g] =
                    TruncateToByte(static_cast<double>(g) * ColorMap::UnitOf(static_cast<unsigned char>(c)));
    }
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
        if (mode == 0) {
            for (long i = first; i < end; ++i) {
                unsigned char* out = rgb + 3 * i;
                if (masked(i))
                    put_mask(out);
                else
                    out[0] = out[1] = out[2] = grey[i];
            }
        } else if (mode == 2) {
            for (long i = first; i < end; ++i) {
                unsigned char* out = rgb + 3 * i;
                if (masked(i)) {
                    put_mask(out);
                    continue;
                }
                const ColorRgb8 c =
                    DirectionColor(direction, source.vectors[2 * i], source.vectors[2 * i + 1], source.magnitudes[i]);
                const double k = 0.0039215684f;
                const unsigned char g = grey[i];
                out[0] = TruncateToByte(c.b * k * g);
                out[1] = TruncateToByte(c.g * k * g);
                out[2] = TruncateToByte(c.r * k * g);
            }
        } else if (rainbow.colors) {
            const unsigned char(*bytes)[3] = rainbow.colorBytes;
            constexpr long kChunk = 256;
            int indices[kChunk];
            for (long chunk = first; chunk < end; chunk += kChunk) {
                const long count = std::min(kChunk, end - chunk);
                RainbowIndices(rainbow, source.magnitudes + chunk, count, indices);
                const unsigned char* g = grey + chunk;
                unsigned char* out = rgb + 3 * chunk;
                for (long k = 0; k < count; ++k) {
                    if (shaded) {
                        const unsigned char* product = shaded.get() + g[k];
                        const unsigned char* colour = bytes[indices[k]];
                        out[3 * k] = product[colour[2] * 256];
                        out[3 * k + 1] = product[colour[1] * 256];
                        out[3 * k + 2] = product[colour[0] * 256];
                    } else {
                        const float* c = rainbow.colors[indices[k]];
                        out[3 * k] = TruncateToByte(g[k] * static_cast<double>(c[2]));
                        out[3 * k + 1] = TruncateToByte(g[k] * static_cast<double>(c[1]));
                        out[3 * k + 2] = TruncateToByte(g[k] * static_cast<double>(c[0]));
                    }
                }
                for (long k = 0; mask && k < count; ++k)
                    if (mask[chunk + k]) put_mask(out + 3 * k);
            }
        } else {
            // Without its table the rainbow is black, as Lookup gives it.
            for (long i = first; i < end; ++i) {
                unsigned char* out = rgb + 3 * i;
                if (masked(i))
                    put_mask(out);
                else
                    out[0] = out[1] = out[2] = 0;
            }
        }
    });

    if (source.flip_rows) MirrorImage24(width, source.height, rgb, 'V');
    if (source.flip_columns) MirrorImage24(width, source.height, rgb, 'H');
}

}  // namespace flowloom
