// Classic NetCDF files built byte by byte, each with one fault that a writer would never
// make: the importer must refuse them with a message that names the fault, before the
// netCDF library has allocated what their headers claim.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "fieldio/field_import.h"
#include "fieldio/field_import_readers.h"
#include "support/test_support.h"

namespace flowloom {
namespace {

using Bytes = std::vector<unsigned char>;

void Big(Bytes& out, uint64_t value, int bytes) {
    for (int i = bytes - 1; i >= 0; --i) out.push_back(static_cast<unsigned char>(value >> (8 * i)));
}

void Name(Bytes& out, const std::string& name) {
    Big(out, name.size(), 4);
    out.insert(out.end(), name.begin(), name.end());
    while (out.size() % 4) out.push_back(0);
}

struct Attribute {
    std::string name;
    uint32_t type = 6;  // double
    std::vector<double> values;
    int64_t claimed = -1;  // the count written, when not the number of values
};

struct Variable {
    std::string name;
    std::vector<uint32_t> dims;
    std::vector<Attribute> attributes;
    int64_t begin = -1;  // -1: where the data is put
};

// A CDF-1 file of float variables over fixed dimensions; each variable's data follows the
// header in order, sample i of a variable holding i + 0.5.
struct ClassicFile {
    std::vector<std::pair<std::string, uint32_t>> dims = {{"y", 2}, {"x", 3}};
    std::vector<Attribute> globals;
    std::vector<Variable> vars = {{"u", {0, 1}, {}}, {"v", {0, 1}, {}}};
    int64_t claimed_globals = -1;

    static void Attributes(Bytes& out, const std::vector<Attribute>& list, int64_t claimed) {
        if (list.empty() && claimed < 0) {
            Big(out, 0, 8);
            return;
        }
        Big(out, 0x0C, 4);
        Big(out, claimed >= 0 ? static_cast<uint64_t>(claimed) : list.size(), 4);
        for (const Attribute& a : list) {
            Name(out, a.name);
            Big(out, a.type, 4);
            Big(out, a.claimed >= 0 ? static_cast<uint64_t>(a.claimed) : a.values.size(), 4);
            for (double v : a.values) {
                if (a.type == 6) {
                    uint64_t bits;
                    std::memcpy(&bits, &v, 8);
                    Big(out, bits, 8);
                } else if (a.type == 5) {
                    const float f = static_cast<float>(v);
                    uint32_t bits;
                    std::memcpy(&bits, &f, 4);
                    Big(out, bits, 4);
                } else {
                    Big(out, static_cast<uint64_t>(static_cast<int64_t>(v)), 4);  // int
                }
            }
        }
    }

    uint64_t Samples(const Variable& v) const {
        uint64_t n = 1;
        for (uint32_t d : v.dims) n *= d < dims.size() ? dims[d].second : 1;
        return n;
    }

