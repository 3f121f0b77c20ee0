#include "app/qt_host.h"

#include <QProgressBar>
#include <QString>
#include <QWidget>

#include "app/dialog_seam.h"

namespace flowloom {

QtHost::QtHost(QWidget* window, DialogSeam* seam) : window_(window), seam_(seam) {}

QtHost::~QtHost() {
    ProgressDestroy();
}

void QtHost::ProgressCreate(int ctrl_id, const int rect[4], int range_max) {
    ProgressDestroy();
    bar_ = new QProgressBar(window_);
    bar_->setObjectName(QString::number(ctrl_id));
    bar_->setGeometry(rect[0], rect[1], rect[2] - rect[0], rect[3] - rect[1]);
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
