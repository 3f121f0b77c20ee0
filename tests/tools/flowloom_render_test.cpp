#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "engine/commands.h"
#include "engine/lic_engine.h"
#include "lic/field_file.h"
#include "lic/noise.h"
#include "lic/streamline_simd.h"
#include "media/bmp_reader.h"
#include "support/test_support.h"

namespace flowloom {
namespace {

const std::string kRender = FLOWLOOM_RENDER_BINARY;

// A render that hangs (a read that blocks) ends with status 124 instead of stalling.
int Render(const std::string& arguments, const std::string& log = "/dev/null") {
    return test::RunCommand("timeout 300 " + kRender + " " + arguments + " >" + log + " 2>&1");
}

std::string Text(const std::string& path) {
    const auto bytes = test::ReadFileBytes(path);
    return {bytes.begin(), bytes.end()};
}

std::vector<unsigned char> ReadBmp(const std::string& path, int& width, int& height) {
    BmpReader reader;
    unsigned char* pixels = reader.Read(path.c_str(), width, height);
    if (!pixels) return {};
    std::vector<unsigned char> out(pixels, pixels + 3 * width * height);
    std::free(pixels);
    return out;
}

// The renderer with its defaults draws what the window's first "Line Integral
// Convolution" draws: the same engine, settings and first white-noise texture.
TEST(FlowloomRender, DefaultPictureIsTheEnginesColourImage) {
    test::TempDir dir;
    ASSERT_EQ(Render("-o " + dir.File("default.bmp")), 0);
    int width = 0, height = 0;
    const auto picture = ReadBmp(dir.File("default.bmp"), width, height);
    ASSERT_EQ(width, 300);
    ASSERT_EQ(height, 300);

    SeedNoiseGenerator(1);  // as at program start
    LicEngine engine;
    engine.Reset();
    SettingsRecord record = DefaultSettings();
    ForceCommandSettings(kCommandLic, record);
    engine.ImportSettings(record);
    engine.Compute();
    EXPECT_EQ(picture, std::vector<unsigned char>(engine.rgb_image.get(), engine.rgb_image.get() + 3 * 300 * 300));
}

TEST(FlowloomRender, WrongOptionsEndWithStatusTwo) {
    test::TempDir dir;
    for (const char* args :
         {"--size 2001x10", "--size 10", "--field nowhere", "--length 0", "--length 201", "--roi 1,2,3",
          "--roi-scale 21", "--method fast", "--bogus", "--threads -1", "--enhance-iterations 1"}) {
        EXPECT_EQ(Render(std::string(args) + " -o " + dir.File("x.bmp")), 2) << args;
    }
    EXPECT_EQ(Render("-o " + dir.File("picture.jpg")), 2);
    EXPECT_EQ(Render("--help"), 0);
}

TEST(FlowloomRender, SamePictureForAnyThreadCountAndARepeatableSeed) {
    test::TempDir dir;
    const std::string common = "--size 120x90 --field vortex --noise sparse --kernel ramp --seed 42 ";
    ASSERT_EQ(Render(common + "--threads 1 -o " + dir.File("one.bmp")), 0);
    ASSERT_EQ(Render(common + "--threads 2 -o " + dir.File("two.bmp")), 0);
    ASSERT_EQ(Render(common + "--threads 7 -o " + dir.File("seven.bmp")), 0);
    const auto one = test::ReadFileBytes(dir.File("one.bmp"));
    EXPECT_EQ(one.size(), 54u + 120 * 3 * 90);
    EXPECT_EQ(test::ReadFileBytes(dir.File("two.bmp")), one);
    EXPECT_EQ(test::ReadFileBytes(dir.File("seven.bmp")), one);
    ASSERT_EQ(Render("--size 120x90 --field vortex --noise sparse --kernel ramp --seed 43 -o " + dir.File("other.bmp")),
              0);
    EXPECT_NE(test::ReadFileBytes(dir.File("other.bmp")), one);
}

// PNG and BMP of the same render hold the same pixels, as an independent decoder sees them.
TEST(FlowloomRender, PngHoldsTheSamePixelsAsBmp) {
    if (!test::HaveProgram("convert-im6.q16")) GTEST_SKIP() << "ImageMagick (convert-im6.q16) is not installed";
    test::TempDir dir;
    const std::string common = "--size 64x40 --color-by-direction --flip-rows ";
    ASSERT_EQ(Render(common + "-o " + dir.File("a.bmp")), 0);
    ASSERT_EQ(Render(common + "-o " + dir.File("a.png")), 0);
    ASSERT_EQ(test::RunCommand("convert-im6.q16 " + dir.File("a.bmp") + " -depth 8 rgb:" + dir.File("bmp.rgb")), 0);
    ASSERT_EQ(test::RunCommand("convert-im6.q16 " + dir.File("a.png") + " -depth 8 rgb:" + dir.File("png.rgb")), 0);
    const auto from_bmp = test::ReadFileBytes(dir.File("bmp.rgb"));
    EXPECT_EQ(from_bmp.size(), 64u * 40 * 3);
    EXPECT_EQ(test::ReadFileBytes(dir.File("png.rgb")), from_bmp);
}

TEST(FlowloomRender, FailuresAreReportedNotHidden) {
    test::TempDir dir;
    EXPECT_EQ(Render("--size 20x20 -o " + dir.File("no/such/dir/x.bmp")), 1);
    EXPECT_EQ(Render("--size 20x20 -o " + dir.File("x.bmp") + " --save-field " + dir.File("no/such/dir/f.vec")), 1);

    // An unreadable field file falls back to the Saddle field, and says so.
    const std::string log = dir.File("log.txt");
    EXPECT_EQ(Render("--size 30x20 --field-file " + dir.File("missing.vec") + " -o " + dir.File("f.bmp"), log), 0);
    const auto text = test::ReadFileBytes(log);
    EXPECT_NE(std::string(text.begin(), text.end()).find("fell back to the Saddle field"), std::string::npos);
    int width = 0, height = 0;
    EXPECT_EQ(ReadBmp(dir.File("f.bmp"), width, height).size(), 30u * 20 * 3);
}

TEST(FlowloomRender, SavedFieldLoadsBackWithTheRenderedSize) {
    test::TempDir dir;
    ASSERT_EQ(Render("--size 40x30 --roi 0,0,19,14 --roi-scale 3 -o " + dir.File("z.bmp") + " --save-field " +
                     dir.File("z.vec")),
              0);
    int width = 0, height = 0;
    float* field = LoadBinaryData(width, height, dir.File("z.vec").c_str());
    ASSERT_NE(field, nullptr);
    EXPECT_EQ(width, 19 * 3 + 1);
    EXPECT_EQ(height, 14 * 3 + 1);
    std::free(field);
    // The field file renders on its own, at the size its header gives.
    ASSERT_EQ(Render("--field-file " + dir.File("z.vec") + " -o " + dir.File("again.bmp")), 0);
    EXPECT_EQ(ReadBmp(dir.File("again.bmp"), width, height).size(), 58u * 43 * 3);
}

// Every pass of ProLIC over the whole grid is the plain LIC: both runs start from the
// same first white-noise texture.
TEST(FlowloomRender, CompleteProgressiveRunIsThePlainPicture) {
    test::TempDir dir;
    ASSERT_EQ(Render("--size 90x70 --field spiralling --method lic -o " + dir.File("lic.bmp")), 0);
    ASSERT_EQ(Render("--size 90x70 --field spiralling --method prolic --lod 3 -o " + dir.File("pro.bmp")), 0);
    EXPECT_EQ(test::ReadFileBytes(dir.File("pro.bmp")), test::ReadFileBytes(dir.File("lic.bmp")));
    // With a region from pass 2 on, pixels outside it stay black in the later passes.
    ASSERT_EQ(Render("--size 90x70 --method prolic --lod 2 --pass-region 10,10,39,39 --pass-region-from 2 -o " +
                     dir.File("region.bmp")),
              0);
    int width = 0, height = 0;
    const auto region = ReadBmp(dir.File("region.bmp"), width, height);
    const auto at = [&](int x, int y) { return region[3 * (y * width + x)] + region[3 * (y * width + x) + 2]; };
    EXPECT_EQ(at(61, 61), 0);  // odd row: passes 2 and 3, outside the region
    EXPECT_GT(at(60, 60), 0);  // even row and column: pass 0, before the region
    EXPECT_EQ(Render("--method prolic --pass-region-from 2 -o " + dir.File("x.bmp")), 2);
}

TEST(FlowloomRender, AnimationWritesItsFramesOrSaysItCouldNot) {
    test::TempDir dir;
    ASSERT_EQ(Render("--size 40x30 --method animation --frames 9 --out-dir " + dir.File("out")), 0);
    for (const char* name : {"frame00.bmp", "frame08.bmp"}) {
        int width = 0, height = 0;
        EXPECT_EQ(ReadBmp(dir.File("out/LICAnimation/") + name, width, height).size(), 40u * 30 * 3) << name;
    }
    test::WriteFileBytes(dir.File("blocked"), {0});
    EXPECT_EQ(Render("--size 40x30 --method animation --out-dir " + dir.File("blocked")), 1);
}

TEST(FlowloomRender, LicingReadsBmpAndSgiImages) {
    if (!test::HaveProgram("convert-im6.q16")) GTEST_SKIP() << "ImageMagick (convert-im6.q16) is not installed";
    test::TempDir dir;
    ASSERT_EQ(test::RunCommand("convert-im6.q16 -size 50x40 gradient:red-blue -swirl 90 " + dir.File("in.bmp")), 0);
    ASSERT_EQ(test::RunCommand("convert-im6.q16 " + dir.File("in.bmp") + " -compress RLE sgi:" + dir.File("in.rgb")),
              0);
    int width = 0, height = 0;
    ASSERT_EQ(Render("--method licing --image " + dir.File("in.bmp") + " -o " + dir.File("a.bmp")), 0);
    EXPECT_EQ(ReadBmp(dir.File("a.bmp"), width, height).size(), 50u * 40 * 3);
    ASSERT_EQ(Render("--method licing --no-force-extraction --field vortex --image " + dir.File("in.rgb") + " -o " +
                     dir.File("b.bmp")),
              0);
    EXPECT_EQ(width, 50);
    EXPECT_EQ(ReadBmp(dir.File("b.bmp"), width, height).size(), 50u * 40 * 3);
    EXPECT_EQ(Render("--method licing --image " + dir.File("missing.rgb") + " -o " + dir.File("c.bmp")), 1);
    EXPECT_EQ(Render("--method licing -o " + dir.File("c.bmp")), 2);
}

// Named pipes without a writer are refused like unreadable files, never waited on.
TEST(FlowloomRender, NamedPipesAreRefusedNotWaitedOn) {
    test::TempDir dir;
    for (const char* name : {"fifo.vec", "fifo.bmp", "fifo.rgb"}) ASSERT_EQ(mkfifo(dir.File(name).c_str(), 0600), 0);
    const std::string log = dir.File("log.txt");
    EXPECT_EQ(Render("--size 30x20 --field-file " + dir.File("fifo.vec") + " -o " + dir.File("f.bmp"), log), 0);
    EXPECT_NE(Text(log).find("Failed to open " + dir.File("fifo.vec") + " as a binary file!!!"), std::string::npos);
    EXPECT_NE(Text(log).find("fell back to the Saddle field"), std::string::npos);
    for (const char* image : {"fifo.bmp", "fifo.rgb"}) {
        EXPECT_EQ(Render("--method licing --image " + dir.File(image) + " -o " + dir.File("i.bmp"), log), 1) << image;
        EXPECT_NE(Text(log).find("could not read the image"), std::string::npos) << image;
    }
}

// A field file without a single number holds no field: the Saddle field is drawn instead,
// and the renderer says so, rather than a black picture passing for a success.
TEST(FlowloomRender, AFieldFileWithoutANumberFallsBackToSaddle) {
    test::TempDir dir;
    ASSERT_EQ(Render("--size 30x20 -o " + dir.File("saddle.bmp")), 0);
    const std::string log = dir.File("log.txt");
    for (const std::string content : {"", "no numbers at all\n"}) {
        SCOPED_TRACE(content);
        test::WriteFileBytes(dir.File("f.vec"), std::vector<unsigned char>(content.begin(), content.end()));
        EXPECT_EQ(Render("--size 30x20 --field-file " + dir.File("f.vec") + " -o " + dir.File("f.bmp"), log), 0);
        EXPECT_NE(Text(log).find("fell back to the Saddle field"), std::string::npos);
        EXPECT_EQ(test::ReadFileBytes(dir.File("f.bmp")), test::ReadFileBytes(dir.File("saddle.bmp")));
    }
}

// Integers beyond 64 bits or the option's range are refused with the range, never wrapped
// into it; an empty grid is refused as such.
TEST(FlowloomRender, OverflowingNumbersAndEmptyGridsAreRefusedWithTheirRange) {
    test::TempDir dir;
    const std::string log = dir.File("log.txt");
    const std::pair<const char*, const char*> cases[] = {
        {"--size 4294967396x3", "each from 1 to 2000"},
        {"--size 0x0", "empty grid"},
        {"--size 300x0", "empty grid"},
        {"--roi 4294967296,0,4294967306,10", "LEFT and TOP in 0..996"},
        {"--threads 4294967297", "--threads: 4294967297 is not an integer from 0 to 1024"},
        {"--length 99999999999999999999", "is not an integer from 1 to 200"},
        {"--seed 18446744073709551617", "is not an integer from 0 to 4294967295"},
    };
    for (const auto& [args, message] : cases) {
        EXPECT_EQ(Render(std::string(args) + " -o " + dir.File("x.bmp"), log), 2) << args;
        EXPECT_NE(Text(log).find(message), std::string::npos) << args << ": " << Text(log);
    }
    EXPECT_FALSE(std::filesystem::exists(dir.File("x.bmp")));
}

// The engine replaces a region outside the grid, or inverted, by the whole grid; the
// renderer says so and why.
TEST(FlowloomRender, ARefusedRegionIsReportedWithItsReason) {
    test::TempDir dir;
    const std::string log = dir.File("log.txt");
    ASSERT_EQ(Render("--size 50x40 --roi 996,996,1000,1000 -o " + dir.File("a.bmp"), log), 0);
    EXPECT_NE(Text(log).find("Region refused: 996,996,1000,1000 (left, top, right, bottom) does not lie inside the "
                             "grid, so the whole 50 x 40 grid is used."),
              std::string::npos)
        << Text(log);
    ASSERT_EQ(Render("--size 50x40 --roi 30,30,10,10 -o " + dir.File("b.bmp"), log), 0);
    EXPECT_NE(Text(log).find("30,30,10,10 (left, top, right, bottom) is inverted"), std::string::npos) << Text(log);
    // Both zoomed the whole grid by 2, as the engine's rule says.
    int width = 0, height = 0;
    EXPECT_EQ(ReadBmp(dir.File("b.bmp"), width, height).size(), 99u * 79 * 3);
}

// A PNG holding the BMP's pixels LICs to the same picture, whatever its name says; a
// JPEG is told by its content too.
TEST(FlowloomRender, LicingReadsPngAndJpegByContent) {
    if (!test::HaveProgram("convert-im6.q16")) GTEST_SKIP() << "ImageMagick (convert-im6.q16) is not installed";
    test::TempDir dir;
    ASSERT_EQ(test::RunCommand("convert-im6.q16 -size 50x40 gradient:red-blue -swirl 90 " + dir.File("in.bmp")), 0);
    ASSERT_EQ(test::RunCommand("convert-im6.q16 " + dir.File("in.bmp") + " png:" + dir.File("in.photo")), 0);
    ASSERT_EQ(test::RunCommand("convert-im6.q16 " + dir.File("in.bmp") + " jpg:" + dir.File("in.jpeg")), 0);
    ASSERT_EQ(Render("--method licing --image " + dir.File("in.bmp") + " -o " + dir.File("bmp.bmp")), 0);
    ASSERT_EQ(Render("--method licing --image " + dir.File("in.photo") + " -o " + dir.File("png.bmp")), 0);
    ASSERT_EQ(Render("--method licing --image " + dir.File("in.jpeg") + " -o " + dir.File("jpeg.bmp")), 0);
    EXPECT_EQ(test::ReadFileBytes(dir.File("png.bmp")), test::ReadFileBytes(dir.File("bmp.bmp")));
    int width = 0, height = 0;
    EXPECT_EQ(ReadBmp(dir.File("jpeg.bmp"), width, height).size(), 50u * 40 * 3);
}

// Every instruction set draws the scalar path's picture; an unknown one is refused.
TEST(FlowloomRender, EverySimdChoiceDrawsTheScalarPicture) {
    test::TempDir dir;
    for (const std::string common : {"--size 67x45 --noise sparse --kernel ramp --seed 9 ", "--method maglic "}) {
        ASSERT_EQ(Render(common + "--simd scalar -o " + dir.File("scalar.bmp")), 0);
        const auto scalar = test::ReadFileBytes(dir.File("scalar.bmp"));
        std::vector<std::string> names = SimdPathNames();
        names.push_back("auto");
        for (const std::string& name : names) {
            ASSERT_EQ(Render(common + "--simd " + name + " -o " + dir.File(name + ".bmp")), 0) << name;
            EXPECT_EQ(test::ReadFileBytes(dir.File(name + ".bmp")), scalar) << common << name;
        }
    }
    EXPECT_EQ(Render("--simd avx9000 -o " + dir.File("x.bmp")), 2);
}

}  // namespace
}  // namespace flowloom

