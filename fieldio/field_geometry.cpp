#include "fieldio/field_geometry.h"

#include <cctype>
#include <cmath>
#include <cstdio>
#include <limits>
#include <numbers>

namespace flowloom {

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

std::string Lower(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

bool OneOf(const std::string& text, std::initializer_list<const char*> names) {
    for (const char* name : names)
        if (text == name) return true;
    return false;
}

std::string AxisName(const FieldAxis& axis, const char* fallback) {
    return axis.name.empty() ? std::string(fallback) : axis.name;
}

std::string Number(double value) {
    char text[64];
    std::snprintf(text, sizeof text, "%.9g", value);
    return text;
}

// Strictly rising or strictly falling, every value finite.
bool CheckMonotonic(const FieldAxis& axis, long expected, const char* what, std::string& error) {
    const std::string name = AxisName(axis, what);
    if (axis.values.empty()) {
        error = std::string("has no coordinate for its ") + what + " to convert by";
        return false;
    }
    if (static_cast<long>(axis.values.size()) != expected) {
        error = "coordinate " + name + " has " + std::to_string(axis.values.size()) + " values for " +
                std::to_string(expected) + " " + what;
        return false;
    }
    if (expected < 2) {
        error = "coordinate " + name + " has a single value, which gives no spacing";
        return false;
    }
    const std::vector<double>& v = axis.values;
    for (std::size_t k = 0; k < v.size(); ++k) {
        if (!std::isfinite(v[k])) {
            error = "coordinate " + name + " has a missing or infinite value at index " + std::to_string(k);
            return false;
        }
    }
    const bool rising = v[1] > v[0];
    for (std::size_t k = 1; k < v.size(); ++k) {
        if (v[k] == v[k - 1]) {
            error = "coordinate " + name + " repeats the value " + Number(v[k]) + " at index " + std::to_string(k) +
                    "; it must be strictly monotonic";
            return false;
        }
        if ((v[k] > v[k - 1]) != rising) {
            error = "coordinate " + name + " is not monotonic: it turns at index " + std::to_string(k) + " (" +
                    Number(v[k - 1]) + " then " + Number(v[k]) + ")";
            return false;
        }
    }
    return true;
}

// The change of the coordinate per index: central inside, one-sided at the ends, or
// across the seam when the axis wraps after `period`.
std::vector<double> Spacing(const std::vector<double>& v, std::size_t count, double period) {
    std::vector<double> d(count);
    const double wrap = v[count - 1] > v[0] ? period : -period;
    for (std::size_t k = 0; k < count; ++k) {
        const bool first = k == 0, last = k + 1 == count;
        if (!first && !last) {
            d[k] = (v[k + 1] - v[k - 1]) * 0.5;
        } else if (period != 0.0) {
            const double before = first ? v[count - 1] - wrap : v[k - 1];
            const double after = last ? v[0] + wrap : v[k + 1];
            d[k] = (after - before) * 0.5;
        } else {
            d[k] = first ? v[1] - v[0] : v[k] - v[k - 1];
        }
    }
    return d;
}

}  // namespace

bool ParseCoordinates(const std::string& text, Coordinates& mode) {
    const std::string t = Lower(text);
    if (t == "index")
        mode = Coordinates::kIndex;
    else if (t == "grid")
        mode = Coordinates::kGrid;
    else if (t == "geographic")
        mode = Coordinates::kGeographic;
    else if (t == "auto")
        mode = Coordinates::kAuto;
    else
        return false;
    return true;
}

const char* CoordinatesName(Coordinates mode) {
    switch (mode) {
        case Coordinates::kGrid:
            return "grid";
        case Coordinates::kGeographic:
            return "geographic";
        case Coordinates::kAuto:
            return "auto";
        default:
            return "index";
    }
}

bool HasCfLongitudeUnits(const FieldAxis& axis) {
    return OneOf(Lower(axis.units), {"degrees_east", "degree_east", "degree_e", "degrees_e", "degreee", "degreese"});
}

bool HasCfLatitudeUnits(const FieldAxis& axis) {
    return OneOf(Lower(axis.units), {"degrees_north", "degree_north", "degree_n", "degrees_n", "degreen", "degreesn"});
}

bool IsLongitudeAxis(const FieldAxis& axis) {
    return HasCfLongitudeUnits(axis) || Lower(axis.standard_name) == "longitude" ||
           OneOf(Lower(axis.name), {"lon", "longitude"});
}

bool IsLatitudeAxis(const FieldAxis& axis) {
    return HasCfLatitudeUnits(axis) || Lower(axis.standard_name) == "latitude" ||
           OneOf(Lower(axis.name), {"lat", "latitude"});
}

Coordinates ResolveCoordinates(Coordinates asked, const FieldAxis& x, const FieldAxis& y) {
    if (asked != Coordinates::kAuto) return asked;
    return HasCfLongitudeUnits(x) && HasCfLatitudeUnits(y) && !x.values.empty() && !y.values.empty()
               ? Coordinates::kGeographic
               : Coordinates::kIndex;
}

int MakeFieldGeometry(Coordinates mode, const FieldAxis& x, const FieldAxis& y, int width, int height,
                      FieldGeometry& geometry, std::string& error) {
    geometry = FieldGeometry();
    geometry.mode = mode;
    if (mode != Coordinates::kGrid && mode != Coordinates::kGeographic) {
        geometry.mode = Coordinates::kIndex;
        return 1;
    }
    const bool geographic = mode == Coordinates::kGeographic;
    if (geographic && (x.values.empty() || y.values.empty() || !IsLongitudeAxis(x) || !IsLatitudeAxis(y))) {
        error =
            "geographic coordinates need longitude along the columns and latitude along the rows; the "
            "coordinates here are " +
            (x.values.empty() ? std::string("none") : AxisName(x, "x")) + " and " +
            (y.values.empty() ? std::string("none") : AxisName(y, "y"));
        return 0;
    }
    if (!CheckMonotonic(x, width, "columns", error) || !CheckMonotonic(y, height, "rows", error)) return 0;

    std::size_t columns = static_cast<std::size_t>(width);
    double period = 0.0;
    if (geographic) {
        for (double lat : y.values) {
            if (std::abs(lat) > 90.0) {
                error = "latitude " + AxisName(y, "y") + " has the value " + Number(lat) + ", beyond +-90 degrees";
                return 0;
            }
        }
        // Longitudes printed with few digits wander a little: a hundredth of the spacing
        // decides whether the last column is the first again, or the next one after it.
        const std::vector<double>& lon = x.values;
        double span = std::abs(lon[columns - 1] - lon[0]);
        if (columns >= 3 && std::abs(span - 360.0) <= 0.01 * span / static_cast<double>(columns - 1)) {
            geometry.drop_last_column = true;
            --columns;
            span = std::abs(lon[columns - 1] - lon[0]);
        }
        const double mean = span / static_cast<double>(columns - 1);
        if (columns >= 2 && std::abs(span + mean - 360.0) <= 0.01 * mean) {
            geometry.periodic_x = true;
            period = 360.0;
        }
    }
    geometry.dx = Spacing(x.values, columns, period);
    geometry.dy = Spacing(y.values, static_cast<std::size_t>(height), 0.0);
    if (geographic) {
        geometry.cos_lat.resize(static_cast<std::size_t>(height));
        for (int r = 0; r < height; ++r) {
            const double lat = y.values[static_cast<std::size_t>(r)];
            // cos of 90 degrees in radians is 6e-17, not 0: a pole is told by its latitude.
            geometry.cos_lat[static_cast<std::size_t>(r)] =
                std::abs(lat) == 90.0 ? 0.0 : std::cos(lat * (std::numbers::pi / 180.0));
        }
    }
    return 1;
}

double ScaleX(const FieldGeometry& geometry, int row, int column) {
    if (geometry.dx.empty()) return 1.0;
    const double dx = geometry.dx[static_cast<std::size_t>(column)];
    if (geometry.cos_lat.empty()) return dx;
    const double c = geometry.cos_lat[static_cast<std::size_t>(row)];
    return c == 0.0 ? kNaN : dx * c;
}

double ScaleY(const FieldGeometry& geometry, int row) {
    return geometry.dy.empty() ? 1.0 : geometry.dy[static_cast<std::size_t>(row)];
}

void ConvertToSampleSteps(const FieldGeometry& geometry, int width, int height, const double* components,
                          float* vectors, float* magnitudes) {
    for (int r = 0; r < height; ++r) {
        const double sy = ScaleY(geometry, r);
        for (int c = 0; c < width; ++c) {
            const std::size_t i = static_cast<std::size_t>(r) * static_cast<std::size_t>(width) + c;
            const double east = components[2 * i];
            const double north = components[2 * i + 1];
            const double sx = ScaleX(geometry, r, c);
            // A pole has no eastward step: the whole sample is missing, never infinite.
            const bool missing = std::isnan(sx);
            vectors[2 * i] = static_cast<float>(missing ? kNaN : east / sx);
            vectors[2 * i + 1] = static_cast<float>(missing ? kNaN : north / sy);
            if (magnitudes) magnitudes[i] = static_cast<float>(missing ? kNaN : std::sqrt(east * east + north * north));
        }
    }
}

void AnglesToVectors(const double* angles, long count, double* pairs) {
    for (long i = 0; i < count; ++i) {
        pairs[2 * i] = std::cos(angles[i]);
        pairs[2 * i + 1] = std::sin(angles[i]);
    }
}

void StokesToVectors(const double* qu, long count, double* pairs, double* intensity) {
    for (long i = 0; i < count; ++i) {
        const double q = qu[2 * i], u = qu[2 * i + 1];
        const double p = std::sqrt(q * q + u * u);
        intensity[i] = p;
        if (p == 0.0) {
            pairs[2 * i] = pairs[2 * i + 1] = 0.0;
            continue;
        }
        const double angle = 0.5 * std::atan2(u, q);
        pairs[2 * i] = std::cos(angle);
        pairs[2 * i + 1] = std::sin(angle);
    }
}

double AngleUnitFactor(const std::string& units) {
    const std::string u = Lower(units);
    if (OneOf(u, {"degree", "degrees", "deg", "degs", "\xc2\xb0"})) return std::numbers::pi / 180.0;
    if (OneOf(u, {"radian", "radians", "rad", "rads"})) return 1.0;
    return 0.0;
}

}  // namespace flowloom
