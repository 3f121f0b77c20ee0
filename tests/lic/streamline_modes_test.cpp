// Periodic boundaries and orientation fields, on the scalar path and every lane path.

#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "lic/animation.h"
#include "lic/image_lic.h"
#include "lic/kernels.h"
#include "lic/parallel_rows.h"
#include "lic/pass_assembly.h"
#include "lic/progressive.h"
#include "lic/streamline_simd.h"
#include "support/test_support.h"

namespace flowloom {
namespace {

using test::ExpectEveryPathGivesTheScalarBytes;

using Bytes = std::vector<unsigned char>;

constexpr StreamlineModes kPeriodicX{Boundary::kPeriodic, Boundary::kClosed, false};
constexpr StreamlineModes kPeriodicY{Boundary::kClosed, Boundary::kPeriodic, false};
constexpr StreamlineModes kPeriodic{Boundary::kPeriodic, Boundary::kPeriodic, false};
constexpr StreamlineModes kOrientation{Boundary::kClosed, Boundary::kClosed, true};
constexpr StreamlineModes kBoth{Boundary::kPeriodic, Boundary::kPeriodic, true};

std::string Name(StreamlineModes m) {
    return std::string(m.boundary_x == Boundary::kPeriodic ? "periodic x " : "") +
           (m.boundary_y == Boundary::kPeriodic ? "periodic y " : "") + (m.orientation ? "orientation" : "");
}

// A random field and texture; with `specials` a quarter of the vectors are zero and a quarter
// shorter than the threshold (each of those takes one long step).
struct Field {
    int width, height;
    std::vector<float> vectors;
    Bytes texture;
    std::vector<float> magnitudes;

