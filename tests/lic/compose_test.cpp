#include "lic/compose.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "media/color_map.h"

namespace flowloom {
namespace {

// A small field with every direction and a spread of magnitudes, and a grey ramp.
struct Scene {
    int width = 7;
    int height = 5;
    std::vector<unsigned char> grey;
    std::vector<float> vectors;
    std::vector<float> magnitudes;

    Scene() {
        for (int i = 0; i < width * height; ++i) {
            grey.push_back(static_cast<unsigned char>(i * 7));
            const double angle = i * 0.7;
            vectors.push_back(static_cast<float>(std::cos(angle)));
            vectors.push_back(static_cast<float>(std::sin(angle)));
            magnitudes.push_back(1.0f + 999.0f * i / (width * height - 1));
        }
    }
    ComposeSource Source() const {
        ComposeSource s;
        s.grey = grey.data();
        s.vectors = vectors.data();
        s.magnitudes = magnitudes.data();
        s.width = width;
        s.height = height;
        return s;
    }
    std::vector<unsigned char> Compose(const ComposeSource& s, int color) const {
        std::vector<unsigned char> rgb(3 * width * height, 0xAB);
        ComposeColorImage(s, rgb.data(), color);
        return rgb;
    }
};

TEST(ComposeImage, GreyModeRepeatsTheGreyValueAndBlackStaysBlack) {
    Scene scene;
    const auto rgb = scene.Compose(scene.Source(), 0);
    for (int i = 0; i < scene.width * scene.height; ++i) {
        EXPECT_EQ(rgb[3 * i], scene.grey[i]);
        EXPECT_EQ(rgb[3 * i + 1], scene.grey[i]);
        EXPECT_EQ(rgb[3 * i + 2], scene.grey[i]);
    }
    for (int by_direction : {0, 1}) {
        ComposeSource s = scene.Source();
        s.color_by_data = by_direction;
        const auto colour = scene.Compose(s, 1);
        EXPECT_EQ(colour[0] + colour[1] + colour[2], 0) << "grey 0 is black in every mode";
    }
}

TEST(ComposeImage, MagnitudeModeScalesTheRainbowByTheGreyLevel) {
    Scene scene;
    scene.grey.assign(scene.grey.size(), 255);
    const auto rgb = scene.Compose(scene.Source(), 1);
    const int last = scene.width * scene.height - 1;
    // Smallest magnitude blue, largest red (blue, green, red byte order).
    EXPECT_EQ(rgb[0], 255);
    EXPECT_EQ(rgb[1], 0);
    EXPECT_EQ(rgb[2], 0);
    EXPECT_EQ(rgb[3 * last], 0);
    EXPECT_EQ(rgb[3 * last + 2], 255);
    // Half the grey level, half the colour (truncated).
    scene.grey.assign(scene.grey.size(), 128);
    const auto half = scene.Compose(scene.Source(), 1);
    const ColorMap map(1.0f, 1000.0f, 255, 1275);
    for (int i = 0; i <= last; ++i) {
        const ColorRgbF c = map.Lookup(scene.magnitudes[i]);
        EXPECT_EQ(half[3 * i], static_cast<int>(128 * static_cast<double>(c.b)));
        EXPECT_EQ(half[3 * i + 2], static_cast<int>(128 * static_cast<double>(c.r)));
    }
}

TEST(ComposeImage, DirectionModeAtTheTopOfTheRangeIsTheFullHue) {
    Scene scene;
    scene.grey.assign(scene.grey.size(), 255);
    scene.magnitudes.assign(scene.magnitudes.size(), 1000.0f);
    scene.vectors[0] = 1.0f;  // along +x: red
    scene.vectors[1] = 0.0f;
    ComposeSource s = scene.Source();
    s.color_by_data = 1;
    const auto rgb = scene.Compose(s, 1);
    // The brightness factor 0.0039215684 is a hair under 1/255: 255 comes out as 254.
    EXPECT_GE(rgb[2], 254);
    EXPECT_LE(rgb[0], 1);
    EXPECT_LE(rgb[1], 1);
}

TEST(ComposeImage, FlipsMirrorTheColourImageAndNeverAccumulate) {
    Scene scene;
    ComposeSource s = scene.Source();
    const auto plain = scene.Compose(s, 1);
    s.flip_rows = 1;
    s.flip_columns = 1;
    const auto flipped = scene.Compose(s, 1);
    EXPECT_EQ(scene.Compose(s, 1), flipped);
    const int n = scene.width * scene.height;
    for (int i = 0; i < n; ++i)
        for (int k = 0; k < 3; ++k) ASSERT_EQ(flipped[3 * i + k], plain[3 * (n - 1 - i) + k]);
}

TEST(ComposeImage, AbsentImagesChangeNothingAndAMissingFieldComposesGrey) {
    Scene scene;
    ComposeSource s = scene.Source();
    s.grey = nullptr;
    EXPECT_EQ(scene.Compose(s, 1), std::vector<unsigned char>(3 * scene.width * scene.height, 0xAB));
    ComposeColorImage(scene.Source(), nullptr, 1);  // must not crash
    s = scene.Source();
    s.magnitudes = nullptr;
    EXPECT_EQ(scene.Compose(s, 1), scene.Compose(scene.Source(), 0));
}

// Every grey level against magnitudes across the range (runs of equal ones, which share
// a looked-up colour, a NaN and values outside the range among them) gives the product of
// the grey level and the rainbow's colour, truncated.
TEST(ComposeImage, MagnitudeModeIsTheGreyLevelTimesTheLookedUpColour) {
    Scene scene;
    scene.width = 256;
    scene.height = 9;
    const int n = scene.width * scene.height;
    scene.grey.resize(n);
    scene.vectors.assign(2 * n, 0.6f);
    scene.magnitudes.resize(n);
    for (int i = 0; i < n; ++i) {
        scene.grey[i] = static_cast<unsigned char>(i * 31 % 256);
        scene.magnitudes[i] = i % 5 == 0 ? scene.magnitudes[std::max(i - 1, 0)] : -20.0f + 1100.0f * (i / 7) / (n / 7);
    }
    scene.magnitudes[100] = std::nanf("");
    const auto rgb = scene.Compose(scene.Source(), 1);
    const std::vector<float>& magnitudes = scene.magnitudes;
    const std::vector<unsigned char>& grey = scene.grey;
    const int width = scene.width;
    const int height = scene.height;
    const ColorMap rainbow(1.0f, 1000.0f, 255, 1275);
    for (int i = 0; i < width * height; ++i) {
        const ColorRgbF c = rainbow.Lookup(magnitudes[i]);
        const float channels[3] = {c.b, c.g, c.r};
        for (int k = 0; k < 3; ++k)
            ASSERT_EQ(rgb[3 * i + k],
                      static_cast<unsigned char>(std::min(255.0, grey[i] * static_cast<double>(channels[k]))))
                << i << " " << k;
    }
}

// A scalar through a table under a given linear norm, with both blends, against the rule
// computed directly: c is the table's byte times UnitOf; NaN and masked samples take the
// mask colour.
TEST(ComposeImage, ScalarThroughATableMultipliesOrOverlaysTheGreyLevel) {
    Scene scene;
    const int n = scene.width * scene.height;
    std::vector<float> scalar(n);
    for (int i = 0; i < n; ++i) scalar[i] = static_cast<float>(i * 3 - 10);
    scalar[4] = std::nanf("");
    std::vector<unsigned char> mask(n, 0);
    mask[9] = 1;
    ColorOptions options;
    options.by = ColorBy::kScalar;
    options.cmap = ColorMapId::kViridis;
    NormSpec norm;
    norm.vmin = -4.0;
    norm.vmax = 80.0;
    options.norm = norm;
    ComposeSource s = scene.Source();
    s.scalar = scalar.data();
    s.mask = mask.data();
    s.mask_color[1] = 77;
    s.options = &options;
    const unsigned char(*viridis)[3] = NamedColorTable(ColorMapId::kViridis);
    for (BlendMode blend : {BlendMode::kMultiply, BlendMode::kOverlay}) {
        options.blend = blend;
        options.alpha = 0.3;
        const auto rgb = scene.Compose(s, 1);
        for (int i = 0; i < n; ++i) {
            const unsigned char* out = &rgb[3 * i];
            if (i == 4 || i == 9) {
                EXPECT_EQ(out[0] + out[2], 0);
                EXPECT_EQ(out[1], 77);
                continue;
            }
            const double t = std::clamp((scalar[i] + 4.0) / 84.0, 0.0, 1.0);
            const unsigned char* entry = viridis[std::min(255, static_cast<int>(t * 256))];
            for (int k = 0; k < 3; ++k) {
                const double c = ColorMap::UnitOf(entry[2 - k]);
                const double g = scene.grey[i];
                const double want = blend == BlendMode::kMultiply ? g * c : 0.7 * 255.0 * c + 0.3 * g;
                ASSERT_EQ(out[k], static_cast<int>(std::min(255.0, want))) << i << " " << k;
            }
        }
    }
}

// The scalar path and the window's path agree where they must: the mapped magnitudes given
// as a scalar, through the rainbow over data_min..data_max, are the window's picture.
TEST(ComposeImage, MagnitudesAsAScalarUnderTheirOwnBoundsGiveTheWindowsPicture) {
    Scene scene;
    ColorOptions options;
    options.by = ColorBy::kScalar;
    NormSpec norm;
    norm.vmin = 1.0;
    norm.vmax = 1000.0;
    options.norm = norm;
    ComposeSource s = scene.Source();
    s.scalar = scene.magnitudes.data();
    s.options = &options;
    EXPECT_EQ(scene.Compose(s, 1), scene.Compose(scene.Source(), 1));
}

// The contrast step works on a copy of the grey picture: composing with it is composing
// the contrasted picture without it, and the caller's grey image stays as it was.
TEST(ComposeImage, ContrastIsTakenOnACopyOfTheGreyPictureBeforeColouring) {
    Scene scene;
    const std::vector<unsigned char> grey = scene.grey;
    ColorOptions options;
    options.contrast.kind = GreyContrastKind::kClahe;
    options.contrast.tiles = 2;
    ComposeSource s = scene.Source();
    s.options = &options;
    const auto contrasted = scene.Compose(s, 1);
    EXPECT_EQ(scene.grey, grey);
    ASSERT_TRUE(ClaheGrey(scene.width, scene.height, scene.grey.data(), 2, options.contrast.clip));
    EXPECT_NE(scene.grey, grey);
    EXPECT_EQ(contrasted, scene.Compose(scene.Source(), 1));
}

TEST(ComposeImage, OptionsThatCannotBeMetWriteNothing) {
    Scene scene;
    ColorOptions options;
    ComposeSource s = scene.Source();
    s.options = &options;
    const std::vector<unsigned char> untouched(3 * scene.width * scene.height, 0xAB);
    std::string error;
    options.by = ColorBy::kScalar;  // none given
    std::vector<unsigned char> rgb = untouched;
    EXPECT_FALSE(ComposeColorImage(s, rgb.data(), 1, &error));
    EXPECT_NE(error.find("scalar"), std::string::npos);
    options.by = ColorBy::kMagnitude;
    options.blend = BlendMode::kOverlay;
    options.alpha = 1.5;
    EXPECT_FALSE(ComposeColorImage(s, rgb.data(), 1, &error));
    EXPECT_NE(error.find("0..1"), std::string::npos);
    options.alpha = 0.5;
    options.norm = NormSpec{NormKind::kLog};  // the true lengths are not given
    EXPECT_FALSE(ComposeColorImage(s, rgb.data(), 1, &error));
    EXPECT_EQ(rgb, untouched);
}

// The lane lookup against IndexOf: random bit patterns (NaN, infinities and subnormals
// among them), values near the range's ends, on several windows and ranges, with counts
// that leave every lane remainder.
TEST(RainbowIndices, EveryValueTakesTheEntryOfIndexOf) {
    std::mt19937 random(11);
    std::vector<float> values;
    for (int i = 0; i < 4000; ++i) {
        const unsigned bits = static_cast<unsigned>(random());
        float v;
        std::memcpy(&v, &bits, sizeof v);
        values.push_back(v);
    }
    for (float end : {1.0f, 1000.0f, -3.0f, 0.0f}) {
        for (float v = -2.0f; v <= 2.0f; v += 0.001f)
            values.push_back(end + v * std::max(1.0f, std::fabs(end)) * 1e-3f);
        values.push_back(std::nextafter(end, 1e9f));
        values.push_back(std::nextafter(end, -1e9f));
    }
    values.push_back(std::numeric_limits<float>::infinity());
    values.push_back(-std::numeric_limits<float>::infinity());
    for (const auto& [lo, hi, first, last] : {std::tuple{1.0f, 1000.0f, 255, 1275}, std::tuple{-3.0f, 0.0f, 0, 1785},
                                              std::tuple{5.0f, 5.0f, 900, 100}, std::tuple{1e-30f, 3e38f, 17, 18}}) {
        const ColorMap map(lo, hi, first, last);
        for (long count : {1L, 2L, 3L, 7L, 17L, static_cast<long>(values.size())}) {
            std::vector<int> indices(count, -1);
            RainbowIndices(map, values.data(), count, indices.data());
            for (long i = 0; i < count; ++i)
                ASSERT_EQ(indices[i], map.IndexOf(values[i])) << values[i] << " in " << lo << ".." << hi;
        }
    }
}

}  // namespace
}  // namespace flowloom
