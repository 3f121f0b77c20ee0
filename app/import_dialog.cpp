#include "app/import_dialog.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QSpinBox>
#include <QVBoxLayout>
#include <algorithm>

namespace flowloom {

namespace {

// "name: long name [units] (H x W)" for one grid.
QString Label(const ImportVariable& v) {
    QString text = QString::fromStdString(v.name);
    const std::string& what = v.long_name.empty() ? v.standard_name : v.long_name;
    if (!what.empty()) text += QStringLiteral(": ") + QString::fromStdString(what);
    if (!v.units.empty()) text += QStringLiteral(" [%1]").arg(QString::fromStdString(v.units));
    return text + QStringLiteral(" (%1 x %2)").arg(v.height).arg(v.width);
}

void Select(QComboBox* box, const std::string& name) {
    const int at = box->findData(QString::fromStdString(name));
    if (at >= 0) box->setCurrentIndex(at);
}

}  // namespace

ImportDialog::ImportDialog(const ImportContents& contents, QWidget* parent) : QDialog(parent), contents_(contents) {
    setWindowTitle(QStringLiteral("Real Data"));
    u_ = new QComboBox(this);
    v_ = new QComboBox(this);
    scalar_ = new QComboBox(this);
    scalar_->addItem(QStringLiteral("(none: take the pair)"), QString());
    for (const ImportVariable& v : contents_.variables) {
        for (QComboBox* box : {u_, v_, scalar_}) box->addItem(Label(v), QString::fromStdString(v.name));
    }
    gradient_ = new QComboBox(this);
    gradient_->addItem(QStringLiteral("downhill"), kGradientDownhill);
    gradient_->addItem(QStringLiteral("uphill"), kGradientUphill);
    time_ = new QSpinBox(this);
    level_ = new QSpinBox(this);

    const ImportOptions& d = contents_.defaults;
    if (contents_.variables.size() > 1) v_->setCurrentIndex(1);
    Select(u_, d.u_var);
    Select(v_, d.v_var);
    Select(scalar_, d.scalar_var);
    if (d.gradient == kGradientUphill) gradient_->setCurrentIndex(1);

    auto* form = new QFormLayout;
    form->addRow(QStringLiteral("x component (u, eastward):"), u_);
    form->addRow(QStringLiteral("y component (v, northward):"), v_);
    form->addRow(QStringLiteral("or the gradient of:"), scalar_);
    form->addRow(QStringLiteral("gradient:"), gradient_);
    form->addRow(QStringLiteral("time index:"), time_);
    form->addRow(QStringLiteral("level index:"), level_);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(buttons);
    for (QComboBox* box : {u_, v_, scalar_}) connect(box, &QComboBox::currentIndexChanged, this, [this] { Update(); });
    Update();
    time_->setValue(d.time_index);
    level_->setValue(d.level_index);
}

const ImportVariable* ImportDialog::Variable(const QComboBox* box) const {
    const std::string name = box->currentData().toString().toStdString();
    for (const ImportVariable& v : contents_.variables)
        if (v.name == name) return &v;
    return nullptr;
}

void ImportDialog::Update() {
    const ImportVariable* scalar = Variable(scalar_);
    u_->setEnabled(!scalar);
    v_->setEnabled(!scalar);
    gradient_->setEnabled(scalar != nullptr);
    int times = 0, levels = 0;
    const ImportVariable* chosen[2] = {scalar ? scalar : Variable(u_), scalar ? nullptr : Variable(v_)};
    for (const ImportVariable* v : chosen) {
        if (!v) continue;
        times = std::max(times, v->times);
        levels = std::max(levels, v->levels);
    }
    time_->setRange(0, std::max(0, times - 1));
    level_->setRange(0, std::max(0, levels - 1));
    time_->setEnabled(times > 1);
    level_->setEnabled(levels > 1);
}

ImportOptions ImportDialog::Chosen() const {
    ImportOptions options;
    if (const ImportVariable* scalar = Variable(scalar_)) {
        options.scalar_var = scalar->name;
        options.gradient = gradient_->currentData().toInt();
    } else {
        options.u_var = u_->currentData().toString().toStdString();
        options.v_var = v_->currentData().toString().toStdString();
    }
    options.time_index = time_->value();
    options.level_index = level_->value();
    return options;
}

}  // namespace flowloom
