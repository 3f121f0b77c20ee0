#pragma once

// Helpers for driving the real main window headless: one QApplication per test
// program, a scripted dialog seam, and user-level actions (clicks, typing, drags).

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QChildEvent>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <deque>
#include <optional>
#include <string>
#include <vector>

#include "app/dialog_seam.h"
#include "app/main_window.h"

namespace flowloom::test {

class QtEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
        static int argc = 1;
        static char name[] = "flowloom-app-test";
        static char* argv[] = {name, nullptr};
        app_ = new QApplication(argc, argv);
    }
    void TearDown() override {
        delete app_;
        app_ = nullptr;
    }

private:
    QApplication* app_ = nullptr;
};

inline ::testing::Environment* const kQtEnvironment = ::testing::AddGlobalTestEnvironment(new QtEnvironment);

// Answers file dialogs from a queue (an empty queue cancels) and records what the
// window showed.
class ScriptedSeam : public DialogSeam {
public:
    struct Shown {
        QString text;
        MessageIcon icon;
    };

    QString ChooseFile(QWidget*, const FileDialogRequest& request) override {
        file_dialogs.push_back(request);
        if (answers.empty()) return {};
        QString answer = answers.front();
        answers.pop_front();
        return answer;
    }
    void Message(QWidget*, const QString& text, MessageIcon icon) override { messages.push_back({text, icon}); }
    void RunModal(QDialog& dialog) override {
        ++modal_runs;
        modal_title = dialog.windowTitle();
        modal_size = dialog.size();
        modal_texts.clear();
        modal_has_icon = false;
        for (QLabel* label : dialog.findChildren<QLabel*>()) {
            if (!label->text().isEmpty()) modal_texts << label->text();
            if (!label->pixmap().isNull()) modal_has_icon = true;
        }
        for (QPushButton* button : dialog.findChildren<QPushButton*>()) modal_texts << button->text();
    }
    // Takes `compressor` at `compression_quality`, or cancels when `compressor` is empty.
    int ChooseCompression(QWidget*, const std::vector<AviCompressor>& offered, AviCompressor& chosen,
                          int& quality) override {
        ++compression_dialogs;
        compressors_offered = offered;
        if (compressor.empty()) return 0;
        chosen.name = compressor;
        quality = compression_quality;
        return 1;
    }

    // Records what the chooser was shown and answers with `import_choice`, or cancels.
    int ChooseImport(QWidget*, const ImportContents& contents, ImportOptions& options) override {
        import_contents.push_back(contents);
        if (!import_choice) return 0;
        options = *import_choice;
        return 1;
    }

    // Records the texts the Display dialog was shown and answers with `display_choice`, or
    // cancels.
    int ChooseDisplay(QWidget*, DisplayTexts& texts) override {
        display_shown.push_back(texts);
        if (!display_choice) return 0;
        texts = *display_choice;
        return 1;
    }

    std::deque<QString> answers;
    std::vector<FileDialogRequest> file_dialogs;
    std::vector<Shown> messages;
    int modal_runs = 0;
    QString modal_title;
    QSize modal_size;
    QStringList modal_texts;
    bool modal_has_icon = false;
    std::string compressor = "rawvideo";
    int compression_quality = 75;
    int compression_dialogs = 0;
    std::vector<AviCompressor> compressors_offered;
    std::vector<ImportContents> import_contents;
    std::optional<ImportOptions> import_choice;
    std::vector<DisplayTexts> display_shown;
    std::optional<DisplayTexts> display_choice;
};

// Counts the progress bars that appear on a window: the engine shows one for every full
// computation and none when it only re-colours.
class ProgressBarWatch : public QObject {
public:
    explicit ProgressBarWatch(QWidget* window) { window->installEventFilter(this); }
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::ChildPolished) {
            if (auto* bar = qobject_cast<QProgressBar*>(static_cast<QChildEvent*>(event)->child())) {
                ++bars;
                last_geometry = bar->geometry();
                last_name = bar->objectName();
            }
        }
        return false;
    }
    int bars = 0;
    QRect last_geometry;
    QString last_name;
};

// The real window, shown, with a scripted seam.
struct WindowFixture {
    ScriptedSeam seam;
    MainWindow window{&seam};
    ProgressBarWatch computations{&window};

    WindowFixture() {
        window.show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(&window));
    }

    QLineEdit* Edit(int id) const { return qobject_cast<QLineEdit*>(window.Control(id)); }
    QAbstractButton* Button(int id) const { return qobject_cast<QAbstractButton*>(window.Control(id)); }
    bool Checked(int id) const { return Button(id)->isChecked(); }

    void Click(int id) { QTest::mouseClick(window.Control(id), Qt::LeftButton); }
    // Replaces an edit's text by typing, as a user would after selecting it.
    void Type(int id, const QString& text) {
        QLineEdit* edit = Edit(id);
        edit->setFocus();
        edit->selectAll();
        QTest::keyClick(edit, Qt::Key_Delete);
        QTest::keyClicks(edit, text);
    }
    // A small grid keeps every computation quick.
    void SetGrid(int width, int height) {
        Type(1008, QString::number(width));
        Type(1009, QString::number(height));
    }

    void Press(Qt::MouseButton button, QPoint p, Qt::KeyboardModifiers keys = {}) {
        QTest::mousePress(&window, button, keys, p);
    }
    void Move(QPoint p) { QTest::mouseMove(&window, p); }
    void Release(Qt::MouseButton button, QPoint p, Qt::KeyboardModifiers keys = {}) {
        QTest::mouseRelease(&window, button, keys, p);
    }
    void Drag(Qt::MouseButton button, QPoint from, QPoint to) {
        Press(button, from);
        Move(to);
        Release(button, to);
    }
    void ClickAt(Qt::MouseButton button, QPoint p, Qt::KeyboardModifiers keys = {}) {
        QTest::mouseClick(&window, button, keys, p);
    }
    // What a double click delivers: press, release, double click, release.
    void DoubleClickAt(QPoint p, Qt::KeyboardModifiers keys = {}) {
        QTest::mouseClick(&window, Qt::LeftButton, keys, p);
        QTest::mouseDClick(&window, Qt::LeftButton, keys, p);
        QTest::mouseRelease(&window, Qt::LeftButton, keys, p);
    }

    QString Caption() const { return window.windowTitle(); }
    // The view as drawn on the screen (600 x 374 pixels).
    QImage ViewOnScreen() {
        return window.grab(QRect(15, 15, 600, 374)).toImage().convertToFormat(QImage::Format_RGB32);
    }
    // Pixel (x, y) of the engine's colour image.
    QRgb EnginePixel(int x, int y) const {
        const unsigned char* p =
            window.engine->rgb_image.get() + 3 * (static_cast<size_t>(y) * window.engine->x_res + x);
        return qRgb(p[2], p[1], p[0]);
    }
};

}  // namespace flowloom::test
