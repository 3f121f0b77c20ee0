#include "engine/sample_probe.h"

#include <cmath>

namespace flowloom {

SampleReadout ProbeSample(const LicEngine& engine, int x, int y) {
    SampleReadout out;
    const int width = engine.x_res;
    const int height = engine.y_res;
    if (x < 0 || y < 0 || x >= width || y >= height) return out;
    out.inside = true;
    // The composition mirrors every picture it makes while a flag is set.
    out.column = engine.flip_columns == 1 ? width - 1 - x : x;
    out.row = engine.flip_rows == 1 ? height - 1 - y : y;
    const size_t i = static_cast<size_t>(out.row) * static_cast<size_t>(width) + static_cast<size_t>(out.column);
    // A mask of another grid (the photograph of LICing has none) says nothing here.
    if (engine.mask && engine.FieldWidth() == width && engine.FieldHeight() == height && engine.mask[i]) {
        out.masked = true;
        return out;
    }
    if (!engine.HasPhysicalField()) return out;
    const double vx = engine.physical_vectors[2 * i];
    const double vy = engine.physical_vectors[2 * i + 1];
    out.has_vector = true;
    out.u = vx;
    out.v = engine.field_v_upwards == 1 ? -vy : vy;
    out.magnitude = std::hypot(vx, vy);
    out.units = engine.field_units;
    return out;
}

}  // namespace flowloom
