#include "engine/output_scale.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#include "engine/lic_engine.h"
#include "lic/noise.h"
#include "support/test_support.h"

namespace flowloom {
namespace {

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();

struct Fine {
    MallocBuffer<float> vectors, magnitudes;
    MallocBuffer<unsigned char> mask;
};

Fine Upsample(const std::vector<float>& v, const std::vector<unsigned char>* mask, const std::vector<float>* mags,
              int width, int height, int scale, bool periodic = false, bool orientation = false) {
    Fine f;
    EXPECT_EQ(UpsampleField(v.data(), mask ? mask->data() : nullptr, mags ? mags->data() : nullptr, width, height,
                            scale, periodic, orientation, f.vectors, f.mask, f.magnitudes),
              1);
    return f;
}

// Bilinear blending reproduces a linear field wherever all four neighbours lie inside, at
// any scale, and scale 1 is the field itself.
TEST(OutputScale, LinearFieldIsReproducedAndScaleOneIsTheIdentity) {
    const int width = 7, height = 5;
    std::vector<float> v(2 * width * height);
    std::vector<float> mags(width * height);
    for (int r = 0; r < height; ++r) {
        for (int c = 0; c < width; ++c) {
            v[2 * (r * width + c)] = 0.5f * c - 0.25f * r;
            v[2 * (r * width + c) + 1] = 1.0f + 0.125f * r;
            mags[r * width + c] = 2.0f * c + r;
        }
    }
    for (const int scale : {1, 2, 3, 4}) {
        const Fine f = Upsample(v, nullptr, &mags, width, height, scale);
        EXPECT_FALSE(f.mask);
        const int w = width * scale;
        for (int i = 0; i < height * scale; ++i) {
            for (int j = 0; j < w; ++j) {
                const double x = (j + 0.5) / scale - 0.5, y = (i + 0.5) / scale - 0.5;
                if (x < 0 || y < 0 || x > width - 1 || y > height - 1) continue;
                const int o = i * w + j;
                EXPECT_NEAR(f.vectors[2 * o], 0.5 * x - 0.25 * y, 1e-6) << scale << " " << i << " " << j;
                EXPECT_NEAR(f.vectors[2 * o + 1], 1.0 + 0.125 * y, 1e-6);
                EXPECT_NEAR(f.magnitudes[o], 2.0 * x + y, 1e-5);
            }
        }
        // A second colour array blends exactly as the first.
        MallocBuffer<float> fine_vectors, fine_magnitudes, fine_scalar;
        MallocBuffer<unsigned char> fine_mask;
        ASSERT_EQ(UpsampleField(v.data(), nullptr, mags.data(), width, height, scale, false, false, fine_vectors,
                                fine_mask, fine_magnitudes, mags.data(), &fine_scalar),
                  1);
        EXPECT_EQ(std::memcmp(fine_scalar.get(), f.magnitudes.get(), mags.size() * scale * scale * sizeof(float)), 0);
        if (scale == 1) {
            EXPECT_EQ(std::memcmp(f.vectors.get(), v.data(), v.size() * sizeof(float)), 0);
            EXPECT_EQ(std::memcmp(f.magnitudes.get(), mags.data(), mags.size() * sizeof(float)), 0);
        }
    }
}

// The mask keeps its shape (each fine pixel takes its own cell's), and what lies under a
// masked sample never reaches an unmasked pixel.
TEST(OutputScale, MaskKeepsItsShapeAndNothingBleedsFromUnderIt) {
    const int width = 6, height = 4, scale = 3;
    std::vector<float> v(2 * width * height, 1.0f);
    std::vector<float> mags(width * height, 5.0f);
    std::vector<unsigned char> mask(width * height, 0);
    for (int k : {3, 8, 9, 20}) {
        mask[k] = 1;
        v[2 * k] = v[2 * k + 1] = 1e6f;
        mags[k] = 1e6f;
    }
    mags[14] = kNaN;  // missing for the colour alone
    const Fine f = Upsample(v, &mask, &mags, width, height, scale);
    ASSERT_TRUE(f.mask);
    for (int i = 0; i < height * scale; ++i) {
        for (int j = 0; j < width * scale; ++j) {
            const int o = i * width * scale + j;
            const bool masked = mask[(i / scale) * width + j / scale];
            EXPECT_EQ(f.mask[o], masked ? 1 : 0) << i << " " << j;
            if (masked) {
                EXPECT_EQ(f.vectors[2 * o], 0.0f);
                EXPECT_TRUE(std::isnan(f.magnitudes[o]));
            } else {
                EXPECT_EQ(f.vectors[2 * o], 1.0f) << i << " " << j;
                EXPECT_EQ(f.vectors[2 * o + 1], 1.0f);
                EXPECT_TRUE(f.magnitudes[o] == 5.0f ||
                            (std::isnan(f.magnitudes[o]) && i / scale == 2 && j / scale == 2));
            }
        }
    }
    // A field with nothing masked in the end has no mask.
    EXPECT_FALSE(Upsample(v, nullptr, nullptr, width, height, scale).mask);
}

// Across the seam of a periodic grid the two edges blend; a direction without sign is
// blended with the sign of its own cell, so opposite neighbours never cancel.
TEST(OutputScale, SeamWrapsWhenPeriodicAndOrientationNeverCancels) {
    const int width = 4, height = 2, scale = 4;
    std::vector<float> v = {0, 1, 0, -1, 0, 1, 0, -1, 0, -1, 0, 1, 0, -1, 0, 1};
    std::vector<float> ramp = {10, 0, 20, 0, 30, 0, 40, 0, 10, 0, 20, 0, 30, 0, 40, 0};
    const Fine closed = Upsample(ramp, nullptr, nullptr, width, height, scale, false);
    const Fine periodic = Upsample(ramp, nullptr, nullptr, width, height, scale, true);
    // The first fine column sits 3/8 of a sample left of column 0.
    EXPECT_EQ(closed.vectors[0], 10.0f);
    EXPECT_EQ(periodic.vectors[0], static_cast<float>(10.0 * 5 / 8 + 40.0 * 3 / 8));
    EXPECT_EQ(periodic.vectors[2 * (width * scale - 1)], static_cast<float>(40.0 * 5 / 8 + 10.0 * 3 / 8));

    const Fine plain = Upsample(v, nullptr, nullptr, width, height, scale);
    const Fine oriented = Upsample(v, nullptr, nullptr, width, height, scale, false, true);
    int cancelled = 0;
    for (int o = 0; o < width * height * scale * scale; ++o) {
        cancelled += std::hypot(plain.vectors[2 * o], plain.vectors[2 * o + 1]) < 0.5;
        EXPECT_EQ(std::abs(oriented.vectors[2 * o + 1]), 1.0f) << o;
    }
    EXPECT_GT(cancelled, 0);
}

std::vector<float> Swirl(int width, int height) {
    std::vector<float> v(2 * width * height);
    for (int r = 0; r < height; ++r) {
        for (int c = 0; c < width; ++c) {
            v[2 * (r * width + c)] = static_cast<float>(r - height / 2) + 0.3f;
            v[2 * (r * width + c) + 1] = static_cast<float>(width / 2 - c) * 0.5f;
        }
    }
    return v;
}

// The engine draws the scaled field on the finer grid, coloured by the magnitudes it is
// given rather than by its vectors' lengths; sizes it cannot draw are refused first.
TEST(OutputScale, EngineDrawsTheFinerGridAndRefusesWhatItCannotDraw) {
    const int width = 40, height = 30;
    const std::vector<float> v = Swirl(width, height);
    std::vector<float> stretched_storage(v);
    // Powers of two keep every direction bit for bit, at scale 1 where nothing is blended.
    for (std::size_t k = 0; k < stretched_storage.size(); ++k)
        stretched_storage[k] *= static_cast<float>(1 << (k / 2 % 4));
    const std::vector<float>& stretched = stretched_storage;
    std::vector<float> colour(width * height);
    for (int i = 0; i < width * height; ++i) colour[i] = 1.0f + static_cast<float>(i % 17);

    std::vector<std::vector<unsigned char>> pictures;
    for (const int scale : {1, 3}) {
        for (const std::vector<float>* field : {&v, &stretched}) {
            test::RecordingHost host;
            LicEngine engine(&host);
            engine.Reset();
            engine.output_scale = scale;
            ASSERT_EQ(engine.LoadFieldFromMemory(width, height, field->data(), nullptr, nullptr, colour.data()), 1);
            ASSERT_EQ(engine.x_res, scale * width);
            ASSERT_EQ(engine.y_res, scale * height);
            SeedNoiseGenerator(1);
            engine.Compute();
            ASSERT_TRUE(engine.HasColorImage());
            pictures.emplace_back(engine.rgb_image.get(), engine.rgb_image.get() + 3 * engine.x_res * engine.y_res);
        }
    }
    EXPECT_EQ(pictures[0], pictures[1]);

    // A colour scalar goes onto the finer grid with the field, and colours it there.
    {
        test::RecordingHost host;
        LicEngine engine(&host);
        engine.Reset();
        engine.output_scale = 3;
        ASSERT_EQ(engine.LoadFieldFromMemory(width, height, v.data(), nullptr, nullptr, nullptr, colour.data()), 1);
        const Fine f = Upsample(v, nullptr, &colour, width, height, 3);
        ASSERT_TRUE(engine.color_scalar);
        EXPECT_EQ(std::memcmp(engine.color_scalar.get(), f.magnitudes.get(), 9 * colour.size() * sizeof(float)), 0);
        engine.color_options.by = ColorBy::kScalar;
        SeedNoiseGenerator(1);
        engine.Compute();
        EXPECT_TRUE(engine.HasColorImage());
        EXPECT_TRUE(engine.compose_error.empty()) << engine.compose_error;
    }

    test::RecordingHost host;
    LicEngine engine(&host);
    engine.Reset();
    engine.output_scale = 16;
    const std::vector<float> wide = Swirl(1100, 2);
    EXPECT_EQ(engine.LoadFieldFromMemory(1100, 2, wide.data()), 0);
    EXPECT_NE(engine.scale_error.find("17600 x 32 picture; each side may have at most 16384"), std::string::npos)
        << engine.scale_error;
    ASSERT_EQ(host.messages.size(), 1u);
    EXPECT_FALSE(engine.vectors);
    std::string error;
    EXPECT_EQ(CheckOutputScale(10, 10, 17, error), 0);
    EXPECT_NE(error.find("out of range 1..16"), std::string::npos) << error;
    EXPECT_EQ(CheckOutputScale(100, 100, 16, error), 1) << error;
}

}  // namespace
}  // namespace flowloom
