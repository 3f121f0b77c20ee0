#include "lic/hashed_noise.h"

#include <gtest/gtest.h>

#include <vector>

namespace flowloom {
namespace {

// Any part of the texture, made on its own, equals that part of the whole texture; the
// bytes are spread evenly and depend on the seed.
TEST(HashedNoise, PartsEqualTheWholeAndBytesSpreadEvenly) {
    const int rows = 37, cols = 53;
    std::vector<unsigned char> whole(rows * cols);
    MakeHashedWhiteNoise(whole.data(), rows, cols, 0, 0, 9);
    std::vector<unsigned char> part(5 * 11);
    MakeHashedWhiteNoise(part.data(), 5, 11, 30, 40, 9);
    for (int r = 0; r < 5; ++r)
        for (int c = 0; c < 11; ++c) ASSERT_EQ(part[r * 11 + c], whole[(30 + r) * cols + 40 + c]);

    std::vector<unsigned char> big(512 * 512);
    MakeHashedWhiteNoise(big.data(), 512, 512, 1000000, 3, 9);
    std::vector<int> count(256, 0);
    for (unsigned char b : big) ++count[b];
    for (int v = 0; v < 256; ++v) EXPECT_NEAR(count[v], 1024, 160) << v;

    std::vector<unsigned char> other(rows * cols);
    MakeHashedWhiteNoise(other.data(), rows, cols, 0, 0, 10);
    int same = 0;
    for (int i = 0; i < rows * cols; ++i) same += other[i] == whole[i];
    EXPECT_LT(same, rows * cols / 64);
}

}  // namespace
}  // namespace flowloom
