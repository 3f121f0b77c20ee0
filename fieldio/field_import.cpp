#include "fieldio/field_import.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>

#include "fieldio/field_import_readers.h"
#include "lic/field_file.h"
#include "lic/field_mask.h"
#include "media/regular_file.h"

namespace flowloom {

using import_detail::ImportGrid;

namespace {

// Files read whole into memory (NumPy, CSV) may be at most this long: a 4000 x 4000 pair of
// doubles is 256 MiB, and a table of it as text about four times that.
constexpr long kMaxInMemoryBytes = 1L << 30;

FieldFormat SniffBytes(const unsigned char* head, std::size_t n) {
    if (n >= 6 && !std::memcmp(head, "\x93NUMPY", 6)) return FieldFormat::kNpy;
    if (n >= 4 && (!std::memcmp(head, "PK\x03\x04", 4) || !std::memcmp(head, "PK\x05\x06", 4)))
        return FieldFormat::kNpz;
    if (n >= 4 && !std::memcmp(head, "CDF", 3) && (head[3] == 1 || head[3] == 2 || head[3] == 5))
        return FieldFormat::kNetcdf;
    if (n >= 8 && !std::memcmp(head, "\x89HDF\r\n\x1a\n", 8)) return FieldFormat::kNetcdf;
    // A table: a first line of printable text that names its columns and has a comma. A
    // .vec file never qualifies: a binary one has a zero byte among its first four, and a
    // text one is numbers only.
    std::size_t i = 0;
    if (n >= 3 && !std::memcmp(head, "\xEF\xBB\xBF", 3)) i = 3;
    while (i < n && (head[i] == ' ' || head[i] == '\t')) ++i;
    if (i >= n || !(std::isalpha(head[i]) || head[i] == '"' || head[i] == '_')) return FieldFormat::kVec;
    bool comma = false;
    for (; i < n && head[i] != '\n'; ++i) {
        const unsigned char c = head[i];
        if (c == ',') comma = true;
        if (c < 0x20 && c != '\t' && c != '\r') return FieldFormat::kVec;
    }
    return comma ? FieldFormat::kCsv : FieldFormat::kVec;
}

// What is missing at (r, c) +- 1 along one axis decides the difference taken there.
double Difference(double before, double here, double after, bool has_before, bool has_after) {
    has_before = has_before && !std::isnan(before);
    has_after = has_after && !std::isnan(after);
    if (has_before && has_after) return (after - before) * 0.5;
    if (has_after) return after - here;
    if (has_before) return here - before;
    return 0.0;
}

// The reads behind angle and Stokes inputs: an angle grid is read as a scalar, a Stokes
// pair as a (u, v) pair.
ImportOptions ReaderOptions(const ImportOptions& options) {
    ImportOptions read = options;
    if (!options.angle_var.empty()) {
        read.scalar_var = options.angle_var;
        read.u_var.clear();
        read.v_var.clear();
    } else if (!options.stokes_q.empty() || !options.stokes_u.empty()) {
        read.u_var = options.stokes_q;
        read.v_var = options.stokes_u;
        read.scalar_var.clear();
    }
    return read;
}

int CheckOptions(const ImportOptions& options, std::string& error) {
    const bool angle = !options.angle_var.empty();
    const bool stokes = !options.stokes_q.empty() || !options.stokes_u.empty();
    if (stokes && (options.stokes_q.empty() || options.stokes_u.empty())) {
        error = "a Stokes input needs both Q and U";
        return 0;
    }
    if (angle && stokes) {
        error = "an angle variable and a Stokes pair cannot be taken together";
        return 0;
    }
    if ((angle || stokes) && (!options.u_var.empty() || !options.v_var.empty() || !options.scalar_var.empty() ||
                              options.gradient != kGradientNone)) {
        error = std::string(angle ? "an angle variable" : "a Stokes pair") +
                " is the whole field: it takes no u/v or scalar variable and no gradient";
        return 0;
    }
    if (angle && !options.angle_units.empty() && AngleUnitFactor(options.angle_units) == 0.0) {
        error = "angle units '" + options.angle_units + "' are neither degrees nor radians";
        return 0;
    }
    return 1;
}

// Drops the last column of every row (a longitude that repeats the first).
void DropLastColumn(ImportGrid& grid) {
    const std::size_t k = static_cast<std::size_t>(grid.components);
    const std::size_t old_row = static_cast<std::size_t>(grid.width) * k;
    const std::size_t new_row = old_row - k;
    for (std::size_t r = 0; r < static_cast<std::size_t>(grid.height); ++r)
        std::copy_n(grid.values.begin() + static_cast<std::ptrdiff_t>(r * old_row), new_row,
                    grid.values.begin() + static_cast<std::ptrdiff_t>(r * new_row));
    grid.values.resize(new_row * static_cast<std::size_t>(grid.height));
    grid.x_axis.values.pop_back();
    --grid.width;
}

template <class T>
void GradientInto(const double* scalar, int width, int height, int gradient, T* vectors) {
    const double sign = gradient == kGradientUphill ? 1.0 : -1.0;
    const double nan = std::numeric_limits<double>::quiet_NaN();
    for (int r = 0; r < height; ++r) {
        for (int c = 0; c < width; ++c) {
            const long i = static_cast<long>(r) * width + c;
            const double here = scalar[i];
            if (std::isnan(here)) {
                vectors[2 * i] = vectors[2 * i + 1] = static_cast<T>(nan);
                continue;
            }
            const double gx = Difference(c > 0 ? scalar[i - 1] : nan, here, c + 1 < width ? scalar[i + 1] : nan, c > 0,
                                         c + 1 < width);
            const double gy = Difference(r > 0 ? scalar[i - width] : nan, here,
                                         r + 1 < height ? scalar[i + width] : nan, r > 0, r + 1 < height);
            vectors[2 * i] = static_cast<T>(sign * gx);
            vectors[2 * i + 1] = static_cast<T>(sign * gy);
        }
    }
}

std::string GradientName(const ImportGrid& grid, const ImportOptions& options) {
    return (options.gradient == kGradientUphill ? "uphill gradient of " : "downhill gradient of ") +
           (grid.name.empty() ? std::string("the grid") : grid.name);
}

// Index coordinates and a plain (u, v) pair or scalar: the numbers as they were always taken.
int IndexGridToField(ImportGrid& grid, const ImportOptions& options, ImportedField& field, std::string& error) {
    const std::size_t samples = static_cast<std::size_t>(grid.width) * static_cast<std::size_t>(grid.height);
    MallocBuffer<float> vectors;
    if (!vectors.Allocate(2 * samples)) {
        error = "not enough memory for the field";
        return 0;
    }
    if (grid.components == 1) {
        ScalarGradient(grid.values.data(), grid.width, grid.height,
                       options.gradient == kGradientNone ? kGradientDownhill : options.gradient, vectors.get());
    } else {
        const double v_sign = grid.v_up ? -1.0 : 1.0;
        for (std::size_t i = 0; i < samples; ++i) {
            vectors[2 * i] = static_cast<float>(grid.values[2 * i]);
            vectors[2 * i + 1] = static_cast<float>(v_sign * grid.values[2 * i + 1]);
        }
    }
    field.width = grid.width;
    field.height = grid.height;
    field.vectors = std::move(vectors);
    field.name = grid.name;
    field.units = grid.units;
    if (grid.components == 1) {
        field.name = GradientName(grid, options);
        if (!grid.units.empty()) field.units = grid.units + " per cell";
    }
    return 1;
}

int GridToField(ImportGrid& grid, const ImportOptions& options, ImportedField& field, std::string& error) {
    if (!import_detail::SideInRange(grid.width, grid.height, error)) return 0;
    const std::size_t samples = static_cast<std::size_t>(grid.width) * static_cast<std::size_t>(grid.height);
    if (grid.values.size() != samples * static_cast<std::size_t>(grid.components)) {
        error = "the data does not fill the grid";
        return 0;
    }
    if (grid.components == 2 && options.gradient != kGradientNone) {
        error = "a gradient needs one scalar grid, not a (u, v) pair";
        return 0;
    }
    const bool angle = !options.angle_var.empty();
    const bool stokes = !options.stokes_q.empty();
    if ((angle && grid.components != 1) || (stokes && grid.components != 2)) {
        error = angle ? "the angle variable is no single grid" : "Q and U are no pair of grids";
        return 0;
    }
    const Coordinates mode = ResolveCoordinates(options.coordinates, grid.x_axis, grid.y_axis);
    if (mode == Coordinates::kIndex && !angle && !stokes) {
        if (!IndexGridToField(grid, options, field, error)) return 0;
        field.x_axis = std::move(grid.x_axis);
        field.y_axis = std::move(grid.y_axis);
        return 1;
    }

    FieldGeometry geometry;
    if (!MakeFieldGeometry(mode, grid.x_axis, grid.y_axis, grid.width, grid.height, geometry, error)) return 0;
    if (geometry.drop_last_column) DropLastColumn(grid);
    const int width = grid.width, height = grid.height;
    const std::size_t n = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);