namespace flowloom {
namespace {

// A global table on 15-degree lon/lat columns, and the same numbers on plain x/y columns.
void WriteGlobalTables(const test::TempDir& dir) {
    std::string lonlat = "lon,lat,u,v\n", xy = "x,y,u,v\n";
    for (int r = 0; r < 12; ++r) {
        for (int c = 0; c < 24; ++c) {
            const std::string values = std::to_string(c * 15) + "," + std::to_string(r * 15 - 82.5) + "," +
                                       std::to_string(10 + (r * 7 + c * 3) % 11) + "," + std::to_string(c % 5 - 2) +
                                       "\n";
            lonlat += values;
            xy += values;
        }
    }
    test::WriteFileBytes(dir.File("global.csv"), {lonlat.begin(), lonlat.end()});
    test::WriteFileBytes(dir.File("plain.csv"), {xy.begin(), xy.end()});
}

// The new options change nothing until they are used; used, they draw the finer
// geographic picture; an impossible request draws nothing.
TEST(FlowloomRender, CoordinatesAndScaleDrawOnlyWhenAskedAndRefuseWhatCannotBe) {
    test::TempDir dir;
    WriteGlobalTables(dir);
    const std::string field = " --seed 1 --field-file " + dir.File("global.csv");
    ASSERT_EQ(Render(field + " -o " + dir.File("plain.bmp")), 0);
    ASSERT_EQ(Render(field + " --coordinates index --scale 1 -o " + dir.File("same.bmp")), 0);
    EXPECT_EQ(test::ReadFileBytes(dir.File("plain.bmp")), test::ReadFileBytes(dir.File("same.bmp")));

    ASSERT_EQ(Render(field + " --coordinates geographic --scale 4 -o " + dir.File("fine.bmp")), 0);
    int width = 0, height = 0;
    EXPECT_EQ(ReadBmp(dir.File("fine.bmp"), width, height).size(), 96u * 48 * 3);

    const std::string log = dir.File("log.txt");
    EXPECT_EQ(
        Render("--field-file " + dir.File("plain.csv") + " --coordinates geographic -o " + dir.File("no.bmp"), log), 1);
    EXPECT_NE(Text(log).find("need longitude along the columns"), std::string::npos) << Text(log);
    EXPECT_FALSE(std::filesystem::exists(dir.File("no.bmp")));
    for (const char* wrong : {"--scale 17", "--scale 0", "--stokes Q", "--angle-var a --stokes Q,U",
                              "--coordinates spherical", "--angle-units degrees"}) {
        EXPECT_EQ(Render(field + " " + wrong + " -o " + dir.File("no.bmp")), 2) << wrong;
        EXPECT_FALSE(std::filesystem::exists(dir.File("no.bmp"))) << wrong;
    }
    // Neither an analytic field nor a .vec file has coordinates to convert by.
    EXPECT_EQ(Render("--coordinates grid -o " + dir.File("no.bmp")), 2);
    ASSERT_EQ(Render("--size 20x20 --save-field " + dir.File("f.vec") + " -o " + dir.File("f.bmp")), 0);
    EXPECT_EQ(Render("--field-file " + dir.File("f.vec") + " --coordinates grid -o " + dir.File("no.bmp")), 1);
    EXPECT_FALSE(std::filesystem::exists(dir.File("no.bmp")));
}

// A CF longitude/latitude file is traced on the sphere unless asked otherwise, and can
// colour its picture by another of its variables.
TEST(FlowloomRender, CfGridsAreGeographicByDefaultAndColourByTheirVariables) {
    test::TempDir dir;
    const std::string script = dir.File("write.py");
    const std::string text = R"(
import sys, numpy as np, netCDF4
ds = netCDF4.Dataset(sys.argv[1], 'w')
ds.createDimension('lat', 24); ds.createDimension('lon', 48)
lat = ds.createVariable('lat', 'f4', ('lat',)); lat[:] = np.linspace(-80.5, 80.5, 24); lat.units = 'degrees_north'
lon = ds.createVariable('lon', 'f4', ('lon',)); lon[:] = np.arange(48) * 7.5; lon.units = 'degrees_east'
y, x = np.mgrid[0:24, 0:48]
ds.createVariable('u', 'f4', ('lat', 'lon'))[:] = 10 + np.cos(x / 5.0) * 4
ds.createVariable('v', 'f4', ('lat', 'lon'))[:] = np.sin(y / 3.0) * 5
t = ds.createVariable('T', 'f4', ('lat', 'lon')); t[:] = 250 + y + x / 10.0; t.units = 'K'
ds.close()
)";
    test::WriteFileBytes(script, {text.begin(), text.end()});
    const std::string nc = dir.File("globe.nc");
    ASSERT_EQ(test::RunCommand("/usr/bin/python3 " + script + " " + nc), 0);
    const std::string field = " --seed 1 --field-file " + nc;
    ASSERT_EQ(Render(field + " -o " + dir.File("default.bmp")), 0);
    ASSERT_EQ(Render(field + " --coordinates geographic --boundary-x periodic -o " + dir.File("geo.bmp")), 0);
    ASSERT_EQ(Render(field + " --coordinates index --boundary closed -o " + dir.File("index.bmp")), 0);
    EXPECT_EQ(Text(dir.File("default.bmp")), Text(dir.File("geo.bmp")));
    EXPECT_NE(Text(dir.File("default.bmp")), Text(dir.File("index.bmp")));
    // The converter keeps the values as read, so its file draws the index picture.
    const std::string convert = (std::filesystem::path(kRender).parent_path() / "flowloom-convert").string();
    ASSERT_EQ(test::RunCommand(convert + " " + nc + " " + dir.File("globe.vec") + " >/dev/null 2>&1"), 0);
    ASSERT_EQ(Render("--seed 1 --field-file " + dir.File("globe.vec") + " -o " + dir.File("vec.bmp")), 0);
    EXPECT_EQ(Text(dir.File("vec.bmp")), Text(dir.File("index.bmp")));

