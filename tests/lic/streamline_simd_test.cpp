#include "lic/streamline_simd.h"

#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "engine/lic_engine.h"
#include "lic/animation.h"
#include "lic/image_lic.h"
#include "lic/kernels.h"
#include "lic/parallel_rows.h"
#include "lic/progressive.h"
#include "support/test_support.h"

namespace flowloom {
namespace {

using test::ExpectEveryPathGivesTheScalarBytes;

using Bytes = std::vector<unsigned char>;

TEST(SimdPath, NamesAutoScalarAndTheMachinesInstructionSets) {
    const std::vector<std::string> names = SimdPathNames();
    ASSERT_FALSE(names.empty());  // at least the emulated 128-bit target
    EXPECT_TRUE(SetSimdPath("scalar"));
    EXPECT_EQ(SimdPathName(), "scalar");
    EXPECT_EQ(ChosenLaneKernels(100), nullptr);
    EXPECT_TRUE(SetSimdPath(names.back()));
    EXPECT_EQ(SimdPathName(), names.back());
    EXPECT_FALSE(SetSimdPath("avx9000"));
    EXPECT_EQ(SimdPathName(), names.back());  // a refused name changes nothing
    EXPECT_TRUE(SetSimdPath("auto"));
    EXPECT_EQ(SimdPathName(), names.front());
    EXPECT_NE(ChosenLaneKernels(100), nullptr);
    EXPECT_EQ(ChosenLaneKernels(kMaxLaneIndices + 1), nullptr);  // too large for lane indices
}

struct Scene {
    test::RecordingHost host;
    LicEngine engine{&host};

