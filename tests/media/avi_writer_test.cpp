#include "media/avi_writer.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "support/test_support.h"

namespace flowloom {
namespace {

using test::HaveProgram;
using test::ReadFileBytes;
using test::RunCommand;
using test::TempDir;

// Answers the options choice with a fixed encoder (or a cancel) and counts the calls.
class TestChooser : public AviOptionsChooser {
public:
    explicit TestChooser(std::string name, int answer = 1) : name_(std::move(name)), answer_(answer) {}
    int Choose(const std::vector<AviCompressor>& offered, AviCompressor& chosen, int& quality) override {
        ++calls;
        offered_count = static_cast<int>(offered.size());
        if (!answer_) return 0;
        chosen.name = name_;
        quality = 90;
        return 1;
    }
    int calls = 0;
    int offered_count = 0;

private:
    std::string name_;
    int answer_;
};

// A vertical gradient (so a frame upside down is far off) with a little noise on top
// (so a lossless path that loses a bit shows it).
std::vector<unsigned char> MakePixels(int width, int height, int seed) {
    std::vector<unsigned char> pixels(static_cast<size_t>(width) * height * 3);
    uint32_t state = 12345u + static_cast<uint32_t>(seed) * 7919u;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            for (int c = 0; c < 3; ++c) {
                state = state * 1664525u + 1013904223u;
                const int base = (y * 200 / height + x * 40 / width + c * 20 + seed * 5) % 230;
                pixels[(static_cast<size_t>(y) * width + x) * 3 + c] = static_cast<unsigned char>(base + (state >> 28));
            }
    return pixels;
}

AviFrame FrameOf(const std::vector<unsigned char>& pixels, int width, int height) {
    return AviFrame{width, height, pixels.data()};
}

// Standard output of a shell command line (empty when it failed).
std::string Capture(const TempDir& dir, const std::string& command_line) {
    const std::string out = dir.File("captured.txt");
    if (RunCommand(command_line + " > '" + out + "'") != 0) return {};
    const std::vector<unsigned char> bytes = ReadFileBytes(out);
    return std::string(bytes.begin(), bytes.end());
}

std::string StreamInfo(const TempDir& dir, const std::string& avi) {
    return Capture(dir,
                   "ffprobe -v error -select_streams v:0 -show_entries "
                   "stream=codec_name,time_base,width,height -of default=nw=1 '" +
                       avi + "'");
}

// One line "pts,flags" per video packet.
std::vector<std::string> Packets(const TempDir& dir, const std::string& avi) {
    std::istringstream lines(Capture(dir,
                                     "ffprobe -v error -select_streams v:0 -show_entries "
                                     "packet=pts,flags -of csv=p=0 '" +
                                         avi + "'"));
    std::vector<std::string> packets;
    for (std::string line; std::getline(lines, line);)
        if (!line.empty()) packets.push_back(line);
    return packets;
}

// Every decoded frame, as 24-bit rows from the top without padding.
std::vector<unsigned char> Decode(const TempDir& dir, const std::string& avi) {
    const std::string raw = dir.File("decoded.raw");
    if (RunCommand("ffmpeg -v error -y -i '" + avi + "' -vsync passthrough -f rawvideo -pix_fmt bgr24 '" + raw + "'") !=
        0)
        return {};
    return ReadFileBytes(raw);
}

double MeanAbsoluteError(const unsigned char* a, const unsigned char* b, size_t count) {
    double sum = 0;
    for (size_t i = 0; i < count; ++i) sum += std::abs(int{a[i]} - int{b[i]});
    return count ? sum / static_cast<double>(count) : 0.0;
}

class AviWriterTool : public ::testing::Test {
protected:
    void SetUp() override {
        if (!HaveProgram("ffprobe") || !HaveProgram("ffmpeg")) GTEST_SKIP() << "ffprobe/ffmpeg not installed";
    }
    TempDir dir;
};

TEST(PackedDib, RowsArePaddedBottomUpBehindA40ByteHeader) {
    EXPECT_EQ(PackedDibRowBytes(301, 24), 904);
    const int64_t expected_rows[] = {4, 8, 12, 12, 16, 20, 24, 24, 28};
    for (int width = 1; width <= 9; ++width) EXPECT_EQ(PackedDibRowBytes(width, 24), expected_rows[width - 1]);
    EXPECT_EQ(PackedDibRowBytes(33, 1), 8);
    EXPECT_EQ(PackedDibColors(8), 256);
    EXPECT_EQ(PackedDibColors(24), 0);

    const int width = 301, height = 3;
    const std::vector<unsigned char> pixels = MakePixels(width, height, 1);
    MallocBuffer<unsigned char> block = BitmapToPackedDib(FrameOf(pixels, width, height), 24);
    ASSERT_TRUE(block);
    auto le = [&](int at, int count) {
        uint32_t v = 0;
        for (int i = count - 1; i >= 0; --i) v = v << 8 | block[at + i];
        return v;
    };
    EXPECT_EQ(le(0, 4), 40u);
    EXPECT_EQ(le(4, 4), 301u);
    EXPECT_EQ(le(8, 4), 3u);
    EXPECT_EQ(le(12, 2), 1u);
    EXPECT_EQ(le(14, 2), 24u);
    EXPECT_EQ(le(16, 4), 0u);
    EXPECT_EQ(le(20, 4), 3u * 904u);
    EXPECT_EQ(le(32, 4), 0u);  // no colour table: the format is the 40-byte header alone
    EXPECT_EQ(kPackedDibHeaderBytes + 4 * static_cast<int>(le(32, 4)), 40);
    for (int stored = 0; stored < height; ++stored) {
        const unsigned char* row = block.get() + 40 + stored * 904;
        const unsigned char* source = pixels.data() + (height - 1 - stored) * width * 3;
        EXPECT_EQ(std::vector<unsigned char>(row, row + width * 3),
                  std::vector<unsigned char>(source, source + width * 3));
        EXPECT_EQ(row[903], 0);  // the padding byte
    }

    EXPECT_FALSE(BitmapToPackedDib(AviFrame{width, height, nullptr}, 24));
    EXPECT_FALSE(BitmapToPackedDib(FrameOf(pixels, 0, height), 24));
    EXPECT_FALSE(BitmapToPackedDib(FrameOf(pixels, width, height), 8));
}

TEST(AviCompressors, OffersTheFourEncodersOfThisFfmpeg) {
    std::vector<std::string> names;
    for (const AviCompressor& c : AviCompressorsAvailable()) names.push_back(c.name);
    EXPECT_EQ(names, (std::vector<std::string>{"rawvideo", "mjpeg", "mpeg4", "ffv1"}));
}

class AviWriterEncoders : public AviWriterTool, public ::testing::WithParamInterface<const char*> {};

// An odd size with each encoder: the stream is at 80 per second with frames at
// 0, 10, 20, every packet a key frame, and the pictures come back (exactly when lossless).
TEST_P(AviWriterEncoders, WritesTenPositionsPerFrameAllKeyFrames) {
    const std::string codec = GetParam();
    const bool lossless = codec == "rawvideo" || codec == "ffv1";
    const int width = 301, height = 201, frames = 3;
    const std::string avi = dir.File("out.avi");
    std::vector<std::vector<unsigned char>> inputs;
    TestChooser chooser(codec);
    {
        AviWriter writer(avi.c_str(), 8, -1, -1, &chooser);
        EXPECT_EQ(writer.rate, 80);
        for (int k = 0; k < frames; ++k) {
            inputs.push_back(MakePixels(width, height, k));
            EXPECT_TRUE(writer.AddFrame(FrameOf(inputs.back(), width, height))) << "frame " << k;
        }
        EXPECT_EQ(writer.frameCount, frames);
        EXPECT_EQ(writer.Finish(), 1);
    }
    EXPECT_EQ(chooser.calls, 1);

    EXPECT_EQ(StreamInfo(dir, avi), "codec_name=" + codec + "\nwidth=301\nheight=201\ntime_base=1/80\n");
    EXPECT_EQ(Packets(dir, avi), (std::vector<std::string>{"0,K_", "10,K_", "20,K_"}));

    const std::vector<unsigned char> decoded = Decode(dir, avi);
    const size_t frame_bytes = static_cast<size_t>(width) * height * 3;
    ASSERT_EQ(decoded.size(), frame_bytes * frames);
    for (int k = 0; k < frames; ++k) {
        const unsigned char* got = decoded.data() + k * frame_bytes;
        if (lossless)
            EXPECT_TRUE(std::equal(got, got + frame_bytes, inputs[k].begin())) << "frame " << k;
        else
            EXPECT_LT(MeanAbsoluteError(got, inputs[k].data(), frame_bytes), 8.0) << "frame " << k;
    }
}

std::string EncoderName(const ::testing::TestParamInfo<const char*>& param_info) {
    return param_info.param;
}

INSTANTIATE_TEST_SUITE_P(AllEncoders, AviWriterEncoders, ::testing::Values("rawvideo", "mjpeg", "mpeg4", "ffv1"),
                         EncoderName);

// Tiny and odd sides hit the chroma rounding and the row padding of every encoder.
TEST_F(AviWriterTool, EveryEncoderTakesTinyOddSizes) {
    const int sizes[][2] = {{1, 1}, {2, 3}, {5, 2}, {7, 9}};
    for (const char* codec : {"rawvideo", "mjpeg", "mpeg4", "ffv1"})
        for (const auto& size : sizes) {
            const std::string avi =
                dir.File(std::string(codec) + std::to_string(size[0]) + "x" + std::to_string(size[1]) + ".avi");
            const std::vector<unsigned char> pixels = MakePixels(size[0], size[1], 3);
            TestChooser chooser(codec);
            AviWriter writer(avi.c_str(), 8, -1, -1, &chooser);
            EXPECT_TRUE(writer.AddFrame(FrameOf(pixels, size[0], size[1])));
            EXPECT_EQ(writer.Finish(), 1) << codec << " " << size[0] << "x" << size[1];
            EXPECT_EQ(Packets(dir, avi).size(), 1u) << codec << " " << size[0] << "x" << size[1];
        }
}

TEST_F(AviWriterTool, AFrameOfAnotherSizeIsSkippedAndTheFileStaysGood) {
    const std::string avi = dir.File("skip.avi");
    const auto first = MakePixels(9, 7, 0), other = MakePixels(8, 7, 1), last = MakePixels(9, 7, 2);
    {
        TestChooser chooser("rawvideo");
        AviWriter writer(avi.c_str(), 8, -1, -1, &chooser);
        EXPECT_TRUE(writer.AddFrame(FrameOf(first, 9, 7)));
        EXPECT_FALSE(writer.AddFrame(FrameOf(other, 8, 7)));
        EXPECT_FALSE(writer.AddFrame(FrameOf(last, 9, 6)));
        EXPECT_EQ(writer.IsOk(), 1);
        EXPECT_TRUE(writer.AddFrame(FrameOf(last, 9, 7)));
        EXPECT_EQ(writer.frameCount, 2);
        EXPECT_EQ(writer.frameWidth, 9);
        EXPECT_EQ(writer.frameHeight, 7);
    }
    EXPECT_EQ(Packets(dir, avi), (std::vector<std::string>{"0,K_", "10,K_"}));
    std::vector<unsigned char> expected = first;
    expected.insert(expected.end(), last.begin(), last.end());
    EXPECT_EQ(Decode(dir, avi), expected);
}

TEST_F(AviWriterTool, ASizeGivenAtConstructionRulesFromTheFirstFrame) {
    const std::string avi = dir.File("fixed.avi");
    const auto small = MakePixels(4, 4, 0), fitting = MakePixels(6, 5, 1);
    TestChooser chooser("ffv1");
    AviWriter writer(avi.c_str(), 8, 6, 5, &chooser);
    EXPECT_FALSE(writer.AddFrame(FrameOf(small, 4, 4)));
    EXPECT_EQ(chooser.calls, 0);
    EXPECT_TRUE(writer.AddFrame(FrameOf(fitting, 6, 5)));
    EXPECT_EQ(writer.Finish(), 1);
    EXPECT_EQ(Decode(dir, avi), fitting);
}

// Failures clear ok for good: later frames are refused at once and the options are
// never asked again.
TEST(AviWriterFailures, CancelledChoiceFailsTheWholeFile) {
    TempDir dir;
    const auto pixels = MakePixels(5, 5, 0);
    TestChooser chooser("mjpeg", 0);
    AviWriter writer(dir.File("cancel.avi").c_str(), 8, -1, -1, &chooser);
    EXPECT_FALSE(writer.AddFrame(FrameOf(pixels, 5, 5)));
    EXPECT_EQ(writer.IsOk(), 0);
    EXPECT_FALSE(writer.AddFrame(FrameOf(pixels, 5, 5)));
    EXPECT_EQ(chooser.calls, 1);
    EXPECT_GE(chooser.offered_count, 1);
    EXPECT_EQ(writer.frameCount, 0);
    EXPECT_EQ(writer.Finish(), 0);
}

TEST(AviWriterFailures, AnUnwritablePathFailsBeforeTheChoice) {
    TempDir dir;
    const auto pixels = MakePixels(5, 5, 0);
    TestChooser chooser("rawvideo");
    AviWriter writer(dir.File("missing/dir/x.avi").c_str(), 8, -1, -1, &chooser);
    EXPECT_FALSE(writer.AddFrame(FrameOf(pixels, 5, 5)));
    EXPECT_EQ(writer.IsOk(), 0);
    EXPECT_EQ(chooser.calls, 0);
}

TEST(AviWriterFailures, AFrameThatCouldNotBeLoadedFailsTheFile) {
    TempDir dir;
    const auto pixels = MakePixels(5, 5, 0);
    TestChooser chooser("rawvideo");
    AviWriter writer(dir.File("null.avi").c_str(), 8, -1, -1, &chooser);
    EXPECT_TRUE(writer.AddFrame(FrameOf(pixels, 5, 5)));
    EXPECT_FALSE(writer.AddFrame(AviFrame{5, 5, nullptr}));
    EXPECT_EQ(writer.IsOk(), 0);
    EXPECT_FALSE(writer.AddFrame(FrameOf(pixels, 5, 5)));
    EXPECT_EQ(writer.frameCount, 1);

    AviWriter first_missing(dir.File("null2.avi").c_str(), 8, -1, -1, &chooser);
    EXPECT_FALSE(first_missing.AddFrame(AviFrame{5, 5, nullptr}));
    EXPECT_EQ(first_missing.IsOk(), 0);
}

// The last bytes, the index and the header sizes reach the disk only when the file is
// finished, so a full disk must show in the result of Finish.
TEST(AviWriterFailures, AFullDiskShowsWhenTheFileIsFinished) {
    if (!std::filesystem::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
    const auto pixels = MakePixels(5, 5, 0);
    TestChooser chooser("rawvideo");
    AviWriter writer("/dev/full", 8, -1, -1, &chooser);
    writer.AddFrame(FrameOf(pixels, 5, 5));
    EXPECT_EQ(writer.Finish(), 0);
    EXPECT_EQ(writer.IsOk(), 0);
}

TEST(AviWriterFailures, ARateThatIsNotPositiveFailsAtConstruction) {
    TempDir dir;
    const auto pixels = MakePixels(5, 5, 0);
    AviWriter writer(dir.File("zero.avi").c_str(), 0, -1, -1, nullptr);
    EXPECT_EQ(writer.IsOk(), 0);
    EXPECT_FALSE(writer.AddFrame(FrameOf(pixels, 5, 5)));
    EXPECT_FALSE(std::filesystem::exists(dir.File("zero.avi")));
}

TEST_F(AviWriterTool, NoFramesNoFileAndNoChooserMeansUncompressed) {
    const std::string never = dir.File("never.avi");
    { AviWriter writer(never.c_str(), 8, -1, -1, nullptr); }
    EXPECT_FALSE(std::filesystem::exists(never));

    const std::string avi = dir.File("default.avi");
    const auto pixels = MakePixels(3, 2, 0);
    {
        AviWriter writer(avi.c_str(), 8, -1, -1, nullptr);
        EXPECT_TRUE(writer.AddFrame(FrameOf(pixels, 3, 2)));
    }
    EXPECT_NE(StreamInfo(dir, avi).find("codec_name=rawvideo"), std::string::npos);
    EXPECT_EQ(Decode(dir, avi), pixels);
}

}  // namespace
}  // namespace flowloom
