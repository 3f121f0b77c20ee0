#include "engine/lic_engine.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "engine/commands.h"
#include "lic/field_file.h"
#include "lic/kernels.h"
#include "support/engine_fixture.h"
#include "support/test_support.h"

namespace flowloom {
namespace {

using Fixture = test::EngineFixture;

TEST(LicEngine, ResetGivesTheDefaultsAndTheFirstComputeBuildsEverything) {
    Fixture f;
    EXPECT_EQ(f.engine.x_res, 300);
    EXPECT_EQ(f.engine.kernel_length, 15);
    EXPECT_EQ(f.engine.size_changed + f.engine.field_changed + f.engine.noise_changed + f.engine.kernel_changed, 4);
    EXPECT_EQ(f.engine.contrast_table[127], 127);
    EXPECT_FALSE(f.engine.vectors);
    f.mirror.x_res = 40;
    f.mirror.y_res = 30;
    f.Compute();
    EXPECT_EQ(f.engine.kernel_changed, 0);
    EXPECT_EQ(f.engine.kernel_fwd[1000], 1000.0f);  // the box kernel
    ASSERT_TRUE(f.engine.ImagesMatchGrid());
    EXPECT_EQ(f.engine.FieldWidth(), 40);
    // A second reset releases everything again.
    f.engine.Reset();
    EXPECT_FALSE(f.engine.vectors);
    EXPECT_FALSE(f.engine.rgb_image);
}

TEST(LicEngine, ExportWritesBackOnlyTheTwentySettings) {
    Fixture f;
    SettingsRecord in = DefaultSettings();
    in.mag_lic = 1;
    in.roi_enabled = 1;
    in.kernel_changed = 1;
    in.anim_fps = 17;
    f.engine.ImportSettings(in);
    f.engine.mag_lic = 0;
    f.engine.roi_enabled = 0;
    f.engine.kernel_changed = 0;
    f.engine.field_file[0] = '\0';
    f.engine.x_res = 77;
    SettingsRecord out = in;
    f.engine.ExportSettings(out);
    EXPECT_EQ(out.x_res, 77);
    EXPECT_EQ(out.anim_fps, 17);
    EXPECT_EQ(out.mag_lic, 1);
    EXPECT_EQ(out.roi_enabled, 1);
    EXPECT_EQ(out.kernel_changed, 1);
    EXPECT_STREQ(out.field_file, in.field_file);
}

TEST(LicEngine, OnlyAKernelTypeChangeRebuildsTheTables) {
    Fixture f;
    f.mirror.x_res = f.mirror.y_res = 32;
    f.Compute();
    f.mirror.kernel_type = kKernelRamp;
    f.mirror.kernel_changed = 1;
    f.Compute();
    EXPECT_NEAR(f.engine.kernel_fwd[1024], 2.8125f, 1e-3f);
    EXPECT_NEAR(f.engine.kernel_bwd[1024], 4.6875f, 1e-3f);
}

TEST(LicEngine, NormalisedFieldHasUnitOrZeroVectorsAndMappedMagnitudes) {
    Fixture f;
    f.mirror.x_res = 31;
    f.mirror.y_res = 21;
    f.mirror.field_type = kFieldRepelling;
    f.Compute();
    float lo = 1e9f, hi = -1e9f;
    for (int i = 0; i < 31 * 21; ++i) {
        const double vx = f.engine.vectors[2 * i], vy = f.engine.vectors[2 * i + 1];
        const double length = vx * vx + vy * vy;
        EXPECT_TRUE(length == 0.0 || std::abs(length - 1.0) < 1e-5) << i;
        lo = std::min(lo, f.engine.magnitudes[i]);
        hi = std::max(hi, f.engine.magnitudes[i]);
    }
    EXPECT_FLOAT_EQ(lo, 1.0f);
    EXPECT_FLOAT_EQ(hi, 1000.0f);
    // The Repelling centre (row 10.5, column 15.5) falls between samples; no zero vector.
    EXPECT_FALSE(f.engine.vectors[0] == 0.0f && f.engine.vectors[1] == 0.0f);
}

TEST(LicEngine, RepeatedZoomWithNothingChangedZoomsAgain) {
    Fixture f;
    f.mirror.x_res = f.mirror.y_res = 30;
    f.mirror.roi_enabled = 1;
    f.mirror.roi_right = f.mirror.roi_bottom = 29;
    f.Compute();
    EXPECT_EQ(f.mirror.x_res, 59);  // the field stage zoomed the whole grid by 2
    f.mirror.roi_right = f.mirror.roi_bottom = 58;
    f.Compute();
    EXPECT_EQ(f.mirror.x_res, 117);
    EXPECT_EQ(f.engine.FieldWidth(), 117);
    EXPECT_TRUE(f.engine.ImagesMatchGrid());
}

TEST(LicEngine, RefusedZoomKeepsTheFieldAndSaysSo) {
    Fixture f;
    f.mirror.x_res = f.mirror.y_res = 300;
    f.mirror.roi_enabled = 1;
    f.mirror.roi_scale = 14;  // 4187 samples per side
    f.Compute();
    ASSERT_EQ(f.host.messages.size(), 1u);
    EXPECT_NE(f.host.messages[0].find("4187"), std::string::npos);
    EXPECT_EQ(f.mirror.x_res, 300);
    EXPECT_EQ(f.mirror.roi_right, 299);
    EXPECT_TRUE(f.engine.ImagesMatchGrid());
    EXPECT_TRUE(f.engine.vectors);
    // Exactly at the limit is allowed: a strip 99 columns wide at scale 40 is 3961 wide.
    f.host.messages.clear();
    f.mirror.x_res = 100;
    f.mirror.y_res = 10;
    f.mirror.roi_left = f.mirror.roi_top = 0;
    f.mirror.roi_right = 99;
    f.mirror.roi_bottom = 4;
    f.mirror.roi_scale = 40;
    f.mirror.size_changed = 1;
    f.Compute();
    EXPECT_EQ(f.mirror.x_res, 3961);
    EXPECT_EQ(f.mirror.y_res, 161);
    EXPECT_TRUE(f.host.messages.empty());
}

TEST(LicEngine, EmptyAndThinGridsComputeWithoutFault) {
    for (auto [w, h] : {std::pair{0, 0}, {0, 10}, {10, 0}, {1, 1}, {1, 9}, {9, 1}, {2, 2}}) {
        for (int field = 0; field < 4; ++field) {
            Fixture f;
            f.mirror.x_res = w;
            f.mirror.y_res = h;
            f.mirror.field_type = field;
            f.Compute();
            EXPECT_TRUE(f.engine.rgb_image) << w << "x" << h;
            for (int i = 0; i < w * h; ++i) {
                EXPECT_TRUE(std::isfinite(f.engine.magnitudes[i]));
            }
        }
    }
}

TEST(LicEngine, MissingBuffersAreRebuiltAsAfterASizeChange) {
    Fixture f;
    f.mirror.x_res = f.mirror.y_res = 24;
    f.Compute();
    const auto first = f.Lic();
    f.engine.ReleaseImages();  // as the image path leaves them
    f.Compute();
    ASSERT_TRUE(f.engine.ImagesMatchGrid());
    EXPECT_EQ(f.engine.FieldWidth(), 24);
    EXPECT_NE(f.Lic(), std::vector<unsigned char>(24 * 24, 0));
    (void)first;
}

TEST(LicEngine, ProgressiveModePreparesButDoesNotConvolve) {
    Fixture f;
    f.mirror.x_res = f.mirror.y_res = 20;
    f.Compute();
    std::memset(f.engine.lic_image.get(), 7, 400);
    std::memset(f.engine.rgb_image.get(), 9, 1200);
    ForceCommandSettings(kCommandProLic, f.mirror);
    f.mirror.field_changed = 1;
    f.Compute();
    EXPECT_EQ(f.Lic(), std::vector<unsigned char>(400, 7));
    EXPECT_EQ(f.Rgb(), std::vector<unsigned char>(1200, 9));
}

TEST(LicEngine, SecondComputeWithNothingChangedKeepsFieldAndTexture) {
    Fixture f;
    f.mirror.x_res = f.mirror.y_res = 40;
    f.Compute();
    const auto lic = f.Lic();
    f.Compute();
    EXPECT_EQ(f.Lic(), lic);
}

TEST(LicEngine, HighPassEqualizationAndEnhance) {
    Fixture f;
    f.mirror.x_res = f.mirror.y_res = 48;
    f.Compute();
    const auto plain = f.Lic();
    f.mirror.equalization = 1;
    f.Compute();
    const auto equalized = f.Lic();
    for (size_t i = 0; i < plain.size(); ++i) ASSERT_EQ(equalized[i], f.engine.contrast_table[plain[i]]);

    // Enhance convolves twice with a sharpened texture in between and puts the
    // texture back afterwards.
    f.mirror.equalization = 0;
    const std::vector<unsigned char> noise(f.engine.noise.get(), f.engine.noise.get() + 48 * 48);
    ForceCommandSettings(kCommandEnhance, f.mirror);
    f.Compute();
    EXPECT_EQ(f.mirror.high_pass, 1);
    EXPECT_EQ(std::vector<unsigned char>(f.engine.noise.get(), f.engine.noise.get() + 48 * 48), noise);
    EXPECT_NE(f.Lic(), plain);
}

TEST(LicEngine, EnhanceStretchesOnlySparseNoise) {
    for (int noise : {0, 1}) {
        Fixture f;
        f.mirror.x_res = f.mirror.y_res = 60;
        f.mirror.noise_type = noise;
        ForceCommandSettings(kCommandEnhance, f.mirror);
        f.Compute();
        const auto lic = f.Lic();
        const auto [lo, hi] = std::minmax_element(lic.begin(), lic.end());
        if (noise == 1) {
            EXPECT_EQ(*lo, 0);
            EXPECT_EQ(*hi, 255);
        } else {
            EXPECT_GT(*lo, 0);
        }
    }
}

TEST(LicEngine, CommandsForceTheirSettings) {
    SettingsRecord r = DefaultSettings();
    r.size_changed = r.field_changed = r.noise_changed = r.kernel_changed = 0;
    r.noise_type = 1;
    r.kernel_type = 2;
    r.high_pass = r.equalization = 1;
    ForceCommandSettings(kCommandMagLic, r);
    EXPECT_EQ(r.mag_lic, 1);
    EXPECT_EQ(r.noise_type + r.kernel_type + r.high_pass + r.equalization, 0);
    EXPECT_EQ(r.noise_changed, 1);
    EXPECT_EQ(r.kernel_changed, 1);
    ForceCommandSettings(kCommandLic, r);
    EXPECT_EQ(r.mag_lic, 0);
    r.field_type = kFieldFile;
    ForceCommandSettings(kCommandLicing, r);
    EXPECT_EQ(r.field_type, 0);
    r.kernel_changed = 0;
    ForceCommandSettings(kCommandAnimation, r);
    EXPECT_EQ(r.kernel_type, 2);
    EXPECT_EQ(r.kernel_length, 30);
    EXPECT_EQ(r.kernel_changed, 1);
    EXPECT_EQ(r.animation, 1);
}

TEST(LicEngine, UnreadableFieldFileFallsBackToSaddle) {
    test::TempDir dir;
    Fixture f;
    f.mirror.x_res = 20;
    f.mirror.y_res = 10;
    f.mirror.field_type = kFieldFile;
    SetRecordPath(f.mirror.field_file, dir.File("missing.vec").c_str());
    testing::internal::CaptureStdout();
    f.Compute();
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_NE(out.find("as a binary file"), std::string::npos);
    EXPECT_NE(out.find("as a   text file"), std::string::npos);
    EXPECT_EQ(f.mirror.field_type, kFieldSaddle);
    EXPECT_EQ(f.engine.field_file[0], '\0');
    EXPECT_EQ(f.engine.FieldWidth(), 20);
    EXPECT_TRUE(f.engine.ImagesMatchGrid());
}

// A binary file one float short is refused; the text reader then gets the file at the
// size in force before and finds no number in it, so the engine falls back to the Saddle
// field at that size rather than drawing a black picture.
TEST(LicEngine, ShortBinaryFileFallsBackToTheTextReaderAtTheOldSize) {
    test::TempDir dir;
    std::vector<float> field(2 * 6 * 5, 1.0f);
    ASSERT_EQ(WriteFieldFile(dir.File("f.vec").c_str(), 6, 5, field.data(), nullptr), 1);
    auto bytes = test::ReadFileBytes(dir.File("f.vec"));
    bytes.resize(bytes.size() - 4);
    test::WriteFileBytes(dir.File("short.vec"), bytes);

    Fixture f;
    f.mirror.x_res = 9;
    f.mirror.y_res = 7;
    f.mirror.field_type = kFieldFile;
    SetRecordPath(f.mirror.field_file, dir.File("short.vec").c_str());
    testing::internal::CaptureStdout();
    f.Compute();
    const std::string printed = testing::internal::GetCapturedStdout();
    EXPECT_NE(printed.find("has no sufficient vector data"), std::string::npos);
    EXPECT_NE(printed.find("holds no number to read as a text field"), std::string::npos);
    EXPECT_EQ(f.mirror.field_type, kFieldSaddle);
    EXPECT_EQ(f.mirror.x_res, 9);
    EXPECT_EQ(f.mirror.y_res, 7);
    EXPECT_NE(f.Lic(), std::vector<unsigned char>(9 * 7, 0));
}

TEST(LicEngine, FileFieldIsLoadedOnceAndKeptWithItsMagnitudes) {
    test::TempDir dir;
    const int w = 12, h = 8;
    std::vector<float> field(2 * w * h);
    for (int i = 0; i < w * h; ++i) {
        field[2 * i] = 1.0f + (i % w);
        field[2 * i + 1] = 0.5f * (i / w);
    }
    ASSERT_EQ(WriteFieldFile(dir.File("f.vec").c_str(), w, h, field.data(), nullptr), 1);

    Fixture f;
    f.mirror.field_type = kFieldFile;
    SetRecordPath(f.mirror.field_file, dir.File("f.vec").c_str());
    f.Compute();
    EXPECT_EQ(f.mirror.field_type, kFieldFile);
    EXPECT_EQ(f.mirror.x_res, w);
    EXPECT_EQ(f.mirror.y_res, h);
    const std::vector<float> magnitudes(f.engine.magnitudes.get(), f.engine.magnitudes.get() + w * h);

    // The file is gone, but nothing signals a new one: the held field serves on,
    // even when another size has been typed in the meantime.
    std::remove(dir.File("f.vec").c_str());
    f.mirror.x_res = 50;
    f.mirror.size_changed = 1;
    f.Compute();
    EXPECT_EQ(f.mirror.x_res, w);
    EXPECT_EQ(std::vector<float>(f.engine.magnitudes.get(), f.engine.magnitudes.get() + w * h), magnitudes);
}

TEST(LicEngine, SavedFieldReadsBackAsTheHeldField) {
    test::TempDir dir;
    Fixture f;
    f.mirror.x_res = 16;
    f.mirror.y_res = 12;
    f.mirror.field_type = kFieldVortex;
    f.Compute();
    ASSERT_EQ(f.engine.SaveBinaryData(dir.File("out.vec").c_str()), 1);
    int w = 0, h = 0;
    float* back = LoadBinaryData(w, h, dir.File("out.vec").c_str());
    ASSERT_NE(back, nullptr);
    EXPECT_EQ(w, 16);
    EXPECT_EQ(h, 12);
    for (int i = 0; i < 16 * 12; ++i) {
        EXPECT_NEAR(back[2 * i], f.engine.vectors[2 * i] * f.engine.magnitudes[i], 1e-3f);
        EXPECT_NEAR(back[2 * i + 1], f.engine.vectors[2 * i + 1] * f.engine.magnitudes[i], 1e-3f);
    }
    std::free(back);
    EXPECT_EQ(f.engine.SaveBinaryData(dir.File("no/such/dir/out.vec").c_str()), 0);
}

}  // namespace
}  // namespace flowloom
