// Tables: a header line naming the columns, then one grid point per line, in any order.
#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <limits>
#include <string>
#include <string_view>
#include <vector>

#include "fieldio/field_import_readers.h"
#include "lic/field_mask.h"

namespace flowloom::import_detail {

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

std::string_view Trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t' || s.front() == '\r')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) s.remove_suffix(1);
    if (s.size() >= 2 && s.front() == '"' && s.back() == '"') s = s.substr(1, s.size() - 2);
    return s;
}

void SplitCells(std::string_view line, std::vector<std::string_view>& cells) {
    cells.clear();
    for (;;) {
        const std::size_t comma = line.find(',');
        cells.push_back(Trim(line.substr(0, comma)));
        if (comma == std::string_view::npos) return;
        line.remove_prefix(comma + 1);
    }
}

std::string Lower(std::string_view s) {
    std::string out(s);
    for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

// The index of the first header name in `names` (case-insensitive), or -1.
int FindColumn(const std::vector<std::string>& header, std::initializer_list<std::string_view> names) {
    for (std::string_view name : names)
        for (std::size_t k = 0; k < header.size(); ++k)
            if (header[k] == Lower(name)) return static_cast<int>(k);
    return -1;
}

// A number in the C locale whatever the process's locale; empty, NA and NaN cells are missing.
bool ParseNumber(std::string_view cell, double& value) {
    const std::string lower = Lower(cell);
    if (lower.empty() || lower == "na" || lower == "nan") {
        value = kNaN;
        return true;
    }
    const char* first = cell.data();
    if (*first == '+') ++first;
    const auto [end, ec] = std::from_chars(first, cell.data() + cell.size(), value);
    return ec == std::errc() && end == cell.data() + cell.size();
}

std::string Number(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.9g", value);
    return text;
}

// The sorted distinct values of one coordinate, which must be evenly spaced unless the
// coordinates convert the field (their spacing is then honoured, whatever it is).
bool RegularAxis(std::vector<double> values, std::vector<double>& axis, const std::string& name, bool even,
                 std::string& error) {
    std::sort(values.begin(), values.end());
    values.erase(std::unique(values.begin(), values.end()), values.end());
    axis = std::move(values);
    if (axis.size() > static_cast<std::size_t>(kMaxFieldSide)) return true;  // the size check names it
    if (!even) {
        // Uneven spacing is honoured, but two values a hundredth of the typical spacing
        // apart are one coordinate printed twice, not a column of its own.
        if (axis.size() < 3) return true;
        std::vector<double> gaps(axis.size() - 1);
        for (std::size_t k = 0; k + 1 < axis.size(); ++k) gaps[k] = axis[k + 1] - axis[k];
        std::vector<double> sorted(gaps);
        std::nth_element(sorted.begin(), sorted.begin() + static_cast<std::ptrdiff_t>(sorted.size() / 2), sorted.end());
        const double typical = sorted[sorted.size() / 2];
        for (std::size_t k = 0; k < gaps.size(); ++k) {
            if (gaps[k] < 0.01 * typical) {
                error = "the points' " + QuoteFileText(name) + " values " + Number(axis[k]) + " and " +
                        Number(axis[k + 1]) + " nearly repeat: they are too close together to be two lines of the grid";
                return false;
            }
        }
        return true;
    }
    const double intervals = static_cast<double>(axis.size() > 1 ? axis.size() - 1 : 1);
    // A span beyond the largest double (values near +-1e308) would make the spacing
    // infinite and every point fit it: such an axis is measured in halves.
    const double scale = std::isfinite(axis.back() - axis.front()) ? 1.0 : 0.5;
    const double step = (axis.back() * scale - axis.front() * scale) / intervals;
    for (std::size_t k = 0; k < axis.size(); ++k) {
        // Coordinates printed with few digits wander a little; a point off by a hundredth of
        // the spacing is taken to be on the grid.
        if (std::abs(axis[k] * scale - (axis.front() * scale + static_cast<double>(k) * step)) > 0.01 * step) {
            error = "the points do not lie on a regular grid: " + QuoteFileText(name) + " = " + Number(axis[k]) +
                    " is off the even spacing";
            return false;
        }
    }
    return true;
}

std::size_t IndexOf(const std::vector<double>& axis, double value) {
    return static_cast<std::size_t>(std::lower_bound(axis.begin(), axis.end(), value) - axis.begin());
}

}  // namespace