    // The components in the file's own frame, in double: the second along v (up for a
    // geographic file), or for a gradient along the displayed rows.
    std::vector<double> pairs;
    std::vector<double> intensity;
    bool rows_down = !grid.v_up;
    if (angle) {
        const std::string& units = options.angle_units.empty() ? grid.units : options.angle_units;
        const double factor = AngleUnitFactor(units);
        if (factor == 0.0) {
            error = "the angle variable's units '" + units + "' say neither degrees nor radians; give the angle units";
            return 0;
        }
        std::vector<double> radians(n);
        for (std::size_t i = 0; i < n; ++i) radians[i] = grid.values[i] * factor;
        pairs.resize(2 * n);
        AnglesToVectors(radians.data(), static_cast<long>(n), pairs.data());
    } else if (stokes) {
        pairs.resize(2 * n);
        intensity.resize(n);
        StokesToVectors(grid.values.data(), static_cast<long>(n), pairs.data(), intensity.data());
    } else if (grid.components == 2) {
        pairs = std::move(grid.values);
    } else {
        pairs.resize(2 * n);
        GradientInto(grid.values.data(), width, height,
                     options.gradient == kGradientNone ? kGradientDownhill : options.gradient, pairs.data());
        rows_down = true;
    }

    MallocBuffer<float> vectors, magnitudes, components;
    if (!vectors.Allocate(2 * n) || ((stokes || mode != Coordinates::kIndex) && !magnitudes.Allocate(n)) ||
        (mode != Coordinates::kIndex && !components.Allocate(2 * n))) {
        error = "not enough memory for the field";
        return 0;
    }
    if (mode == Coordinates::kIndex) {
        const double v_sign = rows_down ? 1.0 : -1.0;
        for (std::size_t i = 0; i < n; ++i) {
            vectors[2 * i] = static_cast<float>(pairs[2 * i]);
            vectors[2 * i + 1] = static_cast<float>(v_sign * pairs[2 * i + 1]);
        }
    } else {
        // Physical components: along rising x and rising y. A gradient in samples becomes
        // one in the coordinates' units first.
        for (int r = 0; r < height; ++r) {
            for (int c = 0; c < width; ++c) {
                const std::size_t i = static_cast<std::size_t>(r) * width + c;
                if (grid.components == 1 && !angle) {
                    pairs[2 * i] /= ScaleX(geometry, r, c);
                    pairs[2 * i + 1] /= ScaleY(geometry, r);
                } else if (rows_down) {
                    pairs[2 * i + 1] = -pairs[2 * i + 1];
                }
            }
        }
        ConvertToSampleSteps(geometry, width, height, pairs.data(), vectors.get(), magnitudes.get());
        for (std::size_t i = 0; i < 2 * n; ++i) components[i] = static_cast<float>(pairs[i]);
    }
    if (stokes) {
        // The polarised intensity colours the field; a sample without a step has none.
        for (std::size_t i = 0; i < n; ++i)
            magnitudes[i] =
                std::isnan(vectors[2 * i]) ? std::numeric_limits<float>::quiet_NaN() : static_cast<float>(intensity[i]);
    }
    field.width = width;
    field.height = height;
    field.vectors = std::move(vectors);
    field.magnitudes = std::move(magnitudes);
    field.coordinates = mode;
    field.periodic_x = geometry.periodic_x;
    field.orientation = angle || stokes;
    field.components = std::move(components);
    field.x_axis = grid.x_axis;
    field.y_axis = grid.y_axis;
    field.name = grid.name;
    field.units = grid.units;
    if (angle) {
        field.units.clear();
    } else if (grid.components == 1) {
        field.name = GradientName(grid, options);
        const std::string per = mode == Coordinates::kGeographic ? "degree"
                                : grid.x_axis.units.empty()      ? "coordinate unit"
                                                                 : grid.x_axis.units;
        if (!grid.units.empty()) field.units = grid.units + " per " + per;
    }
    return 1;
}

// Reads options.color_var with `read` (the field's own reader, as a scalar) and puts it on
// the field's grid, which the file gave as `grid_width` x `grid_height` with `x_axis` and
// `y_axis` before any repeated column was dropped.
template <class Read>
int AttachColorScalar(const ImportOptions& options, int grid_width, int grid_height, const FieldAxis& x_axis,
                      const FieldAxis& y_axis, ImportedField& field, std::string& error, Read read) {
    ImportOptions scalar_options = options;
    scalar_options.scalar_var = options.color_var;
    scalar_options.u_var.clear();
    scalar_options.v_var.clear();
    scalar_options.angle_var.clear();
    scalar_options.stokes_q.clear();
    scalar_options.stokes_u.clear();
    scalar_options.gradient = kGradientNone;
    ImportGrid grid;
    std::string what;
    const std::string named =
        std::string(kColorVariableRefused) + " " + import_detail::QuoteFileText(options.color_var);
    if (!read(scalar_options, grid, what)) {
        error = named + ": " + what;
        return 0;
    }
    if (grid.components != 1) {
        error = named + " is no single grid";
        return 0;
    }
    if (grid.width != grid_width || grid.height != grid_height) {
        char text[160];
        std::snprintf(text, sizeof text, " is %d x %d, the field %d x %d (width x height)", grid.width, grid.height,
                      grid_width, grid_height);
        error = named + text;
        return 0;
    }
    // The field's very coordinates (or none for both), or the two would not share samples,
    // and the flips could have put their rows in two orders.
    if (grid.x_axis.values != x_axis.values || grid.y_axis.values != y_axis.values) {
        error = named + " lies on other coordinates than the field";
        return 0;
    }
    const std::size_t n = static_cast<std::size_t>(field.width) * static_cast<std::size_t>(field.height);
    if (!field.color_scalar.Allocate(n)) {
        error = "not enough memory for the colour variable";
        return 0;
    }
    for (int r = 0; r < field.height; ++r)
        for (int c = 0; c < field.width; ++c)
            field.color_scalar[static_cast<std::size_t>(r) * field.width + c] = static_cast<float>(
                grid.values[static_cast<std::size_t>(r) * grid_width + c]);
    // A dropped repeated last column is left out by copying only the field's width of each row.
    field.color_name = grid.name.empty() ? options.color_var : grid.name;
    field.color_units = grid.units;
    return 1;
}

int ReadWholeFile(const char* path, std::vector<unsigned char>& bytes, std::string& error) {
    long length = -1;
    std::FILE* file = OpenRegularFile(path, length);
    if (!file) {
        error = "cannot be opened";
        return 0;
    }
    if (length > kMaxInMemoryBytes) {
        std::fclose(file);
        error = "is larger than 1 GiB";
        return 0;
    }
    bytes.resize(static_cast<std::size_t>(length));
    const bool ok = std::fread(bytes.data(), 1, bytes.size(), file) == bytes.size();
    std::fclose(file);
    if (!ok) error = "cannot be read";
    return ok;
}

int ReadBytes(const std::vector<unsigned char>& bytes, FieldFormat format, const ImportOptions& options,
              ImportGrid& grid, std::string& error) {
    switch (format) {
        case FieldFormat::kNpy:
            return import_detail::ReadNpy(bytes, grid, error);
        case FieldFormat::kNpz:
            return import_detail::ReadNpz(bytes, options, grid, error, nullptr);
        case FieldFormat::kCsv:
            return import_detail::ReadCsv(bytes, options, grid, error);
        default:
            error = "is not a NumPy or CSV file";
            return 0;
    }
}

std::string Named(const char* name, const std::string& what) {
    return std::string(name) + ": " + what;
}

}  // namespace