    // field 0..3 analytic; 4: random vectors, a quarter zero and a quarter shorter than
    // the threshold (each of those takes one long step, far outside the grid).
    Scene(int width, int height, int field) {
        engine.Reset();
        engine.x_res = width;
        engine.y_res = height;
        engine.field_type = field < 4 ? field : 0;
        engine.size_changed = engine.field_changed = 1;
        engine.Compute();
        if (field < 4) return;
        std::mt19937 random(static_cast<unsigned>(width * 131 + height));
        std::uniform_real_distribution<float> unit(-1.0f, 1.0f);
        for (long i = 0; i < static_cast<long>(width) * height; ++i) {
            const unsigned kind = random() % 4;
            const float scale = kind == 0 ? 0.0f : kind == 1 ? 0.04f : 1.0f;
            engine.vectors[2 * i] = scale * unit(random);
            engine.vectors[2 * i + 1] = scale * unit(random);
        }
    }
    Bytes Lic(int kernel_type, int length, int mag_lic) {
        engine.kernel_type = kernel_type;
        engine.kernel_length = length;
        engine.mag_lic = mag_lic;
        BuildKernelTables(engine.kernel_fwd.get(), engine.kernel_bwd.get(), static_cast<float>(length), 3.0f, 30.0f,
                          kernel_type);
        engine.ConvolveLic();
        return {engine.lic_image.get(), engine.lic_image.get() + engine.x_res * engine.y_res};
    }
};

std::string Name(int field, int width, int height, int kernel, int length, int mag) {
    return "field " + std::to_string(field) + " " + std::to_string(width) + "x" + std::to_string(height) + " kernel " +
           std::to_string(kernel) + " L " + std::to_string(length) + (mag ? " MagLIC" : "");
}

// Every field (and the borders and zero vectors within them), widths that leave every lane
// remainder, every kernel, short and long lengths, plain and MagLIC.
TEST(LaneStepper, ConvolveLicMatchesTheScalarPath) {
    SetThreadCount(1);  // thousands of tiny pictures: threads would only wait for each other
    for (int field = 0; field <= 4; ++field) {
        for (int width = 1; width <= 17; ++width) {
            const int height = 1 + width % 5;
            Scene scene(width, height, field);
            for (int kernel : {kKernelBox, kKernelRamp, kKernelHanning})
                for (int length : {1, 2, 15})
                    for (int mag : {0, 1})
                        ExpectEveryPathGivesTheScalarBytes([&] { return scene.Lic(kernel, length, mag); },
                                                           Name(field, width, height, kernel, length, mag));
        }
        Scene wide(2000, 2, field);
        for (int length : {2, 15, 200})
            for (int mag : {0, 1})
                ExpectEveryPathGivesTheScalarBytes([&] { return wide.Lic(kKernelHanning, length, mag); },
                                                   Name(field, 2000, 2, kKernelHanning, length, mag));
        Scene square(41, 37, field);
        ExpectEveryPathGivesTheScalarBytes([&] { return square.Lic(kKernelRamp, 200, 0); },
                                           Name(field, 41, 37, kKernelRamp, 200, 0));
    }
    SetThreadCount(0);
}

// A grid zoomed to 4000 columns interpolates its vectors, many below the threshold; and
// one and two threads give the same picture on every path.
TEST(LaneStepper, ZoomedGridAndThreadCountsMatchTheScalarPath) {
    Scene scene(200, 100, 1);
    scene.engine.roi_enabled = 1;
    scene.engine.roi_left = 0;
    scene.engine.roi_right = 199;
    scene.engine.roi_top = 40;
    scene.engine.roi_bottom = 44;  // the smallest region: 81 zoomed rows
    scene.engine.roi_scale = 20;
    scene.engine.Compute();
    ASSERT_GT(scene.engine.x_res, 3900);
    ASSERT_EQ(scene.engine.y_res, 81);
    for (int threads : {1, 2}) {
        SetThreadCount(threads);
        ExpectEveryPathGivesTheScalarBytes([&] { return scene.Lic(kKernelHanning, 15, threads - 1); },
                                           "zoomed, threads " + std::to_string(threads));
    }
    SetThreadCount(0);
}

// The lane kernels take a class's rows in tiles of several rows and groups of several
// tiles: grids whose classes end inside a tile or a group, regions that cut them or lie
// beyond the grid, and one and two threads.
TEST(LaneStepper, ProgressivePassesMatchTheScalarPath) {
    struct Case {
        int lod, width, height, left, right, top, bottom;
    };
    for (const Case& c : {Case{4, 29, 23, 4, 20, 2, 17}, Case{3, 120, 100, 7, 101, 5, 94},
                          Case{2, 37, 90, 0, 30, 1, 88}, Case{2, 40, 30, INT_MAX - 1, INT_MAX, INT_MAX - 1, INT_MAX}}) {
        Scene scene(c.width, c.height, 4);
        scene.Lic(kKernelHanning, 15, 0);
        const ProgressiveInput in{scene.engine.vectors.get(),    scene.engine.noise.get(),      c.width, c.height,
                                  scene.engine.kernel_fwd.get(), scene.engine.kernel_bwd.get(), 15,      {}};
        const int last = c.lod * c.lod - 1;
        for (int threads : {1, 2}) {
            SetThreadCount(threads);
            // All passes over the whole grid (as the largest region), then the later passes
            // inside a region.
            for (const auto& [first, region] : std::vector<std::pair<int, bool>>{{0, false}, {3, true}}) {
                ExpectEveryPathGivesTheScalarBytes(
                    [&] {
                        Bytes image(static_cast<size_t>(c.width) * c.height, 7);
                        if (region)
                            ProgressivePasses(in, c.lod, first, last, c.left, c.right, c.top, c.bottom, image.data());
                        else
                            ProgressivePasses(in, c.lod, first, last, -1, INT_MAX, -1, INT_MAX, image.data());
                        return image;
                    },
                    "lod " + std::to_string(c.lod) + " passes from " + std::to_string(first) + ", threads " +
                        std::to_string(threads));
            }
        }
    }
    SetThreadCount(0);
}

TEST(LaneStepper, AnimationFramesMatchTheScalarPath) {
    Scene scene(21, 13, 4);
    AnimationInput in;
    in.vectors = scene.engine.vectors.get();
    in.noise = scene.engine.noise.get();
    in.width = 21;
    in.height = 13;
    in.kernel_length = 9;
    in.anim_frames = 8;
    in.enhance_iterations = 2;  // the second pass samples each frame's own texture
    auto invert = [](int width, int height, unsigned char* grey) {
        for (int i = 0; i < width * height; ++i) grey[i] = static_cast<unsigned char>(255 - grey[i]);
    };
    ExpectEveryPathGivesTheScalarBytes(
        [&] {
            test::RecordingHost host;
            const auto frames = ComputeAnimationFrameImages(in, host, invert);
            return Bytes(frames.get(), frames.get() + 8 * 21 * 13);
        },
        "animation");
}

TEST(LaneStepper, ImageLicMatchesTheScalarPath) {
    for (int width : {1, 7, 16, 17}) {
        const int height = 9;
        Scene scene(width, height, 4);
        std::mt19937 random(static_cast<unsigned>(width));
        Bytes image(3 * width * height);
        for (auto& byte : image) byte = static_cast<unsigned char>(random());
        std::vector<float> tables(2 * kKernelTableSize);
        BuildKernelTables(tables.data(), tables.data() + kKernelTableSize, 11.0f, 2.0f, 0.0f, kKernelHanning);
        ExpectEveryPathGivesTheScalarBytes(
            [&] {
                Bytes out = image;
                test::RecordingHost host;
                ComputeImageLic(width, height, out.data(), scene.engine.vectors.get(), tables.data(),
                                tables.data() + kKernelTableSize, 11, host);
                return out;
            },
            "image LIC " + std::to_string(width));
    }
}

}  // namespace
}  // namespace flowloom
