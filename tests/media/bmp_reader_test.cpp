#include "media/bmp_reader.h"

#include <gtest/gtest.h>
#include <sys/resource.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "media/malloc_buffer.h"
#include "support/test_support.h"

namespace flowloom {
namespace {

using Bytes = std::vector<unsigned char>;

const char kConvert[] = "convert-im6.q16";

// `count` little-endian bytes of `value` (sign-extended past 8 bytes).
void Put(Bytes& out, int64_t value, int count) {
    for (int i = 0; i < count; ++i) out.push_back(static_cast<unsigned char>(value >> (8 * std::min(i, 7))));
}

// Palette entry i as blue, green, red: distinct for every index.
Bytes PaletteColour(int i) {
    return {static_cast<unsigned char>(i), static_cast<unsigned char>(255 - i),
            static_cast<unsigned char>(i * 37 + 11)};
}

// A hand-built BMP file; the defaults make a valid 1 x 1 24-bit file without data.
struct BmpFile {
    int64_t width = 1;
    int64_t height = 1;
    int bits = 24;
    int64_t compression = 0;
    int64_t header_size = 40;
    int planes = 1;
    int palette_entries = -1;  // -1: 2^bits entries up to 8 bits
    int64_t data_offset = -1;  // -1: right after the palette
    Bytes data;

