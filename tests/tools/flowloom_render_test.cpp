#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
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

int Render(const std::string& arguments, const std::string& log = "/dev/null") {
    return test::RunCommand(kRender + " " + arguments + " >" + log + " 2>&1");
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
    LicEngine engine(nullptr, 1224, 15, 394, 615, 401);
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
