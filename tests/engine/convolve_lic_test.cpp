#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include "engine/lic_engine.h"
#include "lic/kernels.h"
#include "lic/parallel_rows.h"
#include "support/test_support.h"

namespace flowloom {
namespace {

// An engine holding a given field and texture, ready for ConvolveLic.
struct Bench {
    test::RecordingHost host;
    LicEngine engine{&host};

    Bench(int width, int height, int kernel_type = kKernelBox, int length = 15) {
        engine.Reset();
        engine.x_res = width;
        engine.y_res = height;
        engine.kernel_type = kernel_type;
        engine.kernel_length = length;
        engine.size_changed = engine.field_changed = 1;
        engine.Compute();  // builds a Saddle field, white noise and the kernel tables
        host = test::RecordingHost();
    }
    float* Vec(int row, int col) { return engine.vectors.get() + 2 * (row * engine.x_res + col); }
    void Fill(float vx, float vy) {
        for (int i = 0; i < engine.x_res * engine.y_res; ++i) {
            engine.vectors[2 * i] = vx;
            engine.vectors[2 * i + 1] = vy;
        }
    }
    std::vector<unsigned char> Run() {
        engine.ConvolveLic();
        return {engine.lic_image.get(), engine.lic_image.get() + engine.x_res * engine.y_res};
    }
};

TEST(ConvolveLic, PixelOnAZeroVectorIsBlackAndNeighboursAreNot) {
    Bench b(40, 30);
    std::memset(b.engine.noise.get(), 200, 40 * 30);
    *b.Vec(10, 10) = 0.0f;
    b.Vec(10, 10)[1] = 0.0f;
    const auto image = b.Run();
    EXPECT_EQ(image[10 * 40 + 10], 0);
    EXPECT_EQ(image[10 * 40 + 12], 200);
}

// With the box kernel every weight is a whole number of table cells, so a constant
// texture must come out exactly constant: streamlines cut short at the border or at a
// critical point are normalised by what they reached, not darkened.
TEST(ConvolveLic, ConstantTextureStaysConstantAtBordersAndCriticalPoints) {
    for (int field = 0; field < 4; ++field) {
        Bench b(37, 23);
        b.engine.field_type = field;
        b.engine.field_changed = 1;
        b.engine.Compute();
        std::memset(b.engine.noise.get(), 137, 37 * 23);
        const auto image = b.Run();
        for (int i = 0; i < 37 * 23; ++i) {
            const bool critical = b.engine.vectors[2 * i] == 0.0f && b.engine.vectors[2 * i + 1] == 0.0f;
            ASSERT_EQ(image[i], critical ? 0 : 137) << "field " << field << " sample " << i;
        }
    }
}

// In a uniform field (1, 0) an interior pixel averages about 31 samples of its own row,
// each full cell weighing the same, the two end cells and its own about half.
TEST(ConvolveLic, UniformFieldAveragesAlongTheRow) {
    Bench b(80, 5);
    b.Fill(1.0f, 0.0f);
    std::mt19937 random(5);
    for (int i = 0; i < 80 * 5; ++i) b.engine.noise[i] = static_cast<unsigned char>(random() % 256);
    const auto image = b.Run();
    for (int row = 0; row < 5; ++row) {
        for (int col = 16; col < 80 - 16; ++col) {
            double sum = 0.0;
            double weight = 0.0;
            for (int j = -15; j <= 15; ++j) {
                const double w = (j == -15 || j == 15) ? 0.5 : 1.0;
                sum += w * b.engine.noise[row * 80 + col + j];
                weight += w;
            }
            EXPECT_NEAR(image[row * 80 + col], sum / weight, 1.6) << row << "," << col;
        }
    }
}

// A symmetric kernel cannot tell downstream from upstream: reversing every vector must
// leave the picture unchanged, to the bit.
TEST(ConvolveLic, SymmetricKernelIgnoresTheSignOfTheField) {
    for (int kernel : {kKernelBox, kKernelHanning}) {
        Bench b(64, 48, kernel, 20);
        b.engine.field_type = 2;  // Vortex
        b.engine.field_changed = 1;
        b.engine.Compute();
        const auto forward = b.Run();
        for (int i = 0; i < 2 * 64 * 48; ++i) b.engine.vectors[i] = -b.engine.vectors[i];
        EXPECT_EQ(b.Run(), forward) << "kernel " << kernel;
    }
}

TEST(ConvolveLic, AsymmetricRampWeighsTheHalvesDifferently) {
    Bench b(64, 48, kKernelRamp, 20);
    const auto forward = b.Run();
    for (int i = 0; i < 2 * 64 * 48; ++i) b.engine.vectors[i] = -b.engine.vectors[i];
    EXPECT_NE(b.Run(), forward);
}

TEST(ConvolveLic, SameImageForEveryThreadCount) {
    for (int mag : {0, 1}) {
        for (int kernel : {kKernelBox, kKernelRamp, kKernelHanning}) {
            Bench b(67, 45, kernel, 25);
            b.engine.field_type = 2;
            b.engine.field_changed = 1;
            b.engine.mag_lic = mag;
            b.engine.Compute();
            SetThreadCount(1);
            const auto one = b.Run();
            SetThreadCount(2);
            const auto two = b.Run();
            SetThreadCount(16);
            const auto sixteen = b.Run();
            SetThreadCount(0);
            EXPECT_EQ(one, two);
            EXPECT_EQ(one, sixteen);
        }
    }
}

// MagLIC: a magnitude of 1 means a kernel of 1.5 pixels whatever kernel_length says, so
// the picture barely smears; the largest magnitude smears far.
TEST(ConvolveLic, MagLicLengthFollowsTheMagnitude) {
    Bench b(120, 9, kKernelBox, 60);
    b.Fill(1.0f, 0.0f);
    std::mt19937 random(9);
    for (int i = 0; i < 120 * 9; ++i) b.engine.noise[i] = static_cast<unsigned char>(random() % 256);
    b.engine.mag_lic = 1;
    for (int i = 0; i < 120 * 9; ++i) b.engine.magnitudes[i] = 1.0f;
    const auto short_kernel = b.Run();
    // 1.5 pixels each way from the pixel's centre: half of its own cell and all of the
    // next one on either side, so three samples of equal weight.
    const int row = 4;
    for (int col = 2; col < 118; ++col) {
        const unsigned char* n = b.engine.noise.get() + row * 120;
        EXPECT_NEAR(short_kernel[row * 120 + col], (n[col - 1] + n[col] + n[col + 1]) / 3.0, 1.01) << col;
    }
    for (int i = 0; i < 120 * 9; ++i) b.engine.magnitudes[i] = 1000.0f;
    const auto long_kernel = b.Run();
    auto spread = [](const std::vector<unsigned char>& image) {
        double sum = 0, sum2 = 0;
        for (unsigned char v : image) sum += v, sum2 += double(v) * v;
        return sum2 / image.size() - (sum / image.size()) * (sum / image.size());
    };
    EXPECT_GT(spread(short_kernel), 4 * spread(long_kernel));
}

// Vectors shorter than the threshold in both axes (as interpolation can make) take one
// long step; the texture lookup must stay inside the grid (the sanitizers watch this).
TEST(ConvolveLic, TinyVectorsNearTheBorderStayInsideTheTexture) {
    Bench b(12, 10, kKernelBox, 200);
    b.Fill(0.04f, -0.04f);
    const auto image = b.Run();
    EXPECT_EQ(image.size(), 120u);
}

TEST(ConvolveLic, OneProgressStepPerRow) {
    Bench b(30, 17);
    b.Run();
    EXPECT_EQ(b.host.created, 1);
    EXPECT_EQ(b.host.destroyed, 1);
    EXPECT_EQ(b.host.steps, 17);
    EXPECT_EQ(b.host.last_range, 17);
}

TEST(ConvolveLic, SparseNoiseIsStretchedOnlyWithTheRamp) {
    for (int kernel : {kKernelBox, kKernelRamp, kKernelHanning}) {
        Bench b(90, 90, kernel, 15);
        b.engine.noise_type = 1;
        b.engine.noise_changed = 1;
        b.engine.Compute();
        const auto image = b.Run();
        const auto [lo, hi] = std::minmax_element(image.begin(), image.end());
        if (kernel == kKernelRamp) {
            EXPECT_EQ(*lo, 0);
            EXPECT_EQ(*hi, 255);
        } else {
            EXPECT_LT(*hi, 255) << "kernel " << kernel;
        }
    }
}

}  // namespace
}  // namespace flowloom
