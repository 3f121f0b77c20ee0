#include "media/bmp_writer.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "media/bmp_reader.h"
#include "media/malloc_buffer.h"
#include "support/test_support.h"

namespace flowloom {
namespace {

using Bytes = std::vector<unsigned char>;

const char kConvert[] = "convert-im6.q16";

Bytes Ramp(int width, int height) {
    Bytes pixels(static_cast<size_t>(width) * height * 3);
    for (size_t i = 0; i < pixels.size(); ++i) pixels[i] = static_cast<unsigned char>(i * 29 + 3);
    return pixels;
}

TEST(WriteBmp24, TwoByTwoFileHasTheDocumentedLayout) {
    test::TempDir dir;
    const std::string path = dir.File("two.bmp");
    const Bytes pixels = {1, 2, 3, 4,  5,  6,  // top row
                          7, 8, 9, 10, 11, 12};
    ASSERT_EQ(WriteBmp24(2, 2, pixels.data(), path.c_str()), 1);

    // clang-format off
    const Bytes expected = {
        'B', 'M', 70, 0, 0, 0, 0, 0, 0, 0, 54, 0, 0, 0,    // file header
        40, 0, 0, 0, 2, 0, 0, 0, 2, 0, 0, 0, 1, 0, 24, 0,  // size, width, height, planes, bits
        0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,                // compression, image size, x res
        0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,                // y res, colours, important
        7, 8, 9, 10, 11, 12, 0, 0,                         // the bottom row comes first
        1, 2, 3, 4, 5, 6, 0, 0};
    // clang-format on
    EXPECT_EQ(test::ReadFileBytes(path), expected);

    BmpReader reader;
    int width = 0;
    int height = 0;
    MallocBuffer<unsigned char> back(reader.Read(path.c_str(), width, height));
    ASSERT_TRUE(back);
    EXPECT_EQ(Bytes(back.get(), back.get() + 12), pixels);
}

TEST(WriteBmp24, RoundTripsEveryRowPadding) {
    test::TempDir dir;
    const bool have_convert = test::HaveProgram(kConvert);
    BmpReader reader;
    for (int width = 1; width <= 9; ++width) {
        for (int height = 1; height <= 3; ++height) {
            SCOPED_TRACE(std::to_string(width) + " x " + std::to_string(height));
            const std::string path = dir.File("image.bmp");
            const Bytes pixels = Ramp(width, height);
            ASSERT_EQ(WriteBmp24(width, height, pixels.data(), path.c_str()), 1);
            const size_t stride = (width * 3 + 3) / 4 * 4;
            EXPECT_EQ(test::ReadFileBytes(path).size(), 54 + stride * height);

            int got_width = 0;
            int got_height = 0;
            MallocBuffer<unsigned char> back(reader.Read(path.c_str(), got_width, got_height));
            ASSERT_TRUE(back);
            ASSERT_EQ(got_width, width);
            ASSERT_EQ(got_height, height);
            EXPECT_EQ(Bytes(back.get(), back.get() + pixels.size()), pixels);

            // An independent reader must see the same picture.
            if (!have_convert) continue;
            const std::string dump = dir.File("image.rgb");
            ASSERT_EQ(test::RunCommand(std::string(kConvert) + " " + path + " -depth 8 rgb:" + dump), 0);
            const Bytes rgb = test::ReadFileBytes(dump);
            ASSERT_EQ(rgb.size(), pixels.size());
            for (size_t i = 0; i < rgb.size(); i += 3) {
                ASSERT_EQ(rgb[i], pixels[i + 2]) << "pixel " << i / 3;
                ASSERT_EQ(rgb[i + 1], pixels[i + 1]) << "pixel " << i / 3;
                ASSERT_EQ(rgb[i + 2], pixels[i]) << "pixel " << i / 3;
            }
        }
    }
}

TEST(WriteBmp24, ReportsFailures) {
    test::TempDir dir;
    const Bytes pixels = Ramp(2, 2);
    const std::string unreachable = dir.File("no/such/dir/image.bmp");
    testing::internal::CaptureStdout();
    EXPECT_EQ(WriteBmp24(2, 2, pixels.data(), unreachable.c_str()), 0);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Failed to create " + unreachable + " for writing!\n");

    // The file opens but nothing can be written to it.
    if (std::filesystem::exists("/dev/full")) {
        testing::internal::CaptureStdout();
        EXPECT_EQ(WriteBmp24(2, 2, pixels.data(), "/dev/full"), 0);
        EXPECT_NE(testing::internal::GetCapturedStdout().find("/dev/full"), std::string::npos);
    }

    // No buffer, or no pixels: no file.
    const std::string path = dir.File("image.bmp");
    testing::internal::CaptureStdout();
    EXPECT_EQ(WriteBmp24(2, 2, nullptr, path.c_str()), 0);
    EXPECT_EQ(WriteBmp24(0, 2, pixels.data(), path.c_str()), 0);
    EXPECT_EQ(WriteBmp24(2, -1, pixels.data(), path.c_str()), 0);
    testing::internal::GetCapturedStdout();
    EXPECT_FALSE(std::filesystem::exists(path));
}

TEST(MirrorImage24, ReversesRowsOrColumnsWholePixelsAtATime) {
    Bytes row = {1, 2, 3, 4, 5, 6, 7, 8, 9};  // 3 x 1
    MirrorImage24(3, 1, row.data(), 'V');
    EXPECT_EQ(row, (Bytes{1, 2, 3, 4, 5, 6, 7, 8, 9}));
    MirrorImage24(3, 1, row.data(), 'h');
    EXPECT_EQ(row, (Bytes{7, 8, 9, 4, 5, 6, 1, 2, 3}));

    Bytes column = {1, 2, 3, 4, 5, 6, 7, 8, 9};  // 1 x 3
    MirrorImage24(1, 3, column.data(), 'v');
    EXPECT_EQ(column, (Bytes{7, 8, 9, 4, 5, 6, 1, 2, 3}));
    MirrorImage24(1, 3, column.data(), 'H');
    EXPECT_EQ(column, (Bytes{7, 8, 9, 4, 5, 6, 1, 2, 3}));

    MirrorImage24(1, 3, column.data(), 'x');
    EXPECT_EQ(column, (Bytes{7, 8, 9, 4, 5, 6, 1, 2, 3}));
    MirrorImage24(1, 3, nullptr, 'H');
}

TEST(MirrorImage24, MapsEveryPixelAndUndoesItself) {
    for (int width = 1; width <= 9; ++width) {
        const int height = 10 - width;
        const Bytes original = Ramp(width, height);
        Bytes flipped_h = original;
        Bytes flipped_v = original;
        MirrorImage24(width, height, flipped_h.data(), 'H');
        MirrorImage24(width, height, flipped_v.data(), 'V');
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x)
                for (int c = 0; c < 3; ++c) {
                    const unsigned char at = original[(y * width + x) * 3 + c];
                    ASSERT_EQ(flipped_h[(y * width + width - 1 - x) * 3 + c], at) << width;
                    ASSERT_EQ(flipped_v[((height - 1 - y) * width + x) * 3 + c], at) << width;
                }
        MirrorImage24(width, height, flipped_h.data(), 'h');
        MirrorImage24(width, height, flipped_v.data(), 'v');
        EXPECT_EQ(flipped_h, original) << width;
        EXPECT_EQ(flipped_v, original) << width;
    }
}

TEST(ReverseBytes4, SwapsTheByteOrderInPlace) {
    unsigned char word[4] = {0x01, 0x02, 0x03, 0x04};
    EXPECT_EQ(ReverseBytes4(word), word);
    EXPECT_EQ(Bytes(word, word + 4), (Bytes{0x04, 0x03, 0x02, 0x01}));
}

}  // namespace
}  // namespace flowloom
