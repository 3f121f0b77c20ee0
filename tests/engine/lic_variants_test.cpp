#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "engine/commands.h"
#include "engine/lic_engine.h"
#include "lic/image_lic.h"
#include "media/bmp_reader.h"
#include "media/bmp_writer.h"
#include "support/engine_fixture.h"
#include "support/test_support.h"

namespace flowloom {
namespace {

using Fixture = test::EngineFixture;

// All passes of a progressive run, with the whole grid as region, give the picture of
// the plain convolution.
TEST(ProgressiveStep, AllPassesGiveThePlainLicPicture) {
    Fixture f(48, 36);
    f.mirror.field_type = kFieldVortex;
    f.Run(kCommandLic);
    const auto lic = f.Lic();
    const auto rgb = f.Rgb();

    f.Run(kCommandProLic);  // same field, same texture: prepares and stops
    std::memset(f.engine.lic_image.get(), 0, 48 * 36);
    for (int pass = 0; pass < 9; ++pass) f.engine.ProgressiveStep(3, pass, pass, -1, INT_MAX, -1, INT_MAX);
    EXPECT_EQ(f.Lic(), lic);
    EXPECT_EQ(f.Rgb(), rgb);
}

TEST(ProgressiveStep, PassesOutsideTheOrderChangeNothing) {
    Fixture f(48, 36);
    f.Run(kCommandProLic);
    std::memset(f.engine.lic_image.get(), 5, 48 * 36);
    std::memset(f.engine.rgb_image.get(), 6, 3 * 48 * 36);
    f.engine.ProgressiveStep(3, 0, 9, -1, INT_MAX, -1, INT_MAX);
    f.engine.ProgressiveStep(3, 4, 3, -1, INT_MAX, -1, INT_MAX);
    f.engine.ProgressiveStep(3, -2, -1, -1, INT_MAX, -1, INT_MAX);
    EXPECT_EQ(f.Lic(), std::vector<unsigned char>(48 * 36, 5));
    EXPECT_EQ(f.Rgb(), std::vector<unsigned char>(3 * 48 * 36, 6));
}

TEST(Animation, ComputeWritesTheFramesAndReportsFailure) {
    test::TempDir dir;
    Fixture f(40, 30);
    f.engine.animation_dir = dir.path();
    f.mirror.anim_frames = 12;
    f.Run(kCommandAnimation);
    EXPECT_EQ(f.engine.animation_written, 1);
    EXPECT_EQ(f.mirror.kernel_type, 2);
    EXPECT_EQ(f.mirror.kernel_length, 30);
    for (int k = 0; k < 12; ++k) {
        char name[32];
        std::snprintf(name, sizeof name, "frame%d%d.bmp", k / 10, k % 10);
        BmpReader reader;
        int width = 0, height = 0;
        unsigned char* frame = reader.Read((dir.path() / "LICAnimation" / name).string().c_str(), width, height);
        ASSERT_NE(frame, nullptr) << name;
        EXPECT_EQ(width, 40);
        EXPECT_EQ(height, 30);
        std::free(frame);
    }
    // A file where the directory should be: the animation says it failed.
    test::TempDir blocked;
    test::WriteFileBytes(blocked.File("LICAnimation"), {1, 2, 3});
    f.engine.animation_dir = blocked.path();
    f.mirror.field_changed = 1;
    testing::internal::CaptureStdout();
    f.Run(kCommandAnimation);
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(f.engine.animation_written, 0);
}

// A uniform image has no gradient, so force extraction yields a zero field and the LIC
// copies every pixel: the result is the blurred input.
TEST(ProcessImage, UniformImageComesBackBlurredUnchanged) {
    test::TempDir dir;
    std::vector<unsigned char> pixels(3 * 20 * 10);
    for (size_t i = 0; i < pixels.size(); i += 3) {
        pixels[i] = 30;
        pixels[i + 1] = 120;
        pixels[i + 2] = 210;
    }
    ASSERT_EQ(WriteBmp24(20, 10, pixels.data(), dir.File("flat.bmp").c_str()), 1);
    Fixture f(48, 36);
    SetRecordPath(f.mirror.image_file, dir.File("flat.bmp").c_str());
    f.mirror.image_iterations = 3;
    f.Run(kCommandLicing);
    EXPECT_EQ(f.mirror.x_res, 20);
    EXPECT_EQ(f.mirror.y_res, 10);
    ASSERT_TRUE(f.engine.HasColorImage());
    EXPECT_EQ(f.Rgb(), pixels);
    EXPECT_FALSE(f.engine.noise);
    EXPECT_FALSE(f.engine.lic_image);
    EXPECT_FALSE(f.engine.magnitudes);
    EXPECT_TRUE(f.engine.vectors);

    // The next field LIC at the same size follows the Saddle field the panel shows, not
    // the image's own (here zero) field.
    f.Run(kCommandLic);
    EXPECT_NEAR(f.engine.vectors[0], -0.70710678f, 1e-6f);
    EXPECT_NEAR(f.engine.vectors[1], -0.70710678f, 1e-6f);
    EXPECT_TRUE(f.engine.ImagesMatchGrid());
}

TEST(ProcessImage, EndingDecidesTheReaderAndAFailedReadLeavesNothing) {
    test::TempDir dir;
    std::vector<unsigned char> pixels(3 * 16 * 16);
    for (size_t i = 0; i < pixels.size(); ++i) pixels[i] = static_cast<unsigned char>(i * 7);
    ASSERT_EQ(WriteBmp24(16, 16, pixels.data(), dir.File("a.BMP").c_str()), 1);
    std::filesystem::copy_file(dir.File("a.BMP"), dir.File("a.Bmp"));

    Fixture f(48, 36);
    SetRecordPath(f.mirror.image_file, dir.File("a.BMP").c_str());
    f.mirror.force_extraction = 0;
    f.mirror.field_type = kFieldFile;  // LICing switches a file field back to Saddle
    f.Run(kCommandLicing);
    EXPECT_EQ(f.mirror.field_type, kFieldSaddle);
    ASSERT_TRUE(f.engine.HasColorImage());
    EXPECT_NE(f.Rgb(), pixels);  // convolved along the Saddle field

    for (const char* name : {"a.Bmp", "missing.bmp", "a.txt"}) {
        SetRecordPath(f.mirror.image_file, dir.File(name).c_str());
        f.Run(kCommandLicing);
        EXPECT_FALSE(f.engine.rgb_image) << name;
        EXPECT_FALSE(f.engine.vectors) << name;
        EXPECT_FALSE(f.engine.HasColorImage()) << name;
    }
    // A field computation afterwards rebuilds every buffer.
    f.Run(kCommandLic);
    EXPECT_TRUE(f.engine.ImagesMatchGrid());
}

TEST(ProcessImage, AnalyticFieldPathMatchesTheImageLicOfThatField) {
    test::TempDir dir;
    std::vector<unsigned char> pixels(3 * 24 * 18);
    for (size_t i = 0; i < pixels.size(); ++i) pixels[i] = static_cast<unsigned char>((i * 37) % 251);
    ASSERT_EQ(WriteBmp24(24, 18, pixels.data(), dir.File("p.bmp").c_str()), 1);
    Fixture f(48, 36);
    SetRecordPath(f.mirror.image_file, dir.File("p.bmp").c_str());
    f.mirror.force_extraction = 0;
    f.mirror.field_type = kFieldSpiralling;
    f.mirror.high_pass = 1;
    f.Run(kCommandLicing);
    ASSERT_TRUE(f.engine.HasColorImage());
    const auto once = f.Rgb();
    // The same pass by hand: LIC along the held field, then the colour high-pass.
    std::vector<unsigned char> expected = pixels;
    f.engine.ComputeImageLIC(24, 18, expected.data(), f.engine.vectors.get());
    EXPECT_EQ(expected.size(), once.size());
    EXPECT_NE(expected, once);  // the high-pass filter ran after the convolution
}

}  // namespace
}  // namespace flowloom
