#include "lic/image_lic.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <random>
#include <vector>

#include "lic/kernels.h"
#include "lic/parallel_rows.h"
#include "support/test_support.h"

namespace flowloom {
namespace {

using Bytes = std::vector<unsigned char>;
using Floats = std::vector<float>;

Bytes RandomImage(int width, int height, unsigned seed) {
    std::mt19937 rng(seed);
    Bytes image(3 * width * height);
    for (auto& b : image) b = static_cast<unsigned char>(rng() & 0xFF);
    return image;
}

Bytes FlatImage(int width, int height, unsigned char blue, unsigned char green, unsigned char red) {
    Bytes image;
    for (int i = 0; i < width * height; ++i) image.insert(image.end(), {blue, green, red});
    return image;
}

// Unit vectors spiralling out of a centre that lies on no pixel centre.
Floats SpiralField(int width, int height) {
    Floats field;
    const double cx = width * 0.5 + 0.3;
    const double cy = height * 0.5 + 0.2;
    for (int row = 0; row < height; ++row)
        for (int col = 0; col < width; ++col) {
            const double dx = col + 0.5 - cx;
            const double dy = row + 0.5 - cy;
            const double vx = -dy + 0.3 * dx;
            const double vy = dx + 0.3 * dy;
            const double n = std::sqrt(vx * vx + vy * vy);
            field.push_back(static_cast<float>(vx / n));
            field.push_back(static_cast<float>(vy / n));
        }
    return field;
}

Floats UniformField(int width, int height, float vx, float vy) {
    Floats field;
    for (int i = 0; i < width * height; ++i) field.insert(field.end(), {vx, vy});
    return field;
}

struct Tables {
    Floats fwd = Floats(kKernelTableSize);
    Floats bwd = Floats(kKernelTableSize);
    int length;
    Tables(int kernel_type, int kernel_length, float ripples = 2.0f, float phase = 0.0f) : length(kernel_length) {
        BuildKernelTables(fwd.data(), bwd.data(), static_cast<float>(kernel_length), ripples, phase, kernel_type);
    }
};

int Lic(int width, int height, Bytes& image, const Floats& field, const Tables& tables) {
    return ComputeImageLic(width, height, image.data(), field.data(), tables.fwd.data(), tables.bwd.data(),
                           tables.length, DefaultHost());
}

// The field of ExtractForceField as a vector (empty when it failed).
Floats Extract(int width, int height, Bytes& image) {
    float* field = ExtractForceField(width, height, image.data());
    if (!field) return {};
    Floats copy(field, field + 2 * width * height);
    std::free(field);
    return copy;
}

TEST(ForceField, UniformImageGivesZeroFieldAndItsLicCopiesEveryPixel) {
    const int w = 6, h = 5;
    Bytes image = FlatImage(w, h, 40, 120, 200);
    const Bytes original = image;
    const Floats field = Extract(w, h, image);
    ASSERT_EQ(field.size(), 2u * w * h);
    for (float v : field) EXPECT_EQ(v, 0.0f);
    EXPECT_EQ(image, original) << "the blur of a flat image is the image";
    const Tables box(kKernelBox, 5);
    ASSERT_EQ(Lic(w, h, image, field, box), 1);
    EXPECT_EQ(image, original);

    // Pixels on a zero vector are copied, not blackened, whatever their neighbours.
    Bytes noisy = RandomImage(w, h, 7);
    const Bytes noisy_original = noisy;
    ASSERT_EQ(Lic(w, h, noisy, field, box), 1);
    EXPECT_EQ(noisy, noisy_original);

    // A zero vector met later only ends a half: the pixel on it keeps its colour, the
    // others are smeared.
    Floats rightwards = UniformField(w, h, 1.0f, 0.0f);
    const int still = 2 * w + 3;
    rightwards[2 * still] = rightwards[2 * still + 1] = 0.0f;
    ASSERT_EQ(Lic(w, h, noisy, rightwards, box), 1);
    for (int ch = 0; ch < 3; ++ch) EXPECT_EQ(noisy[3 * still + ch], noisy_original[3 * still + ch]);
    EXPECT_NE(noisy, noisy_original);
}

TEST(ForceField, PointsAlongIncreasingBrightness) {
    const int w = 8, h = 5;
    // Grey ramps: left dark to right bright, top dark to bottom bright, and reversed.
    struct Case {
        int dcol, drow;
        float vx, vy;
    };
    for (const Case c : {Case{20, 0, 1, 0}, Case{0, 30, 0, 1}, Case{-20, 0, -1, 0}}) {
        Bytes image;
        for (int row = 0; row < h; ++row)
            for (int col = 0; col < w; ++col) {
                const auto g = static_cast<unsigned char>(100 + c.dcol * (col - 3) + c.drow * (row - 2));
                image.insert(image.end(), {g, g, g});
            }
        const Floats field = Extract(w, h, image);
        ASSERT_EQ(field.size(), 2u * w * h);
        for (int i = 0; i < w * h; ++i) {
            EXPECT_FLOAT_EQ(field[2 * i], c.vx) << "pixel " << i;
            EXPECT_FLOAT_EQ(field[2 * i + 1], c.vy) << "pixel " << i;
        }
    }

    // Red (the third byte) weighs 0.30 and blue (the first) 0.11: red rising to the right
    // outweighs blue falling by as much.
    Bytes image;
    for (int row = 0; row < h; ++row)
        for (int col = 0; col < w; ++col)
            image.insert(image.end(),
                         {static_cast<unsigned char>(200 - 20 * col), 0, static_cast<unsigned char>(20 * col)});
    const Floats field = Extract(w, h, image);
    ASSERT_EQ(field.size(), 2u * w * h);
    for (int i = 0; i < w * h; ++i) EXPECT_FLOAT_EQ(field[2 * i], 1.0f);
}

TEST(ForceField, OnePixelWideOrHighImagesUseThePixelForMissingNeighbours) {
    // 3 x 3 mean of a column 30, 60, 90 (per channel scaled): the missing left and right
    // neighbours are the pixel itself, the missing rows the nearest row.
    Bytes column = {30, 3, 0, 60, 6, 120, 90, 9, 240};
    float ones[9] = {1, 1, 1, 1, 1, 1, 1, 1, 1};
    FilterColorImage3x3(1, 3, column.data(), ones);
    EXPECT_EQ(column, (Bytes{40, 4, 40, 60, 6, 120, 80, 8, 200}));

    // The field has no component along an axis one pixel long.
    Bytes tall = {0, 0, 0, 90, 90, 90, 180, 180, 180};
    const Floats down = Extract(1, 3, tall);
    EXPECT_EQ(down, (Floats{0, 1, 0, 1, 0, 1}));
    Bytes wide = tall;
    const Floats right = Extract(3, 1, wide);
    EXPECT_EQ(right, (Floats{1, 0, 1, 0, 1, 0}));
    Bytes single = {1, 2, 3};
    EXPECT_EQ(Extract(1, 1, single), (Floats{0, 0}));
    EXPECT_EQ(single, (Bytes{1, 2, 3}));
}

TEST(Filter3x3, KernelsAreNormalisedInPlaceUnlessTheySumToZero) {
    float ramp[9] = {1, 2, 3, 4, 5, 6, 7, 8, 9};
    NormalizeKernel3x3(ramp);
    for (int i = 0; i < 9; ++i) EXPECT_FLOAT_EQ(ramp[i], (i + 1) / 45.0f);

    // A Laplacian sums to 0: it is applied as it stands and left unchanged.
    const float laplacian[9] = {0, -1, 0, -1, 4, -1, 0, -1, 0};
    float kernel[9];
    std::copy(laplacian, laplacian + 9, kernel);
    const int w = 5, h = 5;
    Bytes image(3 * w * h, 0);
    const int centre = 2 * w + 2;
    image[3 * centre] = 10;
    image[3 * centre + 1] = 50;
    image[3 * centre + 2] = 70;
    FilterColorImage3x3(w, h, image.data(), kernel);
    EXPECT_TRUE(std::equal(kernel, kernel + 9, laplacian));
    Bytes expected(3 * w * h, 0);
    expected[3 * centre] = 40;
    expected[3 * centre + 1] = 200;
    expected[3 * centre + 2] = 255;  // 280, clamped; the neighbours' -70 become 0
    EXPECT_EQ(image, expected);
}

// Summed in single precision, the 1/9 weights bring many flat grey levels one level down
// at every blur, and the force field of such an image is no longer zero.
TEST(Filter3x3, FlatGreyStaysExactlyFlatUnderRepeatedBlurs) {
    const int w = 4, h = 3;
    float ones[9] = {1, 1, 1, 1, 1, 1, 1, 1, 1};
    for (int level = 0; level < 256; ++level) {
        const auto g = static_cast<unsigned char>(level);
        Bytes image = FlatImage(w, h, g, g, g);
        for (int blur = 0; blur < 4; ++blur) {
            FilterColorImage3x3(w, h, image.data(), ones);
            const Floats field = Extract(w, h, image);
            for (float v : field) ASSERT_EQ(v, 0.0f) << "level " << level << " blur " << blur;
        }
        ASSERT_EQ(image, FlatImage(w, h, g, g, g)) << "level " << level;
    }
}

// The plain filter: pad the image by its nearest pixels, then sum each 3 x 3 window.
Bytes ReferenceFilter(int w, int h, const Bytes& image, const float kernel[9]) {
    const int pw = w + 2, ph = h + 2;
    Bytes padded(3 * pw * ph);
    for (int row = 0; row < ph; ++row)
        for (int col = 0; col < pw; ++col) {
            const int r = std::clamp(row - 1, 0, h - 1), c = std::clamp(col - 1, 0, w - 1);
            for (int ch = 0; ch < 3; ++ch) padded[3 * (row * pw + col) + ch] = image[3 * (r * w + c) + ch];
        }
    Bytes out(image.size());
    for (int row = 0; row < h; ++row)
        for (int col = 0; col < w; ++col)
            for (int ch = 0; ch < 3; ++ch) {
                double sum = 0.0;
                for (int k = 0; k < 9; ++k)
                    sum += static_cast<double>(kernel[k]) * padded[3 * ((row + k / 3) * pw + col + k % 3) + ch];
                out[3 * (row * w + col) + ch] = sum >= 0.0 ? static_cast<unsigned char>(std::min(sum, 255.0)) : 0;
            }
    return out;
}

TEST(Filter3x3, MatchesThePlainFilterOnEverySmallSize) {
    std::mt19937 rng(11);
    std::uniform_real_distribution<float> weight(-1.0f, 2.0f);
    for (int h = 1; h <= 9; ++h)
        for (int w = 1; w <= 9; ++w)
            for (int trial = 0; trial < 2; ++trial) {
                float kernel[9];
                for (float& k : kernel) k = trial == 0 ? 1.0f : weight(rng);
                float normalised[9];
                std::copy(kernel, kernel + 9, normalised);
                NormalizeKernel3x3(normalised);
                Bytes image = RandomImage(w, h, 100 * h + w);
                const Bytes expected = ReferenceFilter(w, h, image, normalised);
                FilterColorImage3x3(w, h, image.data(), kernel);
                ASSERT_EQ(image, expected) << w << " x " << h << " trial " << trial;
            }
}

TEST(ImageLic, ConstantColourStaysConstantAlongAnyField) {
    const int w = 12, h = 9;
    const Floats field = SpiralField(w, h);
    for (int length : {1, 4, 10}) {
        const Tables box(kKernelBox, length);
        for (int c = 0; c < 256; c += 17) {
            const auto g = static_cast<unsigned char>(c);
            Bytes image = FlatImage(w, h, g, static_cast<unsigned char>(255 - c), static_cast<unsigned char>(c / 2));
            const Bytes original = image;
            ASSERT_EQ(Lic(w, h, image, field, box), 1);
            ASSERT_EQ(image, original) << "L " << length << " colour " << c;
        }
    }
}

TEST(ImageLic, UniformFieldAveragesTheRowWithTheKernelWeights) {
    // Along (1, 0) with the box kernel of length 2, the steps from a pixel centre cover
    // 0.5, 0.9996 and the remaining 0.5004 pixel: table cells 511, 1023 and 513 each way.
    const int w = 9, h = 3;
    Bytes image(3 * w * h, 0);
    const int values[9] = {0, 0, 30, 200, 7, 90, 250, 0, 0};
    for (int row = 0; row < h; ++row)
        for (int col = 0; col < w; ++col) image[3 * (row * w + col) + 1] = static_cast<unsigned char>(values[col]);
    const Tables box(kKernelBox, 2);
    ASSERT_EQ(Lic(w, h, image, UniformField(w, h, 1.0f, 0.0f), box), 1);
    const double v = (1022.0 * values[4] + 1023.0 * (values[3] + values[5]) + 513.0 * (values[2] + values[6])) / 4094.0;
    for (int row = 0; row < h; ++row) {
        EXPECT_EQ(image[3 * (row * w + 4) + 1], static_cast<int>(v));
        EXPECT_EQ(image[3 * (row * w + 4)], 0);
    }
}

TEST(ImageLic, StripesAlongTheFieldAreKeptAndStripesAcrossItAreSmeared) {
    const int w = 10, h = 8;
    const Tables box(kKernelBox, 3);
    Bytes rows, cols;
    for (int row = 0; row < h; ++row)
        for (int col = 0; col < w; ++col) {
            const auto r = static_cast<unsigned char>(row * 29 % 256);
            const auto c = static_cast<unsigned char>(col * 23 % 256);
            rows.insert(rows.end(), {r, static_cast<unsigned char>(255 - r), r});
            cols.insert(cols.end(), {c, static_cast<unsigned char>(c / 3), static_cast<unsigned char>(255 - c)});
        }
    const Floats along_rows = UniformField(w, h, 1.0f, 0.0f);
    const Floats along_cols = UniformField(w, h, 0.0f, 1.0f);
    Bytes image = rows;
    ASSERT_EQ(Lic(w, h, image, along_rows, box), 1);
    EXPECT_EQ(image, rows);
    image = cols;
    ASSERT_EQ(Lic(w, h, image, along_cols, box), 1);
    EXPECT_EQ(image, cols);
    image = rows;
    ASSERT_EQ(Lic(w, h, image, along_cols, box), 1);
    EXPECT_NE(image, rows);
}

// A symmetric kernel cannot tell downstream from upstream: reversing every vector must
// leave the picture unchanged. An image convolved in place would not survive this.
TEST(ImageLic, SymmetricKernelIgnoresTheSignOfTheField) {
    const int w = 15, h = 11;
    const Floats field = SpiralField(w, h);
    Floats reversed = field;
    for (float& v : reversed) v = -v;
    const Bytes original = RandomImage(w, h, 3);
    for (int type : {kKernelBox, kKernelHanning}) {
        const Tables tables(type, 5, 1.0f, 0.0f);
        Bytes a = original, b = original;
        ASSERT_EQ(Lic(w, h, a, field, tables), 1);
        ASSERT_EQ(Lic(w, h, b, reversed, tables), 1);
        EXPECT_EQ(a, b) << "kernel type " << type;
        EXPECT_NE(a, original);
    }
}

TEST(ImageLic, ChannelsAreConvolvedIndependently) {
    const int w = 13, h = 11;
    const Floats field = SpiralField(w, h);
    const Tables ramp(kKernelRamp, 6, 2.0f, 3.0f);  // asymmetric: halves weigh differently
    const Bytes original = RandomImage(w, h, 5);
    Bytes colour = original;
    ASSERT_EQ(Lic(w, h, colour, field, ramp), 1);
    for (int ch = 0; ch < 3; ++ch) {
        Bytes grey;
        for (int i = 0; i < w * h; ++i) grey.insert(grey.end(), 3, original[3 * i + ch]);
        ASSERT_EQ(Lic(w, h, grey, field, ramp), 1);
        for (int i = 0; i < w * h; ++i) {
            ASSERT_EQ(grey[3 * i], grey[3 * i + 1]);
            ASSERT_EQ(grey[3 * i], grey[3 * i + 2]);
            ASSERT_EQ(colour[3 * i + ch], grey[3 * i]) << "channel " << ch << " pixel " << i;
        }
    }
}

TEST(ImageLic, SameResultForEveryThreadCount) {
    const int w = 37, h = 23;
    const Tables hanning(kKernelHanning, 8, 2.0f, 90.0f);
    std::vector<Bytes> results;
    std::vector<Floats> fields;
    for (int threads : {1, 2, 16}) {
        SetThreadCount(threads);
        Bytes image = RandomImage(w, h, 9);
        Floats field;
        for (int iteration = 0; iteration < 2; ++iteration) {
            field = Extract(w, h, image);
            ASSERT_EQ(field.size(), 2u * w * h);
            ASSERT_EQ(Lic(w, h, image, field, hanning), 1);
        }
        float sharpen[9] = {0, -1, 0, -1, 5, -1, 0, -1, 0};
        FilterColorImage3x3(w, h, image.data(), sharpen);
        results.push_back(image);
        fields.push_back(field);
    }
    SetThreadCount(0);
    EXPECT_EQ(results[0], results[1]);
    EXPECT_EQ(results[0], results[2]);
    EXPECT_EQ(fields[0], fields[1]);
    EXPECT_EQ(fields[0], fields[2]);
}

TEST(ImageLic, ProgressStepsOncePerRowAndBadArgumentsChangeNothing) {
    const int w = 6, h = 7;
    const Floats field = SpiralField(w, h);
    const Tables box(kKernelBox, 4);
    Bytes image = RandomImage(w, h, 1);
    test::RecordingHost host;
    ASSERT_EQ(ComputeImageLic(w, h, image.data(), field.data(), box.fwd.data(), box.bwd.data(), 4, host),
              1);
    EXPECT_EQ(host.created, 1);
    EXPECT_EQ(host.last_range, h);
    EXPECT_EQ(host.steps, h);
    EXPECT_EQ(host.destroyed, 1);

    const Bytes before = image;
    test::RecordingHost idle;
    const float* f = field.data();
    const float* k = box.fwd.data();
    EXPECT_EQ(ComputeImageLic(w, h, nullptr, f, k, k, 4, idle), 0);
    EXPECT_EQ(ComputeImageLic(w, h, image.data(), nullptr, k, k, 4, idle), 0);
    EXPECT_EQ(ComputeImageLic(w, h, image.data(), f, nullptr, k, 4, idle), 0);
    EXPECT_EQ(ComputeImageLic(w, h, image.data(), f, k, nullptr, 4, idle), 0);
    EXPECT_EQ(ComputeImageLic(0, h, image.data(), f, k, k, 4, idle), 0);
    EXPECT_EQ(ComputeImageLic(w, -1, image.data(), f, k, k, 4, idle), 0);
    EXPECT_EQ(ComputeImageLic(w, h, image.data(), f, k, k, 0, idle), 0);
    EXPECT_EQ(idle.created, 0);
    EXPECT_EQ(ExtractForceField(0, h, image.data()), nullptr);
    EXPECT_EQ(ExtractForceField(w, h, nullptr), nullptr);
    float ones[9] = {1, 1, 1, 1, 1, 1, 1, 1, 1};
    FilterColorImage3x3(w, 0, image.data(), ones);
    FilterColorImage3x3(w, h, image.data(), nullptr);
    FilterColorImage3x3(w, h, nullptr, ones);
    EXPECT_EQ(image, before);
}

}  // namespace
}  // namespace flowloom
