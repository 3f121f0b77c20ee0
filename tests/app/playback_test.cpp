// Playback of the animation frames in the view: the timer's interval, the ring of
// frames, pausing and resuming by double click, and rate changes typed into "FPSs".
#include <filesystem>

#include "media/bmp_writer.h"
#include "support/test_support.h"
#include "window_test_support.h"

namespace flowloom::test {
namespace {

constexpr int kFrameWidth = 40;
constexpr int kFrameHeight = 30;

// Frame i is filled with the colour (10 i, 100, 200).
QRgb FrameColour(int i) {
    return qRgb(10 * i, 100, 200);
}

// Runs a test in a fresh current directory holding `count` frame files.
class FramesFixture : public WindowFixture {
public:
    explicit FramesFixture(int count) : before_(std::filesystem::current_path()) {
        std::filesystem::current_path(dir_.path());
        std::filesystem::create_directory("LICAnimation");
        for (int i = 0; i < count; ++i) {
            std::vector<unsigned char> pixels(3 * kFrameWidth * kFrameHeight);
            for (size_t p = 0; p < pixels.size(); p += 3) {
                pixels[p] = 200;
                pixels[p + 1] = 100;
                pixels[p + 2] = static_cast<unsigned char>(10 * i);
            }
            char name[48];
            std::snprintf(name, sizeof name, "LICAnimation/frame%d%d.bmp", i / 10, i % 10);
            EXPECT_EQ(WriteBmp24(kFrameWidth, kFrameHeight, pixels.data(), name), 1);
        }
    }
    ~FramesFixture() { std::filesystem::current_path(before_); }

