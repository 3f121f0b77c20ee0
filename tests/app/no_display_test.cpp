#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "support/test_support.h"

namespace flowloom {
namespace {

// Without a display the window cannot open. The program says so, points at the renderer
// that needs none, and exits with 1, instead of ending with a signal.
TEST(NoDisplay, TheWindowSaysItNeedsADisplayAndExitsWithOne) {
    const std::string flowloom = (std::filesystem::path(FLOWLOOM_RENDER_BINARY).parent_path() / "flowloom").string();
    test::TempDir dir;
    const std::string log = dir.File("log.txt");
    // No display named at all, and one named that does not answer.
    for (const std::string environment : {"env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM",
                                          "env -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM DISPLAY=:97"}) {
        SCOPED_TRACE(environment);
        EXPECT_EQ(test::RunCommand("timeout 120 " + environment + " " + flowloom + " >" + log + " 2>&1"), 1);
        const auto bytes = test::ReadFileBytes(log);
        const std::string text(bytes.begin(), bytes.end());
        EXPECT_NE(text.find("flowloom: the window needs a display"), std::string::npos) << text;
        EXPECT_NE(text.find("flowloom-render computes the same pictures without a display"), std::string::npos);
    }
}

}  // namespace
}  // namespace flowloom
