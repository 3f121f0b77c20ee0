#include "app/display_dialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QSpinBox>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>
#include <span>

#include "engine/settings_table.h"

namespace flowloom {

namespace {

struct TextRow {
    const char* name;
    std::string DisplayTexts::*text;
};

// In the order the dialog shows them: what the colour follows and how, then the grey
// contrast, then how streamlines meet the grid.
constexpr TextRow kColorRows[] = {
    {"cmap", &DisplayTexts::cmap},         {"color_var", &DisplayTexts::color_var},
    {"norm", &DisplayTexts::norm},         {"vmin", &DisplayTexts::vmin},
    {"vmax", &DisplayTexts::vmax},         {"percentiles", &DisplayTexts::percentiles},
    {"blend", &DisplayTexts::blend},       {"alpha", &DisplayTexts::alpha},
    {"mask_color", &DisplayTexts::mask_color}, {"stretch", &DisplayTexts::stretch},
    {"clahe", &DisplayTexts::clahe},
};
constexpr TextRow kGeometryRows[] = {
    {"coordinates", &DisplayTexts::coordinates},
    {"boundary_x", &DisplayTexts::boundary_x},
    {"boundary_y", &DisplayTexts::boundary_y},
};

QString Qs(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

// "--color-var" shows as "color-var".
QString Label(const SettingRow& row) {
    std::string_view option = row.option;
    while (!option.empty() && option.front() == '-') option.remove_prefix(1);
    return Qs(option) + QStringLiteral(":");
}

// What an empty field means, as a grey hint in it.
QString Hint(const SettingRow& row) {
    if (row.kind == SettingKind::kReal && !std::isnan(row.real_initial))
        return QStringLiteral("default %1").arg(row.real_initial);
    if (!row.metavar.empty()) return Qs(row.metavar) + QStringLiteral(", or empty for the default");
    return QStringLiteral("empty for the default");
}

QWidget* MakeField(const SettingRow& row, QWidget* parent) {
    QWidget* field = nullptr;
    switch (row.kind) {
        case SettingKind::kChoice: {
            auto* box = new QComboBox(parent);
            box->addItem(QStringLiteral("default"), QString());
            for (std::string_view choice : row.choices) box->addItem(Qs(choice), Qs(choice));
            field = box;
            break;
        }
        case SettingKind::kFlag:
            field = new QCheckBox(parent);
            break;
        case SettingKind::kInteger:
            if (row.count == 1) {
                auto* spin = new QSpinBox(parent);
                spin->setRange(static_cast<int>(row.min), static_cast<int>(row.max));
                spin->setValue(static_cast<int>(row.initial));
                field = spin;
                break;
            }
            [[fallthrough]];
        default: {
            auto* edit = new QLineEdit(parent);
            edit->setPlaceholderText(Hint(row));
            field = edit;
        }
    }
    field->setToolTip(Qs(row.help));
    field->setObjectName(Qs(row.name));
    return field;
}

}  // namespace

DisplayDialog::DisplayDialog(const DisplayTexts& texts, QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("Display"));
    auto group = [this](const QString& title, std::span<const TextRow> rows, std::initializer_list<const char*> more) {
        auto* box = new QGroupBox(title, this);
        auto* form = new QFormLayout(box);
        auto add = [&](const char* name) {
            const SettingRow& row = Setting(name);
            QWidget* field = MakeField(row, box);
            fields_[name] = field;
            form->addRow(Label(row), field);
        };
        for (const TextRow& row : rows) add(row.name);
        for (const char* name : more) add(name);
        return box;
    };
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto* note = new QLabel(QStringLiteral("The choices apply from the next command."), this);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(group(QStringLiteral("Colour"), kColorRows, {}));
    layout->addWidget(group(QStringLiteral("Geometry"), kGeometryRows, {"orientation", "output_scale"}));
    layout->addWidget(note);
    layout->addWidget(buttons);
    Show(texts);
    // The keyboard starts at the first row, the colour map.
    Field(std::string(kColorRows[0].name))->setFocus();
}

QWidget* DisplayDialog::Field(const std::string& name) const {
    const auto at = fields_.find(name);
    return at == fields_.end() ? nullptr : at->second;
}

void DisplayDialog::Show(const DisplayTexts& texts) {
    auto show = [this, &texts](const TextRow& row) {
        const QString text = QString::fromStdString(texts.*row.text);
        if (auto* box = qobject_cast<QComboBox*>(Field(row.name)))
            box->setCurrentIndex(std::max(0, box->findData(text)));
        else if (auto* edit = qobject_cast<QLineEdit*>(Field(row.name)))
            edit->setText(text);
    };
    for (const TextRow& row : kColorRows) show(row);
    for (const TextRow& row : kGeometryRows) show(row);
    qobject_cast<QCheckBox*>(Field("orientation"))->setChecked(texts.orientation);
    qobject_cast<QSpinBox*>(Field("output_scale"))->setValue(texts.output_scale);
}

DisplayTexts DisplayDialog::Chosen() const {
    DisplayTexts texts;
    auto take = [this, &texts](const TextRow& row) {
        if (auto* box = qobject_cast<QComboBox*>(Field(row.name)))
            texts.*row.text = box->currentData().toString().toStdString();
        else if (auto* edit = qobject_cast<QLineEdit*>(Field(row.name)))
            texts.*row.text = edit->text().trimmed().toStdString();
    };
    for (const TextRow& row : kColorRows) take(row);
    for (const TextRow& row : kGeometryRows) take(row);
    texts.orientation = qobject_cast<QCheckBox*>(Field("orientation"))->isChecked();
    texts.output_scale = qobject_cast<QSpinBox*>(Field("output_scale"))->value();
    return texts;
}

void DisplayDialog::accept() {
    DisplayChoices choices;
    if (const std::string error = ParseDisplayTexts(Chosen(), choices); !error.empty()) {
        QMessageBox::warning(this, QStringLiteral("Flowloom"), QString::fromStdString(error));
        return;
    }
    QDialog::accept();
}

}  // namespace flowloom
