#include "app/template_widgets.h"

#include <QCheckBox>
#include <QFile>
#include <QFont>
#include <QFontMetrics>
#include <QFrame>
#include <QGroupBox>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QStyle>
#include <QWidget>
#include <cstdio>
#include <cstdlib>

// The resources live in a static library, whose registration the linker would drop
// unless something refers to it.
static void InitFlowloomResources() {
    Q_INIT_RESOURCE(flowloom);
}

namespace flowloom {

namespace {

constexpr int kBasePixelSize = 11;
constexpr int kSmallestPixelSize = 8;

std::string ReadResource(const char* resource) {
    static const bool registered = (InitFlowloomResources(), true);
    (void)registered;
    QFile file(QString::fromUtf8(resource));
    if (!file.open(QIODevice::ReadOnly)) {
        std::fprintf(stderr, "flowloom: the resource %s is missing from this build\n", resource);
        std::abort();
    }
    return file.readAll().toStdString();
}

// Pixels that a control needs around its text, so that the text is not clipped.
int TextMargin(const QWidget* widget, ControlKind kind) {
    const QStyle* style = widget->style();
    switch (kind) {
        case ControlKind::kRadioButton:
            return style->pixelMetric(QStyle::PM_ExclusiveIndicatorWidth, nullptr, widget) +
                   style->pixelMetric(QStyle::PM_RadioButtonLabelSpacing, nullptr, widget) + 2;
        case ControlKind::kCheckBox:
            return style->pixelMetric(QStyle::PM_IndicatorWidth, nullptr, widget) +
                   style->pixelMetric(QStyle::PM_CheckBoxLabelSpacing, nullptr, widget) + 2;
        case ControlKind::kPushButton:
        case ControlKind::kCancelButton:
        case ControlKind::kDefaultButton:
            return 2 * style->pixelMetric(QStyle::PM_ButtonMargin, nullptr, widget) / 3 + 4;
        case ControlKind::kGroupBox:
            return 14;
        default:
            return 0;
    }
}

// Whether every control's text fits its width at this font.
bool TextsFit(const std::vector<std::pair<const DialogControl*, QWidget*>>& made, const QFont& font) {
    const QFontMetrics metrics(font);
    for (const auto& [control, widget] : made) {
        const QString text = QString::fromStdString(control->text);
        if (text.isEmpty()) continue;
        if (metrics.horizontalAdvance(text) + TextMargin(widget, control->kind) > ControlPixelRect(*control).Width())
            return false;
    }
    return true;
}

QWidget* MakeWidget(const DialogControl& c, QWidget* parent) {
    const QString text = QString::fromStdString(c.text);
    switch (c.kind) {
        case ControlKind::kFrame: {
            auto* frame = new QFrame(parent);
            frame->setFrameStyle(QFrame::Panel | QFrame::Sunken);
            frame->setLineWidth(2);
            return frame;
        }
        case ControlKind::kPushButton:
        case ControlKind::kCancelButton:
        case ControlKind::kDefaultButton: {
            auto* button = new QPushButton(text, parent);
            // Enter in an edit must not press a button behind the user's back.
            button->setAutoDefault(c.kind == ControlKind::kPushButton);
            button->setDefault(c.kind == ControlKind::kDefaultButton);
            return button;
        }
        case ControlKind::kRadioButton: {
            auto* radio = new QRadioButton(text, parent);
            radio->setAutoExclusive(false);
            return radio;
        }
        case ControlKind::kCheckBox:
            return new QCheckBox(text, parent);
        case ControlKind::kEdit:
            return new QLineEdit(parent);
        case ControlKind::kGroupBox:
            return new QGroupBox(text, parent);
        case ControlKind::kLabel:
            return new QLabel(text, parent);
        case ControlKind::kIcon: {
            auto* label = new QLabel(parent);
            label->setPixmap(ApplicationIcon().pixmap(32, 32));
            label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
            return label;
        }
    }
    return nullptr;
}

bool IsStatic(ControlKind kind) {
    return kind == ControlKind::kFrame || kind == ControlKind::kGroupBox || kind == ControlKind::kLabel ||
           kind == ControlKind::kIcon;
}

// The edit that a label names: the nearest one that starts right of the label and
// shares some of its rows.
QWidget* BuddyOf(const DialogControl& label, const DialogTemplate& dialog, const std::map<int, QWidget*>& by_id) {
    const DialogControl* best = nullptr;
    for (const DialogControl& c : dialog.controls) {
        if (c.kind != ControlKind::kEdit || c.x < label.x + label.width) continue;
        if (c.y >= label.y + label.height || c.y + c.height <= label.y) continue;
        if (!best || c.x < best->x) best = &c;
    }
    return best ? by_id.at(best->id) : nullptr;
}

}  // namespace

DialogTemplate LoadDialogTemplate(const char* resource) {
    DialogTemplate dialog;
    std::string error;
    if (!ParseDialogTemplate(ReadResource(resource), dialog, error)) {
        std::fprintf(stderr, "flowloom: the dialog template %s is broken (%s)\n", resource, error.c_str());
        std::abort();
    }
    return dialog;
}

QString LoadString(int id) {
    static const std::map<int, std::string> table = [] {
        std::map<int, std::string> strings;
        std::string error;
        if (!ParseStringTable(ReadResource(kStringTable), strings, error)) {
            std::fprintf(stderr, "flowloom: the string table is broken (%s)\n", error.c_str());
            std::abort();
        }
        return strings;
    }();
    const auto found = table.find(id);
    return found == table.end() ? QString() : QString::fromStdString(found->second);
}

QIcon ApplicationIcon() {
    ReadResource(kIconResource);  // registers the resources, and ends the process without the icon
    return QIcon(QString::fromUtf8(kIconResource));
}

QFont DialogFont() {
    QFont font;
    font.setFamilies({"Liberation Sans", "Arial", "Nimbus Sans", "Helvetica", "DejaVu Sans"});
    font.setStyleHint(QFont::SansSerif);
    font.setPixelSize(kBasePixelSize);
    return font;
}

QSize TemplatePixelSize(const DialogTemplate& dialog) {
    return {DialogUnitsToPixelsX(dialog.width), DialogUnitsToPixelsY(dialog.height)};
}

TemplateWidgets BuildTemplateWidgets(const DialogTemplate& dialog, QWidget* parent) {
    TemplateWidgets widgets;
    QWidget* previous_focusable = nullptr;
    std::vector<std::pair<const DialogControl*, QLabel*>> labels;
    std::vector<std::pair<const DialogControl*, QWidget*>> made;
    for (const DialogControl& c : dialog.controls) {
        QWidget* widget = MakeWidget(c, parent);
        const PixelRect r = ControlPixelRect(c);
        widget->setGeometry(r.left, r.top, r.Width(), r.Height());
        made.emplace_back(&c, widget);
        if (IsStatic(c.kind)) {
            widget->setAttribute(Qt::WA_TransparentForMouseEvents);
            widget->setFocusPolicy(Qt::NoFocus);
            widgets.statics.push_back(widget);
            if (c.kind == ControlKind::kFrame && !widgets.frame) widgets.frame = widget;
            if (c.kind == ControlKind::kLabel) labels.emplace_back(&c, static_cast<QLabel*>(widget));
        } else {
            widget->setFocusPolicy(Qt::StrongFocus);
            if (previous_focusable) QWidget::setTabOrder(previous_focusable, widget);
            previous_focusable = widget;
        }
        if (c.id != -1) {
            widget->setObjectName(QString::number(c.id));
            widgets.by_id[c.id] = widget;
        }
    }
    for (auto& [control, label] : labels) {
        if (QWidget* buddy = BuddyOf(*control, dialog, widgets.by_id)) {
            label->setBuddy(buddy);
            buddy->setAccessibleName(label->text());
        }
    }
    // One size for the whole dialog, the largest at which every text fits.
    QFont font = parent->font();
    for (int size = kBasePixelSize; size >= kSmallestPixelSize; --size) {
        font.setPixelSize(size);
        if (TextsFit(made, font) || size == kSmallestPixelSize) break;
    }
    parent->setFont(font);
    // Frames and group boxes are drawn first, so that they never cover a control.
    for (auto it = widgets.statics.rbegin(); it != widgets.statics.rend(); ++it) (*it)->lower();
    return widgets;
}

}  // namespace flowloom
