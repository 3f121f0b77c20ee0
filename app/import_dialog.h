#pragma once

#include <QDialog>

#include "fieldio/field_import.h"

class QComboBox;
class QSpinBox;

namespace flowloom {

// What to take from a NumPy or NetCDF file with several grids, or with time or level
// steps: the variables of the x and y components, or one scalar variable and which way its
// gradient points, and the time and level indices. It opens on `contents.defaults`; OK
// takes the choice, Cancel (or closing) chooses nothing.
class ImportDialog : public QDialog {
    Q_OBJECT

public:
    explicit ImportDialog(const ImportContents& contents, QWidget* parent = nullptr);

    ImportOptions Chosen() const;

    QComboBox* u_box() const { return u_; }
    QComboBox* v_box() const { return v_; }
    QComboBox* scalar_box() const { return scalar_; }
    QComboBox* gradient_box() const { return gradient_; }
    QSpinBox* time_box() const { return time_; }
    QSpinBox* level_box() const { return level_; }

private:
    // The pair boxes are for a pair only; a scalar choice disables them, and the index
    // boxes reach as far as the chosen variables' dimensions.
    void Update();
    const ImportVariable* Variable(const QComboBox* box) const;

    ImportContents contents_;
    QComboBox* u_ = nullptr;
    QComboBox* v_ = nullptr;
    QComboBox* scalar_ = nullptr;
    QComboBox* gradient_ = nullptr;
    QSpinBox* time_ = nullptr;
    QSpinBox* level_ = nullptr;
};

}  // namespace flowloom