namespace import_detail {

bool SideInRange(long long width, long long height, std::string& error) {
    if (width >= 1 && height >= 1 && width <= kMaxFieldSide && height <= kMaxFieldSide) return true;
    char text[160];
    std::snprintf(text, sizeof text, "the grid is %lld x %lld; each side must lie in 1..%d", width, height,
                  kMaxFieldSide);
    error = text;
    return false;
}

std::string QuoteFileText(std::string_view text) {
    constexpr std::size_t kShown = 60;
    std::string quoted = "'";
    std::size_t shown = 0;
    for (const char ch : text) {
        if (shown == kShown) {
            quoted += "...";
            break;
        }
        const unsigned char c = static_cast<unsigned char>(ch);
        if (c == '\n') {
            quoted += "\\n";
        } else if (c == '\t') {
            quoted += "\\t";
        } else if (c == '\r') {
            quoted += "\\r";
        } else if (c == '\\') {
            quoted += "\\\\";
        } else if (c < 0x20 || c > 0x7E) {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02x", c);
            quoted += hex;
        } else {
            quoted += ch;
        }
        ++shown;
    }
    return quoted + "'";
}

}  // namespace import_detail

FieldFormat SniffFieldFormat(const char* path) {
    long length = -1;
    std::FILE* file = OpenRegularFile(path, length);
    if (!file) return FieldFormat::kVec;
    unsigned char head[512];
    const std::size_t n = std::fread(head, 1, sizeof head, file);
    std::fclose(file);
    return SniffBytes(head, n);
}

