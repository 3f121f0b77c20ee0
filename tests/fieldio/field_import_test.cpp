#include "fieldio/field_import.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "lic/field_file.h"
#include "support/test_support.h"

namespace flowloom {
namespace {

const char kPython[] = "/usr/bin/python3";

// Writes the files of one 7 x 5 field with NumPy and netCDF4, each in its own convention,
// and the same numbers as a binary .vec file written by hand.
const char kWriteEveryFormat[] = R"(
import sys, struct, random, numpy as np, netCDF4
d = sys.argv[1]
random.seed(11)
H, W = 5, 7
f = np.array([[[random.uniform(-3, 3) for k in range(2)] for c in range(W)] for r in range(H)], dtype='<f4')
with open(d + '/field.vec', 'wb') as out:
    out.write(struct.pack('<ii', W, H) + f.tobytes())
np.save(d + '/hw2.npy', f)
np.save(d + '/2hw.npy', np.asfortranarray(np.moveaxis(f, 2, 0).astype('>f8')))
np.savez_compressed(d + '/uv.npz', u=f[:, :, 0], v=f[:, :, 1])
np.savez(d + '/mismatch.npz', u=f[:, :, 0], v=f[:, 1:, 1])
# Geographic files: v points north (up), so v = -vy; lat rising means the rows are stored south first.
for name, fmt, rising in (('n4.nc', 'NETCDF4', False), ('n3.nc', 'NETCDF3_CLASSIC', True)):
    ds = netCDF4.Dataset(d + '/' + name, 'w', format=fmt)
    ds.createDimension('lat', H); ds.createDimension('lon', W)
    lat = ds.createVariable('lat', 'f4', ('lat',))
    lat[:] = np.arange(H) if rising else np.arange(H)[::-1]
    for var, values in (('u', f[:, :, 0]), ('v', -f[:, :, 1])):
        x = ds.createVariable(var, 'f4', ('lat', 'lon'))
        x[:] = values[::-1] if rising else values
    ds.close()
with open(d + '/table.csv', 'w') as out:
    out.write('lon,lat,u,v\n')
    rows = [(c, H - 1 - r, float(f[r, c, 0]), -float(f[r, c, 1])) for r in range(H) for c in range(W)]
    random.shuffle(rows)
    for row in rows: out.write(','.join(repr(x) for x in row) + '\n')
)";

bool WriteWithPython(const test::TempDir& dir, const std::string& script) {
    const std::string path = dir.File("write.py");
    std::ofstream(path) << script;
    return test::RunCommand(std::string(kPython) + " " + path + " " + dir.path().string()) == 0;
}

std::vector<float> Import(const std::string& path, const ImportOptions& options = ImportOptions()) {
    ImportedField field;
    std::string error;
    EXPECT_EQ(ImportFieldFile(path.c_str(), options, field, error), 1) << error;
    if (!field.vectors) return {};
    return {field.vectors.get(), field.vectors.get() + 2 * field.width * field.height};
}

std::vector<unsigned char> Bits(const std::vector<float>& v) {
    std::vector<unsigned char> bytes(4 * v.size());
    if (!v.empty()) std::memcpy(bytes.data(), v.data(), bytes.size());
    return bytes;
}

TEST(FieldImport, EveryFormatFromAnotherWriterEqualsTheVecBitForBit) {
    test::TempDir dir;
    ASSERT_TRUE(WriteWithPython(dir, kWriteEveryFormat));
    int width = 0, height = 0;
    MallocBuffer<float> vec(LoadBinaryData(width, height, dir.File("field.vec").c_str()));
    ASSERT_TRUE(vec);
    const std::vector<float> expected(vec.get(), vec.get() + 2 * width * height);
    for (const char* name : {"hw2.npy", "2hw.npy", "uv.npz", "n4.nc", "n3.nc", "table.csv"}) {
        EXPECT_NE(SniffFieldFormat(dir.File(name).c_str()), FieldFormat::kVec) << name;
        EXPECT_EQ(Bits(Import(dir.File(name))), Bits(expected)) << name;
    }
    EXPECT_EQ(SniffFieldFormat(dir.File("field.vec").c_str()), FieldFormat::kVec);
    ImportedField field;
    std::string error;
    EXPECT_EQ(ImportFieldFile(dir.File("mismatch.npz").c_str(), ImportOptions(), field, error), 0);
    EXPECT_NE(error.find("u and v have different shapes (5 x 7 and 5 x 6)"), std::string::npos) << error;
    ImportContents contents;
    ASSERT_EQ(DescribeFieldFile(dir.File("uv.npz").c_str(), contents, error), 1) << error;
    ASSERT_EQ(contents.variables.size(), 2u);
    EXPECT_EQ(contents.variables[1].width, 7);
    EXPECT_EQ(contents.defaults.v_var, "v");
    EXPECT_FALSE(ImportNeedsChoice(contents));
    // A classic file cut short opens; its missing data must not read as zeros.
    std::vector<unsigned char> classic = test::ReadFileBytes(dir.File("n3.nc"));
    classic.resize(classic.size() - 8);
    test::WriteFileBytes(dir.File("cut.nc"), classic);
    EXPECT_EQ(ImportFieldFile(dir.File("cut.nc").c_str(), ImportOptions(), field, error), 0);
    EXPECT_NE(error.find("is cut short"), std::string::npos) << error;
}

// Packed shorts with scale, offset, fill and missing values; a CF pair beside a decoy u/v;
// three times; latitude rising.
const char kWritePacked[] = R"(
import sys, numpy as np, netCDF4
ds = netCDF4.Dataset(sys.argv[1] + '/packed.nc', 'w', format='NETCDF4')
ds.createDimension('time', 3); ds.createDimension('lat', 2); ds.createDimension('lon', 3)
ds.createVariable('lat', 'f8', ('lat',))[:] = [10, 20]
for name in ('u', 'v'): ds.createVariable(name, 'f4', ('lat', 'lon'))[:] = 7
for name, std in (('ew', 'eastward_wind'), ('ns', 'northward_wind')):
    x = ds.createVariable(name, 'i2', ('time', 'lat', 'lon'), fill_value=-999)
    x.set_auto_maskandscale(False)
    x.standard_name = std; x.units = 'm s-1'; x.scale_factor = 0.5; x.add_offset = 1.0
    x.missing_value = np.int16(-1)
    x[:] = np.zeros((3, 2, 3), 'i2')
    x[2] = [[2, -999, 4], [6, 8, -1]]
ds.close()
)";