    Field(int w, int h, unsigned seed, bool specials)
        : width(w), height(h), vectors(2 * w * h), texture(w * h), magnitudes(w * h) {
        std::mt19937 random(seed);
        std::uniform_real_distribution<float> unit(-1.0f, 1.0f);
        for (int i = 0; i < w * h; ++i) {
            const unsigned kind = specials ? random() % 4 : 3;
            const float scale = kind == 0 ? 0.0f : kind == 1 ? 0.04f : 1.0f;
            vectors[2 * i] = scale * unit(random);
            vectors[2 * i + 1] = scale * unit(random);
            texture[i] = static_cast<unsigned char>(random());
            magnitudes[i] = 60.0f * (unit(random) + 1.0f);
        }
    }
    // Vectors along the axes and diagonals with random signs: many steps meet the previous
    // one at exactly a right angle, where an orientation field's fixed sign decides.
    static Field RightAngles(int w, int h, unsigned seed) {
        Field f(w, h, seed, false);
        std::mt19937 random(seed);
        const float choices[4][2] = {{1.0f, 0.0f}, {0.0f, 1.0f}, {0.6f, 0.8f}, {0.8f, -0.6f}};
        for (int i = 0; i < w * h; ++i) {
            const unsigned pick = random();
            const float sign = pick & 4 ? -1.0f : 1.0f;
            f.vectors[2 * i] = sign * choices[pick % 4][0];
            f.vectors[2 * i + 1] = sign * choices[pick % 4][1];
        }
        return f;
    }
    // A smooth periodic flow of cells and jets, unit vectors, random texture.
    static Field Cells(int w, int h) {
        Field f(w, h, 13, false);
        constexpr double kTwoPi = 6.283185307179586;
        for (int r = 0; r < h; ++r)
            for (int c = 0; c < w; ++c) {
                const double x = kTwoPi * (c + 0.5) / w;
                const double y = kTwoPi * (r + 0.5) / h;
                const double vx = std::sin(x) * std::cos(y) + 0.4 * std::cos(y);
                const double vy = -std::cos(x) * std::sin(y) + 0.3;
                const double norm = std::hypot(vx, vy);
                f.vectors[2 * (r * w + c)] = static_cast<float>(vx / norm);
                f.vectors[2 * (r * w + c) + 1] = static_cast<float>(vy / norm);
            }
        return f;
    }
    // The field and texture repeated `across` x `down` times.
    Field Tiled(int across, int down) const {
        Field t(width * across, height * down, 0, false);
        for (int r = 0; r < t.height; ++r)
            for (int c = 0; c < t.width; ++c) {
                const int i = r * t.width + c;
                const int j = (r % height) * width + c % width;
                t.vectors[2 * i] = vectors[2 * j];
                t.vectors[2 * i + 1] = vectors[2 * j + 1];
                t.texture[i] = texture[j];
            }
        return t;
    }
};

struct Tables {
    std::vector<float> data = std::vector<float>(2 * kKernelTableSize);
    Tables(int length, int kernel) {
        BuildKernelTables(data.data(), data.data() + kKernelTableSize, static_cast<float>(length), 2.0f, 0.0f, kernel);
    }
    const float* forward() const { return data.data(); }
    const float* backward() const { return data.data() + kKernelTableSize; }
};

// The plain LIC (or MagLIC) of every pixel, through the pass assembly.
Bytes Lic(const Field& f, StreamlineModes modes, const Tables& t, int length, bool mag = false) {
    Bytes image(f.texture.size());
    const PassAssembly pass(StreamlineGrid{f.vectors.data(), f.width, f.height, modes}, length,
                            PassTexture{f.texture.data(), f.texture.size()});
    const PixelWindow<const float> mags =
        mag ? PixelWindow<const float>{f.magnitudes.data(), 0, 0, f.width} : PixelWindow<const float>{};
    const LicLanes lic =
        pass.Lic(t.forward(), t.backward(), mags, PixelWindow<unsigned char>{image.data(), 0, 0, f.width});
    pass.LicRows(lic, LaneRows{0, 1, f.height}, LaneColumns{0, 1, f.width});
    return image;
}

// A streamline that crosses a periodic edge reads on across the opposite one, as it would
// in the middle of the field repeated around itself. The 3 x 3 (or 3 x 1) repetition is
// traced closed; its middle copy differs from the periodic picture only where a position
// a whole period away rounds differently (float spacing grows with the coordinate).
TEST(StreamlineModes, PeriodicPictureIsTheMiddleOfTheRepeatedField) {
    const Field f = Field::Cells(64, 48);
    const Tables t(15, kKernelHanning);
    struct Case {
        StreamlineModes modes;
        int across, down;
    };
    for (const std::string path : {"scalar", "auto"}) {
        ASSERT_TRUE(SetSimdPath(path));
        for (const Case& c : {Case{kPeriodic, 3, 3}, Case{kPeriodicX, 3, 1}, Case{kPeriodicY, 1, 3}}) {
            const Bytes periodic = Lic(f, c.modes, t, 15);
            const Field tiled = f.Tiled(c.across, c.down);
            const Bytes closed = Lic(tiled, StreamlineModes{}, t, 15);
            const int row0 = c.down == 3 ? f.height : 0;
            const int col0 = c.across == 3 ? f.width : 0;
            int same = 0;
            for (int r = 0; r < f.height; ++r)
                for (int col = 0; col < f.width; ++col)
                    same += periodic[r * f.width + col] == closed[(row0 + r) * tiled.width + col0 + col];
            const double share = static_cast<double>(same) / (f.width * f.height);
            EXPECT_GE(share, 0.995) << Name(c.modes) << " on " << path;
            RecordProperty(Name(c.modes) + " on " + path, std::to_string(share));
        }
        // Closed, the edge ends the streamlines: a different picture.
        EXPECT_NE(Lic(f, kPeriodic, t, 15), Lic(f, StreamlineModes{}, t, 15));
    }
    SetSimdPath("auto");
}

// An orientation field is defined only up to sign: flipping any vectors changes nothing,
// on every path, closed or periodic.
TEST(StreamlineModes, OrientationPictureIgnoresTheSignsOfTheVectors) {
    Field f(37, 23, 3, true);
    Field flipped = f;
    std::mt19937 random(9);
    for (size_t i = 0; i < flipped.vectors.size(); i += 2)
        if (random() % 2) {
            flipped.vectors[i] = -flipped.vectors[i];
            flipped.vectors[i + 1] = -flipped.vectors[i + 1];
        }
    const Tables t(15, kKernelRamp);  // not symmetric: the two halves must not swap either
    for (const std::string& path : std::vector<std::string>{"scalar", "auto"}) {
        ASSERT_TRUE(SetSimdPath(path));
        for (const StreamlineModes modes : {kOrientation, kBoth}) {
            const Bytes picture = Lic(f, modes, t, 15);
            EXPECT_EQ(Lic(flipped, modes, t, 15), picture) << Name(modes) << " on " << path;
        }
        EXPECT_NE(Lic(flipped, StreamlineModes{}, t, 15), Lic(f, StreamlineModes{}, t, 15));
    }
    SetSimdPath("auto");
}

// Every pass, every mode, widths that leave every lane remainder (a periodic axis of one
// sample included), against the scalar path byte for byte.
TEST(StreamlineModes, LanePathsMatchTheScalarPathInEveryMode) {
    SetThreadCount(1);
    const Tables t(9, kKernelHanning);
    for (const StreamlineModes modes : {kPeriodicX, kPeriodicY, kPeriodic, kOrientation, kBoth}) {
        for (int width = 1; width <= 17; ++width) {
            const int height = 1 + width % 5;
            const Field f(width, height, static_cast<unsigned>(width), true);
            const std::string what = Name(modes) + " " + std::to_string(width) + "x" + std::to_string(height);
            for (const bool mag : {false, true})
                ExpectEveryPathGivesTheScalarBytes([&] { return Lic(f, modes, t, 9, mag); }, what + " LIC");
            const Field right = Field::RightAngles(width, height, static_cast<unsigned>(width));
            ExpectEveryPathGivesTheScalarBytes([&] { return Lic(right, modes, t, 9); }, what + " right angles");
        }
        const Field f(29, 23, 5, true);
        const std::string what = Name(modes);
        ExpectEveryPathGivesTheScalarBytes(
            [&] {
                const ProgressiveInput in{f.vectors.data(), f.texture.data(), f.width, f.height,
                                          t.forward(),      t.backward(),     9,       modes};
                Bytes image(f.texture.size(), 7);
                ProgressivePasses(in, 3, 0, 8, 2, 25, -1, INT_MAX, image.data());
                return image;
            },
            what + " ProLIC");
        ExpectEveryPathGivesTheScalarBytes(
            [&] {
                AnimationInput in;
                in.vectors = f.vectors.data();
                in.noise = f.texture.data();
                in.width = f.width;
                in.height = f.height;
                in.kernel_length = 9;
                in.anim_frames = 8;
                in.enhance_iterations = 2;
                in.modes = modes;
                test::RecordingHost host;
                const auto frames = ComputeAnimationFrameImages(in, host, nullptr);
                return Bytes(frames.get(), frames.get() + 8 * f.texture.size());
            },
            what + " animation");
        ExpectEveryPathGivesTheScalarBytes(
            [&] {
                Bytes image(3 * f.texture.size());
                for (size_t i = 0; i < image.size(); ++i) image[i] = f.texture[i / 3] ^ static_cast<unsigned char>(i);
                test::RecordingHost host;
                ComputeImageLic(f.width, f.height, image.data(), f.vectors.data(), t.forward(), t.backward(), 9, host,
                                modes);
                return image;
            },
            what + " image LIC");
    }
    SetThreadCount(0);
}

}  // namespace
}  // namespace flowloom