    ASSERT_EQ(Render(field + " --color-var T -o " + dir.File("t.bmp")), 0);
    ASSERT_EQ(Render(field + " --color-var T --colorbar -o " + dir.File("tbar.bmp")), 0);
    int width = 0, height = 0;
    const auto coloured = ReadBmp(dir.File("t.bmp"), width, height);
    EXPECT_NE(Text(dir.File("t.bmp")), Text(dir.File("default.bmp")));
    // Rows warm upwards in the file (latitude rises), so north, drawn on top, is red under
    // the rainbow and the south blue: compare the mean red of the top and bottom rows.
    const auto mean_red = [&](int row) {
        long sum = 0;
        for (int c = 0; c < width; ++c) sum += coloured[3 * (row * width + c) + 2];
        return sum / width;
    };
    EXPECT_GT(mean_red(0), mean_red(height - 1) + 50);

    const std::string log = dir.File("log.txt");
    EXPECT_EQ(Render(field + " --color-var nothing -o " + dir.File("no.bmp"), log), 2);
    EXPECT_NE(Text(log).find("colour variable 'nothing'"), std::string::npos) << Text(log);
    for (const std::string& wrong : {field + " --color-var T --color-by-direction", field + " --color-var T --grey",
                                    std::string(" --color-var T")}) {
        EXPECT_EQ(Render(wrong + " -o " + dir.File("no.bmp")), 2) << wrong;
    }
    EXPECT_FALSE(std::filesystem::exists(dir.File("no.bmp")));
}

}  // namespace
}  // namespace flowloom