// A colour variable beside the field in every format that can hold one: packed with a fill
// value and a time axis, stored south first, on a globe whose last column repeats the first.
const char kWriteColourVariables[] = R"(
import sys, numpy as np, netCDF4
d = sys.argv[1]
ds = netCDF4.Dataset(d + '/globe.nc', 'w', format='NETCDF4')
ds.createDimension('time', 2); ds.createDimension('lat', 2); ds.createDimension('lon', 5)
lat = ds.createVariable('lat', 'f8', ('lat',)); lat[:] = [-30, 30]; lat.units = 'degrees_north'
lon = ds.createVariable('lon', 'f8', ('lon',)); lon[:] = [0, 90, 180, 270, 360]; lon.units = 'degrees_east'
for name in ('u', 'v'): ds.createVariable(name, 'f4', ('time', 'lat', 'lon'))[:] = 1
t = ds.createVariable('T', 'i2', ('time', 'lat', 'lon'), fill_value=-999)
t.set_auto_maskandscale(False)
t.scale_factor = 0.5; t.add_offset = 200.0; t.units = 'K'; t.long_name = 'air temperature'
t[:] = np.zeros((2, 2, 5), 'i2')
t[1] = [[1, 2, -999, 4, 1], [5, 6, 7, 8, 5]]
ds.createDimension('other', 2)
ds.createVariable('elsewhere', 'f4', ('other', 'lon'))[:] = 0
ds.close()
np.savez(d + '/uvt.npz', u=np.ones((2, 3), 'f4'), v=np.ones((2, 3), 'f4'), t=np.array([[1, 2, 3], [4, 5, 6]], 'f8'),
         small=np.zeros((2, 2), 'f4'))
