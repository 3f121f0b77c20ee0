#include "engine/fields.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

#include "hwy/highway.h"
#include "hwy/targets.h"
#include "lic/parallel_rows.h"
#include "media/nonlinear_data_map.h"

namespace flowloom {
namespace {

const float kNaN = std::numeric_limits<float>::quiet_NaN();

// NaN-filled first, so a slot the generator forgets shows up as non-finite.
std::vector<float> Field(int type, int width, int height) {
    std::vector<float> v(2 * static_cast<size_t>(width) * height, kNaN);
    MakeAnalyticField(type, v.data(), width, height);
    return v;
}

float Vx(const std::vector<float>& v, int w, int r, int c) {
    return v[2 * (r * w + c)];
}
float Vy(const std::vector<float>& v, int w, int r, int c) {
    return v[2 * (r * w + c) + 1];
}

float* Copy(const std::vector<float>& v) {
    float* p = static_cast<float*>(std::malloc(v.size() * sizeof(float)));
    std::memcpy(p, v.data(), v.size() * sizeof(float));
    return p;
}

TEST(AnalyticFields, SaddleAndSpirallingRunFromMinusToPlusHalfAcrossTheGrid) {
    const auto saddle = Field(0, 300, 300);
    const auto spiral = Field(1, 300, 300);
    for (int i = 0; i < 300; ++i) {
        EXPECT_FLOAT_EQ(Vx(saddle, 300, 0, i), -0.5f);
        EXPECT_FLOAT_EQ(Vx(saddle, 300, 299, i), 0.5f);
        EXPECT_FLOAT_EQ(Vx(spiral, 300, 0, i), 0.5f);
        EXPECT_FLOAT_EQ(Vx(spiral, 300, 299, i), -0.5f);
        for (const auto* f : {&saddle, &spiral}) {
            EXPECT_FLOAT_EQ(Vy(*f, 300, i, 0), -0.5f);
            EXPECT_FLOAT_EQ(Vy(*f, 300, i, 299), 0.5f);
        }
    }
}

TEST(AnalyticFields, RepellingPointsAwayFromTheHalfSizePoint) {
    const auto f = Field(3, 300, 300);
    EXPECT_EQ(Vx(f, 300, 150, 150), 0.0f);
    EXPECT_EQ(Vy(f, 300, 150, 150), 0.0f);
    EXPECT_EQ(Vx(f, 300, 0, 0), -150.0f);
    EXPECT_EQ(Vy(f, 300, 0, 0), -150.0f);
    const auto odd = Field(3, 5, 3);
    EXPECT_EQ(Vx(odd, 5, 2, 4), 1.5f);
    EXPECT_EQ(Vy(odd, 5, 2, 4), 0.5f);
}

TEST(AnalyticFields, UnknownTypeBuildsTheSaddle) {
    EXPECT_EQ(MakeAnalyticField(2, Field(0, 3, 3).data(), 3, 3), 2);
    std::vector<float> v(2 * 20 * 10);
    EXPECT_EQ(MakeAnalyticField(7, v.data(), 20, 10), 0);
    EXPECT_EQ(v, Field(0, 20, 10));
}

// The potential worked out directly in double; in double the centre of an odd grid
// comes out as exactly 0 on both axes.
double Potential(int r, int c, int w, int h) {
    const double x = 2.0 * (c - 1) / (w - 1) - 1.0;
    const double y = 2.0 * (r - 1) / (h - 1) - 1.0;
    return x == 0.0 && y == 0.0 ? 0.0 : 10 * y * y + 5 * y / (x * x + y * y);
}

TEST(AnalyticFields, VortexIsTheForwardDifferenceOfItsPotential) {
    for (auto [w, h] : {std::pair{161, 121}, {40, 30}, {7, 5}}) {
        const auto f = Field(2, w, h);
        for (int r = 0; r < h; ++r) {
            for (int c = 0; c < w; ++c) {
                const double p = Potential(r, c, w, h);
                const bool edge = r == h - 1 || c == w - 1;
                const double right = edge ? 0 : Potential(r, c + 1, w, h);
                const double below = edge ? 0 : Potential(r + 1, c, w, h);
                const double tol = 1e-6 * (std::abs(p) + std::abs(right) + std::abs(below)) + 1e-6;
                EXPECT_NEAR(Vx(f, w, r, c), edge ? p : right - p, tol) << w << " " << r << "," << c;
                EXPECT_NEAR(Vy(f, w, r, c), edge ? 0 : below - p, tol) << w << " " << r << "," << c;
            }
        }
    }
}

TEST(AnalyticFields, VortexCentreOfAnOddGridDoesNotDominateTheField) {
    const int w = 161, h = 121;
    const auto f = Field(2, w, h);
    EXPECT_TRUE(std::isfinite(Vx(f, w, 61, 81)) && std::isfinite(Vy(f, w, 61, 81)));
    std::vector<double> mags;
    for (int r = 0; r + 1 < h; ++r)
        for (int c = 0; c + 1 < w; ++c) mags.push_back(std::hypot(Vx(f, w, r, c), Vy(f, w, r, c)));
    std::sort(mags.begin(), mags.end());
    EXPECT_LT(mags.back() / mags[mags.size() / 2], 1e4);
}

TEST(AnalyticFields, TinyGridsAreFiniteAndEmptyGridsUntouched) {
    for (int type = 0; type < 4; ++type) {
        for (int w = 1; w <= 9; ++w) {
            for (int h = 1; h <= 9; ++h) {
                std::vector<float> v(2 * w * h + 2, kNaN);
                MakeAnalyticField(type, v.data(), w, h);
                for (int i = 0; i < 2 * w * h; ++i) EXPECT_TRUE(std::isfinite(v[i])) << type;
                EXPECT_TRUE(std::isnan(v[2 * w * h])) << "wrote past the grid";
            }
        }
        float guard[2] = {kNaN, kNaN};
        MakeAnalyticField(type, guard, 0, 5);
        MakeAnalyticField(type, guard, 5, 0);
        EXPECT_TRUE(std::isnan(guard[0]) && std::isnan(guard[1]));
    }
    const auto one_high = Field(2, 6, 1);
    EXPECT_EQ(Vy(one_high, 6, 0, 3), 0.0f);
}

TEST(Region, CheckAcceptsInsideRegionsOfFiveOrMoreAndOtherwiseTakesTheWholeGrid) {
    int l = 0, t = 0, r = 299, b = 299;
    EXPECT_EQ(CheckRegion(300, 300, l, t, r, b), 1);
    l = 291, t = 10, r = 295, b = 14;
    EXPECT_EQ(CheckRegion(300, 300, l, t, r, b), 1);
    EXPECT_EQ(l + t + r + b, 291 + 10 + 295 + 14);
    struct Case {
        int l, t, r, b;
    } rejected[] = {{296, 0, 299, 299}, {0, 0, 300, 299},  {-1, 0, 10, 10}, {0, 10, 10, 13},
                    {0, 0, 3, 299},     {0, 296, 10, 299}, {20, 0, 10, 10}};
    for (auto c : rejected) {
        EXPECT_EQ(CheckRegion(300, 200, c.l, c.t, c.r, c.b), 0);
        EXPECT_TRUE(c.l == 0 && c.t == 0 && c.r == 299 && c.b == 199);
    }
    l = 0, t = 0, r = 3, b = 3;
    EXPECT_EQ(CheckRegion(4, 4, l, t, r, b), 0);
    EXPECT_TRUE(l == 0 && t == 0 && r == 3 && b == 3);
}

TEST(Region, ZoomedSizes) {
    EXPECT_EQ(ZoomedSize(0, 299, 1), 300);
    EXPECT_EQ(ZoomedSize(0, 299, 2), 599);
    EXPECT_EQ(ZoomedSize(0, 299, 13), 3888);
    EXPECT_EQ(ZoomedSize(0, 299, 14), 4187);
    EXPECT_EQ(ZoomedSize(10, 20, 0), 0);
    EXPECT_EQ(ZoomedSize(0, 299, INT_MAX), INT_MAX);
}

// Magnitudes go through the plain-range data map after resampling; the expected values
// are the data map applied to the expected resampled array.
std::vector<float> Mapped(std::vector<float> values) {
    NonlinearDataMap map;
    map.rangeMode = 1;
    map.outLow = 1.0f;
    map.outHigh = 1000.0f;
    map.Map(static_cast<int>(values.size()), values.data());
    return values;
}

TEST(Resample, ScaleOneCutsOutVectorsAndMagnitudes) {
    std::mt19937 rng(7);
    std::uniform_real_distribution<float> dist(-5.0f, 5.0f);
    std::vector<float> v(2 * 30 * 20), m(30 * 20);
    for (auto& x : v) x = dist(rng);
    for (auto& x : m) x = std::abs(dist(rng));
    float* mags = Copy(m);
    int w = 30, h = 20;
    float* out = ResampleRegion(w, h, v.data(), 4, 3, 12, 17, 1, &mags, 1.0f, 1000.0f);
    ASSERT_NE(out, nullptr);
    ASSERT_TRUE(w == 9 && h == 15);
    std::vector<float> cut_m;
    for (int r = 0; r < h; ++r) {
        const int first = (3 + r) * 30 + 4;
        EXPECT_EQ(std::memcmp(out + 2 * r * w, &v[2 * first], 2 * w * sizeof(float)), 0);
        cut_m.insert(cut_m.end(), &m[first], &m[first + w]);
    }
    EXPECT_EQ(std::vector<float>(mags, mags + w * h), Mapped(cut_m));
    std::free(out);
    std::free(mags);
}

TEST(Resample, ScaleThreeFillsInThirds) {
    std::vector<float> v(2 * 5 * 5);
    for (int i = 0; i < 25; ++i) v[2 * i] = 3.0f * (i % 5), v[2 * i + 1] = 3.0f * (i / 5);
    int w = 5, h = 5;
    float* out = ResampleRegion(w, h, v.data(), 0, 0, 4, 4, 3, nullptr, 1.0f, 1000.0f);
    ASSERT_NE(out, nullptr);
    ASSERT_TRUE(w == 13 && h == 13);
    for (int r = 0; r < h; ++r) {
        for (int c = 0; c < w; ++c) {
            EXPECT_NEAR(out[2 * (r * w + c)], c, 4e-6 * c);
            EXPECT_NEAR(out[2 * (r * w + c) + 1], r, 4e-6 * r);
        }
    }
    std::free(out);
}

TEST(Resample, BilinearReproducesALinearFieldAndCopiesTheGridNodes) {
    const int sw = 23, sh = 17;
    auto fx = [](double r, double c) { return 0.75 * r - 1.25 * c + 3.0; };
    auto fy = [](double r, double c) { return -0.5 * r + 2.0 * c - 7.0; };
    std::vector<float> v(2 * sw * sh);
    for (int r = 0; r < sh; ++r) {
        for (int c = 0; c < sw; ++c) {
            v[2 * (r * sw + c)] = static_cast<float>(fx(r, c));
            v[2 * (r * sw + c) + 1] = static_cast<float>(fy(r, c));
        }
    }
    for (int s : {2, 3, 4, 7, 13}) {
        int w = sw, h = sh;
        float* out = ResampleRegion(w, h, v.data(), 5, 2, 16, 9, s, nullptr, 1.0f, 1000.0f);
        ASSERT_NE(out, nullptr);
        ASSERT_TRUE(w == 11 * s + 1 && h == 7 * s + 1) << s;
        for (int R = 0; R < h; ++R) {
            for (int C = 0; C < w; ++C) {
                const double r = 2 + double(R) / s, c = 5 + double(C) / s;
                const float* o = out + 2 * (R * w + C);
                if (R % s == 0 && C % s == 0) {
                    EXPECT_EQ(o[0], v[2 * (int(r) * sw + int(c))]);
                    EXPECT_EQ(o[1], v[2 * (int(r) * sw + int(c)) + 1]);
                }
                EXPECT_NEAR(o[0], fx(r, c), 40 * 1.2e-7) << s << " " << R << "," << C;
                EXPECT_NEAR(o[1], fy(r, c), 40 * 1.2e-7) << s << " " << R << "," << C;
            }
        }
        std::free(out);
    }
}

TEST(Resample, MagnitudesFollowTheVectorsThroughTheZoom) {
    std::vector<float> v(2 * 12 * 9), m(12 * 9);
    for (int i = 0; i < 12 * 9; ++i) m[i] = v[2 * i] = float((i * 37) % 101) + 0.5f;
    float* mags = Copy(m);
    int w = 12, h = 9;
    float* out = ResampleRegion(w, h, v.data(), 1, 2, 10, 8, 4, &mags, 1.0f, 1000.0f);
    ASSERT_NE(out, nullptr);
    std::vector<float> zoomed_vx(w * h);
    for (int i = 0; i < w * h; ++i) zoomed_vx[i] = out[2 * i];
    EXPECT_EQ(std::vector<float>(mags, mags + w * h), Mapped(zoomed_vx));
    EXPECT_EQ(*std::min_element(mags, mags + w * h), 1.0f);
    EXPECT_EQ(*std::max_element(mags, mags + w * h), 1000.0f);
    std::free(out);
    std::free(mags);
}

TEST(Resample, RefusalsKeepEverything) {
    const auto v = Field(0, 10, 10);
    float* mags = Copy(std::vector<float>(100, 2.0f));
    const float* before = mags;
    struct Case {
        int l, t, r, b, s;
    } refused[] = {{0, 0, 9, 9, 0}, {0, 0, 10, 9, 2}, {-1, 0, 9, 9, 1}, {5, 0, 4, 9, 1}, {0, 0, 9, 10, 1}};
    for (auto c : refused) {
        int w = 10, h = 10;
        EXPECT_EQ(ResampleRegion(w, h, v.data(), c.l, c.t, c.r, c.b, c.s, &mags, 1, 1000), nullptr);
        EXPECT_TRUE(w == 10 && h == 10 && mags == before && mags[0] == 2.0f);
    }
    std::free(mags);
}

TEST(Threads, FieldsAndZoomAreTheSameForAnyThreadCount) {
    auto run = [](int threads) {
        SetThreadCount(threads);
        std::vector<float> all;
        for (int type = 0; type < 4; ++type) {
            const auto f = Field(type, 161, 121);
            all.insert(all.end(), f.begin(), f.end());
        }
        const auto src = Field(2, 161, 121);
        std::vector<float> m(161 * 121);
        for (size_t i = 0; i < m.size(); ++i) m[i] = std::hypot(src[2 * i], src[2 * i + 1]);
        float* mags = Copy(m);
        int w = 161, h = 121;
        float* out = ResampleRegion(w, h, src.data(), 20, 10, 140, 100, 3, &mags, 1, 1000);
        all.insert(all.end(), out, out + 2 * w * h);
        all.insert(all.end(), mags, mags + w * h);
        std::free(out);
        std::free(mags);
        return all;
    };
    const auto one = run(1);
    const auto many = run(16);
    SetThreadCount(0);
    ASSERT_EQ(one.size(), many.size());
    EXPECT_EQ(std::memcmp(one.data(), many.data(), one.size() * sizeof(float)), 0);
}

// Every instruction set this machine runs normalises exactly as the scalar form, on counts
// that leave lane remainders and on vectors at the edges of the rule: below the threshold,
// non-finite, huge, denormal, negative, zero.
TEST(NormalizeVectorPairs, EveryInstructionSetEqualsTheScalarForm) {
    constexpr float kInf = std::numeric_limits<float>::infinity();
    std::mt19937 random(9);
    std::uniform_real_distribution<float> exponent(-8.0f, 8.0f);
    std::vector<float> input(2 * 41);
    for (size_t i = 0; i < input.size(); ++i)
        input[i] = (i % 3 == 0 ? -1.0f : 1.0f) * std::pow(10.0f, exponent(random));
    const float edges[] = {0.0f, -0.0f, 1e-7f, 1e-6f, std::nanf(""), kInf, -kInf, 3e38f, 1e-40f, 7e-7f};
    std::copy(std::begin(edges), std::end(edges), input.begin() + 3);
    const int64_t targets = hwy::SupportedTargets() & HWY_TARGETS;
    for (int64_t left = targets; left != 0; left &= left - 1) {
        hwy::SetSupportedTargetsForTest(left & -left);
        hwy::GetChosenTarget().Update(hwy::SupportedTargets());
        for (long count = 1; count <= 41; count += count < 17 ? 1 : 12) {
            std::vector<float> want(input.begin(), input.begin() + 2 * count);
            std::vector<float> got = want;
            std::vector<float> want_lengths(count);
            std::vector<float> got_lengths(count);
            NormalizeVectorPairsScalar(count, want.data(), want_lengths.data());
            NormalizeVectorPairs(count, got.data(), got_lengths.data());
            ASSERT_EQ(std::memcmp(want.data(), got.data(), want.size() * sizeof(float)), 0)
                << hwy::TargetName(left & -left) << " " << count;
            ASSERT_EQ(std::memcmp(want_lengths.data(), got_lengths.data(), count * sizeof(float)), 0);
            NormalizeVectorPairs(count, got.data(), nullptr);  // again, without lengths
        }
    }
    hwy::SetSupportedTargetsForTest(0);
    hwy::GetChosenTarget().Update(hwy::SupportedTargets());
}

}  // namespace
}  // namespace flowloom
