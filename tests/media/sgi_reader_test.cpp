#include "media/sgi_reader.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include "media/malloc_buffer.h"
#include "support/test_support.h"

namespace flowloom {
namespace {

using Bytes = std::vector<unsigned char>;

const char kConvert[] = "convert-im6.q16";
const char kPython[] = "/usr/bin/python3";

void PutBig(Bytes& out, int64_t value, int count) {
    for (int i = count - 1; i >= 0; --i) out.push_back(static_cast<unsigned char>(value >> (8 * i)));
}

void PatchBig32(Bytes& file, size_t at, int64_t value) {
    for (int i = 0; i < 4; ++i) file.at(at + i) = static_cast<unsigned char>(value >> (8 * (3 - i)));
}

uint32_t Big16(const Bytes& file, size_t at) {
    return uint32_t{file.at(at)} << 8 | file.at(at + 1);
}

// The 512-byte header; `type` holds the storage byte and the bytes per channel.
Bytes Header(int type, int xsize, int ysize, int zsize) {
    Bytes out;
    PutBig(out, 474, 2);
    PutBig(out, type, 2);
    PutBig(out, 3, 2);
    PutBig(out, xsize, 2);
    PutBig(out, ysize, 2);
    PutBig(out, zsize, 2);
    out.resize(512, 0);
    return out;
}

Bytes Verbatim(int xsize, int ysize, int zsize, const Bytes& rows) {
    Bytes out = Header(0x0001, xsize, ysize, zsize);
    out.insert(out.end(), rows.begin(), rows.end());
    return out;
}

// A run-length file whose encoded row (y, z) is rows[y + z * ysize]. The rows are stored
// last one first, so that no reader can get away with reading them in sequence.
Bytes RunLength(int xsize, int ysize, int zsize, const std::vector<Bytes>& rows) {
    Bytes out = Header(0x0101, xsize, ysize, zsize);
    Bytes starts;
    Bytes lengths;
    Bytes data;
    const int64_t data_at = 512 + 8 * static_cast<int64_t>(rows.size());
    std::vector<int64_t> offsets(rows.size());
    for (size_t i = rows.size(); i-- > 0;) {
        offsets[i] = data_at + static_cast<int64_t>(data.size());
        data.insert(data.end(), rows[i].begin(), rows[i].end());
    }
    for (size_t i = 0; i < rows.size(); ++i) {
        PutBig(starts, offsets[i], 4);
        PutBig(lengths, static_cast<int64_t>(rows[i].size()), 4);
    }
    for (const Bytes* part : {&starts, &lengths, &data}) out.insert(out.end(), part->begin(), part->end());
    return out;
}

struct Decoded {
    MallocBuffer<unsigned char> pixels;
    int width = -7;  // sentinels: a failed read must leave them alone
    int height = -9;
    Bytes Bgr() const {
        if (!pixels) return {};
        return Bytes(pixels.get(), pixels.get() + static_cast<size_t>(width) * height * 3);
    }
};

Decoded DecodeBytes(const Bytes& bytes) {
    Decoded d;
    std::FILE* stream = fmemopen(const_cast<unsigned char*>(bytes.data()), bytes.size(), "rb");
    EXPECT_NE(stream, nullptr);
    if (!stream) return d;
    d.pixels.Adopt(ReadSgiImage24Stream(stream, static_cast<long>(bytes.size()), d.width, d.height));
    std::fclose(stream);
    return d;
}

Decoded DecodePath(const std::string& path) {
    Decoded d;
    d.pixels.Adopt(ReadSgiImage24(path.c_str(), d.width, d.height));
    return d;
}

// Raw RGB (red first, rows from the top) as the reader's blue-first buffer.
Bytes RgbToBgr(Bytes rgb) {
    for (size_t i = 0; i + 2 < rgb.size(); i += 3) std::swap(rgb[i], rgb[i + 2]);
    return rgb;
}

// RGBA with runs of three equal pixels on the left half (repeat runs when compressed) and
// every pixel different on the right (literal runs), alpha varying too.
Bytes Pattern(int width, int height) {
    Bytes rgba;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            for (int k = 0; k < 4; ++k) {
                const int c = x < width / 2 ? x / 3 : x;
                rgba.push_back(static_cast<unsigned char>(c * 97 + y * 31 + k * 59 + 5));
            }
    return rgba;
}

const int kSizes[][2] = {{1, 1}, {7, 5}, {13, 3}, {2, 9}, {300, 2}};

// ---------------------------------------------------------------------------------------
// Files written by other programs, against the same program's raw RGB of the same picture.

TEST(SgiReaderImageMagick, MatchesItsRawRgbPixelForPixel) {
    if (!test::HaveProgram(kConvert)) GTEST_SKIP() << kConvert << " is not installed";
    struct Variant {
        const char* name;
        const char* options;
        int zsize;
    };
    const Variant variants[] = {
        {"grey", "-alpha off -colorspace Gray", 1},
        {"rgb", "-alpha off", 3},
        {"rgba", "", 4},
    };
    test::TempDir dir;
    const std::string source = dir.File("source.rgba");
    const std::string sgi = dir.File("image.sgi");
    const std::string raw = dir.File("reference.rgb");
    for (const auto& size : kSizes) {
        const std::string geometry = std::to_string(size[0]) + "x" + std::to_string(size[1]);
        test::WriteFileBytes(source, Pattern(size[0], size[1]));
        const std::string input = std::string(kConvert) + " -size " + geometry + " -depth 8 rgba:" + source;
        for (const Variant& v : variants)
            for (const char* compress : {"None", "RLE"}) {
                SCOPED_TRACE(std::string(v.name) + " " + compress + " " + geometry);
                ASSERT_EQ(test::RunCommand(input + " " + v.options + " -depth 8 -compress " + compress + " SGI:" + sgi),
                          0);
                ASSERT_EQ(test::RunCommand(input + " " + v.options + " -depth 8 rgb:" + raw), 0);
                const Bytes file = test::ReadFileBytes(sgi);
                ASSERT_GE(file.size(), 512u);
                ASSERT_EQ(Big16(file, 2), std::string(compress) == "RLE" ? 0x0101u : 0x0001u);
                ASSERT_EQ(Big16(file, 10), static_cast<uint32_t>(v.zsize));

                Decoded d = DecodePath(sgi);
                ASSERT_TRUE(d.pixels);
                EXPECT_EQ(d.width, size[0]);
                EXPECT_EQ(d.height, size[1]);
                EXPECT_EQ(d.Bgr(), RgbToBgr(test::ReadFileBytes(raw)));
            }
    }
}

TEST(SgiReaderImageMagick, TwoBytesPerChannelFails) {
    if (!test::HaveProgram(kConvert)) GTEST_SKIP() << kConvert << " is not installed";
    test::TempDir dir;
    const std::string sgi = dir.File("deep.sgi");
    ASSERT_EQ(test::RunCommand(std::string(kConvert) + " -size 7x5 gradient:red-blue -depth 16 SGI:" + sgi), 0);
    const Bytes file = test::ReadFileBytes(sgi);
    ASSERT_EQ(file.size() >= 4 ? file[3] : 0, 2);
    Decoded d = DecodePath(sgi);
    EXPECT_FALSE(d.pixels);
    EXPECT_EQ(d.width, -7);
}

// Pillow writes only verbatim files, and no two-channel (LA) ones.
TEST(SgiReaderPillow, MatchesItsRawRgbPixelForPixel) {
    if (test::RunCommand(std::string(kPython) + " -c 'import PIL.SgiImagePlugin' 2>/dev/null") != 0)
        GTEST_SKIP() << "Pillow is not installed for " << kPython;
    test::TempDir dir;
    const std::string source = dir.File("source.rgba");
    const std::string sgi = dir.File("image.sgi");
    const std::string raw = dir.File("reference.rgb");
    for (const auto& size : kSizes)
        for (const char* mode : {"L", "RGB", "RGBA"}) {
            const std::string geometry = std::to_string(size[0]) + "x" + std::to_string(size[1]);
            SCOPED_TRACE(std::string(mode) + " " + geometry);
            test::WriteFileBytes(source, Pattern(size[0], size[1]));
            const std::string script =
                "import sys\nfrom PIL import Image\n"
                "w, h = int(sys.argv[1]), int(sys.argv[2])\n"
                "im = Image.frombytes('RGBA', (w, h), open(sys.argv[3], 'rb').read())\n"
                "im = im if sys.argv[4] == 'RGBA' else im.convert(sys.argv[4])\n"
                "im.save(sys.argv[5], format='SGI')\n"
                "open(sys.argv[6], 'wb').write(im.convert('RGB').tobytes())\n";
            ASSERT_EQ(
                test::RunCommand(std::string(kPython) + " -c \"" + script + "\" " + std::to_string(size[0]) + " " +
                                 std::to_string(size[1]) + " " + source + " " + mode + " " + sgi + " " + raw),
                0);
            const Bytes file = test::ReadFileBytes(sgi);
            ASSERT_GE(file.size(), 512u);
            ASSERT_EQ(Big16(file, 2), 0x0001u);
            ASSERT_EQ(Big16(file, 10), std::string(mode).size());

            Decoded d = DecodePath(sgi);
            ASSERT_TRUE(d.pixels);
            EXPECT_EQ(d.width, size[0]);
            EXPECT_EQ(d.height, size[1]);
            EXPECT_EQ(d.Bgr(), RgbToBgr(test::ReadFileBytes(raw)));
        }
}

// ---------------------------------------------------------------------------------------
// Layout and channels, on files built here.

TEST(SgiReaderLayout, VerbatimRowsAreChannelByChannelFromTheBottom) {
    // 2 x 2, three channels: red rows at 512 and 514, green at 516 and 518, blue at 520
    // and 522. The buffer's first row is the file's second row.
    const Bytes body = {0x10, 0x11, 0x12, 0x13, 0x20, 0x21, 0x22, 0x23, 0x30, 0x31, 0x32, 0x33};
    Decoded d = DecodeBytes(Verbatim(2, 2, 3, body));
    ASSERT_TRUE(d.pixels);
    EXPECT_EQ(d.width, 2);
    EXPECT_EQ(d.height, 2);
    EXPECT_EQ(d.Bgr(), (Bytes{0x32, 0x22, 0x12, 0x33, 0x23, 0x13,  //
                              0x30, 0x20, 0x10, 0x31, 0x21, 0x11}));
}

TEST(SgiReaderLayout, RunLengthRowsAreFoundThroughTheirTables) {
    // A literal run of 3 bytes, then 0D twice, then the end of the row.
    Decoded worked = DecodeBytes(RunLength(5, 1, 1, {{0x83, 0x0A, 0x0B, 0x0C, 0x02, 0x0D, 0x00}}));
    ASSERT_TRUE(worked.pixels);
    EXPECT_EQ(worked.Bgr(), (Bytes{10, 10, 10, 11, 11, 11, 12, 12, 12, 13, 13, 13, 13, 13, 13}));

    // Rows stored last first (see RunLength), one row shared by two entries, and a full
    // row without its end code.
    Bytes file = RunLength(3, 2, 3,
                           {{0x03, 1, 0},                         // red, bottom
                            {0x83, 4, 5, 6, 0},                   // red, top
                            {0x02, 7, 0x81, 8, 0},                // green, bottom
                            {0x03, 9},                            // green, top: no end code
                            {0x01, 10, 0x82, 11, 12, 0},          // blue, bottom
                            {0x00}});                             // blue, top: replaced below
    PatchBig32(file, 512 + 4 * 5, Big16(file, 512 + 4 * 1 + 2));  // blue top = red top
    PatchBig32(file, 512 + 24 + 4 * 5, 5);
    const Bytes expected = {4,  9, 4, 5,  9, 5, 6,  9, 6,  //
                            10, 7, 1, 11, 7, 1, 12, 8, 1};
    Decoded d = DecodeBytes(file);
    ASSERT_TRUE(d.pixels);
    EXPECT_EQ(d.Bgr(), expected);

    // The same file further on in a stream: offsets count from the file's first byte.
    Bytes embedded(100 + file.size(), 0xEE);
    std::copy(file.begin(), file.end(), embedded.begin() + 100);
    std::FILE* stream = fmemopen(embedded.data(), embedded.size(), "rb");
    ASSERT_NE(stream, nullptr);
    ASSERT_EQ(std::fseek(stream, 100, SEEK_SET), 0);
    int width = 0;
    int height = 0;
    MallocBuffer<unsigned char> pixels(ReadSgiImage24Stream(stream, static_cast<long>(file.size()), width, height));
    std::fclose(stream);
    ASSERT_TRUE(pixels);
    EXPECT_EQ(Bytes(pixels.get(), pixels.get() + expected.size()), expected);
}

TEST(SgiReaderLayout, ChannelCountDecidesGreyAlphaAndColour) {
    struct Case {
        int zsize;
        Bytes rgba;
    };
    // One pixel whose channels hold 10, 20, 30, 40, 50.
    const Case cases[] = {
        {1, {10, 10, 10, 255}}, {2, {10, 10, 10, 20}}, {3, {10, 20, 30, 255}},
        {4, {10, 20, 30, 40}},  {5, {10, 20, 30, 40}},  // a fifth channel is ignored
    };
    test::TempDir dir;
    for (const Case& c : cases) {
        SCOPED_TRACE("zsize " + std::to_string(c.zsize));
        const Bytes channels = {10, 20, 30, 40, 50};
        const std::string path = dir.File("pixel.rgb");
        test::WriteFileBytes(path, Verbatim(1, 1, c.zsize, Bytes(channels.begin(), channels.begin() + c.zsize)));
        int width = 0;
        int height = 0;
        int count = 0;
        MallocBuffer<unsigned char> rgba(ReadSgiRgba(path.c_str(), width, height, count));
        ASSERT_TRUE(rgba);
        EXPECT_EQ(count, c.zsize);
        EXPECT_EQ(Bytes(rgba.get(), rgba.get() + 4), c.rgba);
        // The 24-bit buffer drops alpha: a grey image with alpha stays grey.
        EXPECT_EQ(DecodePath(path).Bgr(), (Bytes{c.rgba[2], c.rgba[1], c.rgba[0]}));
    }
}

// ---------------------------------------------------------------------------------------
// Hostile files: every one fails, leaves the outputs alone and nothing open.

int OpenDescriptors() {
    const std::filesystem::directory_iterator fds("/proc/self/fd");
    return static_cast<int>(std::distance(fds, std::filesystem::directory_iterator()));
}

TEST(SgiReaderHostile, CorruptFilesFail) {
    const Bytes grey3 = Verbatim(3, 1, 1, {1, 2, 3});
    auto with_type = [&](int type) {
        Bytes f = grey3;
        f[2] = static_cast<unsigned char>(type >> 8);
        f[3] = static_cast<unsigned char>(type);
        return f;
    };
    Bytes rle = RunLength(3, 1, 1, {{0x03, 7, 0}});  // row at 520, 3 bytes
    auto rle_row = [&](int64_t start, int64_t length) {
        Bytes f = rle;
        PatchBig32(f, 512, start);
        PatchBig32(f, 516, length);
        return f;
    };
    auto rle_data = [](int xsize, const Bytes& row) { return RunLength(xsize, 1, 1, {row}); };
    // Row tables present, so that only the pixel count is wrong.
    Bytes huge = Header(0x0101, 8193, 8193, 1);
    huge.resize(512 + 8 * 8193, 0);
    // A 1-pixel row of 257 bytes: a valid row padded beyond the 256 bytes of rowBuffer.
    Bytes long_row = {0x01, 7, 0};
    long_row.resize(257, 0xAB);

    struct Case {
        const char* name;
        Bytes file;
    };
    const Case cases[] = {
        {"header cut short", Bytes(grey3.begin(), grey3.begin() + 11)},
        {"xsize 0", Verbatim(0, 1, 1, {1})},
        {"ysize 0", Verbatim(1, 0, 1, {1})},
        {"zsize 0", Verbatim(1, 1, 0, {1})},
        {"two bytes per channel", with_type(0x0002)},
        {"no bytes per channel", with_type(0x0000)},
        {"more pixels than the limit", huge},
        {"verbatim body one byte short", Bytes(grey3.begin(), grey3.end() - 1)},
        {"row tables cut short", Bytes(rle.begin(), rle.begin() + 518)},
        {"row starts past the end", rle_row(524, 0)},
        {"row runs past the end", rle_row(520, 4)},
        {"row longer than the row buffer", rle_data(1, long_row)},
        {"repeat run overflows the row", rle_data(2, {0x03, 7, 0})},
        {"literal run overflows the row", rle_data(2, {0x83, 1, 2, 3, 0})},
        {"literal run breaks off", rle_data(3, {0x83, 1, 2})},
        {"repeat run without its byte", rle_data(3, {0x03})},
    };
    ASSERT_TRUE(DecodeBytes(grey3).pixels);
    ASSERT_TRUE(DecodeBytes(rle).pixels);
    // The row buffer itself is large enough: 256 bytes for one pixel are accepted.
    ASSERT_TRUE(DecodeBytes(rle_data(1, Bytes(long_row.begin(), long_row.end() - 1))).pixels);

    test::TempDir dir;
    const int descriptors = OpenDescriptors();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Decoded d = DecodeBytes(c.file);
        EXPECT_FALSE(d.pixels);
        EXPECT_EQ(d.width, -7);
        EXPECT_EQ(d.height, -9);

        const std::string path = dir.File("hostile.rgb");
        test::WriteFileBytes(path, c.file);
        EXPECT_FALSE(DecodePath(path).pixels);
        EXPECT_EQ(OpenDescriptors(), descriptors);
    }
}

// A verbatim body must be whole: the header's size is checked against the file's length
// before anything is allocated, so a cut file, or a bare header claiming 8192 x 8192
// pixels, fails at once.
TEST(SgiReaderHostile, VerbatimFilesCutAnywhereFail) {
    Bytes rgb(3 * 2 * 3);
    for (size_t i = 0; i < rgb.size(); ++i) rgb[i] = static_cast<unsigned char>(i + 1);
    const Bytes whole = Verbatim(3, 2, 3, rgb);
    ASSERT_TRUE(DecodeBytes(whole).pixels);
    test::TempDir dir;
    const std::string path = dir.File("cut.rgb");
    for (size_t cut : {size_t{1}, size_t{6}, size_t{17}, rgb.size()}) {
        SCOPED_TRACE(cut);
        const Bytes bytes(whole.begin(), whole.end() - static_cast<std::ptrdiff_t>(cut));
        EXPECT_FALSE(DecodeBytes(bytes).pixels);
        test::WriteFileBytes(path, bytes);
        EXPECT_FALSE(DecodePath(path).pixels);
    }
    test::WriteFileBytes(path, Header(0x0001, 8192, 8192, 3));
    EXPECT_EQ(OpenSgiImage(path.c_str()), nullptr);  // refused before any buffer exists
}

// Only data that overflows a row is refused: a row that ends early keeps what it
// decoded and the rest of the row is black. A row of no bytes at all has not even its
// end code, so nothing says what it holds: refused.
TEST(SgiReaderHostile, ShortRowsEndInBlackEmptyRowsFail) {
    Decoded short_row = DecodeBytes(RunLength(3, 1, 1, {{0x02, 7, 0}}));
    ASSERT_TRUE(short_row.pixels);
    EXPECT_EQ(std::vector<unsigned char>(short_row.pixels.get(), short_row.pixels.get() + 9),
              (std::vector<unsigned char>{7, 7, 7, 7, 7, 7, 0, 0, 0}));
    EXPECT_FALSE(DecodeBytes(RunLength(3, 1, 1, {{}})).pixels);
}

// What the format's readers take on trust still reads: any magic number, and any storage
// byte but 1 as verbatim. What is refused says why.
TEST(SgiReaderHostile, TrustedFieldsReadAndRefusalsSayWhy) {
    Bytes odd = Verbatim(3, 1, 1, {1, 2, 3});
    odd[0] = 0x12;  // magic
    odd[1] = 0x34;
    odd[2] = 0x02;  // storage 2
    const Decoded d = DecodeBytes(odd);
    ASSERT_TRUE(d.pixels);
    EXPECT_EQ(d.Bgr(), (Bytes{1, 1, 1, 2, 2, 2, 3, 3, 3}));

    test::TempDir dir;
    const struct {
        Bytes file;
        const char* reason;
    } cases[] = {
        {Header(0x0002, 2, 2, 3), "two bytes per channel are not read (one is)"},
        {RunLength(3, 1, 1, {{}}), "a run-length row is empty (not even its end code)"},
        {Header(0x0001, 4, 4, 3), "the file ends before its last row"},
        {Header(0x0101, 4, 4, 1), "the file ends inside its row tables"},
        {RunLength(2, 1, 1, {{0x03, 7, 0}}), "a run-length row breaks off inside a run or overflows the row"},
    };
    for (const auto& c : cases) {
        const std::string path = dir.File("why.rgb");
        test::WriteFileBytes(path, c.file);
        const char* failure = nullptr;
        int width = -1, height = -1;
        EXPECT_EQ(ReadSgiImage24(path.c_str(), width, height, &failure), nullptr) << c.reason;
        EXPECT_STREQ(failure, c.reason);
    }
}

TEST(SgiReaderHostile, UnopenableFilePrintsAndFails) {
    test::TempDir dir;
    for (const std::string& path : {dir.File("missing.rgb"), dir.path().string()}) {
        SCOPED_TRACE(path);
        testing::internal::CaptureStdout();
        Decoded d = DecodePath(path);
        EXPECT_EQ(testing::internal::GetCapturedStdout(), "\nFailed to open " + path + "\n");
        EXPECT_FALSE(d.pixels);
        EXPECT_EQ(d.width, -7);
        EXPECT_EQ(d.height, -9);
    }
}

}  // namespace
}  // namespace flowloom
