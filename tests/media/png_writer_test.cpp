#include "media/png_writer.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <utility>
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

// Pillow decodes the fast default and every zlib level to the pixels we gave, on pictures of
// noise, flat runs, odd widths, and heights of several strips of rows.
TEST(WritePng24, PillowSeesThePixelsWeWroteAtEveryCompression) {
    if (test::RunCommand("/usr/bin/python3 -c 'import PIL' 2>/dev/null") != 0)
        GTEST_SKIP() << "python3-pil is not installed";
    test::TempDir dir;
    const std::string script = dir.File("decode.py");
    std::ofstream(script) << "import sys\nfrom PIL import Image\n"
                             "image = Image.open(sys.argv[1])\nassert image.mode == 'RGB', image.mode\n"
                             "open(sys.argv[2], 'wb').write(image.tobytes())\n";
    for (int compression : {kPngFastCompression, 0, 1, 6, 9}) {
        for (const auto& [width, height] : {std::pair{1, 1}, std::pair{7, 3}, std::pair{301, 9}, std::pair{97, 200}}) {
            std::vector<unsigned char> bgr(3 * width * height);
            unsigned state = 12345u + static_cast<unsigned>(width);
            for (size_t i = 0; i < bgr.size(); ++i) {
                state = state * 1103515245u + 12345u;
                bgr[i] = i < bgr.size() / 2 ? static_cast<unsigned char>(state >> 24) : 200;  // noise, then flat
            }
            const std::string png = dir.File("p.png");
            ASSERT_EQ(WritePng24(width, height, bgr.data(), png.c_str(), compression), 1);
            ASSERT_EQ(test::RunCommand("/usr/bin/python3 " + script + " " + png + " " + dir.File("p.rgb")), 0);
            const auto rgb = test::ReadFileBytes(dir.File("p.rgb"));
            ASSERT_EQ(rgb.size(), bgr.size());
            for (size_t i = 0; i < bgr.size(); i += 3)
                ASSERT_TRUE(rgb[i] == bgr[i + 2] && rgb[i + 1] == bgr[i + 1] && rgb[i + 2] == bgr[i])
                    << "compression " << compression << ", " << width << " x " << height << ", byte " << i;
        }
    }
    const unsigned char pixel[3] = {1, 2, 3};
    EXPECT_EQ(WritePng24(1, 1, pixel, dir.File("ten.png").c_str(), 10), 0);
    EXPECT_FALSE(std::filesystem::exists(dir.File("ten.png")));
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