    void Load(int fps, int count) {
        window.ResizeFrameTable(count);
        window.LoadFrames(fps, count);
    }
    QRgb Shown() { return ViewOnScreen().pixel(5, 5) & 0xFFFFFF; }

private:
    TempDir dir_;
    std::filesystem::path before_;
};

TEST(Playback, TheIntervalIsTheIntegerPartOfOneThousandOverTheRate) {
    FramesFixture f(8);
    const std::pair<int, int> rates[] = {{1, 1000}, {8, 125}, {16, 62}, {30, 33}, {100, 10}};
    for (auto [fps, interval] : rates) {
        f.Load(fps, 8);
        EXPECT_EQ(f.window.PlaybackTimer().interval(), interval) << fps;
        EXPECT_TRUE(f.window.PlaybackTimer().isActive());
    }
    // A rate outside 1..100 is clamped rather than giving no interval at all.
    EXPECT_EQ(MainWindow::PlaybackInterval(0), 1000);
    EXPECT_EQ(MainWindow::PlaybackInterval(-5), 1000);
    EXPECT_EQ(MainWindow::PlaybackInterval(500), 10);
}

TEST(Playback, TicksShowTheFramesInARingAndAMissingFrameIsBlack) {
    FramesFixture f(3);
    // The table has four entries; frame03.bmp does not exist.
    f.Load(8, 4);
    EXPECT_EQ(f.window.anim_loaded, 1);
    EXPECT_EQ(f.window.anim_playing, 1);
    const QRgb expected[] = {FrameColour(0), FrameColour(1), FrameColour(2), 0, FrameColour(0)};
    for (QRgb colour : expected) {
        f.window.TimerTick();
        EXPECT_EQ(f.Shown(), colour & 0xFFFFFF);
    }
    // The frame covers only its own 40 x 30 pixels of the view.
    EXPECT_EQ(f.ViewOnScreen().pixel(kFrameWidth + 1, 5) & 0xFFFFFF, 0u);
    EXPECT_EQ(f.window.frame_index, 1);
}

TEST(Playback, TheTimerDrivesTheFrames) {
    FramesFixture f(8);
    f.Load(100, 8);
    QTest::qWait(200);
    EXPECT_GT(f.window.frame_index, 0);
    EXPECT_FALSE(f.window.current_frame.isNull());
}

TEST(Playback, ADoubleClickInTheViewPausesAndResumesAtTheTypedRate) {
    FramesFixture f(8);
    f.SetGrid(40, 30);
    f.Click(1046);
    f.Load(8, 8);
    f.window.TimerTick();
    f.window.TimerTick();
    EXPECT_EQ(f.Shown(), FrameColour(1) & 0xFFFFFF);

    f.DoubleClickAt(QPoint(100, 100));
    EXPECT_EQ(f.window.anim_playing, 0);
    EXPECT_FALSE(f.window.PlaybackTimer().isActive());
    EXPECT_EQ(f.window.anim_loaded, 1);
    EXPECT_EQ(f.window.engine->color_by_data, 0);  // a double click with frames does not re-colour
    // Once paused, the view shows the LIC image again.
    EXPECT_EQ(f.Shown(), f.EnginePixel(5, 5) & 0xFFFFFF);

    // A double click outside the view does nothing to playback.
    f.DoubleClickAt(QPoint(700, 20));
    EXPECT_EQ(f.window.anim_playing, 0);

    // Pausing, then a computing command, then a double click: the old frames play again
    // from frame 0 at the rate now in "FPSs" (typed while paused, so no restart yet).
    f.Type(1037, "30");
    EXPECT_FALSE(f.window.PlaybackTimer().isActive());
    f.Click(1046);
    EXPECT_EQ(f.window.anim_loaded, 1);
    f.DoubleClickAt(QPoint(100, 100));
    EXPECT_EQ(f.window.anim_playing, 1);
    EXPECT_EQ(f.window.timer_fps, 30);
    EXPECT_EQ(f.window.PlaybackTimer().interval(), 33);
    EXPECT_EQ(f.window.frame_index, 0);
    f.window.TimerTick();
    EXPECT_EQ(f.Shown(), FrameColour(0) & 0xFFFFFF);

    // A computing command stops playback but keeps the frames.
    f.Click(1046);
    EXPECT_EQ(f.window.anim_playing, 0);
    EXPECT_EQ(f.window.anim_loaded, 1);
    EXPECT_FALSE(f.window.PlaybackTimer().isActive());
}

TEST(Playback, TypingARateRestartsPlaybackAtFrameZero) {
    FramesFixture f(8);
    f.Load(8, 8);
    f.window.TimerTick();
    f.window.TimerTick();
    f.Type(1037, "16");
    EXPECT_EQ(f.window.PlaybackTimer().interval(), 62);
    EXPECT_EQ(f.window.timer_fps, 16);
    EXPECT_EQ(f.window.frame_index, 0);
    // Every change of the text counts, the empty one on the way included.
    ASSERT_EQ(f.seam.messages.size(), 1u);
    EXPECT_EQ(f.seam.messages[0].text, "Please enter an integer.");

    // Emptying the box: the message, and playback goes on at the previous rate.
    f.seam.messages.clear();
    f.Edit(1037)->clear();
    ASSERT_EQ(f.seam.messages.size(), 1u);
    EXPECT_EQ(f.seam.messages[0].text, "Please enter an integer.");
    EXPECT_EQ(f.window.anim_fps, 16);
    EXPECT_EQ(f.window.PlaybackTimer().interval(), 62);
    EXPECT_EQ(f.window.anim_playing, 1);

    // A rate beyond the range: the message, and the stored rate is clamped for the timer.
    f.Edit(1037)->setText("500");
    EXPECT_EQ(f.seam.messages.back().text, "Please enter an integer between 1 and 100.");
    EXPECT_EQ(f.window.anim_fps, 500);
    EXPECT_EQ(f.window.PlaybackTimer().interval(), 10);
    f.Edit(1037)->setText("0");
    EXPECT_EQ(f.window.PlaybackTimer().interval(), 1000);
}

TEST(Playback, ReleasedFramesNoLongerPlay) {
    FramesFixture f(8);
    f.Load(8, 8);
    f.window.ReleaseFrames();
    EXPECT_EQ(f.window.anim_loaded, 0);
    EXPECT_FALSE(f.window.frame_bitmaps.has_value());
    EXPECT_FALSE(f.window.PlaybackTimer().isActive());
    f.window.TimerTick();
    f.window.RestartPlayback(8);
    EXPECT_EQ(f.window.anim_playing, 0);
    // A double click goes back to toggling the colour mode.
    f.DoubleClickAt(QPoint(100, 100));
    EXPECT_EQ(f.window.engine->color_by_data, 1);
}

}  // namespace
}  // namespace flowloom::test
