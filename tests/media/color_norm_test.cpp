#include "media/color_norm.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

namespace flowloom {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

std::string Refusal(const NormSpec& spec) {
    std::string error;
    EXPECT_FALSE(ValidateNorm(spec, error));
    return error;
}

TEST(ColorNorm, RefusesImpossibleNormsWithAMessageNamingTheFault) {
    NormSpec log;
    log.kind = NormKind::kLog;
    log.vmax = 0.0;
    EXPECT_NE(Refusal(log).find("vmax above 0"), std::string::npos);
    NormSpec inverted;
    inverted.vmin = 3.0;
    inverted.vmax = 3.0;
    EXPECT_NE(Refusal(inverted).find("must be below vmax"), std::string::npos);
    NormSpec outside;
    outside.percentiles = true;
    outside.low_percent = -1.0;
    EXPECT_NE(Refusal(outside).find("0..100"), std::string::npos);
    NormSpec turned;
    turned.percentiles = true;
    turned.low_percent = 98.0;
    turned.high_percent = 2.0;
    EXPECT_NE(Refusal(turned).find("below the high one"), std::string::npos);
    NormSpec decades;
    decades.kind = NormKind::kDecades;
    decades.vmin = 1.0;
    EXPECT_FALSE(Refusal(decades).empty());

    // A bound given alone may still meet the data the wrong way round.
    NormSpec above;
    above.vmin = 50.0;
    const float values[] = {1.0f, 2.0f, 3.0f};
    ColorNorm norm;
    std::string error;
    EXPECT_FALSE(ResolveNorm(above, values, 3, norm, error));
    EXPECT_NE(error.find("below vmax"), std::string::npos);
    NormKind kind = NormKind::kLinear;
    EXPECT_FALSE(ParseNormName("logarithmic", kind, error));
    EXPECT_NE(error.find("linear, log, decades"), std::string::npos);
}

TEST(ColorNorm, BoundsComeFromTheDataPercentilesOrTheCaller) {
    std::vector<float> values;
    for (int i = 0; i <= 100; ++i) values.push_back(static_cast<float>(i));
    values.push_back(std::numeric_limits<float>::quiet_NaN());  // left out
    values.push_back(std::numeric_limits<float>::infinity());   // left out
    ColorNorm norm;
    std::string error;
    ASSERT_TRUE(ResolveNorm(NormSpec(), values.data(), static_cast<long>(values.size()), norm, error));
    EXPECT_EQ(norm.vmin, 0.0);
    EXPECT_EQ(norm.vmax, 100.0);
    EXPECT_DOUBLE_EQ(norm.Position(25.0), 0.25);
    EXPECT_EQ(norm.Position(-5.0), 0.0);
    EXPECT_TRUE(std::isnan(norm.Position(kNaN)));

    // numpy.percentile([0..100, 0.5 steps]) interpolates between ranks: 2.5 -> 2.5, 97.5 -> 97.5.
    std::vector<float> halves;
    for (int i = 0; i <= 200; ++i) halves.push_back(static_cast<float>(i * 0.5));
    NormSpec spec;
    spec.percentiles = true;
    spec.low_percent = 2.5;
    spec.high_percent = 97.5;
    ASSERT_TRUE(ResolveNorm(spec, halves.data(), static_cast<long>(halves.size()), norm, error));
    EXPECT_DOUBLE_EQ(norm.vmin, 2.5);
    EXPECT_DOUBLE_EQ(norm.vmax, 97.5);
    const float four[] = {4.0f, 1.0f, 3.0f, 2.0f};
    spec.low_percent = 10.0;   // rank 0.3 -> 1.3
    spec.high_percent = 50.0;  // rank 1.5 -> 2.5
    ASSERT_TRUE(ResolveNorm(spec, four, 4, norm, error));
    EXPECT_NEAR(norm.vmin, 1.3, 1e-12);
    EXPECT_NEAR(norm.vmax, 2.5, 1e-12);

    NormSpec given;
    given.vmax = 50.0;  // vmin from the data
    ASSERT_TRUE(ResolveNorm(given, values.data(), static_cast<long>(values.size()), norm, error));
    EXPECT_EQ(norm.vmin, 0.0);
    EXPECT_EQ(norm.vmax, 50.0);
    EXPECT_EQ(norm.Position(75.0), 1.0);
}

TEST(ColorNorm, LogMasksNonPositiveValuesAndSpacesDecadesEvenly) {
    const float values[] = {-1.0f, 0.0f, 0.01f, 1.0f, 100.0f};
    NormSpec spec;
    spec.kind = NormKind::kLog;
    ColorNorm norm;
    std::string error;
    ASSERT_TRUE(ResolveNorm(spec, values, 5, norm, error));
    EXPECT_FLOAT_EQ(norm.vmin, 0.01f);
    EXPECT_EQ(norm.vmax, 100.0);
    EXPECT_TRUE(std::isnan(norm.Position(0.0)));
    EXPECT_TRUE(std::isnan(norm.Position(-1.0)));
    EXPECT_NEAR(norm.Position(1.0), 0.5, 1e-6);
    EXPECT_NEAR(norm.Position(10.0), 0.75, 1e-6);
}

// The decades norm is the window's data map: a position is what Map gives the value onto 0..1.
TEST(ColorNorm, DecadesGivesTheDataMapsValues) {
    std::vector<float> values = {0.0f, 0.002f, 5.0f, 50.0f, 500.0f, 7.0f, 9.0f, 60.0f};
    ColorNorm norm;
    std::string error;
    NormSpec spec;
    spec.kind = NormKind::kDecades;
    ASSERT_TRUE(ResolveNorm(spec, values.data(), static_cast<long>(values.size()), norm, error));
    EXPECT_EQ(norm.vmin, 5.0);
    EXPECT_EQ(norm.vmax, 500.0);
    std::vector<float> mapped = values;
    NonlinearDataMap map;
    map.rangeMode = 0;
    map.outLow = 0.0f;
    map.outHigh = 1.0f;
    map.Map(static_cast<int>(mapped.size()), mapped.data());
    for (size_t i = 0; i < values.size(); ++i)
        EXPECT_FLOAT_EQ(static_cast<float>(norm.Position(values[i])), std::max(mapped[i], 0.0f)) << values[i];
}

}  // namespace
}  // namespace flowloom
