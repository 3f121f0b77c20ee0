#include "engine/sample_probe.h"

#include <algorithm>
#include <cmath>

namespace flowloom {

namespace {

// The coordinate at fractional sample `at` of an axis: linear between samples, and carried
// on by the end spacing beyond them (a finer grid's edge pixels lie half a pixel outside).
double AxisValue(const std::vector<double>& values, double at) {
    const int last = static_cast<int>(values.size()) - 1;
    if (last == 0) return values[0];
    const int i = std::clamp(static_cast<int>(std::floor(at)), 0, last - 1);
    return values[i] + (at - i) * (values[i + 1] - values[i]);
}

// Component k of the file's (u, v) at a fractional sample, bilinear between its four
// neighbours; the nearest sample where a neighbour is missing.
double FileComponent(const FieldFileGrid& g, double x, double y, int k) {
    x = std::clamp(x, 0.0, g.width - 1.0);
    y = std::clamp(y, 0.0, g.height - 1.0);
    const int c = std::min(static_cast<int>(x), std::max(g.width - 2, 0));
    const int r = std::min(static_cast<int>(y), std::max(g.height - 2, 0));
    const int c1 = std::min(c + 1, g.width - 1);
    const int r1 = std::min(r + 1, g.height - 1);
    const auto at = [&](int row, int column) {
        return static_cast<double>(g.components[2 * (static_cast<size_t>(row) * g.width + column) + k]);
    };
    const double tx = x - c;
    const double ty = y - r;
    const double value = (1 - ty) * ((1 - tx) * at(r, c) + tx * at(r, c1)) + ty * ((1 - tx) * at(r1, c) + tx * at(r1, c1));
    if (!std::isnan(value)) return value;
    return at(static_cast<int>(std::lround(y)), static_cast<int>(std::lround(x)));
}

}  // namespace

SampleReadout ProbeSample(const LicEngine& engine, int x, int y) {
    SampleReadout out;
    const int width = engine.x_res;
    const int height = engine.y_res;
    if (x < 0 || y < 0 || x >= width || y >= height) return out;
    out.inside = true;
    // The composition mirrors every picture it makes while a flag is set.
    out.column = engine.flip_columns == 1 ? width - 1 - x : x;
    out.row = engine.flip_rows == 1 ? height - 1 - y : y;
    const FieldFileGrid& g = engine.file_grid;
    const double file_x = g.origin_x + out.column * g.step_x;
    const double file_y = g.origin_y + out.row * g.step_y;
    if (!g.x_axis.values.empty() && !g.y_axis.values.empty()) {
        out.has_coordinates = true;
        out.x = AxisValue(g.x_axis.values, file_x);
        out.y = AxisValue(g.y_axis.values, file_y);
        out.x_name = g.x_axis.name.empty() ? "x" : g.x_axis.name;
        out.y_name = g.y_axis.name.empty() ? "y" : g.y_axis.name;
    }
    const size_t i = static_cast<size_t>(out.row) * static_cast<size_t>(width) + static_cast<size_t>(out.column);
    // A mask of another grid (the photograph of LICing has none) says nothing here.
    if (engine.mask && engine.FieldWidth() == width && engine.FieldHeight() == height && engine.mask[i]) {
        out.masked = true;
        return out;
    }
    if (!engine.HasPhysicalField()) return out;
    out.has_vector = true;
    out.units = engine.field_units;
    if (g.components && g.width > 0 && g.height > 0) {
        // Converted to steps for tracing; the reader wants the file's own values.
        out.u = FileComponent(g, file_x, file_y, 0);
        out.v = FileComponent(g, file_x, file_y, 1);
    } else {
        const double vx = engine.physical_vectors[2 * i];
        const double vy = engine.physical_vectors[2 * i + 1];
        out.u = vx;
        out.v = engine.field_v_upwards == 1 ? -vy : vy;
    }
    out.magnitude = std::hypot(out.u, out.v);
    return out;
}

}  // namespace flowloom
