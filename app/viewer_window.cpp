#include "app/viewer_window.h"

#include <QAction>
#include <QEvent>
#include <QFile>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenuBar>
#include <QPixmap>
#include <QStatusBar>
#include <algorithm>
#include <cmath>
#include <vector>

#include "app/dialog_seam.h"
#include "app/main_window.h"
#include "app/picture_view.h"
#include "media/bmp_writer.h"
#include "media/color_bar.h"
#include "media/png_writer.h"

namespace flowloom {

namespace {

constexpr FileDialogRequest kSaveViewDialog{
    true, "png", "PNG Image File (*.png)|*.png|BMP Image File (*.bmp)|*.bmp|All files (*.*)|*.*||"};

// Four significant digits, and no "-0" for a component that is zero.
QString Number(double value) {
    return QString::number(value + 0.0, 'g', 4);
}

}  // namespace

ViewerWindow::ViewerWindow(MainWindow* source) : QMainWindow(source, Qt::Window), source_(source) {
    setWindowTitle(QStringLiteral("Flowloom Viewer"));
    setAttribute(Qt::WA_DeleteOnClose, false);

    auto* central = new QWidget(this);
    auto* row = new QHBoxLayout(central);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(0);
    view_ = new PictureView(central);
    row->addWidget(view_, 1);
    // The colour bar of the picture's scalar is drawn here, beside the picture, by the
    // same code as the renderer's; until then the slot stays hidden.
    colour_bar_slot_ = new QWidget(central);
    colour_bar_slot_->setObjectName(QStringLiteral("colour_bar_slot"));
    auto* slot_layout = new QHBoxLayout(colour_bar_slot_);
    slot_layout->setContentsMargins(0, 0, 0, 0);
    colour_bar_ = new QLabel(colour_bar_slot_);
    colour_bar_->setAlignment(Qt::AlignCenter);
    // The bar follows the window's height; it must never hold the window at the height of
    // the bar drawn before.
    colour_bar_->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Ignored);
    colour_bar_->setMinimumHeight(0);
    slot_layout->addWidget(colour_bar_);
    colour_bar_slot_->hide();
    row->addWidget(colour_bar_slot_);
    setCentralWidget(central);

    readout_ = new QLabel(this);
    readout_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    statusBar()->addWidget(readout_, 1);

    BuildMenus();
    resize(800, 600);

    connect(source_, &MainWindow::PictureChanged, this, &ViewerWindow::Refresh);
    view_->viewport()->installEventFilter(this);
    connect(view_, &PictureView::PointerMoved, this, &ViewerWindow::ShowReadout);
    connect(view_, &PictureView::PointerLeft, this, [this] {
        pointer_inside_ = false;
        readout_->clear();
    });
}

void ViewerWindow::BuildMenus() {
    QMenu* file = menuBar()->addMenu(QStringLiteral("&File"));
    QAction* save = file->addAction(QStringLiteral("&Save View As ..."), this, &ViewerWindow::SaveViewAs);
    save->setShortcut(QKeySequence::Save);
    file->addAction(QStringLiteral("Save View With Colour &Bar As ..."), this, [this] { SaveViewAs(true); });
    file->addSeparator();
    QAction* close_action = file->addAction(QStringLiteral("&Close"), this, &QWidget::close);
    close_action->setShortcuts({QKeySequence::Close, QKeySequence(Qt::Key_Escape)});

    QMenu* view = menuBar()->addMenu(QStringLiteral("&View"));
    fit_action_ = view->addAction(QStringLiteral("&Fit to Window"), view_, &PictureView::FitToWindow);
    fit_action_->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_0));
    QAction* actual = view->addAction(QStringLiteral("&Actual Size (1:1)"), view_, &PictureView::ActualSize);
    actual->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_1));
    QAction* zoom_in = view->addAction(QStringLiteral("Zoom &In"), this, [this] { view_->ZoomBy(1.25); });
    zoom_in->setShortcut(QKeySequence::ZoomIn);
    QAction* zoom_out = view->addAction(QStringLiteral("Zoom &Out"), this, [this] { view_->ZoomBy(0.8); });
    zoom_out->setShortcut(QKeySequence::ZoomOut);
    view->addSeparator();
    QAction* smooth = view->addAction(QStringLiteral("&Smooth Scaling Below 1:1"));
    smooth->setCheckable(true);
    smooth->setChecked(view_->Smooth());
    connect(smooth, &QAction::toggled, view_, &PictureView::SetSmooth);
    colour_bar_action_ = view->addAction(QStringLiteral("&Colour Bar"));
    colour_bar_action_->setCheckable(true);
    colour_bar_action_->setChecked(true);
    connect(colour_bar_action_, &QAction::toggled, this, &ViewerWindow::Refresh);
}

