#include "lic/animation.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "engine/filters.h"
#include "lic/kernels.h"
#include "lic/parallel_rows.h"
#include "lic/progressive.h"
#include "media/bmp_reader.h"
#include "support/test_support.h"

namespace flowloom {
namespace {

using Bytes = std::vector<unsigned char>;
namespace fs = std::filesystem;

// A circular field around the image centre (a zero vector where the centre falls on a
// pixel centre, i.e. at odd sizes) and a random texture, built without the engine.
struct Scene {
    int width;
    int height;
    std::vector<float> vectors;
    Bytes noise;
    AnimationInput in;

    Scene(int w, int h, int frames, int passes, int length = 8) : width(w), height(h) {
        vectors.resize(2 * w * h);
        for (int row = 0; row < h; ++row) {
            for (int col = 0; col < w; ++col) {
                const double dx = col + 0.5 - w / 2.0, dy = row + 0.5 - h / 2.0;
                const double r = std::hypot(dx, dy);
                vectors[2 * (row * w + col)] = r > 0 ? static_cast<float>(-dy / r) : 0.0f;
                vectors[2 * (row * w + col) + 1] = r > 0 ? static_cast<float>(dx / r) : 0.0f;
            }
        }
        std::mt19937 random(11);
        for (int i = 0; i < w * h; ++i) noise.push_back(static_cast<unsigned char>(random() % 256));
        in.vectors = vectors.data();
        in.noise = noise.data();
        in.width = w;
        in.height = h;
        in.kernel_length = length;
        in.kernel_ripples = 3.0f;
        in.anim_frames = frames;
        in.enhance_iterations = passes;
    }
    int Samples() const { return width * height; }

    // Frames as separate images; empty when the computation failed.
    std::vector<Bytes> Frames(const std::function<void(int, int, unsigned char*)>& high_pass = {}) {
        test::RecordingHost host;
        const auto block = ComputeAnimationFrameImages(in, host, high_pass);
        std::vector<Bytes> frames;
        if (!block) return frames;
        for (int k = 0; k < in.anim_frames; ++k)
            frames.emplace_back(block.get() + k * Samples(), block.get() + (k + 1) * Samples());
        return frames;
    }

