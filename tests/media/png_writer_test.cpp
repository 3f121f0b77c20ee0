#include "media/png_writer.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "support/test_support.h"

namespace flowloom {
namespace {

// ImageMagick decodes what we wrote to the very pixels we gave, for widths that leave
// every remainder of a row (1..9 pixels, odd and even heights).
TEST(WritePng24, AnIndependentDecoderSeesThePixelsWeWrote) {
    if (!test::HaveProgram("convert-im6.q16")) GTEST_SKIP() << "ImageMagick (convert-im6.q16) is not installed";
    test::TempDir dir;
    for (int width = 1; width <= 9; ++width) {
        const int height = 1 + width % 4;
        std::vector<unsigned char> bgr(3 * width * height);
        for (size_t i = 0; i < bgr.size(); ++i) bgr[i] = static_cast<unsigned char>(i * 37 + width * 11);
        const std::string png = dir.File("w" + std::to_string(width) + ".png");
        ASSERT_EQ(WritePng24(width, height, bgr.data(), png.c_str()), 1);
        ASSERT_EQ(test::RunCommand("convert-im6.q16 " + png + " -depth 8 rgb:" + dir.File("out.rgb")), 0);
        const auto rgb = test::ReadFileBytes(dir.File("out.rgb"));
        ASSERT_EQ(rgb.size(), bgr.size()) << "width " << width;
        for (size_t i = 0; i < bgr.size(); i += 3) {
            ASSERT_EQ(rgb[i], bgr[i + 2]) << "width " << width << " byte " << i;
            ASSERT_EQ(rgb[i + 1], bgr[i + 1]);
            ASSERT_EQ(rgb[i + 2], bgr[i]);
        }
    }
}

TEST(WritePng24, RefusesWhatCannotBeWrittenAndLeavesNoFile) {
    test::TempDir dir;
    const unsigned char pixel[3] = {1, 2, 3};
    EXPECT_EQ(WritePng24(1, 1, pixel, dir.File("missing/dir/x.png").c_str()), 0);
    EXPECT_EQ(WritePng24(0, 1, pixel, dir.File("empty.png").c_str()), 0);
    EXPECT_EQ(WritePng24(1, 1, nullptr, dir.File("null.png").c_str()), 0);
    EXPECT_FALSE(std::filesystem::exists(dir.File("empty.png")));
    // libpng refuses a width beyond its limit while writing: the half-made file goes.
    std::vector<unsigned char> wide(3 * 2000001);
    EXPECT_EQ(WritePng24(2000001, 1, wide.data(), dir.File("wide.png").c_str()), 0);
    EXPECT_FALSE(std::filesystem::exists(dir.File("wide.png")));
}

}  // namespace
}  // namespace flowloom