np.save(d + '/uv.npy', np.ones((2, 3, 2), 'f4'))
with open(d + '/table.csv', 'w') as out:
    out.write('x,y,u,v,t\n')
    for x, y, t in ((1, 0, 2), (0, 1, 3), (0, 0, 1), (1, 1, 'NA')): out.write(f'{x},{y},1,1,{t}\n')
)";

std::vector<float> ColourOf(const ImportedField& field) {
    if (!field.color_scalar) return {};
    return {field.color_scalar.get(), field.color_scalar.get() + field.width * field.height};
}

TEST(FieldImport, ColourVariableIsReadByTheFieldsRulesOnItsGrid) {
    test::TempDir dir;
    ASSERT_TRUE(WriteWithPython(dir, kWriteColourVariables));
    ImportOptions options;
    options.color_var = "T";
    options.time_index = 1;
    ImportedField field;
    std::string error;
    ASSERT_EQ(ImportFieldFile(dir.File("globe.nc").c_str(), options, field, error), 1) << error;
    // Geographic by default: the repeated 360 degree column is dropped from both, and the
    // north row (stored last) is on top.
    ASSERT_EQ(field.width, 4);
    EXPECT_TRUE(field.periodic_x);
    const float nan = std::nanf("");
    const std::vector<float> expected = {202.5f, 203.0f, 203.5f, 204.0f, 200.5f, 201.0f, nan, 202.0f};
    EXPECT_EQ(Bits(ColourOf(field)), Bits(expected));
    EXPECT_EQ(field.color_units, "K");
    EXPECT_NE(field.color_name.find("air temperature"), std::string::npos) << field.color_name;

    options = ImportOptions();
    options.color_var = "t";
    ASSERT_EQ(ImportFieldFile(dir.File("uvt.npz").c_str(), options, field, error), 1) << error;
    EXPECT_EQ(ColourOf(field), (std::vector<float>{1, 2, 3, 4, 5, 6}));
    // CSV rows come north (largest y) first, whatever their order in the table; NA is missing.
    ASSERT_EQ(ImportFieldFile(dir.File("table.csv").c_str(), options, field, error), 1) << error;
    EXPECT_EQ(Bits(ColourOf(field)), Bits({3.0f, nan, 1.0f, 2.0f}));

    const struct {
        const char* file;
        const char* var;
        const char* message;
    } refused[] = {
        {"uvt.npz", "small", "colour variable 'small' is 2 x 2, the field 3 x 2"},
        {"uvt.npz", "none", "colour variable 'none':"},
        {"uv.npy", "t", "a .npy file holds one array"},
        {"globe.nc", "elsewhere", "colour variable 'elsewhere'"},
    };
    for (const auto& c : refused) {
        options.color_var = c.var;
        ImportedField untouched;
        EXPECT_EQ(ImportFieldFile(dir.File(c.file).c_str(), options, untouched, error), 0) << c.file;
        EXPECT_NE(error.find(c.message), std::string::npos) << error;
        EXPECT_FALSE(untouched.vectors) << "a refused import leaves the field as it was";
    }
}

