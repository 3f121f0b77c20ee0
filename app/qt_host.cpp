#include "app/qt_host.h"

#include <QProgressBar>
#include <QString>
#include <QWidget>

#include "app/dialog_seam.h"

namespace flowloom {

QtHost::QtHost(QWidget* window, DialogSeam* seam, int ctrl_id, const int rect[4])
    : window_(window), seam_(seam), ctrl_id_(ctrl_id), rect_{rect[0], rect[1], rect[2], rect[3]} {}

QtHost::~QtHost() {
    ProgressDestroy();
}

void QtHost::ProgressCreate(int range_max) {
    ProgressDestroy();
    bar_ = new QProgressBar(window_);
    bar_->setObjectName(QString::number(ctrl_id_));
    bar_->setGeometry(rect_[0], rect_[1], rect_[2] - rect_[0], rect_[3] - rect_[1]);
    bar_->setTextVisible(false);
    bar_->setRange(0, range_max > 0 ? range_max : 0);
    bar_->setValue(0);
    bar_->show();
    // The computation holds the thread until it ends: draw now, not at the next event.
    bar_->repaint();
}

void QtHost::ProgressStep() {
    if (bar_ && bar_->value() < bar_->maximum()) bar_->setValue(bar_->value() + 1);
}

void QtHost::ProgressDestroy() {
    delete bar_;
    bar_ = nullptr;
}

void QtHost::ShowMessage(const char* text) {
    if (seam_) seam_->Message(window_, QString::fromLocal8Bit(text), MessageIcon::kExclamation);
}

}  // namespace flowloom