const char* FieldFormatName(FieldFormat format) {
    switch (format) {
        case FieldFormat::kNpy:
            return "NumPy .npy";
        case FieldFormat::kNpz:
            return "NumPy .npz";
        case FieldFormat::kNetcdf:
            return "NetCDF";
        case FieldFormat::kCsv:
            return "CSV";
        default:
            return ".vec";
    }
}

bool ImportNeedsImportedFile(const ImportOptions& options) {
    return options.coordinates == Coordinates::kGrid || options.coordinates == Coordinates::kGeographic ||
           !options.angle_var.empty() || !options.stokes_q.empty() || !options.stokes_u.empty() ||
           !options.color_var.empty();
}

int ImportFieldBytes(const std::vector<unsigned char>& bytes, const char* name, const ImportOptions& options,
                     ImportedField& field, std::string& error) {
    ImportGrid grid;
    std::string what;
    const FieldFormat format = SniffBytes(bytes.data(), bytes.size());
    if (!CheckOptions(options, what) || !ReadBytes(bytes, format, ReaderOptions(options), grid, what)) {
        error = Named(name, what);
        return 0;
    }
    if (!options.color_var.empty() && format == FieldFormat::kNpy) {
        error = Named(name, std::string(kColorVariableRefused) +
                                ": a .npy file holds one array, so it has none besides the field; use an .npz file");
        return 0;
    }
    const int width = grid.width, height = grid.height;
    const FieldAxis x_axis = grid.x_axis, y_axis = grid.y_axis;
    const auto read = [&](const ImportOptions& o, ImportGrid& g, std::string& e) {
        return ReadBytes(bytes, format, o, g, e);
    };
    ImportedField result;
    if (!GridToField(grid, options, result, what) ||
        (!options.color_var.empty() && !AttachColorScalar(options, width, height, x_axis, y_axis, result, what, read))) {
        error = Named(name, what);
        return 0;
    }
    field = std::move(result);
    return 1;
}

