#include "lic/noise.h"

#include <cstddef>
#include <cstring>
#include <ctime>

#include "lic/parallel_rows.h"

namespace flowloom {

namespace {

// constinit: the state is 1 before any dynamic initialiser of any file can draw from it.
constinit uint32_t g_noise_state = 1;
constexpr uint32_t kMultiplier = 214013u;
constexpr uint32_t kIncrement = 2531011u;
constinit int64_t g_sparse_seed = -1;

}  // namespace

void SeedNoiseGenerator(uint32_t seed) {
    g_noise_state = seed;
}

int NextNoiseRandom() {
    // Unsigned arithmetic wraps modulo 2^32, which is the recurrence's modulus.
    g_noise_state = g_noise_state * kMultiplier + kIncrement;
    return static_cast<int>((g_noise_state >> 16) & 0x7FFFu);
}

void SetSparseNoiseSeed(int64_t seed) {
    g_sparse_seed = seed;
}

namespace {

// The generator's step applied `steps` times is again a step state * a + c (mod 2^32);
// doubling composes it in log(steps) multiplications.
struct Jump {
    uint32_t a = 1;
    uint32_t c = 0;
    uint32_t operator()(uint32_t state) const { return state * a + c; }
};

Jump JumpOf(uint64_t steps) {
    Jump total;
    Jump power{kMultiplier, kIncrement};
    for (; steps != 0; steps >>= 1) {
        if (steps & 1) total = {total.a * power.a, total.c * power.a + power.c};
        power = {power.a * power.a, power.c * power.a + power.c};
    }
    return total;
}

unsigned char WhiteNoiseByte(uint32_t state) {
    const uint32_t r = (state >> 16) & 0x7FFFu;
    return static_cast<unsigned char>(((r >> 8) + r) & 0xFFu);
}

// `count` bytes of white noise from the draws that follow `state`. Eight draws are in
// flight at once, each lane jumping eight steps, so the chain of multiplications no longer
// sets the pace.
void WhiteNoiseRun(uint32_t state, unsigned char* out, long count) {
    constexpr int kLanes = 8;
    const Jump eight = JumpOf(kLanes);
    uint32_t lanes[kLanes];
    long i = 0;
    if (count >= kLanes) {
        for (int k = 0; k < kLanes; ++k) lanes[k] = state = state * kMultiplier + kIncrement;
        for (; i + kLanes <= count; i += kLanes) {
            // The state of the block's last byte, where the remainder continues.
            state = lanes[kLanes - 1];
            for (int k = 0; k < kLanes; ++k) {
                out[i + k] = WhiteNoiseByte(lanes[k]);
                lanes[k] = eight(lanes[k]);
            }
        }
    }
    for (; i < count; ++i) out[i] = WhiteNoiseByte(state = state * kMultiplier + kIncrement);
}

}  // namespace

void MakeWhiteNoise(unsigned char* buffer, int width, int height) {
    if (buffer == nullptr || width <= 0 || height <= 0) return;
    // Row r begins r x width draws on: each row jumps there and draws its own bytes, so the
    // texture is the sequence's, for any thread count.
    const uint32_t start = g_noise_state;
    ForEachRow(height, [&](int row) {
        const uint64_t before = static_cast<uint64_t>(row) * static_cast<uint64_t>(width);
        WhiteNoiseRun(JumpOf(before)(start), buffer + before, width);
    });
    g_noise_state = JumpOf(static_cast<uint64_t>(width) * static_cast<uint64_t>(height))(start);
}

void MakeSparseNoise(unsigned char* buffer, int width, int height) {
    if (buffer == nullptr || width <= 0 || height <= 0) return;
    std::memset(buffer, 0, static_cast<size_t>(width) * static_cast<size_t>(height));

    // The clock seeds in whole seconds and is truncated to the 32-bit state.
    SeedNoiseGenerator(g_sparse_seed >= 0 ? static_cast<uint32_t>(g_sparse_seed)
                                          : static_cast<uint32_t>(std::time(nullptr)));

    const auto set = [&](int row, int col) {
        buffer[static_cast<size_t>(row) * static_cast<size_t>(width) + static_cast<size_t>(col)] = 255;
    };
    // Cells start at 4 and end 3 short of the border, so a jittered plus sign (reach 2)
    // stays inside rows and columns 2..size-2 and neighbouring signs never touch.
    for (int y = 4; y < height - 3; y += 9) {
        for (int x = 4; x < width - 3; x += 9) {
            const int r1 = NextNoiseRandom();
            const int r2 = NextNoiseRandom();
            const int col = x + r1 % 3 - 1;
            const int row = y + r2 % 3 - 1;
            set(row, col);
            set(row, col - 1);
            set(row, col + 1);
            set(row - 1, col);
            set(row + 1, col);
        }
    }
}

}  // namespace flowloom
