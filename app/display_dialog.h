#pragma once

#include <QDialog>
#include <map>
#include <string>

#include "engine/display_settings.h"

class QCheckBox;
class QSpinBox;
class QWidget;

namespace flowloom {

// The "Display ..." dialog: the colour and geometry choices beyond the panel, one row per
// setting of the settings table (its option's name, its choices or range, its help as the
// row's tip). A choice left at "default" and an empty field leave the engine's default.
// OK is refused, with the renderer's message, while the texts do not make a picture.
class DisplayDialog : public QDialog {
    Q_OBJECT

public:
    DisplayDialog(const DisplayTexts& texts, QWidget* parent = nullptr);

    DisplayTexts Chosen() const;
    // Shows `texts` in the rows (text no choice names selects "default").
    void Show(const DisplayTexts& texts);

    // The rows' widgets by setting name, a QComboBox, QLineEdit, QCheckBox or QSpinBox.
    QWidget* Field(const std::string& name) const;

    void accept() override;

private:
    std::map<std::string, QWidget*> fields_;
};

}  // namespace flowloom