TEST(FieldImport, NetcdfUnpacksMasksFlipsAndPrefersTheCfPair) {
    test::TempDir dir;
    ASSERT_TRUE(WriteWithPython(dir, kWritePacked));
    ImportOptions options;
    options.time_index = 2;
    ImportedField field;
    std::string error;
    ASSERT_EQ(ImportFieldFile(dir.File("packed.nc").c_str(), options, field, error), 1) << error;
    EXPECT_EQ(field.name, "ew, ns");
    EXPECT_EQ(field.units, "m s-1");
    const float* v = field.vectors.get();
    // Stored south row [2, fill, 4] is the bottom row; north row [6, 8, missing] the top.
    const float top[] = {4.0f, -4.0f, 5.0f, -5.0f};  // 6 * 0.5 + 1, 8 * 0.5 + 1; vy = -v
    for (int k = 0; k < 4; ++k) EXPECT_EQ(v[k], top[k]);
    EXPECT_TRUE(std::isnan(v[4]) && std::isnan(v[5]));  // missing_value
    EXPECT_EQ(v[6], 2.0f);
    EXPECT_TRUE(std::isnan(v[8]));  // _FillValue
    EXPECT_EQ(v[10], 3.0f);

    options.time_index = 3;
    EXPECT_EQ(ImportFieldFile(dir.File("packed.nc").c_str(), options, field, error), 0);
    EXPECT_NE(error.find("time index 3 is out of range 0..2"), std::string::npos) << error;
    options.time_index = 0;
    options.u_var = "nope";
    options.v_var = "ns";
    EXPECT_EQ(ImportFieldFile(dir.File("packed.nc").c_str(), options, field, error), 0);
    EXPECT_NE(error.find("has no variable 'nope'"), std::string::npos) << error;
    ImportContents contents;
    ASSERT_EQ(DescribeFieldFile(dir.File("packed.nc").c_str(), contents, error), 1);
    EXPECT_EQ(contents.defaults.u_var, "ew");
    EXPECT_TRUE(ImportNeedsChoice(contents));
}

TEST(FieldImport, GradientMatchesAHandComputationAndStepsAroundMissingData) {
    // s = column^2 + 10 * row on 3 x 3, with the centre missing in the second grid.
    const double s[9] = {0, 1, 4, 10, 11, 14, 20, 21, 24};
    float v[18];
    ScalarGradient(s, 3, 3, kGradientUphill, v);
    // Row 0: x differences 1 (forward), (4 - 0) / 2, 3 (backward); y forward 10 everywhere.
    const float row0[] = {1, 10, 2, 10, 3, 10};
    for (int k = 0; k < 6; ++k) EXPECT_EQ(v[k], row0[k]) << k;
    EXPECT_EQ(v[2 * 4 + 1], 10.0f);  // centre: (21 - 1) / 2
    ScalarGradient(s, 3, 3, kGradientDownhill, v);
    EXPECT_EQ(v[2], -2.0f);
    double holed[9];
    std::memcpy(holed, s, sizeof holed);
    holed[1] = NAN;
    ScalarGradient(holed, 3, 3, kGradientUphill, v);
    EXPECT_TRUE(std::isnan(v[2]) && std::isnan(v[3]));
    EXPECT_EQ(v[2 * 4 + 1], 10.0f);  // the centre's upper neighbour is missing: 21 - 11
    EXPECT_EQ(v[0], 0.0f);           // no neighbour along the row: no slope
}

// A .npy file by hand: header dictionary, padding, data.
std::vector<unsigned char> Npy(const std::string& dict, std::size_t data_bytes) {
    std::string header = dict;
    while ((10 + header.size() + 1) % 64) header += ' ';
    header += '\n';
    std::vector<unsigned char> out = {0x93, 'N', 'U', 'M', 'P', 'Y', 1, 0};
    out.push_back(static_cast<unsigned char>(header.size()));
    out.push_back(static_cast<unsigned char>(header.size() >> 8));
    out.insert(out.end(), header.begin(), header.end());
    out.resize(out.size() + data_bytes, 0);
    return out;
}

