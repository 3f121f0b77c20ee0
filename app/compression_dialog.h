#pragma once

#include <QDialog>
#include <string>
#include <vector>

#include "media/avi_writer.h"

class QListWidget;
class QSlider;
class QSpinBox;
class QLabel;

namespace flowloom {

// The compression options of an AVI file: a list of the encoders offered and a quality
// (0..100, slider and box kept together) that is enabled only for an encoder that has
// one. OK takes the selection; Cancel, or closing the dialog, chooses nothing.
class CompressionDialog : public QDialog {
    Q_OBJECT

public:
    // `selected` names the encoder selected at first (the first one when it is not
    // offered); `quality` is clamped into 0..100.
    CompressionDialog(const std::vector<AviCompressor>& offered, const std::string& selected, int quality,
                      QWidget* parent = nullptr);

    // The encoder selected now, or null when nothing is offered.
    const AviCompressor* Chosen() const;
    int Quality() const;

    QListWidget* list() const { return list_; }
    QSlider* slider() const { return slider_; }
    QSpinBox* quality_box() const { return box_; }

private:
    void SelectionChanged();

    std::vector<AviCompressor> offered_;
    QListWidget* list_ = nullptr;
    QLabel* quality_label_ = nullptr;
    QSlider* slider_ = nullptr;
    QSpinBox* box_ = nullptr;
};

}  // namespace flowloom