void ViewerWindow::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    Refresh();
}

QImage ViewerWindow::CurrentPicture() const {
    const LicEngine& engine = *source_->engine;
    if (source_->anim_loaded == 1 && source_->anim_playing == 1) {
        // As the main window draws a frame: at the engine's size, whatever the file's.
        const QImage& frame = source_->current_frame;
        const int w = std::min(engine.x_res, frame.width());
        const int h = std::min(engine.y_res, frame.height());
        if (frame.isNull() || w <= 0 || h <= 0) return {};
        return frame.copy(0, 0, w, h);
    }
    if (source_->image_ready != 1 || !engine.HasColorImage()) return {};
    const int w = engine.x_res;
    const int h = engine.y_res;
    QImage picture(w, h, QImage::Format_RGB32);
    const unsigned char* pixels = engine.rgb_image.get();
    for (int row = 0; row < h; ++row) {
        const unsigned char* src = pixels + 3 * static_cast<size_t>(row) * static_cast<size_t>(w);
        auto* dst = reinterpret_cast<QRgb*>(picture.scanLine(row));
        for (int col = 0; col < w; ++col) dst[col] = qRgb(src[3 * col + 2], src[3 * col + 1], src[3 * col]);
    }
    return picture;
}

void ViewerWindow::Refresh() {
    // A hidden viewer costs nothing; it catches up when shown.
    if (!isVisible()) return;
    view_->SetPicture(CurrentPicture());
    UpdateColourBar();
    // Painted now: the progressive passes do not return to the event loop between a pass
    // and its drawing.
    view_->viewport()->repaint();
    if (pointer_inside_) ShowReadout(last_pointer_);
}

void ViewerWindow::UpdateColourBar() {
    // The bar is drawn by the renderer's code for a picture of the view's height; only its
    // own columns are shown beside the view.
    const int bar_height = std::max(200, view_->viewport()->height());
    const std::vector<unsigned char> blank(3 * static_cast<size_t>(bar_height), 255);
    MallocBuffer<unsigned char> bar;
    int bar_width = 0;
    if (colour_bar_action_->isChecked() && !view_->Picture().isNull() &&
        ColourBarOf(blank.data(), 1, bar_height, bar, bar_width)) {
        QImage image(bar_width - 1, bar_height, QImage::Format_RGB32);
        for (int row = 0; row < bar_height; ++row) {
            const unsigned char* src = bar.get() + 3 * (static_cast<size_t>(row) * bar_width + 1);
            auto* dst = reinterpret_cast<QRgb*>(image.scanLine(row));
            for (int col = 0; col < bar_width - 1; ++col)
                dst[col] = qRgb(src[3 * col + 2], src[3 * col + 1], src[3 * col]);
        }
        colour_bar_->setPixmap(QPixmap::fromImage(image));
        colour_bar_slot_->show();
    } else {
        colour_bar_slot_->hide();
    }
}

bool ViewerWindow::eventFilter(QObject* watched, QEvent* event) {
    if (watched == view_->viewport() && event->type() == QEvent::Resize && isVisible()) UpdateColourBar();
    return QMainWindow::eventFilter(watched, event);
}

