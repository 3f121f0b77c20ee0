#include "fieldio/field_geometry.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <fstream>
#include <numbers>
#include <string>
#include <vector>

#include "fieldio/field_import.h"
#include "support/test_support.h"

namespace flowloom {
namespace {

const char kPython[] = "/usr/bin/python3";

bool WriteWithPython(const test::TempDir& dir, const std::string& script) {
    const std::string path = dir.File("write.py");
    std::ofstream(path) << script;
    return test::RunCommand(std::string(kPython) + " " + path + " " + dir.path().string()) == 0;
}

int Import(const std::string& path, const ImportOptions& options, ImportedField& field, std::string& error) {
    error.clear();
    return ImportFieldFile(path.c_str(), options, field, error);
}

ImportOptions WithCoordinates(Coordinates mode) {
    ImportOptions options;
    options.coordinates = mode;
    return options;
}

// A solid-body rotation of the sphere about an axis tilted 40 degrees from the pole, as
// eastward and northward velocities (unit sphere, radians per unit time) on a 2.5-degree
// grid of uneven latitudes that include both poles, stored south first.
const char kWriteRotation[] = R"(
import sys, numpy as np, netCDF4
d = sys.argv[1]
lon = np.arange(0.0, 360.0, 2.5)
lat = np.concatenate(([-90.0], np.linspace(-87.0, 87.0, 59) + 0.4 * np.sin(np.arange(59.0)), [90.0]))
axis = np.array([np.sin(np.radians(40.0)), 0.0, np.cos(np.radians(40.0))])
L, P = np.meshgrid(np.radians(lon), np.radians(lat))
p = np.stack([np.cos(P) * np.cos(L), np.cos(P) * np.sin(L), np.sin(P)], -1)
w = np.cross(axis, p)
east = np.stack([-np.sin(L), np.cos(L), 0 * L], -1)
north = np.stack([-np.sin(P) * np.cos(L), -np.sin(P) * np.sin(L), np.cos(P)], -1)
ds = netCDF4.Dataset(d + '/rotation.nc', 'w')
ds.createDimension('lat', len(lat)); ds.createDimension('lon', len(lon))
x = ds.createVariable('lon', 'f8', ('lon',)); x[:] = lon; x.units = 'degrees_east'
y = ds.createVariable('lat', 'f8', ('lat',)); y[:] = lat; y.units = 'degrees_north'
ds.createVariable('u', 'f8', ('lat', 'lon'))[:] = (w * east).sum(-1)
ds.createVariable('v', 'f8', ('lat', 'lon'))[:] = (w * north).sum(-1)
ds.close()
np.save(d + '/lat.npy', lat)
)";

// Bilinear in sample space, wrapping across the seam.
void Velocity(const ImportedField& f, double c, double r, double& vx, double& vy) {
    const int c0 = static_cast<int>(std::floor(c)), r0 = static_cast<int>(std::floor(r));
    const double tc = c - c0, tr = r - r0;
    vx = vy = 0.0;
    for (int a = 0; a < 2; ++a) {
        for (int b = 0; b < 2; ++b) {
            const int col = ((c0 + b) % f.width + f.width) % f.width;
            const int row = std::min(std::max(r0 + a, 0), f.height - 1);
            const double w = (a ? tr : 1 - tr) * (b ? tc : 1 - tc);
            vx += w * f.vectors[2 * (row * f.width + col)];
            vy += w * f.vectors[2 * (row * f.width + col) + 1];
        }
    }
}

// How far a trajectory traced in sample space strays from its circle of the rotation:
// the largest change of the position's component along the axis.
double Stray(const ImportedField& f, const std::vector<double>& lat_top_down, double c, double r) {
    auto on_sphere = [&](double cc, double rr) {
        const double lon = cc * 2.5 * std::numbers::pi / 180.0;
        const int r0 = std::min(static_cast<int>(rr), f.height - 2);
        const double lat =
            (lat_top_down[r0] + (rr - r0) * (lat_top_down[r0 + 1] - lat_top_down[r0])) * std::numbers::pi / 180.0;
        const double a = 40.0 * std::numbers::pi / 180.0;
        return std::sin(a) * std::cos(lat) * std::cos(lon) + std::cos(a) * std::sin(lat);
    };
    const double start = on_sphere(c, r);
    double worst = 0.0;
    for (int step = 0; step < 4000; ++step) {
        // Fourth-order Runge-Kutta with a step of a tenth of a sample at most.
        double k[4][2];
        double vx, vy;
        Velocity(f, c, r, vx, vy);
        const double h = 0.1 / std::max(1e-9, std::hypot(vx, vy));
        k[0][0] = vx, k[0][1] = vy;
        Velocity(f, c + h / 2 * k[0][0], r + h / 2 * k[0][1], k[1][0], k[1][1]);
        Velocity(f, c + h / 2 * k[1][0], r + h / 2 * k[1][1], k[2][0], k[2][1]);
        Velocity(f, c + h * k[2][0], r + h * k[2][1], k[3][0], k[3][1]);
        c += h / 6 * (k[0][0] + 2 * k[1][0] + 2 * k[2][0] + k[3][0]);
        r += h / 6 * (k[0][1] + 2 * k[1][1] + 2 * k[2][1] + k[3][1]);
        c = std::fmod(c + f.width, f.width);
        worst = std::max(worst, std::abs(on_sphere(c, r) - start));
    }
    return worst;
}

// The geographic conversion makes sample-space trajectories the sphere's own: a solid-body
// rotation's streamlines are its circles in plate carree, and leave them without cos(lat).
TEST(FieldGeometry, SolidBodyRotationFollowsItsCirclesOnlyWhenGeographic) {
    test::TempDir dir;
    ASSERT_TRUE(WriteWithPython(dir, kWriteRotation));
    ImportedField geo, grid;
    std::string error;
    ASSERT_EQ(Import(dir.File("rotation.nc"), WithCoordinates(Coordinates::kAuto), geo, error), 1) << error;
    ASSERT_EQ(Import(dir.File("rotation.nc"), WithCoordinates(Coordinates::kGrid), grid, error), 1) << error;
    EXPECT_EQ(geo.coordinates, Coordinates::kGeographic);
    EXPECT_TRUE(geo.periodic_x);
    ASSERT_EQ(geo.width, 144);
    ASSERT_EQ(geo.height, 61);

    // The poles are missing, never infinite; elsewhere the vectors are the angular
    // velocities over the spacing, which on the sphere are analytic.
    const std::vector<unsigned char> raw = test::ReadFileBytes(dir.File("lat.npy"));
    std::vector<double> lat(61);
    std::memcpy(lat.data(), raw.data() + raw.size() - 61 * 8, 61 * 8);
    const std::vector<double> top_down(lat.rbegin(), lat.rend());
    const double a = 40.0 * std::numbers::pi / 180.0;
    for (int r = 0; r < geo.height; ++r) {
        for (int c = 0; c < geo.width; c += 7) {
            const float* v = geo.vectors.get() + 2 * (r * geo.width + c);
            if (r == 0 || r == geo.height - 1) {
                EXPECT_TRUE(std::isnan(v[0]) && std::isnan(v[1]) && std::isnan(geo.magnitudes[r * geo.width + c]));
                continue;
            }
            const double phi = top_down[r] * std::numbers::pi / 180.0, lambda = c * 2.5 * std::numbers::pi / 180.0;
            // d(lambda)/dt and d(phi)/dt of the rotation w x p, w the unit axis.
            const double lambda_dot = std::cos(a) - std::sin(a) * std::tan(phi) * std::cos(lambda);
            const double phi_dot = std::sin(a) * std::sin(lambda);
            const double dy = (top_down[r + 1] - top_down[r - 1]) / 2;
            EXPECT_NEAR(v[0], lambda_dot / 2.5, 1e-5 * (1 + std::abs(lambda_dot))) << r << " " << c;
            EXPECT_NEAR(v[1], phi_dot / dy, 1e-5) << r << " " << c;
        }
    }
    // Circles through the middle latitudes, one crossing the seam.
    for (const double start_row : {15.0, 25.5, 40.0}) {
        // What is left is the bilinear interpolation of the field between samples.
        EXPECT_LT(Stray(geo, top_down, 100.0, start_row), 4e-3) << start_row;
        EXPECT_GT(Stray(grid, top_down, 100.0, start_row), 5e-2) << start_row;
    }
}

// Uneven coordinates: each step is the value over the coordinate's central difference in
// the displayed order, and the order the file keeps its rows and columns in does not matter.
const char kWriteUneven[] = R"(
import sys, numpy as np, netCDF4
d = sys.argv[1]
x = np.array([0.0, 1.0, 3.0, 3.5, 7.0, 12.0])
y = np.array([-2.0, 0.5, 1.0, 4.0, 4.25])
rng = np.random.default_rng(5)
u = rng.uniform(-2, 2, (5, 6)); v = rng.uniform(-2, 2, (5, 6))
for name, rows, cols in (('south_first.nc', 1, 1), ('north_first.nc', -1, -1)):
    ds = netCDF4.Dataset(d + '/' + name, 'w')
    ds.createDimension('y', 5); ds.createDimension('x', 6)
    ds.createVariable('x', 'f8', ('x',))[:] = x[::cols]
    ds.createVariable('y', 'f8', ('y',))[:] = y[::rows]
    ds.createVariable('u', 'f8', ('y', 'x'))[:] = u[::rows, ::cols]
    ds.createVariable('v', 'f8', ('y', 'x'))[:] = v[::rows, ::cols]
    ds.close()
with open(d + '/table.csv', 'w') as out:
    out.write('x,y,u,v\n')
    for r in rng.permutation(30):
        out.write('%r,%r,%r,%r\n' % (x[r % 6], y[r // 6], u[r // 6, r % 6], v[r // 6, r % 6]))
np.save(d + '/uv.npy', np.stack([u, v]))
)";

TEST(FieldGeometry, GridStepsAreTheValuesOverTheLocalSpacingInAnyStoredOrder) {
    test::TempDir dir;
    ASSERT_TRUE(WriteWithPython(dir, kWriteUneven));
    const double x[6] = {0.0, 1.0, 3.0, 3.5, 7.0, 12.0};
    const double y_top_down[5] = {4.25, 4.0, 1.0, 0.5, -2.0};
    const std::vector<unsigned char> raw = test::ReadFileBytes(dir.File("uv.npy"));
    std::vector<double> uv(60);
    std::memcpy(uv.data(), raw.data() + raw.size() - 60 * 8, 60 * 8);

    std::vector<std::vector<float>> results;
    for (const char* name : {"south_first.nc", "north_first.nc", "table.csv"}) {
        ImportedField f;
        std::string error;
        ASSERT_EQ(Import(dir.File(name), WithCoordinates(Coordinates::kGrid), f, error), 1) << name << error;
        ASSERT_EQ(f.width, 6);
        ASSERT_EQ(f.height, 5);
        EXPECT_FALSE(f.periodic_x);
        for (int r = 0; r < 5; ++r) {
            for (int c = 0; c < 6; ++c) {
                const double dx = c == 0 ? x[1] - x[0] : c == 5 ? x[5] - x[4] : (x[c + 1] - x[c - 1]) / 2;
                const double dy = r == 0   ? y_top_down[1] - y_top_down[0]
                                  : r == 4 ? y_top_down[4] - y_top_down[3]
                                           : (y_top_down[r + 1] - y_top_down[r - 1]) / 2;
                const int source = (4 - r) * 6 + c;  // the arrays are stored south first
                const double u = uv[source], v = uv[30 + source];
                const int i = r * 6 + c;
                EXPECT_EQ(f.vectors[2 * i], static_cast<float>(u / dx)) << name << " " << i;
                EXPECT_EQ(f.vectors[2 * i + 1], static_cast<float>(v / dy)) << name << " " << i;
                EXPECT_EQ(f.magnitudes[i], static_cast<float>(std::sqrt(u * u + v * v)));
            }
        }
        results.emplace_back(f.vectors.get(), f.vectors.get() + 60);
    }
    EXPECT_EQ(results[0], results[1]);

    // Index coordinates stay the numbers as they are, without physical magnitudes.
    ImportedField plain;
    std::string error;
    ASSERT_EQ(Import(dir.File("north_first.nc"), ImportOptions(), plain, error), 1);
    EXPECT_FALSE(plain.magnitudes);
    EXPECT_EQ(plain.vectors[1], static_cast<float>(-uv[30 + 24]));
    // A NumPy array has no coordinates to convert by.
    ASSERT_EQ(Import(dir.File("uv.npy"), WithCoordinates(Coordinates::kGrid), plain, error), 0);
    EXPECT_NE(error.find("has no coordinate for its columns"), std::string::npos) << error;
}

const char kWriteBad[] = R"(
import sys, numpy as np, netCDF4
d = sys.argv[1]
def grid(name, lon, lat, lon_units='degrees_east', lat_units='degrees_north', lon_name='lon', lat_name='lat'):
    ds = netCDF4.Dataset(d + '/' + name, 'w')
    ds.createDimension(lat_name, len(lat)); ds.createDimension(lon_name, len(lon))
    a = ds.createVariable(lon_name, 'f8', (lon_name,)); a[:] = lon; a.units = lon_units
    b = ds.createVariable(lat_name, 'f8', (lat_name,)); b[:] = lat; b.units = lat_units
    for n in ('u', 'v'): ds.createVariable(n, 'f4', (lat_name, lon_name))[:] = np.ones((len(lat), len(lon)))
    ds.close()
grid('turning.nc', [0, 10, 20, 15], [0, 10, 20])
grid('repeated.nc', [0, 10, 10, 30], [0, 10, 20])
grid('beyond.nc', [0, 10, 20], [80, 90, 91])
grid('metres.nc', [0, 10, 20], [0, 10, 20], 'm', 'm', 'x', 'y')
grid('closed.nc', np.arange(0, 361, 30), [-30, 0, 30])
np.savez(d + '/stokes.npz', Q=np.ones((3, 4)), U=np.ones((3, 5)))
with open(d + '/nearly.csv', 'w') as out:
    out.write('x,y,u,v\n' + ''.join('%r,%r,1,1\n' % (x, y) for x in (0, 1, 1.0001, 2, 3) for y in (0, 1, 2)))
)";

TEST(FieldGeometry, CoordinatesThatCannotConvertAreRefusedWithTheirFault) {
    test::TempDir dir;
    ASSERT_TRUE(WriteWithPython(dir, kWriteBad));
    struct Case {
        const char* file;
        Coordinates mode;
        const char* message;
    };
    for (const Case& c : {Case{"turning.nc", Coordinates::kGrid, "lon is not monotonic: it turns at index 3"},
                          Case{"repeated.nc", Coordinates::kAuto, "lon repeats the value 10 at index 2"},
                          Case{"beyond.nc", Coordinates::kGeographic, "value 91, beyond +-90"},
                          Case{"metres.nc", Coordinates::kGeographic, "need longitude along the columns"},
                          Case{"nearly.csv", Coordinates::kGrid, "values 1 and 1.0001 nearly repeat"}}) {
        ImportedField f;
        std::string error;
        EXPECT_EQ(Import(dir.File(c.file), WithCoordinates(c.mode), f, error), 0) << c.file;
        EXPECT_NE(error.find(c.message), std::string::npos) << error;
        EXPECT_NE(error.find(c.file), std::string::npos) << error;
        EXPECT_FALSE(f.vectors);
        // The same grids as index fields read as they always did.
        if (std::string(c.file).ends_with(".nc")) {
            EXPECT_EQ(Import(dir.File(c.file), WithCoordinates(Coordinates::kIndex), f, error), 1);
        }
    }
    // Metres are not degrees: auto leaves such a grid in samples.
    ImportedField f;
    std::string error;
    ASSERT_EQ(Import(dir.File("metres.nc"), WithCoordinates(Coordinates::kAuto), f, error), 1);
    EXPECT_EQ(f.coordinates, Coordinates::kIndex);
    // 0..360 repeats its first column: it is dropped, and the rest goes round the globe.
    ASSERT_EQ(Import(dir.File("closed.nc"), WithCoordinates(Coordinates::kAuto), f, error), 1) << error;
    EXPECT_EQ(f.width, 12);
    EXPECT_TRUE(f.periodic_x);

    ImportOptions stokes;
    stokes.stokes_q = "Q";
    stokes.stokes_u = "U";
    EXPECT_EQ(Import(dir.File("stokes.npz"), stokes, f, error), 0);
    EXPECT_NE(error.find("Q and U have different shapes"), std::string::npos) << error;
}

// Stokes parameters and an angle give the same directions; the polarised intensity
// colours the Stokes field.
TEST(FieldGeometry, StokesAndAngleInputsGiveUnitVectorsOfTheirAngle) {
    test::TempDir dir;
    ASSERT_TRUE(WriteWithPython(dir, R"(
import sys, numpy as np, netCDF4
d = sys.argv[1]
psi = np.linspace(-89.0, 90.0, 12).reshape(3, 4)
p = np.linspace(0.5, 3.0, 12).reshape(3, 4)
ds = netCDF4.Dataset(d + '/pol.nc', 'w')
ds.createDimension('y', 3); ds.createDimension('x', 4)
ds.createVariable('Q', 'f8', ('y', 'x'))[:] = p * np.cos(np.radians(2 * psi))
ds.createVariable('U', 'f8', ('y', 'x'))[:] = p * np.sin(np.radians(2 * psi))
a = ds.createVariable('angle', 'f8', ('y', 'x')); a[:] = psi; a.units = 'degrees'
ds.close()
np.savez(d + '/angle.npz', angle=np.radians(psi))
)"));
    ImportOptions stokes, angle;
    stokes.stokes_q = "Q";
    stokes.stokes_u = "U";
    angle.angle_var = "angle";
    ImportedField s, a, radians;
    std::string error;
    ASSERT_EQ(Import(dir.File("pol.nc"), stokes, s, error), 1) << error;
    ASSERT_EQ(Import(dir.File("pol.nc"), angle, a, error), 1) << error;
    EXPECT_TRUE(s.orientation && a.orientation);
    for (int i = 0; i < 12; ++i) {
        EXPECT_NEAR(s.vectors[2 * i], a.vectors[2 * i], 1e-6) << i;
        EXPECT_NEAR(s.vectors[2 * i + 1], a.vectors[2 * i + 1], 1e-6) << i;
        EXPECT_NEAR(std::hypot(a.vectors[2 * i], a.vectors[2 * i + 1]), 1.0, 1e-6);
        EXPECT_NEAR(s.magnitudes[i], 0.5 + 2.5 * i / 11.0, 1e-6);
    }
    // A NumPy angle has no units: they must be given.
    ASSERT_EQ(Import(dir.File("angle.npz"), angle, radians, error), 0);
    EXPECT_NE(error.find("neither degrees nor radians"), std::string::npos) << error;
    angle.angle_units = "radians";
    ASSERT_EQ(Import(dir.File("angle.npz"), angle, radians, error), 1) << error;
    // NumPy's second component points down the rows, NetCDF's up.
    EXPECT_NEAR(radians.vectors[1], -a.vectors[1], 1e-6);
}

}  // namespace
}  // namespace flowloom