int ImportFieldFile(const char* path, const ImportOptions& options, ImportedField& field, std::string& error) {
    const FieldFormat format = SniffFieldFormat(path);
    if (format != FieldFormat::kNetcdf) {
        std::vector<unsigned char> bytes;
        std::string what;
        if (!ReadWholeFile(path, bytes, what)) {
            error = Named(path, what);
            return 0;
        }
        return ImportFieldBytes(bytes, path, options, field, error);
    }
    ImportGrid grid;
    std::string what;
    if (!CheckOptions(options, what) || !import_detail::ReadNetcdf(path, ReaderOptions(options), grid, what, nullptr)) {
        error = Named(path, what);
        return 0;
    }
    const int width = grid.width, height = grid.height;
    const FieldAxis x_axis = grid.x_axis, y_axis = grid.y_axis;
    const auto read = [path](const ImportOptions& o, ImportGrid& g, std::string& e) {
        return import_detail::ReadNetcdf(path, o, g, e, nullptr);
    };
    ImportedField result;
    if (!GridToField(grid, options, result, what) ||
        (!options.color_var.empty() && !AttachColorScalar(options, width, height, x_axis, y_axis, result, what, read))) {
        error = Named(path, what);
        return 0;
    }
    field = std::move(result);
    return 1;
}