    // The plain LIC (one pass, one LOD class) of `texture` with frame k's kernel.
    Bytes PlainLic(const Bytes& texture, int k) const {
        std::vector<float> tables(2 * in.anim_frames * kKernelTableSize);
        BuildAnimationKernels(in.anim_frames, static_cast<float>(in.kernel_length), in.kernel_ripples, tables.data());
        const float* forward = tables.data() + 2 * k * kKernelTableSize;
        const ProgressiveInput plain{
            vectors.data(), texture.data(), width, height, forward, forward + kKernelTableSize, in.kernel_length, {}};
        Bytes image(Samples(), 0);
        ProgressivePasses(plain, 1, 0, 0, -1, 2500, -1, 2500, image.data());
        return image;
    }
};

std::string FrameName(int k) {
    return "frame" + std::to_string(k / 10) + std::to_string(k % 10) + ".bmp";
}

// The pixels of a BMP file (blue, green, red), empty when it cannot be read.
Bytes ReadBmp(const fs::path& path, int& width, int& height) {
    BmpReader reader;
    unsigned char* pixels = reader.Read(path.string().c_str(), width, height);
    if (!pixels) return {};
    Bytes bytes(pixels, pixels + 3 * width * height);
    std::free(pixels);
    return bytes;
}

// ---- Kernels ----

TEST(AnimationKernels, FrameZeroIsSymmetricAndLaterFramesShiftTheRipples) {
    const int frames = 8;
    std::vector<float> tables(2 * frames * kKernelTableSize, -1.0f);
    BuildAnimationKernels(frames, 15.0f, 3.0f, tables.data());
    auto table = [&](int k, int d) {
        return std::vector<float>(tables.begin() + (2 * k + d) * kKernelTableSize,
                                  tables.begin() + (2 * k + d + 1) * kKernelTableSize);
    };
    EXPECT_EQ(table(0, 0), table(0, 1));
    EXPECT_NE(table(1, 0), table(1, 1));
    // Frame k's tables are the Hanning tables of phase k * 360 / N.
    for (int k = 0; k < frames; ++k) {
        std::vector<float> forward(kKernelTableSize), backward(kKernelTableSize);
        BuildKernelTables(forward.data(), backward.data(), 15.0f, 3.0f, k * 45.0f, kKernelHanning);
        EXPECT_EQ(table(k, 0), forward) << "frame " << k;
        EXPECT_EQ(table(k, 1), backward) << "frame " << k;
    }
}

// ---- Frames ----

// One shared trace per pixel must give each frame exactly the plain LIC with that
// frame's own kernel.
TEST(AnimationFrames, EachFrameIsThePlainLicWithItsOwnKernel) {
    Scene scene(23, 17, 8, 1, 9);
    const auto frames = scene.Frames();
    ASSERT_EQ(frames.size(), 8u);
    for (int k = 0; k < 8; ++k) EXPECT_EQ(frames[k], scene.PlainLic(scene.noise, k)) << "frame " << k;
    EXPECT_NE(frames[0], frames[1]);
}

// Frame 0's kernel is symmetric, so reversing every vector leaves it unchanged; frame 1's
// is not, so that frame must change (a frame weighing the wrong half would not).
TEST(AnimationFrames, OnlyTheSymmetricFrameIgnoresTheSignOfTheField) {
    Scene scene(21, 21, 8, 1, 10);
    const auto frames = scene.Frames();
    for (float& v : scene.vectors) v = -v;
    const auto reversed = scene.Frames();
    EXPECT_EQ(reversed[0], frames[0]);
    EXPECT_NE(reversed[1], frames[1]);
}

TEST(AnimationFrames, PixelOnAZeroVectorIsBlackInEveryFrame) {
    Scene scene(15, 13, 12, 2, 6);  // odd sizes: the centre (7, 6) is a zero vector
    scene.noise.assign(scene.Samples(), 230);
    for (const Bytes& frame : scene.Frames()) {
        EXPECT_EQ(frame[6 * 15 + 7], 0);
        EXPECT_GT(frame[2 * 15 + 2], 0);
    }
}

TEST(AnimationFrames, SameFramesForEveryThreadCount) {
    Scene scene(41, 37, 8, 2, 12);
    SetThreadCount(1);
    const auto reference = scene.Frames(HighPassFilter);
    for (int threads : {2, 16}) {
        SetThreadCount(threads);
        EXPECT_EQ(scene.Frames(HighPassFilter), reference) << "threads " << threads;
    }
    SetThreadCount(0);
}

// With two passes each frame is its own high-pass-filtered first result, convolved again
// with its own kernel; the last pass is not filtered and the texture is not touched.
TEST(AnimationFrames, SecondPassConvolvesEachFramesOwnFilteredResult) {
    Scene scene(25, 19, 8, 2, 7);
    const Bytes noise = scene.noise;
    scene.in.enhance_iterations = 1;
    const auto first_pass = scene.Frames();
    scene.in.enhance_iterations = 2;
    std::vector<Bytes> unfiltered, filtered;
    const auto frames = scene.Frames([&](int width, int height, unsigned char* grey) {
        unfiltered.emplace_back(grey, grey + width * height);
        HighPassFilter(width, height, grey);
        filtered.emplace_back(grey, grey + width * height);
    });
    ASSERT_EQ(frames.size(), 8u);
    ASSERT_EQ(filtered.size(), 8u);  // once per frame, not after the last pass
    EXPECT_EQ(unfiltered, first_pass);
    for (int k = 0; k < 8; ++k) EXPECT_EQ(frames[k], scene.PlainLic(filtered[k], k)) << "frame " << k;
    EXPECT_EQ(scene.noise, noise);
}

TEST(AnimationFrames, TextureUnchangedAndOneProgressBarPerPass) {
    Scene scene(19, 14, 8, 3, 5);
    const Bytes noise = scene.noise;
    test::RecordingHost host;
    const auto frames = ComputeAnimationFrameImages(scene.in, host, HighPassFilter);
    ASSERT_TRUE(frames);
    EXPECT_EQ(scene.noise, noise);
    EXPECT_EQ(host.created, 3);
    EXPECT_EQ(host.destroyed, 3);
    EXPECT_EQ(host.steps, 3 * 14);
    EXPECT_EQ(host.last_range, 14);
}

// ---- Files ----

TEST(AnimationFiles, TwentyFramesNamedFrame00ToFrame19ComposedByTheCallback) {
    test::TempDir dir;
    Scene scene(9, 7, 20, 2, 4);
    scene.in.out_dir = dir.path();
    const auto frames = scene.Frames(HighPassFilter);
    test::RecordingHost host;
    AnimationCallbacks cb;
    cb.high_pass = HighPassFilter;
    cb.compose = [&](const unsigned char* grey, unsigned char* rgb) {
        for (int i = 0; i < scene.Samples(); ++i) {
            rgb[3 * i] = grey[i];  // blue
            rgb[3 * i + 1] = 0;
            rgb[3 * i + 2] = static_cast<unsigned char>(255 - grey[i]);
        }
    };
    ASSERT_EQ(ComputeAnimationFrames(scene.in, host, cb), 1);
    for (int k = 0; k < 20; ++k) {
        int width = 0, height = 0;
        const Bytes pixels = ReadBmp(dir.path() / "LICAnimation" / FrameName(k), width, height);
        ASSERT_EQ(pixels.size(), 3u * 9 * 7) << FrameName(k);
        EXPECT_EQ(width, 9);
        EXPECT_EQ(height, 7);
        for (int i = 0; i < 9 * 7; ++i) {
            ASSERT_EQ(pixels[3 * i], frames[k][i]) << FrameName(k);
            ASSERT_EQ(pixels[3 * i + 2], 255 - frames[k][i]) << FrameName(k);
        }
    }
    EXPECT_FALSE(fs::exists(dir.path() / "LICAnimation" / "frame20.bmp"));
}

// Twelve frames end with frame11.bmp in an existing directory; a stale file of a frame's
// name is replaced, and a later frame of a longer earlier animation stays. Without a
// compose callback the frames are written in grey.
TEST(AnimationFiles, TwelveFramesInAnExistingDirectoryInGrey) {
    test::TempDir dir;
    fs::create_directory(dir.path() / "LICAnimation");
    test::WriteFileBytes((dir.path() / "LICAnimation" / "frame10.bmp").string(), {'s', 't', 'a', 'l', 'e'});
    test::WriteFileBytes((dir.path() / "LICAnimation" / "frame15.bmp").string(), {'o', 'l', 'd'});
    Scene scene(8, 6, 12, 1, 4);
    scene.in.out_dir = dir.path();
    const auto frames = scene.Frames();
    test::RecordingHost host;
    ASSERT_EQ(ComputeAnimationFrames(scene.in, host, AnimationCallbacks{}), 1);
    int width = 0, height = 0;
    const Bytes pixels = ReadBmp(dir.path() / "LICAnimation" / "frame10.bmp", width, height);
    ASSERT_EQ(pixels.size(), 3u * 8 * 6);
    for (int i = 0; i < 8 * 6; ++i) {
        ASSERT_EQ(pixels[3 * i], frames[10][i]);
        ASSERT_EQ(pixels[3 * i + 1], frames[10][i]);
        ASSERT_EQ(pixels[3 * i + 2], frames[10][i]);
    }
    EXPECT_TRUE(fs::exists(dir.path() / "LICAnimation" / "frame11.bmp"));
    EXPECT_FALSE(fs::exists(dir.path() / "LICAnimation" / "frame12.bmp"));
    EXPECT_EQ(test::ReadFileBytes((dir.path() / "LICAnimation" / "frame15.bmp").string()), (Bytes{'o', 'l', 'd'}));
}

// Each way the frames cannot be written returns 0, prints one line saying why, and claims
// nothing: no frame is written after the failure.
TEST(AnimationFiles, UnwritableOutputReturnsZeroAndStops) {
    test::TempDir dir;
    test::RecordingHost host;
    struct Case {
        const char* what;
        fs::path out_dir;
        fs::path must_not_exist;
    };
    // A regular file named LICAnimation.
    const fs::path as_file = dir.path() / "as_file";
    fs::create_directory(as_file);
    test::WriteFileBytes((as_file / "LICAnimation").string(), {'x'});
    // An output directory below a regular file.
    test::WriteFileBytes((dir.path() / "plain_file").string(), {'y'});
    // A frame's name taken by a directory: frame00 fails, frame01 must not be tried.
    const fs::path blocked = dir.path() / "blocked";
    fs::create_directories(blocked / "LICAnimation" / "frame00.bmp");
    const Case cases[] = {
        {"file named LICAnimation", as_file, as_file / "LICAnimation" / "frame00.bmp"},
        {"below a file", dir.path() / "plain_file" / "sub", dir.path() / "plain_file" / "sub"},
        {"missing output directory", dir.path() / "missing", dir.path() / "missing"},
        {"frame name taken", blocked, blocked / "LICAnimation" / "frame01.bmp"},
    };
    for (const Case& c : cases) {
        Scene scene(8, 6, 8, 1, 4);
        scene.in.out_dir = c.out_dir;
        testing::internal::CaptureStdout();
        const int result = ComputeAnimationFrames(scene.in, host, AnimationCallbacks{});
        std::fflush(stdout);
        const std::string printed = testing::internal::GetCapturedStdout();
        EXPECT_EQ(result, 0) << c.what;
        EXPECT_FALSE(fs::exists(c.must_not_exist)) << c.what;
        EXPECT_NE(printed.find("LICAnimation"), std::string::npos) << c.what << ": " << printed;
        EXPECT_EQ(std::count(printed.begin(), printed.end(), '\n'), 1) << c.what << ": " << printed;
    }
    EXPECT_EQ(test::ReadFileBytes((as_file / "LICAnimation").string()), (Bytes{'x'}));
}

TEST(AnimationFiles, FrameCountsWithoutTwoDigitNamesAreRefused) {
    test::TempDir dir;
    test::RecordingHost host;
    for (int frames : {0, -1, kMaxAnimationFrames + 1}) {
        Scene scene(8, 6, 8, 1, 4);
        scene.in.anim_frames = frames;
        scene.in.out_dir = dir.path();
        testing::internal::CaptureStdout();
        EXPECT_EQ(ComputeAnimationFrames(scene.in, host, AnimationCallbacks{}), 0) << frames;
        testing::internal::GetCapturedStdout();
        EXPECT_FALSE(fs::exists(dir.path() / "LICAnimation" / "frame00.bmp")) << frames;
    }
}

}  // namespace
}  // namespace flowloom
