#include "lic/progressive.h"

#include <gtest/gtest.h>

#include <set>
#include <vector>

#include "engine/lic_engine.h"
#include "lic/kernels.h"
#include "lic/parallel_rows.h"
#include "support/test_support.h"

namespace flowloom {
namespace {

using Order = std::vector<std::pair<int, int>>;

Order PassOrder(int lod) {
    Order order{{-7, -7}};  // the call must start afresh
    ProgressivePassOrder(lod, order);
    return order;
}

// An engine holding a field, white noise and kernel tables; the plain ConvolveLic of it
// is the reference every progressive pixel must match byte for byte.
struct Scene {
    test::RecordingHost host;
    LicEngine engine{&host};

    Scene(int width, int height, int field, int kernel_type, int length) {
        engine.Reset();
        engine.x_res = width;
        engine.y_res = height;
        engine.field_type = field;
        engine.kernel_type = kernel_type;
        engine.kernel_length = length;
        engine.kernel_phase = 30.0f;  // an asymmetric Hanning kernel
        engine.size_changed = engine.field_changed = 1;
        engine.Compute();
    }
    int Samples() const { return engine.x_res * engine.y_res; }
    std::vector<unsigned char> Reference() {
        engine.ConvolveLic();
        return {engine.lic_image.get(), engine.lic_image.get() + Samples()};
    }
    ProgressiveInput Input() const {
        return {engine.vectors.get(),    engine.noise.get(),      engine.x_res,         engine.y_res,
                engine.kernel_fwd.get(), engine.kernel_bwd.get(), engine.kernel_length, {}};
    }
    // Passes first..last over `image`, whole-image region unless one is given.
    void Run(std::vector<unsigned char>& image, int lod, int first, int last, int left = -1, int right = 2500,
             int top = -1, int bottom = 2500) const {
        ProgressivePasses(Input(), lod, first, last, left, right, top, bottom, image.data());
    }
};

TEST(ProgressivePassOrder, TheDocumentedOrdersForLod2And3) {
    EXPECT_EQ(PassOrder(2), (Order{{0, 0}, {1, 0}, {0, 1}, {1, 1}}));
    EXPECT_EQ(PassOrder(3), (Order{{0, 0}, {1, 0}, {2, 0}, {0, 1}, {0, 2}, {1, 1}, {2, 1}, {1, 2}, {2, 2}}));
    EXPECT_TRUE(PassOrder(0).empty());
    EXPECT_TRUE(PassOrder(-3).empty());
}

TEST(ProgressivePassOrder, EveryClassOnceStartingWithTheCoarseGrid) {
    for (int lod = 1; lod <= 8; ++lod) {
        const Order order = PassOrder(lod);
        ASSERT_EQ(static_cast<int>(order.size()), lod * lod);
        EXPECT_EQ(order[0], std::make_pair(0, 0));
        std::set<std::pair<int, int>> classes(order.begin(), order.end());
        EXPECT_EQ(static_cast<int>(classes.size()), lod * lod) << "lod " << lod;
        for (auto [cx, ry] : order) {
            EXPECT_TRUE(cx >= 0 && cx < lod && ry >= 0 && ry < lod);
        }
    }
}

// Every pass on its own, with a region that excludes everything, blacks exactly its own
// class: over all passes each pixel is written exactly once, also where the image is
// narrower or lower than the LOD (a class may then be empty).
TEST(ProgressivePasses, EachPixelIsWrittenByExactlyOnePass) {
    const int sizes[][2] = {{1, 1}, {2, 5}, {7, 3}, {9, 9}, {10, 13}};
    SetThreadCount(1);  // a thousand tiny passes: a thread team per pass would only wait
    for (auto [width, height] : sizes) {
        Scene scene(width, height, kFieldSaddle, kKernelBox, 5);
        for (int lod = 2; lod <= 8; ++lod) {
            std::vector<int> writes(scene.Samples(), 0);
            for (int pass = 0; pass < lod * lod; ++pass) {
                std::vector<unsigned char> image(scene.Samples(), 255);
                scene.Run(image, lod, pass, pass, 1, 0, 1, 0);
                const auto [cx, ry] = PassOrder(lod)[pass];
                for (int i = 0; i < scene.Samples(); ++i) {
                    if (image[i] == 255) continue;
                    ++writes[i];
                    ASSERT_EQ(i % width % lod, cx);
                    ASSERT_EQ(i / width % lod, ry);
                }
            }
            for (int i = 0; i < scene.Samples(); ++i)
                ASSERT_EQ(writes[i], 1) << width << "x" << height << " lod " << lod << " sample " << i;
        }
    }
    SetThreadCount(0);
}

// The progressive image, pass by pass or all at once, is the plain LIC byte for byte, for
// every field and kernel, including pixels on a zero vector.
TEST(ProgressivePasses, AllPassesGiveThePlainLic) {
    for (int field = 0; field < 4; ++field) {
        for (int kernel : {kKernelBox, kKernelRamp, kKernelHanning}) {
            Scene scene(37, 29, field, kernel, 12);
            scene.engine.vectors[2 * (14 * 37 + 18)] = 0.0f;  // a critical point
            scene.engine.vectors[2 * (14 * 37 + 18) + 1] = 0.0f;
            const auto reference = scene.Reference();
            ASSERT_EQ(reference[14 * 37 + 18], 0);
            std::vector<unsigned char> stepwise(scene.Samples(), 77);
            for (int pass = 0; pass < 9; ++pass) scene.Run(stepwise, 3, pass, pass);
            std::vector<unsigned char> at_once(scene.Samples(), 77);
            scene.Run(at_once, 4, 0, 15);
            EXPECT_EQ(stepwise, reference) << "field " << field << " kernel " << kernel;
            EXPECT_EQ(at_once, reference) << "field " << field << " kernel " << kernel;
        }
    }
}

TEST(ProgressivePasses, SameImageForEveryThreadCount) {
    Scene scene(61, 47, kFieldVortex, kKernelHanning, 15);
    const auto reference = scene.Reference();
    for (int threads : {1, 2, 16}) {
        SetThreadCount(threads);
        std::vector<unsigned char> image(scene.Samples(), 77);
        scene.Run(image, 2, 0, 0);
        scene.Run(image, 2, 1, 3);
        EXPECT_EQ(image, reference) << "threads " << threads;
    }
    SetThreadCount(0);
}

// A region drawn after three passes blacks the pixels outside it in the later passes only;
// pixels outside it from the earlier passes keep their values, and pixels inside are the
// plain LIC.
TEST(ProgressivePasses, RegionBlacksOnlyTheLaterPassesOutsideIt) {
    Scene scene(31, 26, kFieldSpiralling, kKernelHanning, 10);
    const auto reference = scene.Reference();
    const int left = 5, right = 20, top = 8, bottom = 17;
    std::vector<unsigned char> image(scene.Samples(), 0);
    scene.Run(image, 3, 0, 2);
    scene.Run(image, 3, 3, 8, left, right, top, bottom);
    int kept = 0, blacked = 0;
    for (int row = 0; row < 26; ++row) {
        for (int col = 0; col < 31; ++col) {
            const int i = row * 31 + col;
            const bool inside = col >= left && col <= right && row >= top && row <= bottom;
            const bool early = row % 3 == 0;  // passes 0..2 are the classes of row offset 0
            if (inside || early) {
                ASSERT_EQ(image[i], reference[i]) << "row " << row << " col " << col;
                kept += !inside && reference[i] != 0;
            } else {
                ASSERT_EQ(image[i], 0) << "row " << row << " col " << col;
                blacked += reference[i] != 0;
            }
        }
    }
    EXPECT_GT(kept, 0);
    EXPECT_GT(blacked, 0);
}

TEST(ProgressivePasses, PassRangesOutsideTheOrderChangeNothing) {
    Scene scene(12, 10, kFieldSaddle, kKernelBox, 6);
    const std::vector<unsigned char> untouched(scene.Samples(), 201);
    const int ranges[][2] = {{0, 9}, {5, 9}, {9, 9}, {3, 2}, {-3, -1}, {8, 7}};
    for (auto [first, last] : ranges) {
        std::vector<unsigned char> image = untouched;
        scene.Run(image, 3, first, last);
        EXPECT_EQ(image, untouched) << first << ".." << last;
    }
    // A first pass below 0 starts at pass 0.
    std::vector<unsigned char> from_negative = untouched, from_zero = untouched;
    scene.Run(from_negative, 3, -2, 1);
    scene.Run(from_zero, 3, 0, 1);
    EXPECT_EQ(from_negative, from_zero);
    EXPECT_NE(from_zero, untouched);
}

TEST(ProgressivePasses, AbsentInputChangesNothing) {
    Scene scene(12, 10, kFieldSaddle, kKernelBox, 6);
    const std::vector<unsigned char> untouched(scene.Samples(), 201);
    std::vector<unsigned char> image = untouched;
    ProgressiveInput in = scene.Input();
    in.noise = nullptr;
    ProgressivePasses(in, 3, 0, 8, -1, 2500, -1, 2500, image.data());
    in = scene.Input();
    in.kernel_bwd = nullptr;
    ProgressivePasses(in, 3, 0, 8, -1, 2500, -1, 2500, image.data());
    ProgressivePasses(scene.Input(), 3, 0, 8, -1, 2500, -1, 2500, nullptr);
    EXPECT_EQ(image, untouched);
}

}  // namespace
}  // namespace flowloom