int DescribeFieldFile(const char* path, ImportContents& contents, std::string& error) {
    const FieldFormat format = SniffFieldFormat(path);
    contents = ImportContents();
    contents.format = format;
    std::string what;
    int ok = 0;
    if (format == FieldFormat::kNetcdf) {
        ImportGrid grid;
        ok = import_detail::ReadNetcdf(path, ImportOptions(), grid, what, &contents);
    } else if (format == FieldFormat::kVec) {
        what = "is no NumPy, NetCDF or CSV file";
    } else {
        std::vector<unsigned char> bytes;
        ImportGrid grid;
        ok = ReadWholeFile(path, bytes, what);
        if (ok && format == FieldFormat::kNpz) {
            ok = import_detail::ReadNpz(bytes, ImportOptions(), grid, what, &contents);
        } else if (ok) {
            ok = ReadBytes(bytes, format, ImportOptions(), grid, what);
            if (ok) {
                ImportVariable variable;
                variable.name = grid.name;
                variable.units = grid.units;
                variable.width = grid.width;
                variable.height = grid.height;
                contents.variables.push_back(variable);
            }
        }
    }
    if (!ok) error = Named(path, what);
    return ok;
}

int WriteVecFile(const char* path, int width, int height, const float* vectors, std::string& error) {
    if (width < 1 || height < 1 || !vectors) {
        error = Named(path, "no field to write");
        return 0;
    }
    // The two-integer header cannot say every width: a first integer outside 4..3999 would
    // be read as another header form or as big-endian.
    const int32_t header[3] = {2, width, height};
    const bool short_header = width >= 4 && width < 4000;
    const std::size_t samples = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
    const VecWrite result = WriteVecWords(path, short_header ? header + 1 : header, short_header ? 2 : 3, samples,
                                          [vectors](std::size_t start, std::size_t end, float* out) {
                                              std::memcpy(out, vectors + 2 * start, 8 * (end - start));
                                          });
    if (result == VecWrite::kCannotCreate) error = Named(path, "cannot be created");
    if (result == VecWrite::kIncomplete) error = Named(path, "could not be written completely");
    return result == VecWrite::kWritten ? 1 : 0;
}

bool ImportNeedsChoice(const ImportContents& contents) {
    if (contents.format != FieldFormat::kNetcdf && contents.format != FieldFormat::kNpz) return false;
    const ImportOptions& d = contents.defaults;
    const bool single = contents.format == FieldFormat::kNpz && contents.variables.size() == 1;
    if (contents.variables.size() > 2 || (d.u_var.empty() && d.scalar_var.empty() && !single)) return true;
    for (const ImportVariable& v : contents.variables)
        if (v.times > 1 || v.levels > 1) return true;
    return false;
}

void ScalarGradient(const double* scalar, int width, int height, int gradient, float* vectors) {
    GradientInto(scalar, width, height, gradient, vectors);
}

}  // namespace flowloom
