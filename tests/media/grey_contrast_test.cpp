#include "media/grey_contrast.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "support/test_support.h"

namespace flowloom {
namespace {

// A picture with smooth shading, a dark and a bright patch and some texture, so that
// regions differ and the clip limit bites.
std::vector<unsigned char> Picture(int width, int height) {
    std::vector<unsigned char> grey(static_cast<size_t>(width) * height);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            double v = 60.0 + 0.6 * x + 25.0 * std::sin(0.3 * y) + ((x * 7 + y * 13) % 11);
            if (x < width / 3 && y < height / 2) v *= 0.3;
            if (x > width / 2 && y > height / 2) v = 200.0 + ((x * y) % 40);
            grey[static_cast<size_t>(y) * width + x] = static_cast<unsigned char>(std::clamp(v, 0.0, 255.0));
        }
    return grey;
}

// Our CLAHE and stretch against scikit-image's on the same picture and parameters. Each of
// our bytes is within half a level of 255 times skimage's value (the rounding to a byte);
// the stretch is skimage's rescale_intensity between numpy's percentiles exactly.
TEST(GreyContrast, AgreesWithScikitImage) {
    if (test::RunCommand("/usr/bin/python3 -c 'import skimage' 2>/dev/null") != 0)
        GTEST_SKIP() << "python3-skimage is not installed";
    test::TempDir dir;
    const std::string script = dir.File("reference.py");
    std::ofstream(script) << R"(import sys
import numpy as np
from skimage import exposure
path, width, height, kind, a, b = sys.argv[1:]
grey = np.fromfile(path, dtype=np.uint8).reshape(int(height), int(width))
if kind == "clahe":
    tiles = int(a)
    kernel = (max(grey.shape[0] // tiles, 1), max(grey.shape[1] // tiles, 1))
    out = exposure.equalize_adapthist(grey, kernel_size=kernel, clip_limit=float(b), nbins=256) * 255.0
else:
    lo, hi = np.percentile(grey, (float(a), float(b)))
    out = exposure.rescale_intensity(grey, in_range=(lo, hi)).astype(np.float64)
out.astype(np.float64).tofile(path + ".out")
)";
    struct Case {
        int width, height;
        GreyContrast contrast;
    };
    std::vector<Case> cases;
    for (auto [tiles, clip] : {std::pair{8, 0.01}, std::pair{3, 0.05}, std::pair{5, 0.0}, std::pair{50, 0.2}}) {
        GreyContrast c;
        c.kind = GreyContrastKind::kClahe;
        c.tiles = tiles;
        c.clip = clip;
        cases.push_back({97, 83, c});
    }
    GreyContrast stretch;
    stretch.kind = GreyContrastKind::kStretch;
    stretch.low_percent = 2.0;
    stretch.high_percent = 97.5;
    cases.push_back({64, 40, stretch});
    for (const Case& c : cases) {
        std::vector<unsigned char> grey = Picture(c.width, c.height);
        const std::string path = dir.File("grey.raw");
        test::WriteFileBytes(path, grey);
        const bool clahe = c.contrast.kind == GreyContrastKind::kClahe;
        const std::string args =
            clahe ? std::to_string(c.contrast.tiles) + " " + std::to_string(c.contrast.clip)
                  : std::to_string(c.contrast.low_percent) + " " + std::to_string(c.contrast.high_percent);
        ASSERT_EQ(test::RunCommand("/usr/bin/python3 " + script + " " + path + " " + std::to_string(c.width) + " " +
                                   std::to_string(c.height) + (clahe ? " clahe " : " stretch ") + args),
                  0);
        const std::vector<unsigned char> bytes = test::ReadFileBytes(path + ".out");
        ASSERT_EQ(bytes.size(), grey.size() * sizeof(double));
        std::vector<double> want(grey.size());
        std::memcpy(want.data(), bytes.data(), bytes.size());
        ASSERT_TRUE(ApplyGreyContrast(c.contrast, c.width, c.height, grey.data()));
        double worst = 0.0;
        for (size_t i = 0; i < grey.size(); ++i) worst = std::max(worst, std::fabs(grey[i] - want[i]));
        EXPECT_LE(worst, clahe ? 0.5 + 1e-6 : 0.0) << args;
    }
}

TEST(GreyContrast, RefusesWhatHasNoMeaningAndChangesNothing) {
    std::vector<unsigned char> grey = Picture(10, 10);
    const std::vector<unsigned char> before = grey;
    GreyContrast c;
    c.kind = GreyContrastKind::kClahe;
    c.tiles = 0;
    std::string error;
    EXPECT_FALSE(ApplyGreyContrast(c, 10, 10, grey.data(), &error));
    EXPECT_NE(error.find("at least 1 tile"), std::string::npos);
    c.tiles = 2;
    c.clip = -0.1;
    EXPECT_FALSE(ApplyGreyContrast(c, 10, 10, grey.data(), &error));
    c.kind = GreyContrastKind::kStretch;
    c.low_percent = 99.0;
    c.high_percent = 1.0;
    EXPECT_FALSE(ApplyGreyContrast(c, 10, 10, grey.data(), &error));
    EXPECT_EQ(grey, before);
    // A flat picture has nothing to spread.
    std::vector<unsigned char> flat(30, 77);
    c = GreyContrast();
    c.kind = GreyContrastKind::kClahe;
    EXPECT_TRUE(ApplyGreyContrast(c, 6, 5, flat.data()));
    EXPECT_EQ(flat, std::vector<unsigned char>(30, 77));
}

}  // namespace
}  // namespace flowloom
