#pragma once

#include "media/host.h"

class QProgressBar;
class QWidget;

namespace flowloom {

class DialogSeam;

// The engine's host inside the main window: progress bars appear in the window's progress
// strip below the image view (`rect`: left, top, right, bottom in window pixels) as
// control `ctrl_id`, messages go through the window's dialog seam with the exclamation
// icon. One bar at a time; a new bar replaces one still shown.
class QtHost : public Host {
public:
    QtHost(QWidget* window, DialogSeam* seam, int ctrl_id, const int rect[4]);
    ~QtHost() override;
    QtHost(const QtHost&) = delete;
    QtHost& operator=(const QtHost&) = delete;

    void ProgressCreate(int range_max) override;
    void ProgressStep() override;
    void ProgressDestroy() override;
    void ShowMessage(const char* text) override;

    // The bar now shown, or null.
    QProgressBar* progress_bar() const { return bar_; }

private:
    QWidget* window_;
    DialogSeam* seam_;
    int ctrl_id_;
    int rect_[4];
    QProgressBar* bar_ = nullptr;
};

}  // namespace flowloom