int ReadCsv(const std::vector<unsigned char>& bytes, const ImportOptions& options, ImportGrid& grid,
            std::string& error) {
    std::string_view text(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
    auto next_line = [&text](std::string_view& line) {
        if (text.empty()) return false;
        const std::size_t end = text.find('\n');
        line = text.substr(0, end);
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        return true;
    };
    std::string_view line;
    std::vector<std::string_view> cells;
    if (!next_line(line)) {
        error = "the table has no header line";
        return 0;
    }
    SplitCells(line, cells);
    std::vector<std::string> header;
    for (std::string_view cell : cells) header.push_back(Lower(cell));

    const int x = FindColumn(header, {"x", "lon", "longitude"});
    const int y = FindColumn(header, {"y", "lat", "latitude"});
    std::vector<int> value_columns;
    std::vector<std::string> value_names;
    auto want = [&](const std::string& chosen, std::initializer_list<std::string_view> defaults) {
        const int k = chosen.empty() ? FindColumn(header, defaults) : FindColumn(header, {chosen});
        value_columns.push_back(k);
        value_names.push_back(chosen.empty() ? std::string(*defaults.begin()) : chosen);
    };
    if (!options.scalar_var.empty()) {
        want(options.scalar_var, {});
    } else {
        want(options.u_var, {"u", "vx"});
        want(options.v_var, {"v", "vy"});
        // A table of one value column besides the coordinates is a scalar grid.
        if (options.u_var.empty() && options.v_var.empty() && value_columns[0] < 0 && value_columns[1] < 0 && x >= 0 &&
            y >= 0 && header.size() == 3) {
            value_columns = {3 - x - y};
            value_names = {header[static_cast<std::size_t>(3 - x - y)]};
        }
    }
    std::vector<int> columns = {x, y};
    std::vector<std::string> names = {"x (or lon)", "y (or lat)"};
    columns.insert(columns.end(), value_columns.begin(), value_columns.end());
    names.insert(names.end(), value_names.begin(), value_names.end());
    for (std::size_t k = 0; k < columns.size(); ++k) {
        if (columns[k] >= 0) continue;
        std::string all;
        for (std::size_t h = 0; h < header.size() && h < 20; ++h) all += (h ? ", " : "") + QuoteFileText(header[h]);
        if (header.size() > 20) all += ", ...";
        error = "the table has no column " + names[k] + " (its columns: " + all + ")";
        return 0;
    }
    const int components = static_cast<int>(value_columns.size());

    std::vector<double> xs, ys, values;
    std::vector<long> line_numbers;
    long number = 1;
    const std::size_t max_points = static_cast<std::size_t>(kMaxFieldSide) * kMaxFieldSide;
    while (next_line(line)) {
        ++number;
        if (Trim(line).empty()) continue;
        SplitCells(line, cells);
        double point[4];
        for (std::size_t k = 0; k < columns.size(); ++k) {
            const std::size_t column = static_cast<std::size_t>(columns[k]);
            const std::string_view cell = column < cells.size() ? cells[column] : std::string_view();
            if (column >= cells.size() || !ParseNumber(cell, point[k]) || (k < 2 && !std::isfinite(point[k]))) {
                error = "line " + std::to_string(number) + ", column " + QuoteFileText(header[column]) + ": " +
                        QuoteFileText(cell) + " is not a number";
                return 0;
            }
        }
        if (xs.size() == max_points) {
            error = "the table has more points than a grid of 4000 x 4000";
            return 0;
        }
        xs.push_back(point[0]);
        ys.push_back(point[1]);
        for (int k = 0; k < components; ++k) values.push_back(point[2 + k]);
        line_numbers.push_back(number);
    }
    if (xs.empty()) {
        error = "the table has no points";
        return 0;
    }
    std::vector<double> x_axis, y_axis;
    const bool even = options.coordinates != Coordinates::kGrid && options.coordinates != Coordinates::kGeographic;
    if (!RegularAxis(xs, x_axis, header[static_cast<std::size_t>(x)], even, error) ||
        !RegularAxis(ys, y_axis, header[static_cast<std::size_t>(y)], even, error)) {
        return 0;
    }
    if (!SideInRange(static_cast<long long>(x_axis.size()), static_cast<long long>(y_axis.size()), error)) return 0;
    const int width = static_cast<int>(x_axis.size());
    const int height = static_cast<int>(y_axis.size());
    // Every grid point starts missing; the largest y is the top row.
    grid.values.assign(static_cast<std::size_t>(width) * height * components, kNaN);
    std::vector<unsigned char> seen(static_cast<std::size_t>(width) * height, 0);
    for (std::size_t p = 0; p < xs.size(); ++p) {
        const std::size_t sample =
            (static_cast<std::size_t>(height) - 1 - IndexOf(y_axis, ys[p])) * width + IndexOf(x_axis, xs[p]);
        if (seen[sample]) {
            error = "line " + std::to_string(line_numbers[p]) + " repeats the point (" + Number(xs[p]) + ", " +
                    Number(ys[p]) + ")";
            return 0;
        }
        seen[sample] = 1;
        for (int k = 0; k < components; ++k) grid.values[sample * components + k] = values[p * components + k];
    }
    grid.x_axis.values = x_axis;
    grid.x_axis.name = header[static_cast<std::size_t>(x)];
    grid.y_axis.values.assign(y_axis.rbegin(), y_axis.rend());
    grid.y_axis.name = header[static_cast<std::size_t>(y)];
    grid.width = width;
    grid.height = height;
    grid.components = components;
    grid.v_up = true;
    grid.name = components == 2 ? header[static_cast<std::size_t>(value_columns[0])] + ", " +
                                      header[static_cast<std::size_t>(value_columns[1])]
                                : header[static_cast<std::size_t>(value_columns[0])];
    return 1;
}

}  // namespace flowloom::import_detail
