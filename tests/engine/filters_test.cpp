#include "engine/filters.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <limits>
#include <random>
#include <vector>

#include "lic/parallel_rows.h"

namespace flowloom {
namespace {

using Bytes = std::vector<unsigned char>;

Bytes RandomBytes(std::size_t n, unsigned seed) {
    std::mt19937 rng(seed);
    std::uniform_int_distribution<int> byte(0, 255);
    Bytes out(n);
    for (auto& b : out) b = static_cast<unsigned char>(byte(rng));
    return out;
}

// Integer arithmetic, one pixel at a time, reading the untouched input: the plain
// reference the filter must match byte for byte.
Bytes ReferenceHighPass(int w, int h, const Bytes& in) {
    Bytes out = in;
    for (int r = 1; r + 1 < h; ++r) {
        for (int c = 1; c + 1 < w; ++c) {
            int v = 0;
            for (int dr = -1; dr <= 1; ++dr)
                for (int dc = -1; dc <= 1; ++dc) v += (dr == 0 && dc == 0 ? 8 : -1) * in[(r + dr) * w + (c + dc)];
            v += in[r * w + c];
            out[r * w + c] = static_cast<unsigned char>(std::clamp(v, 0, 255));
        }
    }
    return out;
}

class ThreadCountGuard {
public:
    ~ThreadCountGuard() { SetThreadCount(0); }
};

TEST(HighPassFilter, FlatImageStaysFlatEverywhere) {
    for (int level : {0, 1, 77, 128, 255}) {
        Bytes img(11 * 7, static_cast<unsigned char>(level));
        HighPassFilter(11, 7, img.data());
        EXPECT_EQ(img, Bytes(11 * 7, static_cast<unsigned char>(level))) << "level " << level;
    }
}

TEST(HighPassFilter, SingleDotKeepsItsValueAndDarkensItsNeighbours) {
    const int w = 7, h = 6;
    Bytes img(w * h, 0);
    img[3 * w + 2] = 255;
    HighPassFilter(w, h, img.data());
    Bytes expected(w * h, 0);
    expected[3 * w + 2] = 255;
    EXPECT_EQ(img, expected);

    // On a mid-grey background the negative response is clamped to 0, not wrapped.
    Bytes grey(w * h, 100);
    grey[3 * w + 2] = 255;
    HighPassFilter(w, h, grey.data());
    for (int dr = -1; dr <= 1; ++dr)
        for (int dc = -1; dc <= 1; ++dc)
            if (dr != 0 || dc != 0) {
                EXPECT_EQ(grey[(3 + dr) * w + 2 + dc], 0);
            }
    EXPECT_EQ(grey[3 * w + 2], 255);
    EXPECT_EQ(grey[0], 100);
}

TEST(HighPassFilter, MatchesReferenceOnAllSmallSizesAndALargeImage) {
    unsigned seed = 1;
    for (int h = 1; h <= 9; ++h) {
        for (int w = 1; w <= 9; ++w) {
            const Bytes in = RandomBytes(static_cast<std::size_t>(w) * h, seed++);
            Bytes img = in;
            HighPassFilter(w, h, img.data());
            ASSERT_EQ(img, ReferenceHighPass(w, h, in)) << w << " x " << h;
        }
    }
    // Smooth random content so that the output is not just 0 and 255.
    const int w = 203, h = 117;
    Bytes in = RandomBytes(static_cast<std::size_t>(w) * h, 99);
    for (auto& b : in) b = static_cast<unsigned char>(100 + b / 16);
    Bytes img = in;
    HighPassFilter(w, h, img.data());
    EXPECT_EQ(img, ReferenceHighPass(w, h, in));
}

TEST(HighPassFilter, RgbFiltersEachChannelAsAGreyImage) {
    for (auto [w, h] : {std::pair{1, 1}, {2, 5}, {3, 3}, {4, 7}, {9, 8}, {64, 33}}) {
        const std::size_t n = static_cast<std::size_t>(w) * h;
        const Bytes in = RandomBytes(3 * n, static_cast<unsigned>(w * 100 + h));
        Bytes bgr = in;
        HighPassFilterRgb(w, h, bgr.data());
        for (int ch = 0; ch < 3; ++ch) {
            Bytes plane(n), filtered_plane(n);
            for (std::size_t i = 0; i < n; ++i) {
                plane[i] = in[3 * i + ch];
                filtered_plane[i] = bgr[3 * i + ch];
            }
            HighPassFilter(w, h, plane.data());
            EXPECT_EQ(filtered_plane, plane) << w << " x " << h << " channel " << ch;
        }
    }
}

TEST(HighPassFilter, SameResultForEveryThreadCount) {
    ThreadCountGuard guard;
    const int w = 157, h = 95;
    const Bytes in = RandomBytes(3 * static_cast<std::size_t>(w) * h, 7);
    std::vector<Bytes> grey, colour;
    for (int threads : {1, 2, 16}) {
        SetThreadCount(threads);
        Bytes g(in.begin(), in.begin() + static_cast<std::ptrdiff_t>(w) * h);
        HighPassFilter(w, h, g.data());
        grey.push_back(g);
        Bytes c = in;
        HighPassFilterRgb(w, h, c.data());
        colour.push_back(c);
    }
    EXPECT_EQ(grey[0], grey[1]);
    EXPECT_EQ(grey[0], grey[2]);
    EXPECT_EQ(colour[0], colour[1]);
    EXPECT_EQ(colour[0], colour[2]);
}

TEST(HighPassFilter, NullBufferAndNonPositiveSizesDoNothing) {
    HighPassFilter(5, 5, nullptr);
    HighPassFilterRgb(5, 5, nullptr);
    Bytes img = RandomBytes(75, 3);
    const Bytes before = img;
    for (auto [w, h] : {std::pair{0, 5}, {5, 0}, {-5, 5}, {5, -5}, {-5, -5}}) {
        HighPassFilter(w, h, img.data());
        HighPassFilterRgb(w, h, img.data());
    }
    EXPECT_EQ(img, before);
}

TEST(ContrastTable, ExponentFiveCurve) {
    unsigned char table[256];
    BuildContrastTable(5.0f, table);
    for (int i = 0; i <= 41; ++i) EXPECT_EQ(table[i], 0) << i;
    EXPECT_EQ(table[42], 1);
    EXPECT_EQ(table[64], 4);
    EXPECT_EQ(table[96], 31);
    EXPECT_EQ(table[127], 127);
    EXPECT_EQ(table[128], 128);
    EXPECT_EQ(table[213], 254);
    for (int i = 214; i <= 255; ++i) EXPECT_EQ(table[i], 255) << i;

    // Equalization is a lookup per pixel.
    Bytes img = {0, 42, 64, 96, 127, 128, 180, 255};
    ApplyContrastTable(table, static_cast<int>(img.size()), img.data());
    EXPECT_EQ(img, (Bytes{0, 1, 4, 31, 127, 128, 246, 255}));
}

TEST(ContrastTable, SymmetricAndRisingForAnyPositiveExponent) {
    for (float e : {0.25f, 1.0f, 2.0f, 5.0f, 9.5f}) {
        unsigned char table[256];
        BuildContrastTable(e, table);
        for (int i = 0; i < 256; ++i) EXPECT_EQ(table[255 - i], 255 - table[i]) << e << " " << i;
        for (int i = 1; i < 256; ++i) EXPECT_LE(table[i - 1], table[i]) << e << " " << i;
        EXPECT_EQ(table[0], 0);
        EXPECT_EQ(table[255], 255);
    }
    // Exponent 1 is the identity: the +0.5 absorbs the rounding of 1/127.
    unsigned char identity[256];
    BuildContrastTable(1.0f, identity);
    for (int i = 0; i < 256; ++i) EXPECT_EQ(identity[i], i);
}

TEST(ContrastTable, HostileExponentStillGivesASymmetricTable) {
    // 0 to a negative power is infinite: the entry must not overflow its truncation.
    for (float e : {-5.0f, 0.0f, std::numeric_limits<float>::quiet_NaN(), std::numeric_limits<float>::infinity()}) {
        unsigned char table[256];
        BuildContrastTable(e, table);
        for (int i = 0; i < 128; ++i) {
            EXPECT_LE(table[i], 127) << e << " " << i;
            EXPECT_EQ(table[255 - i], 255 - table[i]) << e << " " << i;
        }
    }
}

TEST(StretchGreyLevels, SpreadsANarrowHistogramOverTheFullRange) {
    const int n = 64 * 48;
    Bytes img = RandomBytes(n, 5);
    for (auto& b : img) b = static_cast<unsigned char>(100 + b % 11);
    const Bytes before = img;
    StretchGreyLevels(n, img.data());
    EXPECT_EQ(*std::min_element(img.begin(), img.end()), 0);
    EXPECT_EQ(*std::max_element(img.begin(), img.end()), 255);
    // The map is a rising function of the grey level: order is kept, equal stays equal.
    for (int i = 1; i < n; ++i) {
        if (before[i - 1] < before[i]) {
            EXPECT_LE(img[i - 1], img[i]);
        } else if (before[i - 1] == before[i]) {
            EXPECT_EQ(img[i - 1], img[i]);
        } else {
            EXPECT_GE(img[i - 1], img[i]);
        }
    }
}

TEST(StretchGreyLevels, FlatImageBecomesWhiteAndBadArgumentsDoNothing) {
    Bytes flat(300, 37);
    StretchGreyLevels(static_cast<int>(flat.size()), flat.data());
    EXPECT_EQ(flat, Bytes(300, 255));

    // A sparse image: mostly black, a few dots. Black stays 0, the brightest becomes 255.
    Bytes sparse(1000, 0);
    sparse[10] = 40;
    sparse[500] = 90;
    StretchGreyLevels(1000, sparse.data());
    EXPECT_EQ(sparse[0], 0);
    EXPECT_EQ(sparse[500], 255);

    StretchGreyLevels(10, nullptr);
    Bytes img = {5, 9};
    StretchGreyLevels(0, img.data());
    StretchGreyLevels(-2, img.data());
    EXPECT_EQ(img, (Bytes{5, 9}));
}

}  // namespace
}  // namespace flowloom
