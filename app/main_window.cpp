#include "app/main_window.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QRadioButton>
#include <QShortcut>
#include <array>

#include "app/caption.h"
#include "app/dialog_integer.h"
#include "app/dialog_seam.h"
#include "app/template_widgets.h"
#include "app/viewer_window.h"
#include "engine/commands.h"
#include "engine/settings_table.h"

namespace flowloom {

namespace {

constexpr int kMirrorUnset = -100;  // in `mirror`: nothing has been computed yet

std::array<int, 4> ProgressRect(const PixelRect& r) {
    return {r.left, r.top, r.right, r.bottom};
}

}  // namespace

// One panel control and the field it fills.
struct MainWindow::Binding {
    enum Kind { kEdit, kRadio, kCheck };
    int id;
    Kind kind;
    int MainWindow::*field;
    const char* setting;  // its row of the settings table, which holds the range
};

// The order in which ReadControls and WriteControls visit the controls.
const MainWindow::Binding MainWindow::kBindings[] = {
    {1008, Binding::kEdit, &MainWindow::x_res, "x_res"},
    {1009, Binding::kEdit, &MainWindow::y_res, "y_res"},
    {1002, Binding::kRadio, &MainWindow::field_type, "field_type"},
    {1010, Binding::kRadio, &MainWindow::noise_type, "noise_type"},
    {1013, Binding::kRadio, &MainWindow::kernel_type, "kernel_type"},
    {1016, Binding::kEdit, &MainWindow::kernel_length, "kernel_length"},
    {1012, Binding::kCheck, &MainWindow::color_mapping, "color_mapping"},
    {1017, Binding::kCheck, &MainWindow::equalization, "equalization"},
    {1018, Binding::kCheck, &MainWindow::high_pass, "high_pass"},
    {1021, Binding::kEdit, &MainWindow::enhance_iterations, "enhance_iterations"},
    {1022, Binding::kEdit, &MainWindow::roi_left, "roi_left"},
    {1023, Binding::kEdit, &MainWindow::roi_right, "roi_right"},
    {1025, Binding::kEdit, &MainWindow::roi_bottom, "roi_bottom"},
    {1024, Binding::kEdit, &MainWindow::roi_top, "roi_top"},
    {1026, Binding::kEdit, &MainWindow::roi_scale, "roi_scale"},
    {1031, Binding::kEdit, &MainWindow::image_iterations, "image_iterations"},
    {1030, Binding::kCheck, &MainWindow::force_extraction, "force_extraction"},
    {1033, Binding::kEdit, &MainWindow::lod, "lod"},
    {1043, Binding::kEdit, &MainWindow::anim_frames, "anim_frames"},
    {1037, Binding::kEdit, &MainWindow::anim_fps, "anim_fps"},
    {1048, Binding::kCheck, &MainWindow::roi_enabled, "roi_enabled"},
};

MainWindow::MainWindow(DialogSeam* seam, QWidget* parent)
    : QDialog(parent),
      own_seam_(seam ? nullptr : std::make_unique<QtDialogSeam>()),
      seam_(seam ? seam : own_seam_.get()),
      host_(this, seam_, progress_ctrl_id, ProgressRect(progress_rect).data()) {
    icon = ApplicationIcon();
    engine = std::make_unique<LicEngine>(&host_);
    engine->Reset();
    // The viewer reads the field's values as the file gives them.
    engine->keep_physical_field = 1;

    for (int SettingsRecord::*marked :
         {&SettingsRecord::x_res, &SettingsRecord::y_res, &SettingsRecord::field_type, &SettingsRecord::noise_type,
          &SettingsRecord::kernel_type, &SettingsRecord::kernel_length, &SettingsRecord::color_mapping,
          &SettingsRecord::equalization, &SettingsRecord::high_pass, &SettingsRecord::enhance_iterations,
          &SettingsRecord::roi_left, &SettingsRecord::roi_right, &SettingsRecord::roi_top, &SettingsRecord::roi_bottom,
          &SettingsRecord::roi_scale, &SettingsRecord::lod})
        mirror.*marked = kMirrorUnset;

    const SettingsRecord defaults = DefaultSettings();
    field_file_path = defaults.field_file;
    image_file_path = defaults.image_file;

    setAcceptDrops(true);
    playback_timer_.setTimerType(Qt::PreciseTimer);
    connect(&playback_timer_, &QTimer::timeout, this, &MainWindow::TimerTick);

    BuildPanel();
    WriteControls();
    ConnectCommands();
    setWindowIcon(icon);
}

MainWindow::~MainWindow() {
    // The viewer reads the engine: it goes first.
    delete viewer_;
    viewer_ = nullptr;
    playback_timer_.stop();
    engine.reset();
    ReleaseFrames();
}

void MainWindow::BuildPanel() {
    template_ = LoadDialogTemplate(kMainWindowTemplate);
    setFont(DialogFont());
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowCloseButtonHint);
    setWindowTitle(QString::fromStdString(template_.title));
    setFixedSize(TemplatePixelSize(template_));
    setMouseTracking(true);