bool ViewerWindow::ColourBarOf(const unsigned char* bgr, int width, int height, MallocBuffer<unsigned char>& out,
                               int& out_width) const {
    const LicEngine& engine = *source_->engine;
    const bool playing = source_->anim_loaded == 1 && source_->anim_playing == 1;
    if (playing || source_->image_ready != 1 || engine.color_mapping != 1 || engine.color_by_data) return false;
    if (engine.color_options.by == ColorBy::kDirection) return false;
    ColorBar bar;
    std::string error;
    return engine.ColorBarInUse(bar, error) && AddColorBar(bgr, width, height, bar, out, out_width, error);
}

SampleReadout ViewerWindow::ReadoutAt(QPointF position) const {
    const LicEngine& engine = *source_->engine;
    // A picture of another grid than the engine's (one kept while the viewer was hidden,
    // or the engine mid-way through a computation) has no samples to read.
    if (view_->Picture().size() != QSize(engine.x_res, engine.y_res)) return {};
    return ProbeSample(engine, static_cast<int>(std::floor(position.x())), static_cast<int>(std::floor(position.y())));
}

QString ViewerWindow::ReadoutText(const SampleReadout& r) {
    if (!r.inside) return {};
    QString text = QStringLiteral("column %1, row %2").arg(r.column).arg(r.row);
    if (r.has_coordinates)
        text += QStringLiteral("   %1 %2, %3 %4")
                    .arg(QString::fromStdString(r.x_name), Number(r.x), QString::fromStdString(r.y_name), Number(r.y));
    if (r.masked) return text + QStringLiteral("   masked");
    if (r.has_vector) {
        text += QStringLiteral("   u %1, v %2, magnitude %3").arg(Number(r.u), Number(r.v), Number(r.magnitude));
        if (!r.units.empty()) text += ' ' + QString::fromStdString(r.units);
    }
    return text;
}

void ViewerWindow::ShowReadout(QPointF position) {
    last_pointer_ = position;
    pointer_inside_ = true;
    readout_->setText(ReadoutText(ReadoutAt(position)));
}

QString ViewerWindow::StatusText() const {
    return readout_->text();
}

void ViewerWindow::SaveViewAs(bool with_bar) {
    const QImage picture = view_->Picture().convertToFormat(QImage::Format_RGB32);
    if (picture.isNull()) return;
    const QString chosen = source_->seam().ChooseFile(this, kSaveViewDialog);
    if (chosen.isEmpty()) return;
    const int w = picture.width();
    const int h = picture.height();
    std::vector<unsigned char> pixels(3 * static_cast<size_t>(w) * static_cast<size_t>(h));
    for (int row = 0; row < h; ++row) {
        const auto* src = reinterpret_cast<const QRgb*>(picture.constScanLine(row));
        unsigned char* dst = pixels.data() + 3 * static_cast<size_t>(row) * static_cast<size_t>(w);
        for (int col = 0; col < w; ++col) {
            dst[3 * col] = static_cast<unsigned char>(qBlue(src[col]));
            dst[3 * col + 1] = static_cast<unsigned char>(qGreen(src[col]));
            dst[3 * col + 2] = static_cast<unsigned char>(qRed(src[col]));
        }
    }
    int out_width = w;
    const unsigned char* out = pixels.data();
    MallocBuffer<unsigned char> beside;
    if (with_bar && ColourBarOf(pixels.data(), w, h, beside, out_width)) out = beside.get();
    const QByteArray path = QFile::encodeName(chosen);
    const bool png = chosen.endsWith(QStringLiteral(".png"), Qt::CaseInsensitive);
    const int written =
        png ? WritePng24(out_width, h, out, path.constData()) : WriteBmp24(out_width, h, out, path.constData());
    if (!written)
        source_->seam().Message(this, QStringLiteral("The view could not be saved to\n%1").arg(chosen),
                                MessageIcon::kExclamation);
}

}  // namespace flowloom