    Bytes Encode() const {
        const int entries = palette_entries >= 0 ? palette_entries : (bits <= 8 ? 1 << bits : 0);
        // A claimed header or data offset far beyond the content is left unfilled: the
        // file then ends before it.
        const int64_t info = header_size >= 40 && header_size <= 4096 ? header_size : 40;
        const int64_t offset = data_offset >= 0 ? data_offset : 14 + info + 4 * entries;
        Bytes out = {'B', 'M'};
        Put(out, 0, 4 + 4);  // file size and reserved words: never read
        Put(out, offset, 4);
        Put(out, header_size, 4);
        Put(out, width, 4);
        Put(out, height, 4);
        Put(out, planes, 2);
        Put(out, bits, 2);
        Put(out, compression, 4);
        Put(out, 0, 20);
        out.resize(static_cast<size_t>(14 + info), 0);
        for (int i = 0; i < entries; ++i) {
            Bytes colour = PaletteColour(i);
            out.insert(out.end(), colour.begin(), colour.end());
            out.push_back(0xEE);  // the fourth byte of an entry is ignored
        }
        if (offset <= 4096)
            while (static_cast<int64_t>(out.size()) < offset) out.push_back(0xEE);
        out.insert(out.end(), data.begin(), data.end());
        return out;
    }
};

struct Decoded {
    MallocBuffer<unsigned char> pixels;
    int width = -1;
    int height = -1;
};

Decoded DecodeBytes(const Bytes& bytes) {
    Decoded d;
    std::FILE* stream = fmemopen(const_cast<unsigned char*>(bytes.data()), bytes.size(), "rb");
    EXPECT_NE(stream, nullptr);
    if (!stream) return d;
    BmpReader reader;
    d.pixels.Adopt(reader.ReadStream(stream, d.width, d.height));
    std::fclose(stream);
    return d;
}

Bytes PixelsOf(const Decoded& d) {
    if (!d.pixels) return {};
    return Bytes(d.pixels.get(), d.pixels.get() + static_cast<size_t>(d.width) * d.height * 3);
}

// The expected buffer for palette indices given top row first; -1 is a black pixel.
Bytes FromIndices(const std::vector<std::vector<int>>& rows) {
    Bytes out;
    for (const auto& row : rows)
        for (int index : row) {
            Bytes colour = index < 0 ? Bytes{0, 0, 0} : PaletteColour(index);
            out.insert(out.end(), colour.begin(), colour.end());
        }
    return out;
}

// ---------------------------------------------------------------------------------------
// Files written by ImageMagick.

struct ImageMagickVariant {
    const char* name;
    int colours;          // distinct colours in the pattern (0: every pixel its own)
    const char* options;  // including the output coder
    int bits;
    int compression;
    int header_size;
};

// Pixel i of the pattern takes colour i % colours; the colours are spread out so that
// no quantisation could merge two of them.
Bytes Pattern(int width, int height, int colours) {
    Bytes rgb;
    for (int i = 0; i < width * height; ++i) {
        const int c = colours ? i % colours : i;
        rgb.push_back(static_cast<unsigned char>(c * 97 + 13));
        rgb.push_back(static_cast<unsigned char>(c * 59 + 200));
        rgb.push_back(static_cast<unsigned char>(c * 31 + 7));
    }
    return rgb;
}

uint32_t Field(const Bytes& file, size_t at, int count) {
    uint32_t value = 0;
    for (int i = 0; i < count; ++i) value |= uint32_t{file.at(at + i)} << (8 * i);
    return value;
}

TEST(BmpReaderImageMagick, DecodesEveryDepthPixelForPixel) {
    if (!test::HaveProgram(kConvert)) GTEST_SKIP() << kConvert << " is not installed";
    const ImageMagickVariant variants[] = {
        {"1-bit", 2, "-type palette BMP3:", 1, 0, 40},
        {"4-bit", 16, "-type palette -compress None BMP3:", 4, 0, 40},
        {"8-bit", 40, "-type palette -compress None BMP3:", 8, 0, 40},
        {"RLE8", 40, "-type palette -compress RLE BMP3:", 8, 1, 40},
        {"24-bit", 0, "-type truecolor BMP3:", 24, 0, 40},
        {"108-byte header", 0, "-type truecolor -set colorspace RGB BMP:", 24, 0, 108},
        {"124-byte header", 0, "-type truecolor BMP:", 24, 0, 124},
        {"124-byte header, 8-bit", 40, "-type palette -compress None BMP:", 8, 0, 124},
    };
    test::TempDir dir;
    BmpReader reader;  // one reader for every file: nothing may carry over between reads
    for (int width = 1; width <= 9; ++width) {
        // At least 17 pixels, so that ImageMagick keeps the depth that the variant asks for.
        const int height = 19 + width % 3;
        for (const ImageMagickVariant& v : variants) {
            SCOPED_TRACE(std::string(v.name) + ", width " + std::to_string(width));
            const std::string source = dir.File("source.ppm");
            const std::string bmp = dir.File("image.bmp");
            Bytes ppm;
            for (char c : "P6 " + std::to_string(width) + " " + std::to_string(height) + " 255\n")
                ppm.push_back(static_cast<unsigned char>(c));
            Bytes pattern = Pattern(width, height, v.colours);
            ppm.insert(ppm.end(), pattern.begin(), pattern.end());
            test::WriteFileBytes(source, ppm);
            ASSERT_EQ(test::RunCommand(std::string(kConvert) + " " + source + " " + v.options + bmp), 0);

            // The file must really be of the kind this case is about.
            const Bytes file = test::ReadFileBytes(bmp);
            ASSERT_GE(file.size(), 54u);
            ASSERT_EQ(Field(file, 14, 4), static_cast<uint32_t>(v.header_size));
            ASSERT_EQ(Field(file, 28, 2), static_cast<uint32_t>(v.bits));
            ASSERT_EQ(Field(file, 30, 4), static_cast<uint32_t>(v.compression));

            int got_width = -1;
            int got_height = -1;
            MallocBuffer<unsigned char> pixels(reader.Read(bmp.c_str(), got_width, got_height));
            ASSERT_TRUE(pixels);
            ASSERT_EQ(got_width, width);
            ASSERT_EQ(got_height, height);
            // The reference is the picture handed to ImageMagick, which it stores
            // losslessly at every depth here. (Its own reader is no reference: it wraps the
            // padding runs of one-pixel-wide RLE8 rows into the next row.)
            Bytes bgr(pattern.size());
            for (size_t i = 0; i < pattern.size(); i += 3) {
                bgr[i] = pattern[i + 2];
                bgr[i + 1] = pattern[i + 1];
                bgr[i + 2] = pattern[i];
            }
            ASSERT_EQ(Bytes(pixels.get(), pixels.get() + bgr.size()), bgr);
        }
    }
}

TEST(BmpReaderImageMagick, RunLengthFileWithoutItsEndFails) {
    if (!test::HaveProgram(kConvert)) GTEST_SKIP() << kConvert << " is not installed";
    test::TempDir dir;
    const std::string bmp = dir.File("image.bmp");
    ASSERT_EQ(test::RunCommand(std::string(kConvert) +
                               " -size 5x3 xc:red -fill blue -draw 'point 1,1' -type palette"
                               " -compress RLE BMP3:" +
                               bmp),
              0);
    Bytes file = test::ReadFileBytes(bmp);
    ASSERT_EQ(Field(file, 30, 4), 1u);
    ASSERT_TRUE(DecodeBytes(file).pixels);

    // Without the end-of-bitmap code, and cut in the middle of the rows.
    for (size_t cut : {size_t{2}, (file.size() - Field(file, 10, 4)) / 2}) {
        Bytes cut_file(file.begin(), file.end() - static_cast<std::ptrdiff_t>(cut));
        Decoded d = DecodeBytes(cut_file);
        EXPECT_FALSE(d.pixels) << "cut " << cut;
        // The headers were fine, so the size was reported before the pixels failed.
        EXPECT_EQ(d.width, 5);
        EXPECT_EQ(d.height, 3);
    }
}

// ---------------------------------------------------------------------------------------
// Uncompressed data.

TEST(BmpReaderUncompressed, OneBitRowsUseWholeBytesAndIgnoreTheRest) {
    BmpFile f;
    f.width = 10;
    f.height = 2;
    f.bits = 1;
    // Two data bytes and two padding bytes per row; bits 5..0 of the second byte and the
    // padding are set to show that they are ignored. The bottom row comes first.
    f.data = {0b10110010, 0b01111111, 0xFF, 0xFF,  //
              0b01001101, 0b10111111, 0xFF, 0xFF};
    Decoded d = DecodeBytes(f.Encode());
    ASSERT_TRUE(d.pixels);
    EXPECT_EQ(d.width, 10);
    EXPECT_EQ(d.height, 2);
    EXPECT_EQ(PixelsOf(d), FromIndices({{0, 1, 0, 0, 1, 1, 0, 1, 1, 0},  //
                                        {1, 0, 1, 1, 0, 0, 1, 0, 0, 1}}));
}

TEST(BmpReaderUncompressed, FourBitOddWidthIgnoresTheLastLowNibble) {
    BmpFile f;
    f.width = 3;
    f.height = 2;
    f.bits = 4;
    f.data = {0x12, 0x3F, 0xAA, 0xAA,  //
              0x45, 0x6F, 0xAA, 0xAA};
    Decoded d = DecodeBytes(f.Encode());
    ASSERT_TRUE(d.pixels);
    EXPECT_EQ(PixelsOf(d), FromIndices({{4, 5, 6}, {1, 2, 3}}));
}

long PeakResidentKilobytes() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

// Uncompressed pixel data that ends before the last pixel's bytes is a failed read, from a
// stream of unknown length and from a file alike; only the last row's padding may be
// missing. A file's length is checked before the pixel buffer is allocated.
TEST(BmpReaderUncompressed, DataCutShortFailsButTheLastRowsPaddingMayBeMissing) {
    test::TempDir dir;
    const std::string path = dir.File("cut.bmp");
    for (int bits : {1, 4, 8, 24}) {
        BmpFile f;
        f.width = 3;
        f.height = 3;
        f.bits = bits;
        const int row_bytes = bits == 24 ? 9 : bits == 8 ? 3 : bits == 4 ? 2 : 1;
        for (int i = 0; i < 3 * 4 * ((row_bytes + 3) / 4); ++i) f.data.push_back(static_cast<unsigned char>(i * 7));
        const Bytes whole = f.Encode();
        const Decoded full = DecodeBytes(whole);
        ASSERT_TRUE(full.pixels) << bits;
        const size_t padding = (4 - row_bytes % 4) % 4;
        for (size_t cut = 0; cut <= f.data.size(); ++cut) {
            SCOPED_TRACE(std::to_string(bits) + " bits, cut " + std::to_string(cut));
            const Bytes bytes(whole.begin(), whole.end() - static_cast<std::ptrdiff_t>(cut));
            test::WriteFileBytes(path, bytes);
            BmpReader reader;
            int width = 0;
            int height = 0;
            MallocBuffer<unsigned char> from_file(reader.Read(path.c_str(), width, height));
            const Decoded from_stream = DecodeBytes(bytes);
            EXPECT_EQ(width, 3);  // the headers were fine
            EXPECT_EQ(from_stream.height, 3);
            if (cut <= padding) {
                ASSERT_TRUE(from_file);
                EXPECT_EQ(Bytes(from_file.get(), from_file.get() + 27), PixelsOf(full));
                EXPECT_EQ(PixelsOf(from_stream), PixelsOf(full));
            } else {
                EXPECT_FALSE(from_file);
                EXPECT_FALSE(from_stream.pixels);
            }
        }
    }

    // A bare 54-byte header claiming 8192 x 8192 pixels costs no 192 MiB buffer.
    BmpFile claim;
    claim.width = claim.height = 8192;
    test::WriteFileBytes(path, claim.Encode());
    const long peak_before = PeakResidentKilobytes();
    BmpReader reader;
    int width = 0;
    int height = 0;
    EXPECT_EQ(reader.Read(path.c_str(), width, height), nullptr);
    EXPECT_EQ(width, 8192);
    EXPECT_LT(PeakResidentKilobytes() - peak_before, 16 * 1024);
}

// ---------------------------------------------------------------------------------------
// Headers, palette and data offset.

TEST(BmpReaderHeaders, LongerInfoHeadersAreSkipped) {
    for (int header_size : {40, 108, 124, 300}) {
        BmpFile f;
        f.header_size = header_size;
        f.data = {9, 8, 7, 0};
        Decoded d = DecodeBytes(f.Encode());
        ASSERT_TRUE(d.pixels) << header_size;
        EXPECT_EQ(PixelsOf(d), (Bytes{9, 8, 7})) << header_size;
    }
}

TEST(BmpReaderHeaders, PixelDataStartsAtItsOffsetOrRightAfterThePalette) {
    BmpFile f;
    f.width = 2;
    f.bits = 8;
    f.data = {3, 4, 0, 0};
    // Junk between the palette and the data is dropped.
    f.data_offset = 14 + 40 + 1024 + 10;
    EXPECT_EQ(PixelsOf(DecodeBytes(f.Encode())), FromIndices({{3, 4}}));
    // An offset that the headers already passed: decoding goes on after the palette.
    f.data_offset = 0;
    EXPECT_EQ(PixelsOf(DecodeBytes(f.Encode())), FromIndices({{3, 4}}));
    // A short palette: the data offset says where it stops. A pixel that names an entry
    // past it has no colour the file gives: the read fails.
    f.palette_entries = 5;
    f.data_offset = 14 + 40 + 5 * 4;
    f.data = {3, 4, 0, 0};
    EXPECT_EQ(PixelsOf(DecodeBytes(f.Encode())), FromIndices({{3, 4}}));
    f.data = {3, 200, 0, 0};
    EXPECT_FALSE(DecodeBytes(f.Encode()).pixels);
}

// Every refusal says why, for the messages of the programs above the reader.
TEST(BmpReaderHeaders, RefusalsSayWhy) {
    auto with = [](auto change) {
        BmpFile f;
        f.width = 2;
        f.bits = 8;
        f.data = {0, 1, 0, 0};
        change(f);
        return f.Encode();
    };
    Bytes rle_open = with([](BmpFile& f) {
        f.compression = 1;
        f.data = {2, 1, 0, 0};
    });
    const struct {
        Bytes file;
        const char* reason;
    } cases[] = {
        {with([](BmpFile& f) { f.header_size = 12; }),
         "its 12-byte OS/2 info header is not read (40 bytes or longer are)"},
        {with([](BmpFile& f) {
             f.bits = 32;
             f.compression = 3;
         }),
         "32 bits per pixel are not read (1, 4, 8 and 24 are)"},
        {with([](BmpFile& f) { f.compression = 3; }), "bit-field compression is not read (none, RLE8 and RLE4 are)"},
        {with([](BmpFile& f) {
             f.palette_entries = 2;
             f.data = {1, 2, 0, 0};
         }),
         "a pixel names a colour past the end of the palette"},
        {with([](BmpFile& f) { f.height = -1; }), "it is stored top-down (a negative height), which is not read"},
        {rle_open, "the run-length data ends before its end-of-bitmap code"},
    };
    for (const auto& c : cases) {
        std::FILE* stream = fmemopen(const_cast<unsigned char*>(c.file.data()), c.file.size(), "rb");
        ASSERT_NE(stream, nullptr);
        BmpReader reader;
        int width = 0, height = 0;
        EXPECT_EQ(reader.ReadStream(stream, width, height), nullptr) << c.reason;
        std::fclose(stream);
        EXPECT_STREQ(reader.failure, c.reason);
    }
    BmpReader reader;
    int width = 0, height = 0;
    MallocBuffer<unsigned char> pixels(reader.Read("/nonexistent/x.bmp", width, height));
    EXPECT_STREQ(reader.failure, "it cannot be opened");
}

TEST(BmpReaderHeaders, RejectsWhatItCannotDecode) {
    struct Case {
        const char* name;
        BmpFile file;
        bool size_reported;  // the headers were accepted before the read failed
        size_t cut = 0;      // bytes removed from the end of the file
    };
    auto with = [](auto change) {
        BmpFile f;
        f.width = 2;
        f.height = 2;
        f.bits = 8;
        f.data = Bytes(8, 1);
        change(f);
        return f;
    };
    const Case cases[] = {
        {"12-byte header", with([](BmpFile& f) { f.header_size = 12; }), false},
        {"39-byte header", with([](BmpFile& f) { f.header_size = 39; }), false},
        {"two planes", with([](BmpFile& f) { f.planes = 2; }), false},
        {"16 bits", with([](BmpFile& f) { f.bits = 16; }), false},
        {"32 bits", with([](BmpFile& f) { f.bits = 32; }), false},
        {"bit fields", with([](BmpFile& f) { f.compression = 3; }), false},
        {"8 bits RLE4", with([](BmpFile& f) { f.compression = 2; }), false},
        {"4 bits RLE8", with([](BmpFile& f) {
             f.bits = 4;
             f.compression = 1;
         }),
         false},
        {"1 bit RLE8", with([](BmpFile& f) {
             f.bits = 1;
             f.compression = 1;
         }),
         false},
        {"24 bits RLE8", with([](BmpFile& f) {
             f.bits = 24;
             f.compression = 1;
         }),
         false},
        {"zero width", with([](BmpFile& f) { f.width = 0; }), false},
        {"zero height", with([](BmpFile& f) { f.height = 0; }), false},
        {"negative width", with([](BmpFile& f) { f.width = -2; }), false},
        {"top-down", with([](BmpFile& f) { f.height = -2; }), false},
        {"side too long", with([](BmpFile& f) {
             f.width = kBmpMaxSide + 1;
             f.height = 1;
         }),
         false},
        {"too many pixels", with([](BmpFile& f) { f.width = f.height = kBmpMaxSide; }), false},
        {"huge sizes", with([](BmpFile& f) { f.width = f.height = 0x7FFFFFFF; }), false},
        {"huge info header", with([](BmpFile& f) { f.header_size = 0x7FFFFFFF; }), false},
        {"cut in the headers", with([](BmpFile&) {}), false, 8 + 1024 + 10},
        // The headers hold, but the file ends before the pixel data begins.
        {"cut in the palette", with([](BmpFile&) {}), true, 8 + 100},
        {"data beyond the end", with([](BmpFile& f) { f.data_offset = 0x7FFFFFF0; }), true},
    };
    for (const Case& c : cases) {
        Bytes bytes = c.file.Encode();
        bytes.resize(bytes.size() - c.cut);
        Decoded d = DecodeBytes(bytes);
        EXPECT_FALSE(d.pixels) << c.name;
        EXPECT_EQ(d.width, c.size_reported ? 2 : 0) << c.name;
        EXPECT_EQ(d.height, c.size_reported ? 2 : 0) << c.name;
    }

    Bytes wrong_signature = with([](BmpFile&) {}).Encode();
    wrong_signature[1] = 'A';
    EXPECT_FALSE(DecodeBytes(wrong_signature).pixels);
}

// ---------------------------------------------------------------------------------------
// Run-length data.

Decoded DecodeRunLength(int bits, int width, int height, const Bytes& data) {
    BmpFile f;
    f.width = width;
    f.height = height;
    f.bits = bits;
    f.compression = bits == 8 ? 1 : 2;
    f.data = data;
    return DecodeBytes(f.Encode());
}

TEST(BmpReaderRunLength, Rle8RunsFillTheRowAndDropWhatPassesItsEdge) {
    Decoded d = DecodeRunLength(8, 4, 1, {0x03, 0x05, 0x00, 0x00, 0x00, 0x01});
    ASSERT_TRUE(d.pixels);
    EXPECT_EQ(PixelsOf(d), FromIndices({{5, 5, 5, -1}}));

    // Writers pad rows with runs past the edge; the extra pixels are dropped.
    d = DecodeRunLength(8, 4, 2, {0x05, 0x05, 0x00, 0x00, 0x02, 0x07, 0x03, 0x08, 0x00, 0x01});
    ASSERT_TRUE(d.pixels);
    EXPECT_EQ(PixelsOf(d), FromIndices({{7, 7, 8, 8}, {5, 5, 5, 5}}));

    // An absolute run with an odd count is padded; one past the edge loses its tail.
    d = DecodeRunLength(8, 4, 1, {0x00, 0x05, 1, 2, 3, 4, 5, 0x99, 0x00, 0x01});
    ASSERT_TRUE(d.pixels);
    EXPECT_EQ(PixelsOf(d), FromIndices({{1, 2, 3, 4}}));
}

TEST(BmpReaderRunLength, Rle4AbsoluteRunsArePaddedToWholeWords) {
    // Padding follows an odd number of data bytes, not an odd number of pixels: five or
    // six pixels take three bytes and a padding byte, three or four pixels two bytes and
    // none. A misread padding would shift everything after it.
    Decoded d = DecodeRunLength(4, 6, 4, {0x00, 0x05, 0x12, 0x34, 0x5F, 0x99, 0x01, 0x60, 0x00, 0x00,  //
                                          0x00, 0x04, 0x67, 0x89, 0x02, 0xAB, 0x00, 0x00,              //
                                          0x00, 0x06, 0xCD, 0xE1, 0x23, 0x99, 0x00, 0x00,              //
                                          0x00, 0x03, 0x45, 0x6F, 0x00, 0x03, 0x78, 0x9F, 0x00, 0x01});
    ASSERT_TRUE(d.pixels);
    EXPECT_EQ(PixelsOf(d),
              FromIndices({{4, 5, 6, 7, 8, 9}, {12, 13, 14, 1, 2, 3}, {6, 7, 8, 9, 10, 11}, {1, 2, 3, 4, 5, 6}}));
}

TEST(BmpReaderRunLength, Rle4EncodedRunsAlternateNibblesAndMayStartInTheLastColumn) {
    // Width 3: the second run of two pixels starts in the last column, as some writers
    // emit for odd widths; its second pixel is dropped.
    Decoded d = DecodeRunLength(4, 3, 1, {0x02, 0x12, 0x02, 0x3C, 0x00, 0x01});
    ASSERT_TRUE(d.pixels);
    EXPECT_EQ(PixelsOf(d), FromIndices({{1, 2, 3}}));

    d = DecodeRunLength(4, 5, 1, {0x05, 0xAB, 0x00, 0x01});
    ASSERT_TRUE(d.pixels);
    EXPECT_EQ(PixelsOf(d), FromIndices({{10, 11, 10, 11, 10}}));
}

TEST(BmpReaderRunLength, DeltasAndLineEndsSkipPixelsThatStayBlack) {
    // Row 0 (bottom): one pixel, then a delta of (2, 1) to column 3 of row 1, one pixel,
    // an early end of line, one pixel in row 2.
    Decoded d =
        DecodeRunLength(8, 4, 3, {0x01, 0x04, 0x00, 0x02, 0x02, 0x01, 0x01, 0x06, 0x00, 0x00, 0x01, 0x09, 0x00, 0x01});
    ASSERT_TRUE(d.pixels);
    EXPECT_EQ(PixelsOf(d), FromIndices({{9, -1, -1, -1}, {-1, -1, -1, 6}, {4, -1, -1, -1}}));
}

TEST(BmpReaderRunLength, HostileRunsFail) {
    struct Case {
        const char* name;
        int bits;
        Bytes data;
    };
    const Case cases[] = {
        {"no end of bitmap", 8, {0x04, 0x01, 0x00, 0x00}},
        {"ends inside a pair", 8, {0x04, 0x01, 0x00}},
        {"ends inside an absolute run", 8, {0x00, 0x04, 1, 2}},
        {"ends inside an RLE4 absolute run", 4, {0x00, 0x04, 0x12}},
        {"ends inside a delta", 8, {0x00, 0x02, 0x01}},
        {"delta past the right edge", 8, {0x00, 0x02, 0x04, 0x00, 0x00, 0x01}},
        {"delta below the last row", 8, {0x00, 0x02, 0x00, 0x02, 0x00, 0x01}},
        {"delta after a full row", 8, {0x04, 0x01, 0x00, 0x02, 0x00, 0x01, 0x00, 0x01}},
        {"line end below the last row", 8, {0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01}},
        {"run below the last row", 8, {0x00, 0x00, 0x00, 0x00, 0x01, 0x01, 0x00, 0x01}},
        {"absolute run below the last row", 4, {0x00, 0x00, 0x00, 0x00, 0x00, 0x03, 0x12, 0x30, 0x00, 0x01}},
    };
    for (const Case& c : cases) {
        Decoded d = DecodeRunLength(c.bits, 4, 2, c.data);
        EXPECT_FALSE(d.pixels) << c.name;
        EXPECT_EQ(d.width, 4) << c.name;
        EXPECT_EQ(d.height, 2) << c.name;
    }
    // The same rows with a proper ending decode, so each case fails for its own reason.
    EXPECT_TRUE(DecodeRunLength(8, 4, 2, {0x04, 0x01, 0x00, 0x00, 0x00, 0x01}).pixels);
    EXPECT_TRUE(DecodeRunLength(8, 4, 2, {0x00, 0x00, 0x00, 0x00, 0x00, 0x01}).pixels);
    EXPECT_TRUE(DecodeRunLength(8, 4, 2, {0x00, 0x02, 0x03, 0x01, 0x00, 0x01}).pixels);
}

// ---------------------------------------------------------------------------------------
// Files and streams.

int OpenDescriptors() {
    int count = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) ++count;
    return count;
}

TEST(BmpReaderFiles, ReadsAPathAndLeavesNothingOpen) {
    test::TempDir dir;
    BmpFile good;
    good.data = {1, 2, 3, 0};
    BmpFile bad = good;
    bad.bits = 8;
    bad.compression = 1;  // no end-of-bitmap code
    test::WriteFileBytes(dir.File("good.bmp"), good.Encode());
    test::WriteFileBytes(dir.File("bad.bmp"), bad.Encode());

    const int open_before = OpenDescriptors();
    BmpReader reader;
    int width = 7;
    int height = 7;
    MallocBuffer<unsigned char> pixels(reader.Read(dir.File("good.bmp").c_str(), width, height));
    ASSERT_TRUE(pixels);
    EXPECT_EQ(width, 1);
    EXPECT_EQ(height, 1);
    EXPECT_EQ(Bytes(pixels.get(), pixels.get() + 3), (Bytes{1, 2, 3}));

    EXPECT_EQ(reader.Read(dir.File("bad.bmp").c_str(), width, height), nullptr);
    EXPECT_EQ(width, 1);
    EXPECT_EQ(reader.Read(dir.File("missing.bmp").c_str(), width, height), nullptr);
    EXPECT_EQ(width, 0);
    EXPECT_EQ(height, 0);
    EXPECT_EQ(reader.file, nullptr);
    EXPECT_EQ(OpenDescriptors(), open_before);
}

}  // namespace
}  // namespace flowloom
