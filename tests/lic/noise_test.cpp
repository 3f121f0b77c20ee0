#include "lic/noise.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <ctime>
#include <utility>
#include <vector>

#include "lic/parallel_rows.h"

namespace flowloom {
namespace {

// Drawn before any test runs, so it sees the generator exactly as the program starts.
const std::vector<int> kFirstDrawsOfTheRun = [] {
    std::vector<int> draws;
    for (int i = 0; i < 4; ++i) draws.push_back(NextNoiseRandom());
    return draws;
}();

// The recurrence written out again, in 64-bit arithmetic with an explicit modulus.
class ReferenceGenerator {
public:
    explicit ReferenceGenerator(uint64_t seed) : state_(seed % (uint64_t{1} << 32)) {}
    int Next() {
        state_ = (state_ * 214013 + 2531011) % (uint64_t{1} << 32);
        return static_cast<int>((state_ / 65536) % 32768);
    }

private:
    uint64_t state_;
};

class NoiseTest : public ::testing::Test {
protected:
    void TearDown() override {
        SetSparseNoiseSeed(-1);
        SeedNoiseGenerator(1);
    }
};

using Texture = std::vector<unsigned char>;

Texture Sparse(int width, int height) {
    Texture texture(static_cast<size_t>(width) * height, 77);  // garbage that must be cleared
    MakeSparseNoise(texture.data(), width, height);
    return texture;
}

Texture WhiteAfterSeed(uint32_t seed, int width, int height) {
    SeedNoiseGenerator(seed);
    Texture texture(static_cast<size_t>(width) * height);
    MakeWhiteNoise(texture.data(), width, height);
    return texture;
}

int DotsAlong(int size) {
    return size < 8 ? 0 : (size - 8) / 9 + 1;
}

// ---- generator and white noise ----

TEST_F(NoiseTest, GeneratorStartsAtStateOneAndFollowsTheRecurrence) {
    ReferenceGenerator reference(1);
    for (int draw : kFirstDrawsOfTheRun) EXPECT_EQ(draw, reference.Next());
    EXPECT_EQ(kFirstDrawsOfTheRun, (std::vector<int>{41, 18467, 6334, 26500}));

    // Wrapping at 2^32 and the 15-bit mask, over a long stretch from an awkward seed.
    SeedNoiseGenerator(0xFFFFFFFFu);
    ReferenceGenerator wrapped(0xFFFFFFFFu);
    for (int i = 0; i < 100000; ++i) {
        const int r = NextNoiseRandom();
        ASSERT_EQ(r, wrapped.Next()) << "draw " << i;
        ASSERT_GE(r, 0);
        ASSERT_LE(r, 32767);
    }
}

TEST_F(NoiseTest, WhiteNoiseFoldsBitsEightToFourteenOntoTheLowByte) {
    const Texture texture = WhiteAfterSeed(12345, 7, 5);
    ReferenceGenerator reference(12345);
    for (size_t i = 0; i < texture.size(); ++i) {
        const int r = reference.Next();
        EXPECT_EQ(texture[i], ((r & 0xFF) + (r >> 8)) % 256) << "byte " << i;
    }
    // The texture continues the sequence: the next draw follows the last byte's.
    EXPECT_EQ(NextNoiseRandom(), reference.Next());
}

// Rows drawn apart (jumped ahead, eight draws at a time) give the sequence's own bytes in
// order, for every width around the lane count and for one and two threads, and the
// generator goes on after the last byte.
TEST_F(NoiseTest, WhiteTextureIsTheSequenceInOrderForAnyWidthAndThreads) {
    for (const int threads : {1, 2}) {
        SetThreadCount(threads);
        for (int width = 1; width <= 17; ++width) {
            const int height = 1 + width % 4;
            const uint32_t seed = 0xDEADBEEFu + static_cast<uint32_t>(width);
            const Texture texture = WhiteAfterSeed(seed, width, height);
            ReferenceGenerator reference(seed);
            for (size_t i = 0; i < texture.size(); ++i) {
                const int r = reference.Next();
                ASSERT_EQ(texture[i], static_cast<unsigned char>(((r >> 8) + r) & 0xFF)) << width << " " << i;
            }
            EXPECT_EQ(NextNoiseRandom(), reference.Next()) << width;
        }
    }
    SetThreadCount(0);
}

TEST_F(NoiseTest, FirstWhiteTextureAfterAFreshSeedIsTheSameEveryTime) {
    const Texture a = WhiteAfterSeed(1, 300, 300);
    const Texture b = WhiteAfterSeed(1, 300, 300);
    EXPECT_EQ(a, b);
    EXPECT_NE(a, WhiteAfterSeed(2, 300, 300));
}

TEST_F(NoiseTest, InvalidBuffersAreIgnoredWithoutDrawing) {
    SeedNoiseGenerator(1);
    Texture untouched(16, 9);
    MakeWhiteNoise(nullptr, 4, 4);
    MakeWhiteNoise(untouched.data(), 0, 4);
    MakeWhiteNoise(untouched.data(), 4, -1);
    SetSparseNoiseSeed(999);
    MakeSparseNoise(nullptr, 300, 300);
    MakeSparseNoise(untouched.data(), -4, 4);
    MakeSparseNoise(untouched.data(), 4, 0);
    EXPECT_EQ(untouched, Texture(16, 9));
    EXPECT_EQ(NextNoiseRandom(), 41);  // neither drawn from nor reseeded
}

// ---- sparse noise ----

TEST_F(NoiseTest, SparseTextureHasOnePlusSignPerCellJitteredByTheDraws) {
    const int seed = 4242;
    SetSparseNoiseSeed(seed);
    const int size = 300;
    const Texture texture = Sparse(size, size);

    ASSERT_EQ(DotsAlong(size), 33);
    Texture expected(texture.size(), 0);
    ReferenceGenerator reference(seed);
    for (int cell_row = 0; cell_row < 33; ++cell_row) {
        for (int cell_col = 0; cell_col < 33; ++cell_col) {
            // The first draw jitters the column, the second the row.
            const int col = 4 + 9 * cell_col + reference.Next() % 3 - 1;
            const int row = 4 + 9 * cell_row + reference.Next() % 3 - 1;
            for (auto [dr, dc] : {std::pair{0, 0}, {0, -1}, {0, 1}, {-1, 0}, {1, 0}})
                expected[(row + dr) * size + col + dc] = 255;
        }
    }
    EXPECT_EQ(texture, expected);

    int lit = 0;
    for (unsigned char v : texture) lit += v == 255;
    EXPECT_EQ(lit, 33 * 33 * 5);  // no two signs share a pixel
}

TEST_F(NoiseTest, SparseDotsStayInsideTheBorderForEverySize) {
    // Sizes across the loop bounds: below 8 nothing fits; each further 9 adds a dot.
    for (int width = 1; width <= 31; ++width) {
        for (int height = 1; height <= 31; ++height) {
            const Texture texture = Sparse(width, height);
            int lit = 0;
            for (int row = 0; row < height; ++row) {
                for (int col = 0; col < width; ++col) {
                    const unsigned char v = texture[row * width + col];
                    ASSERT_TRUE(v == 0 || v == 255);
                    if (v == 0) continue;
                    ++lit;
                    EXPECT_TRUE(col >= 2 && col <= width - 2 && row >= 2 && row <= height - 2)
                        << width << "x" << height << " lit at " << col << "," << row;
                }
            }
            EXPECT_EQ(lit, 5 * DotsAlong(width) * DotsAlong(height)) << width << "x" << height;
        }
    }
    EXPECT_EQ(Sparse(7, 300), Texture(7 * 300, 0));
    EXPECT_EQ(Sparse(300, 7), Texture(300 * 7, 0));
}

TEST_F(NoiseTest, FixedSparseSeedRepeatsTheTexture) {
    SetSparseNoiseSeed(7);
    const Texture a = Sparse(120, 90);
    const Texture b = Sparse(120, 90);
    EXPECT_EQ(a, b);
    SetSparseNoiseSeed(8);
    EXPECT_NE(Sparse(120, 90), a);
    // Seeds are taken modulo 2^32.
    SetSparseNoiseSeed(7 + (int64_t{1} << 32));
    EXPECT_EQ(Sparse(120, 90), a);
}

TEST_F(NoiseTest, SparseNoiseSeedsWithTheClockInSeconds) {
    SetSparseNoiseSeed(-1);
    const std::time_t before = std::time(nullptr);
    const Texture clocked = Sparse(200, 200);
    const std::time_t after = std::time(nullptr);
    bool matched = false;
    for (std::time_t t = before; t <= after && !matched; ++t) {
        SetSparseNoiseSeed(static_cast<uint32_t>(t));
        matched = Sparse(200, 200) == clocked;
    }
    EXPECT_TRUE(matched);
}

TEST_F(NoiseTest, WhiteTextureAfterASparseOneDependsOnTheReseeding) {
    const Texture fresh = WhiteAfterSeed(1, 64, 64);
    SeedNoiseGenerator(1);
    Sparse(64, 64);
    Texture after(64 * 64);
    MakeWhiteNoise(after.data(), 64, 64);
    EXPECT_NE(after, fresh);

    // And it is exactly the continuation from the sparse texture's seed.
    SetSparseNoiseSeed(31337);
    Sparse(64, 64);
    MakeWhiteNoise(after.data(), 64, 64);
    SeedNoiseGenerator(31337);
    for (int i = 0; i < 2 * DotsAlong(64) * DotsAlong(64); ++i) NextNoiseRandom();
    Texture continued(64 * 64);
    MakeWhiteNoise(continued.data(), 64, 64);
    EXPECT_EQ(after, continued);
}

}  // namespace
}  // namespace flowloom