namespace flowloom {
namespace {

// The colour options: the defaults are the window's picture, a colour bar only adds
// columns, and every impossible choice is refused before anything is written.
TEST(FlowloomRender, ColourOptionsLeaveThePictureAreaAndRefuseWhatCannotBe) {
    test::TempDir dir;
    ASSERT_EQ(Render("--size 64x48 -o " + dir.File("plain.bmp")), 0);
    ASSERT_EQ(Render("--size 64x48 --cmap rainbow --blend multiply -o " + dir.File("named.bmp")), 0);
    EXPECT_EQ(Text(dir.File("plain.bmp")), Text(dir.File("named.bmp")));

    ASSERT_EQ(Render("--size 64x48 --colorbar -o " + dir.File("bar.bmp")), 0);
    int width = 0, height = 0, bar_width = 0, bar_height = 0;
    const auto plain = ReadBmp(dir.File("plain.bmp"), width, height);
    const auto bar = ReadBmp(dir.File("bar.bmp"), bar_width, bar_height);
    ASSERT_EQ(bar_height, height);
    ASSERT_GT(bar_width, width);
    for (int row = 0; row < height; ++row)
        ASSERT_TRUE(std::equal(plain.begin() + 3 * row * width, plain.begin() + 3 * (row + 1) * width,
                               bar.begin() + 3 * row * bar_width))
            << row;

    ASSERT_EQ(Render("--size 64x48 --cmap viridis --norm log --percentiles 2,98 --stretch 1,99 -o " +
                     dir.File("viridis.png")),
              0);
    for (const char* wrong : {"--cmap jet", "--norm log --vmax 0", "--vmin 2 --vmax 1", "--percentiles 60,40",
                              "--percentiles 2,101", "--blend overlay --alpha 1.5", "--alpha 0.5", "--clahe 0,0.01",
                              "--mask-color 1,2", "--stretch 1,99 --clahe 8,0.01", "--png-compression 10"}) {
        EXPECT_EQ(Render(std::string(wrong) + " -o " + dir.File("wrong.png")), 2) << wrong;
        EXPECT_FALSE(std::filesystem::exists(dir.File("wrong.png"))) << wrong;
    }
}

}  // namespace
}  // namespace flowloom
