#include "media/photo_reader.h"

#include <gtest/gtest.h>
#include <sys/resource.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "media/jpeg_reader.h"
#include "media/malloc_buffer.h"
#include "media/png_reader.h"
#include "support/test_support.h"

namespace flowloom {
namespace {

using Bytes = std::vector<unsigned char>;
const std::string kConvert = "convert-im6.q16 ";

// Our pixels as ImageMagick's raw "rgb:" order, or empty when the read failed.
Bytes ReadAsRgb(const std::string& path, int& width, int& height) {
    MallocBuffer<unsigned char> bgr(ReadPhotoImage24(path.c_str(), width, height));
    if (!bgr) return {};
    Bytes rgb(3 * static_cast<size_t>(width) * height);
    for (size_t i = 0; i < rgb.size(); i += 3) {
        rgb[i] = bgr[i + 2];
        rgb[i + 1] = bgr[i + 1];
        rgb[i + 2] = bgr[i];
    }
    return rgb;
}

// Files written by ImageMagick in every layout a photograph comes in read to the pixels
// that ImageMagick itself decodes (alpha flattened onto black). The picture is 13 x 7,
// noisy and half transparent where it has alpha, so each conversion is exercised.
TEST(ReadPhotoImage24, ReadsWhatImageMagickWritesAsImageMagickDecodesIt) {
    if (!test::HaveProgram("convert-im6.q16")) GTEST_SKIP() << "ImageMagick (convert-im6.q16) is not installed";
    test::TempDir dir;
    const std::string source = dir.File("source.png");
    ASSERT_EQ(test::RunCommand(kConvert + "-size 13x7 plasma:red-blue -seed 5 +noise Random -depth 16 " +
                               "\\( -size 13x7 gradient: \\) -alpha off -compose CopyOpacity -composite " + source),
              0);
    const struct {
        const char* name;
        const char* options;
    } cases[] = {
        {"rgb8.png", "-alpha off -depth 8 png24:"},
        {"rgb16.png", "-alpha off -depth 16 png48:"},
        {"rgba8.png", "-depth 8 png32:"},
        {"rgba16.png", "-depth 16 png64:"},
        {"grey8.png", "-alpha off -colorspace Gray -depth 8 png:"},
        {"grey16.png", "-alpha off -colorspace Gray -depth 16 png:"},
        {"grey2.png", "-alpha off -colorspace Gray -depth 2 png:"},
        {"palette.png", "-alpha off -colors 16 png8:"},
        {"interlaced.png", "-depth 8 -interlace PNG png32:"},
        {"rgb.jpg", "-alpha off -quality 85 jpg:"},
        {"grey.jpg", "-alpha off -colorspace Gray jpg:"},
        {"progressive.jpg", "-alpha off -interlace JPEG jpg:"},
    };
    for (const auto& c : cases) {
        const std::string file = dir.File(c.name);
        ASSERT_EQ(test::RunCommand(kConvert + source + " " + c.options + file), 0) << c.name;
        ASSERT_EQ(test::RunCommand(kConvert + file + " -background black -flatten -depth 8 rgb:" + dir.File("im.rgb")),
                  0);
        int width = 0;
        int height = 0;
        EXPECT_EQ(ReadAsRgb(file, width, height), test::ReadFileBytes(dir.File("im.rgb"))) << c.name;
        EXPECT_EQ(width, 13);
        EXPECT_EQ(height, 7);
        // The name does not choose the reader: the same file named otherwise reads the same.
        std::rename(file.c_str(), dir.File("renamed.data").c_str());
        EXPECT_EQ(ReadAsRgb(dir.File("renamed.data"), width, height), test::ReadFileBytes(dir.File("im.rgb")))
            << c.name;
    }
}

// The PNG with another size in its header, the header's checksum made good again.
Bytes WithPngSize(Bytes png, uint32_t width, uint32_t height) {
    for (int i = 0; i < 4; ++i) {
        png[16 + i] = static_cast<unsigned char>(width >> (24 - 8 * i));
        png[20 + i] = static_cast<unsigned char>(height >> (24 - 8 * i));
    }
    uint32_t crc = 0xFFFFFFFFu;  // over the chunk type and the 13 data bytes
    for (size_t i = 12; i < 29; ++i) {
        crc ^= png[i];
        for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    crc = ~crc;
    for (int i = 0; i < 4; ++i) png[29 + i] = static_cast<unsigned char>(crc >> (24 - 8 * i));
    return png;
}

// Damaged and oversized files fail without touching the size outputs.
TEST(ReadPhotoImage24, RefusesDamagedAndOversizedFiles) {
    if (!test::HaveProgram("convert-im6.q16")) GTEST_SKIP() << "ImageMagick (convert-im6.q16) is not installed";
    test::TempDir dir;
    ASSERT_EQ(test::RunCommand(kConvert + "-size 40x30 plasma: " + dir.File("a.png")), 0);
    ASSERT_EQ(test::RunCommand(kConvert + "-size 40x30 plasma: " + dir.File("a.jpg")), 0);
    const Bytes png = test::ReadFileBytes(dir.File("a.png"));
    const Bytes jpg = test::ReadFileBytes(dir.File("a.jpg"));
    std::vector<std::pair<std::string, Bytes>> bad;
    bad.emplace_back("png cut in its header", Bytes(png.begin(), png.begin() + 20));
    bad.emplace_back("png cut in its data", Bytes(png.begin(), png.begin() + png.size() / 2));
    bad.emplace_back("jpeg cut in its header", Bytes(jpg.begin(), jpg.begin() + 30));
    bad.emplace_back("jpeg cut in its data", Bytes(jpg.begin(), jpg.end() - 40));
    bad.emplace_back("neither", Bytes{'B', 'M', 0, 0});
    bad.emplace_back("png beyond the side limit", WithPngSize(png, 40000, 1));
    bad.emplace_back("png beyond the pixel limit", WithPngSize(png, 20000, 20000));
    Bytes huge = jpg;  // SOF0 height and width: 20000 x 20000 passes the side but not the pixel limit
    for (size_t i = 2; i + 8 < huge.size(); ++i) {
        if (huge[i] == 0xFF && huge[i + 1] == 0xC0) {
            huge[i + 5] = 0x4e, huge[i + 6] = 0x20, huge[i + 7] = 0x4e, huge[i + 8] = 0x20;
            break;
        }
    }
    bad.emplace_back("jpeg too large", huge);
    for (const auto& [what, bytes] : bad) {
        test::WriteFileBytes(dir.File("bad"), bytes);
        int width = -5;
        int height = -6;
        MallocBuffer<unsigned char> pixels(ReadPhotoImage24(dir.File("bad").c_str(), width, height));
        EXPECT_FALSE(pixels) << what;
        EXPECT_EQ(width, -5) << what;
        EXPECT_EQ(height, -6) << what;
    }
    int width = 0;
    int height = 0;
    EXPECT_FALSE(MallocBuffer<unsigned char>(ReadPhotoImage24(dir.File("none").c_str(), width, height)));
    EXPECT_FALSE(MallocBuffer<unsigned char>(ReadPhotoImage24(dir.path().c_str(), width, height)));
}

long PeakKilobytes() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

// A text chunk that claims 2^31 - 1 bytes in a file of a hundred: libpng would allocate
// them before it finds the file's end.
TEST(ReadPhotoImage24, ChunkLengthsDoNotBecomeAllocations) {
    test::TempDir dir;
    Bytes png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n', 0, 0, 0, 13, 'I', 'H', 'D', 'R', 0,
                 0,    0,   0,   0,   0,    0,    0,    8,    2, 0, 0, 0,  0,   0,   0,   0};
    png = WithPngSize(png, 4, 4);
    for (const char* type : {"tEXt", "zTXt", "iTXt", "sPLT", "iCCP"}) {
        Bytes file = png;
        file.insert(file.end(), {0x7F, 0xFF, 0xFF, 0xFF});
        file.insert(file.end(), type, type + 4);
        file.resize(file.size() + 64, 'x');
        test::WriteFileBytes(dir.File("big.png"), file);
        const long before = PeakKilobytes();
        int width = -5, height = -6;
        std::string failure;
        testing::internal::CaptureStdout();
        MallocBuffer<unsigned char> pixels(ReadPhotoImage24(dir.File("big.png").c_str(), width, height, &failure));
        testing::internal::GetCapturedStdout();
        EXPECT_FALSE(pixels) << type;
        EXPECT_FALSE(failure.empty()) << type;
        EXPECT_LT(PeakKilobytes() - before, 64 * 1024) << type;
    }
}

}  // namespace
}  // namespace flowloom