TEST(FieldImport, BadInputFailsWithTheFileAndTheFaultNamed) {
    test::TempDir dir;
    const std::string good = "{'descr': '<f4', 'fortran_order': False, 'shape': (3, 4, 2), }";
    std::vector<unsigned char> truncated = Npy(good, 0);
    truncated.resize(40);
    const struct {
        const char* name;
        std::vector<unsigned char> bytes;
        const char* fault;
    } cases[] = {
        {"truncated.npy", truncated, "truncated"},
        {"short.npy", Npy(good, 95), "the file holds 95"},
        {"complex.npy", Npy("{'descr': '<c8', 'fortran_order': False, 'shape': (3, 4, 2), }", 192), "dtype"},
        {"huge.npy", Npy("{'descr': '<f4', 'fortran_order': False, 'shape': (4001, 2), }", 0), "4001"},
        {"column.csv", {}, "no column v"},
        {"text.csv", {}, "'fast' is not a number"},
        {"twice.csv", {}, "repeats the point"},
        {"scatter.csv", {}, "regular grid"},
        {"corrupt.nc", {0x89, 'H', 'D', 'F', '\r', '\n', 0x1a, '\n', 0, 0, 0, 0, 9, 9, 9, 9}, "NetCDF"},
    };
    const std::string tables[] = {"x,y,u\n0,0,1\n", "x,y,u,v\n0,0,1,fast\n", "x,y,u,v\n0,0,1,1\n1,0,1,1\n0,0,2,2\n",
                                  "x,y,u,v\n0,0,1,1\n1,0,1,1\n3,0,1,1\n"};
    int table = 0;
    for (const auto& c : cases) {
        const std::string path = dir.File(c.name);
        if (c.bytes.empty()) {
            std::ofstream(path) << tables[table++];
        } else {
            test::WriteFileBytes(path, c.bytes);
        }
        ImportedField field;
        std::string error;
        EXPECT_EQ(ImportFieldFile(path.c_str(), ImportOptions(), field, error), 0) << c.name;
        EXPECT_EQ(error.rfind(path + ": ", 0), 0u) << error;
        EXPECT_NE(error.find(c.fault), std::string::npos) << error;
        EXPECT_FALSE(field.vectors);
    }
}

// Files that used to read as something they are not, and file text that reached the
// terminal raw.
TEST(FieldImport, DamagedFilesAreNotReadAsSomethingElse) {
    test::TempDir dir;
    ASSERT_TRUE(WriteWithPython(dir, kWriteEveryFormat));
    // An end record that counts one member of two: u alone would become a gradient field.
    std::vector<unsigned char> npz = test::ReadFileBytes(dir.File("uv.npz"));
    ASSERT_GE(npz.size(), 22u);
    const std::size_t end = npz.size() - 22;
    ASSERT_EQ(npz[end], 'P');
    npz[end + 8] = npz[end + 10] = 1;
    test::WriteFileBytes(dir.File("uncounted.npz"), npz);

    std::string cell(5 << 20, 'z');
    cell[3] = '\x1b';
    const struct {
        const char* name;
        std::string text;
        const char* fault;
    } cases[] = {
        {"uncounted.npz", "", "its end record counts 1 member, its directory holds more"},
        // x spans -1e308..1e308 unevenly: the span is beyond the largest double.
        {"wide.csv", "x,y,u,v\n-1e308,0,1,1\n0,0,1,1\n1e308,0,1,1\n-1e307,0,1,1\n", "off the even spacing"},
        {"long.csv", "x,y,u,v\n0,0,1," + cell + "\n", "'zzz\\x1bzzz"},
        {"escape.npy", "", "unknown dtype '<\\x1b[31m'"},
    };
    for (const auto& c : cases) {
        const std::string path = dir.File(c.name);
        if (std::string(c.name) == "escape.npy") {
            test::WriteFileBytes(path, Npy("{'descr': '<\x1b[31m', 'fortran_order': False, 'shape': (3, 4), }", 0));
        } else if (!c.text.empty()) {
            std::ofstream(path) << c.text;
        }
        ImportedField field;
        std::string error;
        EXPECT_EQ(ImportFieldFile(path.c_str(), ImportOptions(), field, error), 0) << c.name;
        EXPECT_NE(error.find(c.fault), std::string::npos) << error.substr(0, 300);
        EXPECT_LT(error.size(), path.size() + 200) << c.name;
        for (char ch : error) EXPECT_FALSE(static_cast<unsigned char>(ch) < 0x20) << c.name;
    }
    // An even axis that spans the whole double range is still a grid.
    const std::string path = dir.File("even.csv");
    std::ofstream(path) << "x,y,u,v\n-1e308,0,1,1\n0,0,1,1\n1e308,0,1,1\n";
    ImportedField field;
    std::string error;
    EXPECT_EQ(ImportFieldFile(path.c_str(), ImportOptions(), field, error), 1) << error;
    EXPECT_EQ(field.width, 3);
}

}  // namespace
}  // namespace flowloom
