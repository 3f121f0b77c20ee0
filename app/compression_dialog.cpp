#include "app/compression_dialog.h"

#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QSlider>
#include <QSpinBox>
#include <QVBoxLayout>
#include <algorithm>

namespace flowloom {

CompressionDialog::CompressionDialog(const std::vector<AviCompressor>& offered, const std::string& selected,
                                     int quality, QWidget* parent)
    : QDialog(parent), offered_(offered) {
    setWindowTitle(tr("Video Compression"));
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel(tr("Compressor:"), this));

    list_ = new QListWidget(this);
    list_->setSelectionMode(QAbstractItemView::SingleSelection);
    int row = 0;
    for (size_t i = 0; i < offered_.size(); ++i) {
        list_->addItem(QString::fromStdString(offered_[i].label));
        if (offered_[i].name == selected) row = static_cast<int>(i);
    }
    layout->addWidget(list_);

    auto* quality_row = new QHBoxLayout;
    quality_label_ = new QLabel(tr("Compression quality:"), this);
    slider_ = new QSlider(Qt::Horizontal, this);
    box_ = new QSpinBox(this);
    slider_->setRange(0, 100);
    box_->setRange(0, 100);
    box_->setSuffix(QStringLiteral(" %"));
    const int start = std::clamp(quality, 0, 100);
    slider_->setValue(start);
    box_->setValue(start);
    connect(slider_, &QSlider::valueChanged, box_, &QSpinBox::setValue);
    connect(box_, &QSpinBox::valueChanged, slider_, &QSlider::setValue);
    quality_row->addWidget(quality_label_);
    quality_row->addWidget(slider_, 1);
    quality_row->addWidget(box_);
    layout->addLayout(quality_row);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);
    // With nothing to choose, only Cancel remains.
    buttons->button(QDialogButtonBox::Ok)->setEnabled(!offered_.empty());

    connect(list_, &QListWidget::currentRowChanged, this, &CompressionDialog::SelectionChanged);
    connect(list_, &QListWidget::itemDoubleClicked, this, &QDialog::accept);
    if (!offered_.empty()) list_->setCurrentRow(row);
    SelectionChanged();
}

const AviCompressor* CompressionDialog::Chosen() const {
    const int row = list_->currentRow();
    if (row < 0 || row >= static_cast<int>(offered_.size())) return nullptr;
    return &offered_[static_cast<size_t>(row)];
}

int CompressionDialog::Quality() const {
    return box_->value();
}

void CompressionDialog::SelectionChanged() {
    const AviCompressor* chosen = Chosen();
    const bool has_quality = chosen && chosen->has_quality;
    quality_label_->setEnabled(has_quality);
    slider_->setEnabled(has_quality);
    box_->setEnabled(has_quality);
}

}  // namespace flowloom