    Bytes Encode() const {
        Bytes head = {'C', 'D', 'F', 1};
        Big(head, 0, 4);  // records
        Big(head, 0x0A, 4);
        Big(head, dims.size(), 4);
        for (const auto& [name, length] : dims) {
            Name(head, name);
            Big(head, length, 4);
        }
        Attributes(head, globals, claimed_globals);
        Big(head, 0x0B, 4);
        Big(head, vars.size(), 4);
        std::vector<std::size_t> begins;
        for (const Variable& v : vars) {
            Name(head, v.name);
            Big(head, v.dims.size(), 4);
            for (uint32_t d : v.dims) Big(head, d, 4);
            Attributes(head, v.attributes, -1);
            Big(head, 5, 4);               // float
            Big(head, 4 * Samples(v), 4);  // vsize
            begins.push_back(head.size());
            Big(head, 0, 4);  // begin, filled in below
        }
        Bytes out = head;
        for (std::size_t k = 0; k < vars.size(); ++k) {
            const uint64_t at = vars[k].begin >= 0 ? static_cast<uint64_t>(vars[k].begin) : out.size();
            for (int i = 0; i < 4; ++i) out[begins[k] + i] = static_cast<unsigned char>(at >> (8 * (3 - i)));
            // A dimension that claims more than the file holds gets no data at all.
            const uint64_t samples = Samples(vars[k]) <= 4096 ? Samples(vars[k]) : 0;
            for (uint64_t i = 0; i < samples; ++i) {
                const float f = static_cast<float>(i) + 0.5f;
                uint32_t bits;
                std::memcpy(&bits, &f, 4);
                Big(out, bits, 4);
            }
        }
        return out;
    }
};

long PeakResidentKilobytes() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

std::string ImportError(const test::TempDir& dir, const Bytes& bytes, ImportOptions options = ImportOptions()) {
    const std::string path = dir.File("case.nc");
    test::WriteFileBytes(path, bytes);
    ImportedField field;
    std::string error;
    EXPECT_EQ(ImportFieldFile(path.c_str(), options, field, error), 0);
    EXPECT_FALSE(field.vectors);
    EXPECT_EQ(error.rfind(path + ": ", 0), 0u) << error;  // the message names the file
    return error;
}

TEST(NetcdfHostile, TheBuiltFileReads) {
    test::TempDir dir;
    const std::string path = dir.File("good.nc");
    test::WriteFileBytes(path, ClassicFile().Encode());
    ImportedField field;
    std::string error;
    ASSERT_EQ(ImportFieldFile(path.c_str(), ImportOptions(), field, error), 1) << error;
    EXPECT_EQ(field.width, 3);
    EXPECT_EQ(field.height, 2);
    EXPECT_EQ(field.vectors[0], 0.5f);   // u
    EXPECT_EQ(field.vectors[1], -0.5f);  // v points north, vy down
}

TEST(NetcdfHostile, HeadersThatLieAreRefusedBeforeTheLibraryAllocates) {
    struct Case {
        const char* what;
        ClassicFile file;
        const char* message;
    };
    auto with = [](auto change) {
        ClassicFile f;
        change(f);
        return f;
    };
    const std::string long_name(300, 'n');
    const Case cases[] = {
        {"long variable name", with([&](ClassicFile& f) { f.vars[0].name = long_name; }), "names have at most 256"},
        {"long dimension name", with([&](ClassicFile& f) { f.dims[1].first = long_name; }), "names have at most 256"},
        {"long attribute name", with([&](ClassicFile& f) {
             f.vars[1].attributes = {{long_name, 6, {1.0}}};
         }),
         "names have at most 256"},
        {"attribute count", with([](ClassicFile& f) {
             f.globals = {{"title", 6, {1.0}}};
             f.claimed_globals = 0x7FFFFFFF;
         }),
         "claims 2147483647 attributes of the file"},
        {"attribute values", with([](ClassicFile& f) {
             f.globals = {{"big", 6, {1.0}, 0x7FFFFFFF}};
         }),
         "claims 2147483647 values"},
        {"dimension id", with([](ClassicFile& f) {
             f.vars[0].dims = {0, 7};
         }),
         "dimension 7, which does not exist"},
        {"too many dimensions", with([](ClassicFile& f) { f.vars[0].dims.assign(1100, 0); }), "has 1100 dimensions"},
        {"data past the end", with([](ClassicFile& f) { f.vars[1].begin = 1 << 30; }), "is cut short: variable 'v'"},
        {"data in the header", with([](ClassicFile& f) { f.vars[0].begin = 8; }), "inside the header"},
        {"huge dimension", with([](ClassicFile& f) { f.dims[0].second = 0x7FFFFFFF; }), "is cut short"},
    };
    test::TempDir dir;
    const long before = PeakResidentKilobytes();
    for (const Case& c : cases) {
        const std::string error = ImportError(dir, c.file.Encode());
        EXPECT_NE(error.find(c.message), std::string::npos) << c.what << ": " << error;
    }
    // A header that claims gigabytes costs no more than the file it is in.
    EXPECT_LT(PeakResidentKilobytes() - before, 64 * 1024);

    // Every prefix of a good file is refused by the check, never handed on.
    const Bytes good = ClassicFile().Encode();
    for (std::size_t n = 0; n < good.size(); ++n) {
        std::string error;
        EXPECT_FALSE(import_detail::CheckClassicNetcdfHeader(Bytes(good.begin(), good.begin() + n), n, error)) << n;
        EXPECT_FALSE(error.empty()) << n;
    }
}

TEST(NetcdfHostile, PackingThatCannotBeMeantIsRefused) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    struct Case {
        const char* what;
        std::vector<Attribute> attributes;
        const char* message;
    };
    const Case cases[] = {
        {"scale 0", {{"scale_factor", 6, {0.0}}}, "scale_factor of 0"},
        {"scale NaN", {{"scale_factor", 6, {nan}}}, "scale_factor of nan"},
        {"scale Inf", {{"scale_factor", 6, {inf}}}, "scale_factor of inf"},
        {"offset Inf", {{"add_offset", 6, {-inf}}}, "add_offset of -inf"},
        {"inverted range", {{"valid_range", 6, {5.0, -5.0}}}, "which no value lies in"},
        {"min above max", {{"valid_min", 6, {1.0}}, {"valid_max", 6, {0.0}}}, "which no value lies in"},
        {"fill of another type", {{"_FillValue", 6, {0.5}}}, "_FillValue of another type"},
    };
    test::TempDir dir;
    for (const Case& c : cases) {
        ClassicFile f;
        f.vars[1].attributes = c.attributes;
        const std::string error = ImportError(dir, f.Encode());
        EXPECT_NE(error.find("variable 'v' has"), std::string::npos) << c.what << ": " << error;
        EXPECT_NE(error.find(c.message), std::string::npos) << c.what << ": " << error;
    }
    // A fill value of the variable's own type still masks.
    ClassicFile f;
    f.vars[0].attributes = {{"_FillValue", 5, {0.5}}};
    const std::string path = dir.File("fill.nc");
    test::WriteFileBytes(path, f.Encode());
    ImportedField field;
    std::string error;
    ASSERT_EQ(ImportFieldFile(path.c_str(), ImportOptions(), field, error), 1) << error;
    EXPECT_TRUE(std::isnan(field.vectors[0]));
}

}  // namespace
}  // namespace flowloom
