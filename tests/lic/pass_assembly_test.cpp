#include "lic/pass_assembly.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <random>
#include <vector>

#include "lic/kernels.h"
#include "media/malloc_buffer.h"

namespace flowloom {
namespace {

using Bytes = std::vector<unsigned char>;

// A small random field and texture with MagLIC magnitudes, and the LIC of a lattice of it
// through one assembly, written into a window of the picture.
struct Scene {
    static constexpr int kWidth = 23;
    static constexpr int kHeight = 11;
    std::vector<float> vectors = std::vector<float>(2 * kWidth * kHeight);
    std::vector<float> magnitudes = std::vector<float>(kWidth * kHeight);
    std::vector<float> tables = std::vector<float>(2 * kKernelTableSize);

    Scene() {
        std::mt19937 random(11);
        std::uniform_real_distribution<float> unit(-1.0f, 1.0f);
        for (float& v : vectors) v = unit(random);
        for (float& m : magnitudes) m = 40.0f * (unit(random) + 1.0f);
        BuildKernelTables(tables.data(), tables.data() + kKernelTableSize, 9.0f, 2.0f, 0.0f, kKernelHanning);
    }
    StreamlineGrid Grid() const { return {vectors.data(), kWidth, kHeight}; }
    // Rows 2.. and columns 3.. of the grid, every second column, MagLIC or plain.
    Bytes Lic(const PassAssembly& pass, bool mag) const {
        Bytes window(static_cast<size_t>(kHeight - 2) * (kWidth - 3), 7);
        const PixelWindow<const float> mags =
            mag ? PixelWindow<const float>{magnitudes.data() + 2 * kWidth + 3, 2, 3, kWidth}
                : PixelWindow<const float>{};
        const LicLanes lic = pass.Lic(tables.data(), tables.data() + kKernelTableSize, mags,
                                      PixelWindow<unsigned char>{window.data(), 2, 3, kWidth - 3});
        pass.LicRows(lic, LaneRows{2, 1, kHeight}, LaneColumns{3, 2, kWidth});
        return window;
    }
};

Bytes Texture(size_t bytes) {
    Bytes texture(bytes);
    std::mt19937 random(5);
    for (auto& byte : texture) byte = static_cast<unsigned char>(random());
    return texture;
}

TEST(PassAssembly, StepLimitSaturatesForHugeKernels) {
    EXPECT_EQ(StepLimit(15), 45);
    EXPECT_EQ(StepLimit(INT_MAX / 3 + 1), INT_MAX);  // never a negative count, so never no steps
}

// The lanes are taken only when they are switched on and the texture's offsets fit them;
// a texture that comes padded is read as it is, any other through a padded copy. The
// scalar path gives the lanes' bytes.
TEST(PassAssembly, FallsBackToTheScalarPathWhenTheLanesCannotRun) {
    const Scene scene;
    const Bytes texture = Texture(Scene::kWidth * Scene::kHeight);
    const PassTexture plain{texture.data(), texture.size()};

    ASSERT_TRUE(SetSimdPath("scalar"));
    const PassAssembly scalar(scene.Grid(), 9, plain);
    EXPECT_EQ(scalar.lanes(), nullptr);
    EXPECT_EQ(scalar.texture(), texture.data());

    ASSERT_TRUE(SetSimdPath("auto"));
    const PassAssembly lanes(scene.Grid(), 9, plain);
    ASSERT_NE(lanes.lanes(), nullptr);
    EXPECT_NE(lanes.texture(), texture.data());  // the padded copy
    for (bool mag : {false, true}) EXPECT_EQ(scene.Lic(lanes, mag), scene.Lic(scalar, mag)) << "MagLIC " << mag;

    const PassAssembly padded(scene.Grid(), 9, PassTexture{texture.data(), texture.size(), true});
    EXPECT_NE(padded.lanes(), nullptr);
    EXPECT_EQ(padded.texture(), texture.data());
    // Offsets beyond 32-bit lane indices: the texture is never read, so its size may lie.
    const PassAssembly huge(scene.Grid(), 9, PassTexture{texture.data(), kMaxLaneIndices + 1, true});
    EXPECT_EQ(huge.lanes(), nullptr);
    EXPECT_EQ(huge.texture(), texture.data());
}

#if defined(__SANITIZE_ADDRESS__)
#define FLOWLOOM_UNDER_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define FLOWLOOM_UNDER_ASAN 1
#endif
#endif

// The process's address space now, in bytes.
[[maybe_unused]] long AddressSpaceBytes() {
    long pages = 0;
    std::FILE* statm = std::fopen("/proc/self/statm", "r");
    if (!statm) return -1;
    const int read = std::fscanf(statm, "%ld", &pages);
    std::fclose(statm);
    return read == 1 ? pages * sysconf(_SC_PAGESIZE) : -1;
}

// Without memory for the padded copy the pass runs on the scalar path, with the same bytes.
TEST(PassAssembly, FallsBackToTheScalarPathWhenPaddingRunsOutOfMemory) {
#ifdef FLOWLOOM_UNDER_ASAN
    GTEST_SKIP() << "the sanitizer's shadow memory needs the address space a limit would take";
#else
    const Scene scene;
    // A texture far larger than the grid reads, so that its copy alone passes the limit.
    constexpr size_t kBig = size_t{64} << 20;
    MallocBuffer<unsigned char> big;
    ASSERT_TRUE(big.Allocate(kBig));
    const Bytes texture = Texture(Scene::kWidth * Scene::kHeight);
    std::copy(texture.begin(), texture.end(), big.get());
    ASSERT_TRUE(SetSimdPath("auto"));

    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_AS, &saved), 0);
    const long now = AddressSpaceBytes();
    ASSERT_GT(now, 0);
    rlimit tight = saved;
    tight.rlim_cur = static_cast<rlim_t>(now) + (16 << 20);
    if (saved.rlim_cur != RLIM_INFINITY && saved.rlim_cur < tight.rlim_cur) GTEST_SKIP() << "already limited";
    ASSERT_EQ(setrlimit(RLIMIT_AS, &tight), 0);
    const PassAssembly starved(scene.Grid(), 9, PassTexture{big.get(), kBig});
    ASSERT_EQ(setrlimit(RLIMIT_AS, &saved), 0);

    EXPECT_EQ(starved.lanes(), nullptr);
    EXPECT_EQ(starved.texture(), big.get());
    const PassAssembly lanes(scene.Grid(), 9, PassTexture{big.get(), kBig});
    ASSERT_NE(lanes.lanes(), nullptr);
    for (bool mag : {false, true}) EXPECT_EQ(scene.Lic(starved, mag), scene.Lic(lanes, mag)) << "MagLIC " << mag;
#endif
}

}  // namespace
}  // namespace flowloom