    TemplateWidgets widgets = BuildTemplateWidgets(template_, this);
    controls_ = std::move(widgets.by_id);
    view_frame_ = widgets.frame;

    // Radio buttons are grouped by walking the template, so a push button between two
    // of them (1005) belongs to no group.
    for (const Binding& b : kBindings) {
        if (b.kind != Binding::kRadio) continue;
        auto* group = new QButtonGroup(this);
        const std::vector<int> ids = template_.RadioGroup(b.id);
        for (size_t i = 0; i < ids.size(); ++i)
            group->addButton(qobject_cast<QRadioButton*>(Control(ids[i])), static_cast<int>(i));
        radio_groups_[b.id] = group;
    }

    auto* about = new QShortcut(QKeySequence(Qt::Key_F1), this);
    connect(about, &QShortcut::activated, this, &MainWindow::ShowAbout);
    auto* viewer = new QShortcut(QKeySequence(Qt::Key_F2), this);
    connect(viewer, &QShortcut::activated, this, &MainWindow::OpenViewer);
    auto* display = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_D), this);
    connect(display, &QShortcut::activated, this, &MainWindow::DisplayCommand);
}

void MainWindow::ConnectCommands() {
    auto on_click = [this](int id, void (MainWindow::*command)()) {
        connect(qobject_cast<QAbstractButton*>(Control(id)), &QAbstractButton::clicked, this, command);
    };
    on_click(1046, &MainWindow::LicCommand);
    on_click(1039, &MainWindow::MagLicCommand);
    on_click(1001, &MainWindow::RealDataCommand);
    on_click(1040, &MainWindow::EnhanceCommand);
    on_click(1049, &MainWindow::SaveLicImageCommand);
    on_click(1029, &MainWindow::ImageCommand);
    on_click(1012, &MainWindow::ColorMappingCommand);
    on_click(1045, &MainWindow::ProLicCommand);
    on_click(1035, &MainWindow::LicingCommand);
    on_click(1044, &MainWindow::AnimationCommand);
    on_click(1038, &MainWindow::SaveAnimationCommand);
    // "Exit" and the close box end the window; Enter and Escape do not (keyPressEvent).
    on_click(2, &MainWindow::reject);
    // 1005 "More Pseudo ..." has no command.
    connect(Edit(1037), &QLineEdit::textChanged, this, &MainWindow::RateChange);
}

QWidget* MainWindow::Control(int id) const {
    const auto found = controls_.find(id);
    return found == controls_.end() ? nullptr : found->second;
}

QLineEdit* MainWindow::Edit(int id) const {
    return qobject_cast<QLineEdit*>(Control(id));
}

int MainWindow::CheckedIndex(int first_id) const {
    return radio_groups_.at(first_id)->checkedId();
}

void MainWindow::CheckIndex(int first_id, int index) {
    QButtonGroup* group = radio_groups_.at(first_id);
    if (QAbstractButton* button = group->button(index)) {
        button->setChecked(true);
        return;
    }
    group->setExclusive(false);
    for (QAbstractButton* button : group->buttons()) button->setChecked(false);
    group->setExclusive(true);
}

void MainWindow::Fail(QLineEdit* edit, const QString& text) {
    seam_->Message(this, text, MessageIcon::kExclamation);
    edit->setFocus(Qt::OtherFocusReason);
    edit->selectAll();
}

int MainWindow::ReadBinding(const Binding& b) {
    switch (b.kind) {
        case Binding::kEdit: {
            QLineEdit* edit = Edit(b.id);
            int value = 0;
            if (!ParseDialogInteger(edit->text(), value)) {
                Fail(edit, QStringLiteral("Please enter an integer."));
                return 0;
            }
            this->*b.field = value;
            const SettingRow& row = Setting(b.setting);
            if (value < row.min || value > row.max) {
                Fail(edit, QStringLiteral("Please enter an integer between %1 and %2.").arg(row.min).arg(row.max));
                return 0;
            }
            return 1;
        }
        case Binding::kRadio:
            this->*b.field = CheckedIndex(b.id);
            return 1;
        case Binding::kCheck: {
            const Qt::CheckState state = qobject_cast<QCheckBox*>(Control(b.id))->checkState();
            this->*b.field = state == Qt::Checked ? 1 : state == Qt::PartiallyChecked ? 2 : 0;
            return 1;
        }
    }
    return 1;
}

