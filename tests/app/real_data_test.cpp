#include <gtest/gtest.h>

#include <QComboBox>
#include <QSpinBox>
#include <fstream>
#include <string>

#include "app/import_dialog.h"
#include "app/window_test_support.h"
#include "support/test_support.h"

namespace flowloom {
namespace {

using test::WindowFixture;

// A wind file with two times, a CF pair and a scalar beside it.
const char kWriteWind[] = R"(
import sys, numpy as np, netCDF4
ds = netCDF4.Dataset(sys.argv[1] + '/wind.nc', 'w')
ds.createDimension('time', 2); ds.createDimension('lat', 12); ds.createDimension('lon', 16)
for name, std in (('u10', 'eastward_wind'), ('v10', 'northward_wind'), ('sp', 'surface_air_pressure')):
    x = ds.createVariable(name, 'f4', ('time', 'lat', 'lon'))
    x.standard_name = std; x.units = 'm s-1' if name != 'sp' else 'Pa'
    x[:] = np.random.default_rng(3).uniform(-5, 5, (2, 12, 16))
ds.close()
)";

TEST(RealData, TheChooserPicksFromSeveralGridsAndTheCaptionNamesTheField) {
    test::TempDir dir;
    std::ofstream(dir.File("write.py")) << kWriteWind;
    ASSERT_EQ(test::RunCommand("/usr/bin/python3 " + dir.File("write.py") + " " + dir.path().string()), 0);
    WindowFixture f;
    f.SetGrid(40, 30);
    ImportOptions choice;
    choice.u_var = "u10";
    choice.v_var = "v10";
    choice.time_index = 1;
    f.seam.import_choice = choice;
    f.seam.answers.push_back(QString::fromStdString(dir.File("wind.nc")));
    f.Click(1001);
    ASSERT_EQ(f.seam.import_contents.size(), 1u);
    EXPECT_EQ(f.seam.import_contents[0].variables.size(), 3u);
    EXPECT_EQ(f.seam.import_contents[0].defaults.v_var, "v10");
    f.Click(1046);
    EXPECT_EQ(f.window.engine->x_res, 16);
    EXPECT_EQ(f.window.engine->import_options.time_index, 1);
    EXPECT_TRUE(f.Caption().endsWith(" | u10, v10 [m s-1]")) << f.Caption().toStdString();
    EXPECT_TRUE(f.seam.messages.empty());
}

TEST(RealData, AFileThatCannotBeImportedIsNamedAndTheFieldStays) {
    test::TempDir dir;
    std::ofstream(dir.File("short.csv")) << "x,y,u\n0,0,1\n";
    WindowFixture f;
    f.Click(1006);  // Vortex
    f.seam.answers.push_back(QString::fromStdString(dir.File("short.csv")));
    f.Click(1001);
    ASSERT_EQ(f.seam.messages.size(), 1u);
    EXPECT_TRUE(f.seam.messages[0].text.contains("short.csv: the table has no column v"));
    EXPECT_TRUE(f.Checked(1006));
    EXPECT_EQ(f.window.new_field_file, 0);
    EXPECT_NE(f.window.field_file_path, dir.File("short.csv"));
}

TEST(RealData, TheChooserOpensOnTheDefaultsAndTakesAScalarWithItsGradient) {
    ImportContents contents;
    for (const char* name : {"u10", "v10", "sp"}) {
        ImportVariable v;
        v.name = name;
        v.times = 2;
        contents.variables.push_back(v);
    }
    contents.defaults.u_var = "v10";  // not the first grid, so the default must be looked up
    contents.defaults.v_var = "u10";
    ImportDialog dialog(contents);
    EXPECT_EQ(dialog.Chosen().u_var, "v10");
    EXPECT_EQ(dialog.Chosen().v_var, "u10");
    EXPECT_EQ(dialog.time_box()->maximum(), 1);
    dialog.scalar_box()->setCurrentIndex(3);
    EXPECT_FALSE(dialog.u_box()->isEnabled());
    dialog.gradient_box()->setCurrentIndex(1);
    dialog.time_box()->setValue(1);
    const ImportOptions chosen = dialog.Chosen();
    EXPECT_EQ(chosen.scalar_var, "sp");
    EXPECT_TRUE(chosen.u_var.empty());
    EXPECT_EQ(chosen.gradient, kGradientUphill);
    EXPECT_EQ(chosen.time_index, 1);
}

}  // namespace
}  // namespace flowloom
