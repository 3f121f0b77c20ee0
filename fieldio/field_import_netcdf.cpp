// NetCDF grids, classic and netCDF-4, through the netCDF library.
#include <netcdf.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "fieldio/field_import_readers.h"
#include "lic/field_mask.h"
#include "media/regular_file.h"

namespace flowloom::import_detail {

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr unsigned long long kMaxChunkBytes = 2ull * kMaxFieldSide * kMaxFieldSide * 8;

// Closes the file on every path.
struct NcFile {
    int id = -1;
    ~NcFile() {
        if (id >= 0) nc_close(id);
    }
};

std::string Lower(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

std::string TextAttribute(int nc, int var, const char* name) {
    nc_type type;
    size_t length = 0;
    if (nc_inq_att(nc, var, name, &type, &length) != NC_NOERR || type != NC_CHAR || length > 4096) return "";
    std::string text(length, '\0');
    if (nc_get_att_text(nc, var, name, text.data()) != NC_NOERR) return "";
    while (!text.empty() && text.back() == '\0') text.pop_back();
    return text;
}

// A numeric attribute's values, empty when absent or not numeric.
std::vector<double> NumberAttribute(int nc, int var, const char* name) {
    nc_type type;
    size_t length = 0;
    if (nc_inq_att(nc, var, name, &type, &length) != NC_NOERR || type == NC_CHAR || type == NC_STRING || length == 0 ||
        length > 64) {
        return {};
    }
    std::vector<double> values(length);
    if (nc_get_att_double(nc, var, name, values.data()) != NC_NOERR) return {};
    return values;
}

// One variable's shape, with its leading dimensions told apart.
struct NcVariable {
    int id = -1;
    std::string name;
    nc_type type = NC_NAT;
    std::vector<int> dims;
    std::vector<size_t> lengths;
    int time_dim = -1;   // position in dims, or -1
    int level_dim = -1;  // position in dims, or -1
};

bool IsTimeDimension(int nc, int dim, const std::string& dim_name) {
    const std::string lower = Lower(dim_name);
    if (lower == "time" || lower == "t") return true;
    int coordinate;
    if (nc_inq_varid(nc, dim_name.c_str(), &coordinate) != NC_NOERR) return false;
    if (Lower(TextAttribute(nc, coordinate, "axis")) == "t") return true;
    int unlimited = -1;
    nc_inq_unlimdim(nc, &unlimited);
    return dim == unlimited || TextAttribute(nc, coordinate, "units").find(" since ") != std::string::npos;
}

// The library bounds the names of variables and dimensions to NC_MAX_NAME on both paths
// (the classic header check refuses longer ones, netCDF-4 cuts them); attribute names it
// does not bound, so they are never asked for.
bool Inspect(int nc, int id, NcVariable& v) {
    char name[NC_MAX_NAME + 1] = {};
    int ndims = 0;
    if (nc_inq_varndims(nc, id, &ndims) != NC_NOERR || ndims < 0 || ndims > NC_MAX_VAR_DIMS) return false;
    std::vector<int> dims(static_cast<std::size_t>(ndims) + 1);
    if (nc_inq_var(nc, id, name, &v.type, nullptr, dims.data(), nullptr) != NC_NOERR) return false;
    v.id = id;
    v.name = name;
    v.dims.assign(dims.begin(), dims.begin() + ndims);
    v.lengths.clear();
    for (int d : v.dims) {
        size_t length = 0;
        if (nc_inq_dimlen(nc, d, &length) != NC_NOERR) return false;
        v.lengths.push_back(length);
    }
    v.time_dim = v.level_dim = -1;
    if (ndims == 4) {
        v.time_dim = 0;
        v.level_dim = 1;
    } else if (ndims == 3) {
        char dim_name[NC_MAX_NAME + 1] = {};
        if (nc_inq_dimname(nc, v.dims[0], dim_name) != NC_NOERR) return false;
        (IsTimeDimension(nc, v.dims[0], dim_name) ? v.time_dim : v.level_dim) = 0;
    }
    return true;
}

// Variables that can be a component or a scalar: 2 to 4 numeric dimensions.
bool IsGrid(const NcVariable& v) {
    return v.dims.size() >= 2 && v.dims.size() <= 4 && v.type != NC_CHAR && v.type != NC_STRING && v.type < NC_VLEN;
}

std::vector<NcVariable> Grids(int nc) {
    int count = 0;
    std::vector<NcVariable> grids;
    if (nc_inq_nvars(nc, &count) != NC_NOERR) return grids;
    for (int id = 0; id < count; ++id) {
        NcVariable v;
        if (Inspect(nc, id, v) && IsGrid(v)) grids.push_back(v);
    }
    return grids;
}

// The default choice: the eastward/northward pair by CF standard_name, else u and v, else a
// single grid as a scalar.
void DefaultChoice(int nc, const std::vector<NcVariable>& grids, ImportOptions& options) {
    for (const NcVariable& u : grids) {
        const std::string su = TextAttribute(nc, u.id, "standard_name");
        if (su.rfind("eastward_", 0) != 0) continue;
        for (const NcVariable& v : grids) {
            if (TextAttribute(nc, v.id, "standard_name") == "northward_" + su.substr(9)) {
                options.u_var = u.name;
                options.v_var = v.name;
                return;
            }
        }
    }
    for (const char* pair : {"u", "U"}) {
        int u, v;
        const std::string v_name = pair[0] == 'u' ? "v" : "V";
        if (nc_inq_varid(nc, pair, &u) == NC_NOERR && nc_inq_varid(nc, v_name.c_str(), &v) == NC_NOERR) {
            options.u_var = pair;
            options.v_var = v_name;
            return;
        }
    }
    if (grids.size() == 1) options.scalar_var = grids[0].name;
}

bool CoordinateRises(int nc, int dim, size_t length, bool& rises) {
    char dim_name[NC_MAX_NAME + 1] = {};
    int coordinate, ndims;
    if (length < 2 || nc_inq_dimname(nc, dim, dim_name) != NC_NOERR ||
        nc_inq_varid(nc, dim_name, &coordinate) != NC_NOERR || nc_inq_varndims(nc, coordinate, &ndims) != NC_NOERR ||
        ndims != 1) {
        return false;
    }
    double first, last;
    const size_t start = 0, end = length - 1;
    if (nc_get_var1_double(nc, coordinate, &start, &first) != NC_NOERR ||
        nc_get_var1_double(nc, coordinate, &end, &last) != NC_NOERR) {
        return false;
    }
    rises = first < last;
    return true;
}

// How the stored numbers of a variable become values: which are missing, and the scale
// and offset of packed data.
struct Unpacking {
    std::vector<double> missing;
    double valid_min = -std::numeric_limits<double>::infinity();
    double valid_max = std::numeric_limits<double>::infinity();
    double scale = 1.0;
    double offset = 0.0;
};

// Refuses what would turn every sample into nonsense rather than guess: a scale of 0 or
// not finite, an offset not finite, a valid range that excludes everything, a fill value
// whose type is not the variable's (the format requires it, and its number would be
// compared in the wrong type).
bool ReadUnpacking(int nc, const NcVariable& v, Unpacking& u, std::string& error) {
    const std::string var = "variable " + QuoteFileText(v.name);
    nc_type fill_type;
    if (nc_inq_atttype(nc, v.id, "_FillValue", &fill_type) == NC_NOERR && fill_type != v.type) {
        error = var + " has a _FillValue of another type than its data";
        return false;
    }
    // Fill and missing values, and the valid range, are in the stored (packed) numbers.
    u.missing = NumberAttribute(nc, v.id, "missing_value");
    std::vector<double> fill = NumberAttribute(nc, v.id, "_FillValue");
    if (fill.empty()) {
        // Without its own fill value a variable's unwritten samples hold the library's default.
        switch (v.type) {
            case NC_SHORT:
                fill = {NC_FILL_SHORT};
                break;
            case NC_INT:
                fill = {NC_FILL_INT};
                break;
            case NC_FLOAT:
                fill = {NC_FILL_FLOAT};
                break;
            case NC_DOUBLE:
                fill = {NC_FILL_DOUBLE};
                break;
            default:
                break;
        }
    }
    u.missing.insert(u.missing.end(), fill.begin(), fill.end());
    const std::vector<double> range = NumberAttribute(nc, v.id, "valid_range");
    const std::vector<double> lo = NumberAttribute(nc, v.id, "valid_min");
    const std::vector<double> hi = NumberAttribute(nc, v.id, "valid_max");
    if (range.size() == 2) {
        u.valid_min = range[0];
        u.valid_max = range[1];
    }
    if (!lo.empty()) u.valid_min = lo[0];
    if (!hi.empty()) u.valid_max = hi[0];
    if (std::isnan(u.valid_min) || std::isnan(u.valid_max) || u.valid_min > u.valid_max) {
        error = var + " has a valid range from " + std::to_string(u.valid_min) + " to " + std::to_string(u.valid_max) +
                ", which no value lies in";
        return false;
    }
    const std::vector<double> scale = NumberAttribute(nc, v.id, "scale_factor");
    const std::vector<double> offset = NumberAttribute(nc, v.id, "add_offset");
    if (!scale.empty()) u.scale = scale[0];
    if (!offset.empty()) u.offset = offset[0];
    if (!std::isfinite(u.scale) || u.scale == 0.0) {
        error = var + " has a scale_factor of " + std::to_string(u.scale) + "; it must be a finite number other than 0";
        return false;
    }
    if (!std::isfinite(u.offset)) {
        error = var + " has an add_offset of " + std::to_string(u.offset) + "; it must be finite";
        return false;
    }
    return true;
}

// The library holds a whole chunk of a netCDF-4 variable in memory to read any part of it,
// so a chunk may be no larger than the largest slice read: a pair of 4000 x 4000 doubles.
bool ChunksFit(int nc, const NcVariable& v, std::string& error) {
    int format = 0, storage = 0;
    size_t type_bytes = 0;
    size_t chunks[NC_MAX_VAR_DIMS] = {};
    if (nc_inq_format(nc, &format) != NC_NOERR || (format != NC_FORMAT_NETCDF4 && format != NC_FORMAT_NETCDF4_CLASSIC))
        return true;
    if (v.dims.size() > 4 || nc_inq_var_chunking(nc, v.id, &storage, chunks) != NC_NOERR || storage != NC_CHUNKED ||
        nc_inq_type(nc, v.type, nullptr, &type_bytes) != NC_NOERR)
        return true;
    long double bytes = static_cast<long double>(type_bytes);
    for (std::size_t k = 0; k < v.dims.size(); ++k) bytes *= static_cast<long double>(chunks[k]);
    if (bytes <= static_cast<long double>(kMaxChunkBytes)) return true;
    error = "variable " + QuoteFileText(v.name) + " is stored in chunks of " +
            std::to_string(static_cast<unsigned long long>(std::min<long double>(bytes, 1e19L))) + " bytes; at most " +
            std::to_string(kMaxChunkBytes) + " are read";
    return false;
}

// The coordinate variable of dimension `dim` as ReadSlice displays it (rows flipped when it
// rises, columns when it falls, judged on the stored numbers as there), unpacked, with a
// fill value as NaN; left empty when the dimension has no 1-D coordinate variable.
void ReadAxis(int nc, int dim, size_t length, bool rows, FieldAxis& axis) {
    char dim_name[NC_MAX_NAME + 1];
    int coordinate, ndims, coordinate_dim;
    if (nc_inq_dimname(nc, dim, dim_name) != NC_NOERR || nc_inq_varid(nc, dim_name, &coordinate) != NC_NOERR ||
        nc_inq_varndims(nc, coordinate, &ndims) != NC_NOERR || ndims != 1 ||
        nc_inq_vardimid(nc, coordinate, &coordinate_dim) != NC_NOERR || coordinate_dim != dim) {
        return;
    }
    nc_type type;
    if (nc_inq_vartype(nc, coordinate, &type) != NC_NOERR || type == NC_CHAR || type == NC_STRING || type >= NC_VLEN)
        return;
    std::vector<double> values(length);
    if (length == 0 || nc_get_var_double(nc, coordinate, values.data()) != NC_NOERR) return;
    const bool flip = length >= 2 && (rows ? values.front() < values.back() : values.front() > values.back());
    const std::vector<double> fill = NumberAttribute(nc, coordinate, "_FillValue");
    const std::vector<double> scale = NumberAttribute(nc, coordinate, "scale_factor");
    const std::vector<double> offset = NumberAttribute(nc, coordinate, "add_offset");
    for (double& value : values) {
        if (!fill.empty() && value == fill[0]) value = kNaN;
        value = value * (scale.empty() ? 1.0 : scale[0]) + (offset.empty() ? 0.0 : offset[0]);
    }
    if (flip) std::reverse(values.begin(), values.end());
    axis.values = std::move(values);
    axis.name = dim_name;
    axis.units = TextAttribute(nc, coordinate, "units");
    axis.standard_name = TextAttribute(nc, coordinate, "standard_name");
}

void ReadAxes(int nc, const NcVariable& v, ImportGrid& grid) {
    const std::size_t n = v.dims.size();
    ReadAxis(nc, v.dims[n - 1], v.lengths[n - 1], false, grid.x_axis);
    ReadAxis(nc, v.dims[n - 2], v.lengths[n - 2], true, grid.y_axis);
}

// Reads one 2-D slice of `v`, unpacked, with missing data as NaN, rows north at the top.
int ReadSlice(int nc, const NcVariable& v, const ImportOptions& options, std::vector<double>& out, std::string& error) {
    const std::size_t n = v.dims.size();
    size_t start[4] = {0, 0, 0, 0};
    size_t count[4] = {1, 1, 1, 1};
    const struct {
        int position;
        int index;
        const char* what;
    } leading[] = {{v.time_dim, options.time_index, "time"}, {v.level_dim, options.level_index, "level"}};
    for (const auto& l : leading) {
        if (l.position < 0) {
            if (l.index != 0) {
                error = "variable " + QuoteFileText(v.name) + " has no " + l.what + " dimension, so " + l.what +
                        " index " + std::to_string(l.index) + " does not exist";
                return 0;
            }
            continue;
        }
        const size_t length = v.lengths[static_cast<std::size_t>(l.position)];
        if (l.index < 0 || static_cast<size_t>(l.index) >= length) {
            error = std::string(l.what) + " index " + std::to_string(l.index) + " is out of range 0.." +
                    std::to_string(static_cast<long long>(length) - 1) + " for variable " + QuoteFileText(v.name);
            return 0;
        }
        start[l.position] = static_cast<size_t>(l.index);
    }
    const size_t height = v.lengths[n - 2], width = v.lengths[n - 1];
    count[n - 2] = height;
    count[n - 1] = width;
    if (!SideInRange(static_cast<long long>(width), static_cast<long long>(height), error)) return 0;
    Unpacking unpack;
    if (!ReadUnpacking(nc, v, unpack, error) || !ChunksFit(nc, v, error)) return 0;
    std::vector<double> raw(width * height);
    const int status = nc_get_vara_double(nc, v.id, start, count, raw.data());
    if (status != NC_NOERR) {
        error = "variable " + QuoteFileText(v.name) + " cannot be read: " + nc_strerror(status);
        return 0;
    }
    const std::vector<double>& missing = unpack.missing;
    const double valid_min = unpack.valid_min, valid_max = unpack.valid_max, s = unpack.scale, o = unpack.offset;

    bool flip_rows = false, flip_columns = false;
    bool rises = false;
    if (CoordinateRises(nc, v.dims[n - 2], height, rises)) flip_rows = rises;  // south to north
    if (CoordinateRises(nc, v.dims[n - 1], width, rises)) flip_columns = !rises;
    out.resize(raw.size());
    for (size_t r = 0; r < height; ++r) {
        for (size_t c = 0; c < width; ++c) {
            double value = raw[r * width + c];
            bool gone = std::isnan(value) || value < valid_min || value > valid_max;
            for (double m : missing) gone = gone || value == m;
            value = gone ? kNaN : value * s + o;
            const size_t row = flip_rows ? height - 1 - r : r;
            const size_t col = flip_columns ? width - 1 - c : c;
            out[row * width + col] = value;
        }
    }
    return 1;
}

int FindVariable(int nc, const std::string& name, NcVariable& v, std::string& error) {
    int id;
    if (nc_inq_varid(nc, name.c_str(), &id) != NC_NOERR) {
        error = "has no variable " + QuoteFileText(name);
        return 0;
    }
    if (!Inspect(nc, id, v) || !IsGrid(v)) {
        error = "variable " + QuoteFileText(name) + " is no numeric grid of 2 to 4 dimensions";
        return 0;
    }
    return 1;
}

bool IsClassicNetcdf(const char* path) {
    long length = -1;
    std::FILE* file = OpenRegularFile(path, length);
    if (!file) return false;
    char magic[3] = {};
    const bool classic = std::fread(magic, 1, 3, file) == 3 && !std::memcmp(magic, "CDF", 3);
    std::fclose(file);
    return classic;
}

std::string Describe(int nc, const NcVariable& v) {
    std::string name = TextAttribute(nc, v.id, "long_name");
    return name.empty() ? v.name : name;
}

}  // namespace

int ReadNetcdf(const char* path, const ImportOptions& options, ImportGrid& grid, std::string& error,
               ImportContents* contents) {
    // A classic header is checked before the library reads it: the library would allocate
    // whatever its counts claim, and reads the data of a file cut short as zeros.
    if (IsClassicNetcdf(path) && !CheckClassicNetcdfFile(path, error)) return 0;
    NcFile file;
    const int status = nc_open(path, NC_NOWRITE, &file.id);
    if (status != NC_NOERR) {
        file.id = -1;
        error = std::string("cannot be read as NetCDF: ") + nc_strerror(status);
        return 0;
    }
    const int nc = file.id;
    const std::vector<NcVariable> grids = Grids(nc);
    ImportOptions chosen = options;
    if (chosen.scalar_var.empty() && chosen.u_var.empty() && chosen.v_var.empty()) DefaultChoice(nc, grids, chosen);
    if (contents) {
        for (const NcVariable& v : grids) {
            ImportVariable entry;
            entry.name = v.name;
            entry.long_name = TextAttribute(nc, v.id, "long_name");
            entry.units = TextAttribute(nc, v.id, "units");
            entry.standard_name = TextAttribute(nc, v.id, "standard_name");
            entry.height = static_cast<int>(std::min<size_t>(v.lengths[v.dims.size() - 2], 1u << 30));
            entry.width = static_cast<int>(std::min<size_t>(v.lengths[v.dims.size() - 1], 1u << 30));
            if (v.time_dim >= 0) entry.times = static_cast<int>(std::min<size_t>(v.lengths[0], 1u << 30));
            if (v.level_dim >= 0) entry.levels = static_cast<int>(std::min<size_t>(v.lengths[v.level_dim], 1u << 30));
            contents->variables.push_back(entry);
        }
        contents->defaults = chosen;
        if (grids.empty()) {
            error = "holds no variable that is a grid";
            return 0;
        }
        return 1;
    }

    if (!chosen.scalar_var.empty()) {
        NcVariable s;
        if (!FindVariable(nc, chosen.scalar_var, s, error) || !ReadSlice(nc, s, chosen, grid.values, error)) return 0;
        grid.width = static_cast<int>(s.lengths.back());
        grid.height = static_cast<int>(s.lengths[s.dims.size() - 2]);
        grid.components = 1;
        grid.v_up = true;  // what an angle counts towards
        grid.name = Describe(nc, s);
        grid.units = TextAttribute(nc, s.id, "units");
        ReadAxes(nc, s, grid);
        return 1;
    }
    if (chosen.u_var.empty() || chosen.v_var.empty()) {
        std::string names;
        for (std::size_t k = 0; k < grids.size() && k < 20; ++k)
            names += (k ? ", " : "") + QuoteFileText(grids[k].name);
        if (grids.size() > 20) names += ", ...";
        error = "has no eastward/northward pair and no variables u and v; choose the variables (grids: " +
                (names.empty() ? std::string("none") : names) + ")";
        return 0;
    }
    NcVariable u, v;
    if (!FindVariable(nc, chosen.u_var, u, error) || !FindVariable(nc, chosen.v_var, v, error)) return 0;
    if (u.lengths != v.lengths) {
        error = QuoteFileText(u.name) + " and " + QuoteFileText(v.name) + " have different shapes";
        return 0;
    }
    std::vector<double> us, vs;
    if (!ReadSlice(nc, u, chosen, us, error) || !ReadSlice(nc, v, chosen, vs, error)) return 0;
    grid.width = static_cast<int>(u.lengths.back());
    grid.height = static_cast<int>(u.lengths[u.dims.size() - 2]);
    grid.components = 2;
    grid.values.resize(2 * us.size());
    for (std::size_t i = 0; i < us.size(); ++i) {
        grid.values[2 * i] = us[i];
        grid.values[2 * i + 1] = vs[i];
    }
    grid.v_up = true;
    grid.name = u.name + ", " + v.name;
    grid.units = TextAttribute(nc, u.id, "units");
    ReadAxes(nc, u, grid);
    return 1;
}

}  // namespace flowloom::import_detail