void MainWindow::WriteBinding(const Binding& b) {
    int& value = this->*b.field;
    switch (b.kind) {
        case Binding::kEdit: {
            QLineEdit* edit = Edit(b.id);
            const QString text = QString::number(value);
            // Rewriting an unchanged text would only move the cursor and signal a change.
            if (edit->text() != text) edit->setText(text);
            break;
        }
        case Binding::kRadio:
            CheckIndex(b.id, value);
            break;
        case Binding::kCheck:
            if (value < 0 || value > 2) value = 0;
            qobject_cast<QCheckBox*>(Control(b.id))
                ->setCheckState(value == 1   ? Qt::Checked
                                : value == 2 ? Qt::PartiallyChecked
                                             : Qt::Unchecked);
            break;
    }
}

void MainWindow::WriteControl(int id) {
    for (const Binding& b : kBindings)
        if (b.id == id) WriteBinding(b);
}

int MainWindow::ReadControls() {
    for (const Binding& b : kBindings)
        if (!ReadBinding(b)) return 0;
    return 1;
}

void MainWindow::WriteControls() {
    for (const Binding& b : kBindings) WriteBinding(b);
}

void MainWindow::UpdateMirror() {
    SettingsRecord& m = mirror;
    if (field_type < 0 || field_type > 3) field_type = kFieldFile;
    m.size_changed = (m.x_res != x_res || m.y_res != y_res || new_field_file == 1) ? 1 : 0;
    m.field_changed = (m.field_type != field_type || new_field_file == 1) ? 1 : 0;
    m.noise_changed = m.noise_type != noise_type ? 1 : 0;
    m.kernel_changed = (m.kernel_length != kernel_length || m.kernel_type != kernel_type) ? 1 : 0;
    if (m.field_changed == 1 || m.size_changed == 1) scroll_x = scroll_y = 0;

    kernel_type_changed = m.kernel_type != kernel_type;
    color_mapping_changed = m.color_mapping != color_mapping;
    equalization_changed = m.equalization != equalization;
    high_pass_changed = m.high_pass != high_pass;
    enhance_iterations_changed = m.enhance_iterations != enhance_iterations;
    roi_changed = m.roi_top != roi_top || m.roi_bottom != roi_bottom || m.roi_right != roi_right ||
                  m.roi_left != roi_left || m.roi_scale != roi_scale;
    anim_frames_changed = m.anim_frames != anim_frames;

    // The choosers refuse paths that do not fit, so this always succeeds.
    SetRecordPath(m.field_file, field_file_path.c_str());
    m.mag_lic = m.enhanced_lic = m.image_lic = m.pro_lic = m.animation = 0;
    for (const Binding& b : kBindings) m.*Setting(b.setting).record = this->*b.field;
    SetRecordPath(m.image_file, image_file_path.c_str());
}

void MainWindow::UpdateFromMirror() {
    for (const Binding& b : kBindings) {
        const SettingRow& row = Setting(b.setting);
        if (row.computed) this->*b.field = mirror.*row.record;
    }
}

void MainWindow::keyPressEvent(QKeyEvent* event) {
    // A stray Enter or Escape must not end the program and throw away the pictures;
    // "Exit" and the close box do that.
    switch (event->key()) {
        case Qt::Key_Escape:
        case Qt::Key_Enter:
        case Qt::Key_Return:
            event->accept();
            return;
        default:
            QDialog::keyPressEvent(event);
    }
}

void MainWindow::contextMenuEvent(QContextMenuEvent* event) {
    // On the image the right button selects regions and mirrors the picture.
    const bool on_view = view_frame_ && view_frame_->geometry().contains(event->pos());
    if (event->reason() == QContextMenuEvent::Mouse &&
        (on_view || (event->modifiers() & (Qt::ControlModifier | Qt::ShiftModifier)))) {
        event->ignore();
        return;
    }
    right_drag_armed_ = false;
    QMenu menu(this);
    menu.addAction(QStringLiteral("&Viewer\tF2"), this, &MainWindow::OpenViewer);
    menu.addAction(QStringLiteral("&Display ...\tCtrl+D"), this, &MainWindow::DisplayCommand);
    const QString about = LoadString(101);
    if (!about.isEmpty()) {
        menu.addSeparator();
        menu.addAction(about, this, &MainWindow::ShowAbout);
    }
    menu.exec(event->globalPos());
}

void MainWindow::OpenViewer() {
    if (!viewer_) viewer_ = new ViewerWindow(this);
    viewer_->show();
    viewer_->raise();
    viewer_->activateWindow();
}

void MainWindow::ShowAbout() {
    const DialogTemplate about = LoadDialogTemplate(kAboutBoxTemplate);
    QDialog box(this);
    box.setFont(DialogFont());
    box.setWindowTitle(QString::fromStdString(about.title));
    box.setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    box.setFixedSize(TemplatePixelSize(about));
    box.setWindowIcon(icon);
    const TemplateWidgets widgets = BuildTemplateWidgets(about, &box);
    for (const auto& [id, widget] : widgets.by_id) {
        if (auto* button = qobject_cast<QPushButton*>(widget))
            connect(button, &QPushButton::clicked, &box, &QDialog::accept);
    }
    seam_->RunModal(box);
}

}  // namespace flowloom
