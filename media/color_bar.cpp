#include "media/color_bar.h"

#include <cairo.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>

#include "media/color_map.h"

namespace flowloom {

namespace {

// Values closer than this share of a step are the same tick (rounding in the multiples).
constexpr double kSlack = 1e-9;

std::string Label(double value, double step) {
    char text[32];
    const double magnitude = std::max(std::fabs(value), std::fabs(step));
    if (value == 0.0) return "0";
    if (magnitude >= 1e-3 && magnitude < 1e6) {
        // Enough decimals for the step, none beyond.
        int decimals = step > 0.0 ? std::max(0, static_cast<int>(std::ceil(-std::log10(step) - 1e-9))) : 3;
        if (step > 0.0) {
            const double scaled = step * std::pow(10.0, decimals);
            if (std::fabs(scaled - std::round(scaled)) > 1e-6) ++decimals;  // 2.5 x 10^k
        }
        std::snprintf(text, sizeof text, "%.*f", std::min(decimals, 9), value);
    } else {
        std::snprintf(text, sizeof text, "%.3g", value);
    }
    return text;
}

// Three significant digits, without trailing zeros; powers of ten for the very large and small.
std::string LabelSignificant(double value) {
    char text[32];
    const double magnitude = std::fabs(value);
    if (value == 0.0 || magnitude < 1e-3 || magnitude >= 1e6) {
        std::snprintf(text, sizeof text, "%.3g", value);
        return text;
    }
    const int decimals = std::max(0, 2 - static_cast<int>(std::floor(std::log10(magnitude))));
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    std::string label = text;
    if (label.find('.') != std::string::npos) {
        label.erase(label.find_last_not_of('0') + 1);
        if (label.back() == '.') label.pop_back();
    }
    return label;
}

double NiceStep(double range, int max_ticks) {
    const double rough = range / max_ticks;
    const double decade = std::pow(10.0, std::floor(std::log10(rough)));
    for (double m : {1.0, 2.0, 2.5, 5.0, 10.0})
        if (m * decade >= rough * (1.0 - kSlack)) return m * decade;
    return 10.0 * decade;
}

std::vector<ColorBarTick> LinearTicks(const ColorNorm& norm, int max_ticks) {
    std::vector<ColorBarTick> ticks;
    const double lo = norm.vmin;
    const double hi = norm.vmax;
    if (!(hi > lo)) {
        ticks.push_back({lo, 0.0, LabelSignificant(lo)});
        return ticks;
    }
    double step = NiceStep(hi - lo, max_ticks);
    auto count_of = [&](double s) {
        return static_cast<int>(std::floor(hi / s + kSlack) - std::ceil(lo / s - kSlack)) + 1;
    };
    while (count_of(step) > max_ticks) step = NiceStep(step * 2.0 * max_ticks, max_ticks);
    for (double k = std::ceil(lo / step - kSlack); k <= std::floor(hi / step + kSlack); ++k) {
        double value = k * step;
        if (std::fabs(value) < step * kSlack) value = 0.0;
        ticks.push_back({value, norm.Position(value), Label(value, step)});
    }
    return ticks;
}

std::vector<ColorBarTick> LogTicks(const ColorNorm& norm, int max_ticks) {
    std::vector<ColorBarTick> ticks;
    const double lo = norm.vmin;
    const double hi = norm.vmax;
    const int first = static_cast<int>(std::ceil(std::log10(lo) - kSlack));
    const int last = static_cast<int>(std::floor(std::log10(hi) + kSlack));
    const int decades = last - first + 1;
    if (decades >= 2) {
        const int every = (decades + max_ticks - 1) / max_ticks;
        for (int k = first; k <= last; k += every) {
            const double value = std::pow(10.0, k);
            ticks.push_back({value, norm.Position(value), LabelSignificant(value)});
        }
        return ticks;
    }
    // Within a decade or two: 1, 2 and 5 times the powers of ten.
    for (int k = first - 1; k <= last; ++k)
        for (double m : {1.0, 2.0, 5.0}) {
            const double value = m * std::pow(10.0, k);
            if (value >= lo * (1.0 - kSlack) && value <= hi * (1.0 + kSlack))
                ticks.push_back({value, norm.Position(value), LabelSignificant(value)});
        }
    if (ticks.empty()) ticks.push_back({lo, 0.0, LabelSignificant(lo)});
    return ticks;
}

std::vector<ColorBarTick> DecadeTicks(const ColorNorm& norm) {
    std::vector<ColorBarTick> ticks;
    const double lo = norm.vmin;
    const double hi = norm.vmax;
    ticks.push_back({lo, norm.Position(lo), LabelSignificant(lo)});
    if (!(hi > lo)) return ticks;
    for (int k = static_cast<int>(std::floor(std::log10(lo))) + 1; std::pow(10.0, k) < hi * (1.0 - kSlack); ++k) {
        const double value = std::pow(10.0, k);
        if (value > lo * (1.0 + kSlack)) ticks.push_back({value, norm.Position(value), LabelSignificant(value)});
    }
    ticks.push_back({hi, norm.Position(hi), LabelSignificant(hi)});
    return ticks;
}

struct CairoDeleter {
    void operator()(cairo_surface_t* s) const { cairo_surface_destroy(s); }
    void operator()(cairo_t* c) const { cairo_destroy(c); }
};

// The bar's colours from bottom (0) to top (1): `count` entries, red, green, blue.
std::vector<ColorRgb8> BarColours(ColorMapId cmap, int count) {
    std::vector<ColorRgb8> colours(static_cast<size_t>(count));
    const ColorMap rainbow(0.0f, 1.0f, 255, 1275);
    const unsigned char(*table)[3] = NamedColorTable(cmap);
    for (int i = 0; i < count; ++i) {
        const double t = count > 1 ? static_cast<double>(i) / (count - 1) : 0.0;
        const unsigned char* e = nullptr;
        if (table)
            e = table[NamedTableIndex(t)];
        else if (rainbow.colorBytes)
            e = rainbow.colorBytes[rainbow.IndexOf(static_cast<float>(t))];
        if (e) colours[static_cast<size_t>(i)] = {e[0], e[1], e[2]};
    }
    return colours;
}

}  // namespace

std::vector<ColorBarTick> ColorBarTicks(const ColorNorm& norm, int max_ticks) {
    max_ticks = std::max(max_ticks, 2);
    // Bounds no norm settles (infinite, turned, or not positive on a logarithmic scale) get
    // a single tick rather than a scale.
    const bool logarithmic = norm.kind != NormKind::kLinear;
    if (!std::isfinite(norm.vmin) || !std::isfinite(norm.vmax) || !(norm.vmax >= norm.vmin) ||
        (logarithmic && !(norm.vmin > 0.0)))
        return {{norm.vmin, 0.0, LabelSignificant(norm.vmin)}};
    switch (norm.kind) {
        case NormKind::kLog:
            return LogTicks(norm, max_ticks);
        case NormKind::kDecades:
            return DecadeTicks(norm);
        default:
            return LinearTicks(norm, max_ticks);
    }
}

bool AddColorBar(const unsigned char* bgr, int width, int height, const ColorBar& bar, MallocBuffer<unsigned char>& out,
                 int& out_width, std::string& error) {
    if (!bgr || width <= 0 || height <= 0) {
        error = "A colour bar needs a picture.";
        return false;
    }
    // Sizes follow the picture's height, within what stays legible.
    const double font = std::clamp(height / 32.0, 9.0, 28.0);
    const int margin = static_cast<int>(std::lround(font));
    const int bar_width = static_cast<int>(std::lround(font * 1.5));
    const int tick_length = std::max(3, static_cast<int>(std::lround(font * 0.4)));
    const int bar_top = std::min(margin, height / 4);
    const int bar_height = std::max(1, height - 2 * bar_top);
    const std::vector<ColorBarTick> ticks = ColorBarTicks(bar.norm, std::clamp(bar_height / (3 * margin), 2, 8));
    const std::string title = bar.units.empty() ? bar.name : bar.name + " [" + bar.units + "]";

    // Measure the labels on a scratch surface first: the panel is as wide as they need.
    std::unique_ptr<cairo_surface_t, CairoDeleter> scratch(cairo_image_surface_create(CAIRO_FORMAT_RGB24, 1, 1));
    std::unique_ptr<cairo_t, CairoDeleter> measure(cairo_create(scratch.get()));
    cairo_select_font_face(measure.get(), "DejaVu Sans", CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_NORMAL);
    cairo_set_font_size(measure.get(), font);
    double label_width = 0.0;
    for (const ColorBarTick& tick : ticks) {
        cairo_text_extents_t extents;
        cairo_text_extents(measure.get(), tick.label.c_str(), &extents);
        label_width = std::max(label_width, extents.x_advance);
    }
    if (cairo_status(measure.get()) != CAIRO_STATUS_SUCCESS) {
        error = std::string("Cairo could not set the colour bar's text: ") +
                cairo_status_to_string(cairo_status(measure.get()));
        return false;
    }
    const int bar_left = margin;
    const int labels_left = bar_left + bar_width + tick_length + tick_length / 2 + 1;
    const int title_left = labels_left + static_cast<int>(std::ceil(label_width)) + margin / 2;
    const int panel_width = title_left + (title.empty() ? 0 : static_cast<int>(std::ceil(font * 1.3))) + margin / 2;

    std::unique_ptr<cairo_surface_t, CairoDeleter> surface(
        cairo_image_surface_create(CAIRO_FORMAT_RGB24, panel_width, height));
    std::unique_ptr<cairo_t, CairoDeleter> cr(cairo_create(surface.get()));
    if (cairo_status(cr.get()) != CAIRO_STATUS_SUCCESS) {
        error = "Cairo could not make the colour bar's surface.";
        return false;
    }
    cairo_set_source_rgb(cr.get(), 1.0, 1.0, 1.0);
    cairo_paint(cr.get());
    // The bar, one row of the map per pixel row, the top of the norm at the top.
    const std::vector<ColorRgb8> colours = BarColours(bar.cmap, bar_height);
    for (int row = 0; row < bar_height; ++row) {
        const ColorRgb8& c = colours[static_cast<size_t>(bar_height - 1 - row)];
        cairo_set_source_rgb(cr.get(), c.r / 255.0, c.g / 255.0, c.b / 255.0);
        cairo_rectangle(cr.get(), bar_left, bar_top + row, bar_width, 1);
        cairo_fill(cr.get());
    }
    cairo_set_source_rgb(cr.get(), 0.0, 0.0, 0.0);
    cairo_set_line_width(cr.get(), 1.0);
    cairo_rectangle(cr.get(), bar_left - 0.5, bar_top - 0.5, bar_width + 1, bar_height + 1);
    cairo_stroke(cr.get());
    cairo_select_font_face(cr.get(), "DejaVu Sans", CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_NORMAL);
    cairo_set_font_size(cr.get(), font);
    cairo_font_extents_t font_extents;
    cairo_font_extents(cr.get(), &font_extents);
    double last_label_top = 1e30;  // labels run upwards; one that would overlap the last is left out
    for (const ColorBarTick& tick : ticks) {
        if (!std::isfinite(tick.position)) continue;
        const double y = bar_top + (bar_height - 1) * (1.0 - tick.position) + 0.5;
        cairo_move_to(cr.get(), bar_left + bar_width, y);
        cairo_line_to(cr.get(), bar_left + bar_width + tick_length, y);
        cairo_stroke(cr.get());
        const double baseline = y + (font_extents.ascent - font_extents.descent) / 2.0;
        if (baseline > last_label_top - 1.0 && &tick != &ticks.front()) continue;
        cairo_move_to(cr.get(), labels_left, baseline);
        cairo_show_text(cr.get(), tick.label.c_str());
        last_label_top = baseline - font_extents.ascent;
    }
    if (!title.empty()) {
        cairo_text_extents_t extents;
        cairo_text_extents(cr.get(), title.c_str(), &extents);
        cairo_save(cr.get());
        cairo_move_to(cr.get(), title_left + font_extents.ascent, bar_top + bar_height / 2.0 + extents.x_advance / 2.0);
        cairo_rotate(cr.get(), -M_PI / 2.0);
        cairo_show_text(cr.get(), title.c_str());
        cairo_restore(cr.get());
    }
    cairo_surface_flush(surface.get());
    if (cairo_status(cr.get()) != CAIRO_STATUS_SUCCESS) {
        error = std::string("Cairo could not draw the colour bar: ") + cairo_status_to_string(cairo_status(cr.get()));
        return false;
    }

    out_width = width + panel_width;
    const size_t row_bytes = 3 * static_cast<size_t>(out_width);
    if (!out.Allocate(row_bytes * static_cast<size_t>(height))) {
        error = "Not enough memory for the picture with its colour bar.";
        return false;
    }
    const unsigned char* panel = cairo_image_surface_get_data(surface.get());
    const int stride = cairo_image_surface_get_stride(surface.get());
    for (int y = 0; y < height; ++y) {
        unsigned char* dst = out.get() + row_bytes * static_cast<size_t>(y);
        std::memcpy(dst, bgr + 3 * static_cast<size_t>(width) * y, 3 * static_cast<size_t>(width));
        const uint32_t* src = reinterpret_cast<const uint32_t*>(panel + static_cast<size_t>(stride) * y);
        for (int x = 0; x < panel_width; ++x) {
            unsigned char* p = dst + 3 * (static_cast<size_t>(width) + x);
            p[0] = static_cast<unsigned char>(src[x]);
            p[1] = static_cast<unsigned char>(src[x] >> 8);
            p[2] = static_cast<unsigned char>(src[x] >> 16);
        }
    }
    return true;
}

}  // namespace flowloom
