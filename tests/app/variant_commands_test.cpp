// ProLIC, LICing, Animation and the animation's AVI export, as a user drives them.
#include <QListWidget>
#include <QSlider>
#include <QSpinBox>
#include <QTimer>
#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "app/compression_dialog.h"
#include "engine/commands.h"
#include "lic/progressive.h"
#include "media/bmp_reader.h"
#include "media/bmp_writer.h"
#include "media/malloc_buffer.h"
#include "support/test_support.h"
#include "window_test_support.h"

namespace flowloom::test {
namespace {

// The animation writes below the current directory: each test gets a fresh one.
struct InTempDir {
    InTempDir() : before(std::filesystem::current_path()) { std::filesystem::current_path(dir.path()); }
    ~InTempDir() { std::filesystem::current_path(before); }
    TempDir dir;
    std::filesystem::path before;
};

struct AnimationFixture : InTempDir, WindowFixture {
    // A computed animation of 8 frames at 8 per second on a 40 x 30 grid.
    void Animate() {
        SetGrid(40, 30);
        Click(1044);
        ASSERT_EQ(window.anim_loaded, 1);
    }
    // Frame file i as the engine wrote it.
    std::vector<unsigned char> FrameFile(int i) {
        BmpReader reader;
        int width = 0;
        int height = 0;
        MallocBuffer<unsigned char> pixels(reader.Read(window.FramePath(i).string().c_str(), width, height));
        if (!pixels || width != 40 || height != 30) return {};
        return {pixels.get(), pixels.get() + 3 * 40 * 30};
    }
    std::string Avi() const { return dir.File("anim.avi"); }
    void SaveAs() {
        seam.answers.push_back(QString::fromStdString(Avi()));
        Click(1038);
    }
};

std::string Capture(const TempDir& dir, const std::string& command_line) {
    const std::string out = dir.File("captured.txt");
    if (RunCommand(command_line + " > '" + out + "'") != 0) return {};
    const std::vector<unsigned char> bytes = ReadFileBytes(out);
    return std::string(bytes.begin(), bytes.end());
}

std::vector<unsigned char> LicImage(const MainWindow& w) {
    const unsigned char* p = w.engine->lic_image.get();
    return {p, p + static_cast<size_t>(w.engine->x_res) * w.engine->y_res};
}

// Runs ProLIC; when `mark_at` >= 0, marks a region with a left drag (then moves the
// pointer on) in the events handled after that many passes.
struct ProLicRun {
    int maximum = 0;
    int steps = 0;
    bool commands_disabled = false;
    bool marked = false;
};

ProLicRun RunProLic(WindowFixture& f, int mark_at, QPoint from, QPoint to) {
    ProLicRun run;
    bool hooked = false;
    QTimer poll;
    poll.setInterval(0);
    QObject::connect(&poll, &QTimer::timeout, [&] {
        QProgressBar* bar = f.window.host().progress_bar();
        if (!bar) return;
        if (!hooked) {
            hooked = true;
            run.maximum = bar->maximum();
            QObject::connect(bar, &QProgressBar::valueChanged, [&run] { ++run.steps; });
            run.commands_disabled = !f.Button(1046)->isEnabled() && !f.Button(1044)->isEnabled() &&
                                    !f.Button(2)->isEnabled() && !f.Button(1012)->isEnabled();
        }
        if (mark_at >= 0 && !run.marked && bar->value() == mark_at) {
            run.marked = true;
            f.Drag(Qt::LeftButton, from, to);
            f.Move(QPoint(300, 200));  // rewrites Left and Top with the pointer's position
        }
    });
    poll.start();
    f.Click(1045);
    poll.stop();
    return run;
}

TEST(ProLic, RunsLodSquaredPassesAndAMarkedRegionRestrictsThePassesFromThenOn) {
    WindowFixture f;
    f.SetGrid(40, 30);
    f.Type(1033, "8");
    const ProLicRun whole = RunProLic(f, -1, {}, {});
    EXPECT_EQ(whole.maximum, 64);
    EXPECT_EQ(whole.steps, 64);
    EXPECT_TRUE(whole.commands_disabled);
    EXPECT_TRUE(f.Button(1046)->isEnabled());
    EXPECT_TRUE(f.Button(1012)->isEnabled());
    EXPECT_EQ(f.window.host().progress_bar(), nullptr);
    EXPECT_EQ(f.window.last_command, kCommandProLic);
    EXPECT_EQ(f.window.image_ready, 1);
    const std::vector<unsigned char> reference = LicImage(f.window);
    // The view shows the finished picture.
    EXPECT_EQ(f.ViewOnScreen().pixel(21, 17) & 0xFFFFFF, f.EnginePixel(21, 17) & 0xFFFFFF);

    // The same field and texture again, with a region marked after ten passes: image
    // pixels 8..28 x 6..22 (the view starts at 15, 15).
    constexpr int kMarkAt = 10;
    const ProLicRun marked = RunProLic(f, kMarkAt, QPoint(23, 21), QPoint(43, 37));
    ASSERT_TRUE(marked.marked);
    EXPECT_EQ(marked.steps, 64);
    std::vector<std::pair<int, int>> order;
    ProgressivePassOrder(8, order);
    std::map<std::pair<int, int>, int> pass_of;
    for (int pass = 0; pass < 64; ++pass) pass_of[order[pass]] = pass;
    const std::vector<unsigned char> result = LicImage(f.window);
    int wrong = 0;
    int earlier_outside_lit = 0;
    for (int y = 0; y < 30; ++y) {
        for (int x = 0; x < 40; ++x) {
            const bool inside = x >= 8 && x <= 28 && y >= 6 && y <= 22;
            const bool earlier = pass_of[{x % 8, y % 8}] < kMarkAt;
            const unsigned char expected = inside || earlier ? reference[y * 40 + x] : 0;
            wrong += result[y * 40 + x] != expected;
            earlier_outside_lit += !inside && earlier && expected != 0;
        }
    }
    EXPECT_EQ(wrong, 0);
    EXPECT_GT(earlier_outside_lit, 20);
}

TEST(ProLic, TheWholePictureCoversAZoomedGridWiderThan2500Samples) {
    WindowFixture f;
    f.SetGrid(300, 10);
    for (auto [id, text] : {std::pair{1022, "0"}, {1023, "299"}, {1024, "0"}, {1025, "4"}, {1026, "10"}, {1033, "2"}})
        f.Type(id, text);
    f.Click(1048);  // "Region of Interest": zoom 300 x 5 samples ten times
    f.Click(1045);
    ASSERT_EQ(f.window.engine->x_res, 2991);
    const std::vector<unsigned char> lic = LicImage(f.window);
    int lit = 0;
    int far_right = 0;
    for (int y = 0; y < f.window.engine->y_res; ++y)
        for (int x = 2600; x < 2991; ++x, ++far_right) lit += lic[static_cast<size_t>(y) * 2991 + x] != 0;
    EXPECT_GT(lit, far_right / 2);
}

TEST(Licing, TakesTheChosenImageAndSwitchesAFileFieldBackToSaddle) {
    WindowFixture f;
    TempDir dir;
    f.Click(1035);  // no image chosen: nothing
    EXPECT_EQ(f.window.image_ready, 0);

    std::vector<unsigned char> pixels(3 * 24 * 16);
    for (size_t i = 0; i < pixels.size(); ++i) pixels[i] = static_cast<unsigned char>((i * 37) % 251);
    const std::string image = dir.File("input.bmp");
    ASSERT_EQ(WriteBmp24(24, 16, pixels.data(), image.c_str()), 1);
    f.seam.answers.push_back("/nonexistent/flow.vec");
    f.Click(1001);
    f.seam.answers.push_back(QString::fromStdString(image));
    f.Click(1029);

    f.Click(1035);
    EXPECT_TRUE(f.Checked(1002));
    EXPECT_EQ(f.window.field_type, 0);
    EXPECT_EQ(f.window.last_command, kCommandLicing);
    ASSERT_TRUE(f.window.engine->HasColorImage());
    EXPECT_EQ(f.Edit(1008)->text(), "24");
    EXPECT_EQ(f.Edit(1009)->text(), "16");
    // The picture is drawn, though the image path leaves no grey image behind it.
    EXPECT_EQ(f.ViewOnScreen().pixel(7, 5) & 0xFFFFFF, f.EnginePixel(7, 5) & 0xFFFFFF);
    const std::vector<unsigned char> extracted(f.window.engine->rgb_image.get(),
                                               f.window.engine->rgb_image.get() + pixels.size());

    // Without force extraction the image follows another field.
    f.Click(1030);
    f.Click(1035);
    ASSERT_TRUE(f.window.engine->HasColorImage());
    EXPECT_NE(std::memcmp(extracted.data(), f.window.engine->rgb_image.get(), pixels.size()), 0);
}

// An image the reader refuses: a message box says which file and why, and the grid keeps
// its size. (The image path then holds no buffers at all, as for any failed read.)
TEST(Licing, AnUnreadableImageIsReportedWithItsReason) {
    WindowFixture f;
    TempDir dir;
    f.SetGrid(40, 30);
    f.Click(1046);
    const std::string image = dir.File("os2.bmp");
    std::ofstream(image, std::ios::binary)
        << std::string("BM\0\0\0\0\0\0\0\0\x1a\0\0\0\x0c\0\0\0", 18) << std::string(12, '\x01');
    f.seam.answers.push_back(QString::fromStdString(image));
    f.Click(1029);
    f.Click(1035);
    ASSERT_EQ(f.seam.messages.size(), 1u);
    EXPECT_EQ(f.seam.messages[0].text.toStdString(),
              "The image could not be read:\n" + image +
                  ": its 12-byte OS/2 info header is not read (40 bytes or longer are)");
    EXPECT_EQ(f.seam.messages[0].icon, MessageIcon::kExclamation);
    EXPECT_EQ(f.Edit(1008)->text(), "40");
    EXPECT_EQ(f.Edit(1009)->text(), "30");
    EXPECT_TRUE(f.window.engine->image_error.empty());  // told once
}

TEST(Animation, PlaysItsFramesAndAnUnchangedSecondPressOnlyRestartsPlayback) {
    AnimationFixture f;
    f.Click(1011);  // sparse noise
    f.Type(1016, "12");
    f.Animate();
    const int bars = f.computations.bars;
    EXPECT_GT(bars, 0);
    // The panel shows what the animation used.
    EXPECT_TRUE(f.Checked(1015));
    EXPECT_EQ(f.Edit(1016)->text(), "30");
    EXPECT_TRUE(f.Checked(1010));
    EXPECT_EQ(f.window.engine->kernel_type, 2);
    EXPECT_EQ(f.window.engine->kernel_length, 30);
    ASSERT_TRUE(f.window.frame_bitmaps.has_value());
    EXPECT_EQ(f.window.frame_bitmaps->size(), 8u);
    EXPECT_EQ(f.window.PlaybackTimer().interval(), 125);
    EXPECT_EQ(f.window.image_ready, 0);  // the animation is no picture of its own

    f.window.TimerTick();
    f.window.TimerTick();
    EXPECT_EQ(f.window.frame_index, 2);

    f.Click(1044);
    EXPECT_EQ(f.computations.bars, bars);
    EXPECT_EQ(f.window.anim_loaded, 1);
    EXPECT_EQ(f.window.anim_playing, 1);
    EXPECT_EQ(f.window.frame_index, 0);
    EXPECT_TRUE(f.window.PlaybackTimer().isActive());

    // A change on the animation's list computes again.
    f.Type(1043, "9");
    f.Click(1044);
    EXPECT_GT(f.computations.bars, bars);
    EXPECT_EQ(f.window.frame_bitmaps->size(), 9u);
}

// The window plays the frames from wherever the engine wrote them.
TEST(Animation, FramesAreLoadedFromTheEnginesAnimationDirectory) {
    AnimationFixture f;
    std::filesystem::create_directory(f.dir.path() / "elsewhere");
    f.window.engine->animation_dir = f.dir.path() / "elsewhere";
    f.Animate();
    EXPECT_TRUE(std::filesystem::exists(f.dir.path() / "elsewhere" / "LICAnimation" / "frame07.bmp"));
    EXPECT_FALSE(std::filesystem::exists(f.dir.path() / "LICAnimation"));
    for (const QImage& frame : *f.window.frame_bitmaps) EXPECT_EQ(frame.size(), QSize(40, 30));
}

TEST(Animation, FramesThatCannotBeWrittenAreReportedAndNothingPlays) {
    AnimationFixture f;
    // A file where the frame directory should go.
    WriteFileBytes(f.dir.File("LICAnimation"), {1});
    f.SetGrid(40, 30);
    f.Click(1044);
    ASSERT_EQ(f.seam.messages.size(), 1u);
    EXPECT_TRUE(f.seam.messages[0].text.contains("LICAnimation"));
    EXPECT_EQ(f.window.anim_loaded, 0);
    EXPECT_FALSE(f.window.frame_bitmaps.has_value());
    EXPECT_FALSE(f.window.PlaybackTimer().isActive());
    // Nothing to save, and pressed again it tries again rather than playing nothing.
    f.Click(1038);
    EXPECT_TRUE(f.seam.file_dialogs.empty());
    f.Click(1044);
    EXPECT_EQ(f.seam.messages.size(), 2u);
}

TEST(SaveAnimation, WritesOneKeyFramePerFrameFileWithTheChosenEncoder) {
    if (!HaveProgram("ffprobe") || !HaveProgram("ffmpeg")) GTEST_SKIP() << "ffprobe/ffmpeg not installed";
    AnimationFixture f;
    f.Click(1038);  // no animation yet: nothing
    EXPECT_TRUE(f.seam.file_dialogs.empty());
    f.Animate();
    f.seam.compressor = "ffv1";
    f.SaveAs();
    ASSERT_EQ(f.seam.file_dialogs.size(), 1u);
    EXPECT_TRUE(f.seam.file_dialogs[0].save);
    EXPECT_STREQ(f.seam.file_dialogs[0].default_extension, "avi");
    EXPECT_EQ(NameFiltersFromFilterString(f.seam.file_dialogs[0].filter),
              QStringList({"LIC Animation File (*.avi)", "All files (*)"}));
    EXPECT_EQ(f.seam.compression_dialogs, 1);
    EXPECT_GE(f.seam.compressors_offered.size(), 2u);
    EXPECT_TRUE(f.seam.messages.empty());
    EXPECT_EQ(f.window.anim_playing, 1);  // playback goes on

    EXPECT_EQ(Capture(f.dir,
                      "ffprobe -v error -select_streams v:0 -show_entries stream=codec_name,time_base "
                      "-of default=nw=1 '" +
                          f.Avi() + "'"),
              "codec_name=ffv1\ntime_base=1/80\n");
    std::istringstream packets(Capture(
        f.dir, "ffprobe -v error -select_streams v:0 -show_entries packet=pts,flags -of csv=p=0 '" + f.Avi() + "'"));
    std::vector<std::string> lines;
    for (std::string line; std::getline(packets, line);)
        if (!line.empty()) lines.push_back(line);
    ASSERT_EQ(lines.size(), 8u);
    for (int k = 0; k < 8; ++k) EXPECT_EQ(lines[k].substr(0, lines[k].find('_')), std::to_string(10 * k) + ",K");

    const std::string raw = f.dir.File("decoded.raw");
    ASSERT_EQ(RunCommand("ffmpeg -v error -y -i '" + f.Avi() + "' -vsync passthrough -f rawvideo -pix_fmt bgr24 '" +
                         raw + "'"),
              0);
    const std::vector<unsigned char> decoded = ReadFileBytes(raw);
    ASSERT_EQ(decoded.size(), 8u * 3 * 40 * 30);
    for (int k = 0; k < 8; ++k) {
        const std::vector<unsigned char> frame = f.FrameFile(k);
        ASSERT_FALSE(frame.empty());
        EXPECT_TRUE(std::equal(frame.begin(), frame.end(), decoded.begin() + k * frame.size())) << "frame " << k;
    }
}

TEST(SaveAnimation, ACancelledChoiceOrAnUnreadableFrameFileGivesTheErrorMessage) {
    AnimationFixture f;
    f.Animate();
    f.seam.compressor.clear();  // cancel
    f.SaveAs();
    ASSERT_EQ(f.seam.messages.size(), 1u);
    EXPECT_EQ(f.seam.messages[0].text, "Error with avi file!");
    EXPECT_EQ(f.seam.messages[0].icon, MessageIcon::kExclamation);
    EXPECT_EQ(f.window.anim_playing, 1);

    f.seam.compressor = "rawvideo";
    std::filesystem::remove(f.window.FramePath(3));
    f.SaveAs();
    ASSERT_EQ(f.seam.messages.size(), 2u);
    EXPECT_EQ(f.seam.messages[1].text, "Error with avi file!");
    EXPECT_EQ(f.window.host().progress_bar(), nullptr);
}

TEST(CompressionDialog, OffersTheEncodersWithAQualityWhereTheEncoderHasOne) {
    const std::vector<AviCompressor> offered = AviCompressorsAvailable();
    std::map<std::string, int> index;
    for (size_t i = 0; i < offered.size(); ++i) index[offered[i].name] = static_cast<int>(i);
    for (const char* name : {"rawvideo", "mjpeg", "mpeg4", "ffv1"}) ASSERT_TRUE(index.count(name)) << name;

    CompressionDialog dialog(offered, "mjpeg", 140, nullptr);
    EXPECT_EQ(dialog.list()->count(), static_cast<int>(offered.size()));
    ASSERT_NE(dialog.Chosen(), nullptr);
    EXPECT_EQ(dialog.Chosen()->name, "mjpeg");
    EXPECT_EQ(dialog.Quality(), 100);
    EXPECT_TRUE(dialog.slider()->isEnabled());
    dialog.slider()->setValue(40);
    EXPECT_EQ(dialog.quality_box()->value(), 40);
    dialog.list()->setCurrentRow(index["ffv1"]);
    EXPECT_EQ(dialog.Chosen()->name, "ffv1");
    EXPECT_FALSE(dialog.slider()->isEnabled());
    EXPECT_FALSE(dialog.quality_box()->isEnabled());

    // Through the real seam: OK takes the selection, Cancel chooses nothing.
    QtDialogSeam seam;
    auto answer = [](bool accept, const char* pick) {
        QTimer::singleShot(0, [accept, pick] {
            CompressionDialog* shown = nullptr;
            for (QWidget* widget : QApplication::topLevelWidgets())
                if (auto* open = qobject_cast<CompressionDialog*>(widget); open && open->isVisible()) shown = open;
            ASSERT_NE(shown, nullptr);
            for (int row = 0; row < shown->list()->count(); ++row)
                if (shown->list()->item(row)->text().contains(pick)) shown->list()->setCurrentRow(row);
            accept ? shown->accept() : shown->reject();
        });
    };
    AviCompressor chosen = offered.front();
    int quality = 75;
    answer(true, "MPEG-4");
    EXPECT_EQ(seam.ChooseCompression(nullptr, offered, chosen, quality), 1);
    EXPECT_EQ(chosen.name, "mpeg4");
    EXPECT_EQ(quality, 75);
    answer(false, "FFV1");
    EXPECT_EQ(seam.ChooseCompression(nullptr, offered, chosen, quality), 0);
    EXPECT_EQ(chosen.name, "mpeg4");
}

}  // namespace
}  // namespace flowloom::test
