#pragma once

#include <QDialog>
#include <QIcon>
#include <QImage>
#include <QPoint>
#include <QTimer>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/dialog_template.h"
#include "app/qt_host.h"
#include "engine/display_settings.h"
#include "engine/lic_engine.h"
#include "engine/settings_record.h"

class QButtonGroup;
class QLineEdit;
class QWidget;

namespace flowloom {

class DialogSeam;
class ViewerWindow;

// The main window: the image view on the left, the panel of parameters and commands
// on the right, built from dialog template 102. It owns the one LicEngine and keeps one
// field per panel control and a `mirror` record of the settings last handed to the
// engine. Every computing command reads the controls into the fields, copies them into
// `mirror` (computing change flags), forces what the command implies, hands `mirror`
// to the engine, computes or only re-colours, and shows the engine's values again.
//
// Coordinates are client pixels of the window. The view is `view_rect`,
// (15, 15, 615, 389); the engine's progress bars appear on `progress_rect`.
class MainWindow : public QDialog {
    Q_OBJECT

public:
    // `seam` shows the file dialogs, message boxes and the About box; null means the real
    // Qt dialogs. The window does not take ownership of a seam it is given.
    explicit MainWindow(DialogSeam* seam = nullptr, QWidget* parent = nullptr);
    ~MainWindow() override;

    // ---- Parameters, one per panel control (ranges are checked by ReadControls).
    int x_res = 300;             // 1008, 0..2000
    int y_res = 300;             // 1009, 0..2000
    int field_type = 0;          // radio group 1002: 0..3 analytic, 4 (no button) a file
    int noise_type = 0;          // radio group 1010
    int kernel_type = 0;         // radio group 1013
    int kernel_length = 15;      // 1016, 1..200
    int color_mapping = 1;       // 1012
    int equalization = 0;        // 1017
    int high_pass = 0;           // 1018
    int enhance_iterations = 2;  // 1021, 2..10
    int roi_left = 0;            // 1022, 0..996
    int roi_right = 299;         // 1023, 4..1000
    int roi_bottom = 299;        // 1025, 4..1000
    int roi_top = 0;             // 1024, 0..996
    int roi_scale = 2;           // 1026, 1..20
    int image_iterations = 1;    // 1031, 1..10
    int force_extraction = 1;    // 1030
    int lod = 3;                 // 1033, 2..8
    int anim_frames = 8;         // 1043, 8..20
    int anim_fps = 8;            // 1037, 1..100
    int roi_enabled = 0;         // 1048

    // ---- State.
    QIcon icon;
    int image_ready = 0;      // an LIC image exists and may be drawn and used by the mouse
    SettingsRecord mirror{};  // the settings as last handed to the engine
    std::unique_ptr<LicEngine> engine;
    int ignore_right_up = 0;
    int scroll_x = 0;
    int scroll_y = 0;
    int scroll_max_x = 0;
    int scroll_max_y = 0;
    int canvas_width = 0;
    int canvas_height = 0;
    PixelRect band_rect{};   // the rubber band being dragged
    PixelRect focus_rect{};  // the rubber band as drawn on the screen
    PixelRect clip_rect{};   // the part of the view covered by the image
    PixelRect view_rect{15, 15, 615, 389};
    QPoint drag_anchor;
    int new_field_file = 0;
    int kernel_type_changed = 0;
    int color_mapping_changed = 0;
    int equalization_changed = 0;
    int high_pass_changed = 0;
    int enhance_iterations_changed = 0;
    int roi_changed = 0;
    int anim_frames_changed = 0;
    int force_compute = 1;
    int last_command = -1;  // a Command code
    int image_chosen = 0;
    std::string field_file_path;  // bytes as handed to the engine
    std::string image_file_path;
    int progress_ctrl_id = 1224;
    PixelRect progress_rect{15, 394, 615, 401};
    int anim_loaded = 0;
    int anim_playing = 0;
    int timer_fps = 8;
    int frame_count = 8;
    int frame_index = 0;
    QImage current_frame;
    std::optional<std::vector<QImage>> frame_bitmaps;  // absent until the first animation

    // ---- Settings synchronisation.
    // Reads every control into its field in the panel's fixed order and checks ranges.
    // The first failure shows its message, puts the focus on that edit with its text
    // selected, and ends the exchange (an out-of-range value is already stored). 1/0.
    int ReadControls();
    // Writes every field into its control (a check-box value outside 0..2 becomes 0).
    void WriteControls();
    void UpdateMirror();
    void UpdateFromMirror();

    // ---- Commands, as the buttons run them.
    // The standard sequence: stop playback, read the controls (a failed read ends the
    // command after its message: nothing is computed with an invalid value), update
    // `mirror`, force the command's settings, then compute in full when anything on the
    // command's list changed (or the command differs from the last one), else only
    // re-colour; show the engine's values and the picture.
    void LicCommand();
    void MagLicCommand();
    void EnhanceCommand();
    // Re-colours with the check box's state and sets the caption. Only the colour mapping
    // goes into `mirror`; other values typed since the last command stay pending.
    void ColorMappingCommand();
    // Choose a vector-field file (rewriting only the field buttons, all unchecked) or an
    // input image. A path of 200 bytes or more is refused with a message and the
    // previous path stays; a cancelled dialog changes nothing.
    void RealDataCommand();
    void ImageCommand();
    // Writes the picture shown as a 24-bit BMP file; a failed write is reported with the
    // path. Does nothing before the first picture.
    void SaveLicImageCommand();
    // Progressive LIC: computes the picture pass by pass (lod x lod passes) with a progress
    // bar and a repaint after each; between passes the window handles its pending events,
    // so a left drag on the picture marks a region, and that pass and every later one are
    // computed on it (outside it the picture stays black). The other commands are
    // disabled meanwhile; the view's mouse handlers stay live.
    void ProLicCommand();
    // The LIC of the chosen input image (nothing before one is chosen), with or without
    // force extraction; releases the animation frames and switches a file field back to
    // "  Saddle".
    void LicingCommand();
    // Has the engine write the frames of a Hanning 30 / white-noise animation, loads them
    // and plays them. Pressed again with nothing relevant changed it only restarts
    // playback. Frames that could not be written are reported, and nothing plays.
    void AnimationCommand();
    // Writes the loaded animation's frame files into an AVI file; the compression options
    // are asked at the first frame. Any failure (a cancelled choice and a frame file that
    // cannot be read included) shows "Error with avi file!". Nothing before an animation.
    void SaveAnimationCommand();
    // Runs a computing command by its code again, as if its button had been pressed;
    // codes without a command here (LICing) run nothing, and so does any code while the
    // progressive passes run.
    void RunCommand(int code);

    // ---- The image view.
    // Redraws the view now from the engine's colour image, or the current frame while
    // an animation plays, one image pixel per screen pixel from (scroll_x, scroll_y),
    // black where the image does not reach. Nothing is drawn before the first picture.
    void Paint();
    // The mouse, in client coordinates. Ctrl+left / Ctrl+right mirror the picture (rows /
    // columns); Shift+left saves the field as LIC_Flow%03d.vec in the current directory;
    // a left drag pans (or marks a region while progressive LIC runs); a right drag of at
    // least 5 x 5 pixels on the picture runs the last command again zoomed into it; a
    // double click toggles colouring by direction, or pauses and resumes an animation.
    // Moving the pointer over the view shows its position in "Left" and "Top". Only the
    // release of a plain press acts, and nothing pans or selects while mirrored.
    // LeftButtonUp returns 1 when it marked a region for the progressive passes.
    void LeftButtonDown(QPoint p, Qt::KeyboardModifiers keys);
    int LeftButtonUp(QPoint p);
    void LeftDoubleClick(QPoint p, Qt::KeyboardModifiers keys);
    void RightButtonDown(QPoint p, Qt::KeyboardModifiers keys);
    void RightButtonUp(QPoint p);
    void MouseMove(QPoint p, Qt::MouseButtons buttons);

    // ---- Playback and caption. Frames are LICAnimation/frame00.bmp onwards, played in a
    // ring on one timer; a frame that cannot be read plays as black.
    void StopPlayback();
    void RestartPlayback(int fps);
    void ResizeFrameTable(int count);
    void LoadFrames(int fps, int count);
    void ReleaseFrames();
    void TimerTick();
    void RateChange();
    void PauseOrResume();
    void SetCaption();
    // The timer interval for a rate of `fps` frames per second: the integer part of
    // 1000 / fps, with the rate first clamped into 1..100.
    static int PlaybackInterval(int fps);
    // Frame file i: LICAnimation/frame<i / 10><i % 10>.bmp below the engine's animation
    // directory (the current directory unless changed).
    std::filesystem::path FramePath(int i) const;
    const QTimer& PlaybackTimer() const { return playback_timer_; }

    // ---- About.
    void ShowAbout();

    // ---- The viewer: a resizable window beside this one that shows the picture (or the
    // playing animation) scaled, with the values under the pointer. It only reads the
    // engine. Opened from the system menu ("Viewer") and with F2; one per window.
    void OpenViewer();
    ViewerWindow* Viewer() const { return viewer_; }

    // ---- Files from the desktop (a program argument or a drop): a field file of any
    // format or a photograph, told by its content, is chosen as " Real Data ..." or
    // "Image ..." would choose it. A file that cannot be read, a folder, a named pipe or a
    // device gets a message, and the field and image chosen before stay. 1 when chosen.
    int OpenDesktopFile(const QString& path);

    // ---- Display choices beyond the panel (colour map, norm, contrast, coordinates,
    // boundaries, orientation, scale), asked through the seam ("Display ...", Ctrl+D). An
    // accepted choice is held until the next computing command, which hands it to the
    // engine and computes in full; a field file is then read again when its coordinates or
    // colour variable changed. Texts that make no picture get the renderer's message, and
    // the choices made before stay.
    void DisplayCommand();
    DisplayTexts display_texts;  // as last accepted; empty texts: today's pictures

    DialogSeam& seam() const { return *seam_; }
    // While the progressive passes run, no other command may start.
    bool ProLicRunning() const { return prolic_running_; }

signals:
    // The picture shown may have changed: after every drawing of the view (each computed
    // picture, each progressive pass, each animation frame, mirroring and re-colouring).
    void PictureChanged();

public:
    // The widget of a panel control, or null.
    QWidget* Control(int id) const;
    QtHost& host() { return host_; }
    const DialogTemplate& Template() const { return template_; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    struct Binding;
    static const Binding kBindings[];

    void BuildPanel();
    void ConnectCommands();
    QLineEdit* Edit(int id) const;
    int ReadBinding(const Binding& b);
    void WriteBinding(const Binding& b);
    void WriteControl(int id);
    void Fail(QLineEdit* edit, const QString& text);
    int CheckedIndex(int first_id) const;
    void CheckIndex(int first_id, int index);

    // The standard computing sequence of LIC, MagLIC and Enhance.
    void RunStandardCommand(int code);
    // After a computation: the settings the engine may have changed back into `mirror`,
    // the window's fields and the panel.
    void TakeBackSettings();
    // The computed picture is ready: draw it; a chosen field file has now been read.
    void ShowComputedPicture();
    bool NeedsFullComputation(int code) const;
    // Stores a chosen path in `slot`; a path too long for the settings record is
    // refused with a message, and `slot` keeps the previous path. 1/0.
    int AcceptPath(const QString& chosen, std::string& slot, const char* what);
    // For a NumPy, NetCDF or CSV file: asks what to take when there is a choice and reads it
    // once, so that a file that cannot be used is named in a message and refused (0). A .vec
    // file passes as it is.
    int ChooseImport(const QString& chosen, ImportOptions& options);
    // Makes `chosen` the field file for the next computation, as " Real Data ..." does. 1/0.
    int TakeFieldFile(const QString& chosen, const ImportOptions& options);
    void SaveFieldSnapshot();
    // Disables the enabled command buttons (and the Color Mapping check box, which
    // re-colours); returns them for re-enabling.
    std::vector<QWidget*> DisableCommands();
    // Hands the Display choices accepted since the last computation to the engine; true when
    // there were any, and so the picture must be computed in full.
    bool TakeDisplayChoices();
    // `options` with the coordinates and colour variable the next read of a field file takes.
    ImportOptions WithDisplayChoices(ImportOptions options) const;

    bool FlipActive() const;
    void ComposeView();
    void DrawImage();
    void DrawFrame();
    // Moves the rubber band on the screen (`focus_rect`) to `next`, drawn or not.
    void MoveBand(const PixelRect& next, bool draw);
    void ShowRegion(bool with_corners);

    std::unique_ptr<DialogSeam> own_seam_;
    DialogSeam* seam_;
    QtHost host_;
    DialogTemplate template_;
    std::map<int, QWidget*> controls_;
    std::map<int, QButtonGroup*> radio_groups_;  // by the id of each group's first button
    QWidget* view_frame_ = nullptr;
    QImage view_image_;
    bool band_shown_ = false;
    // Whether the press that began the current drag was a plain one that set the anchor.
    bool left_drag_armed_ = false;
    bool right_drag_armed_ = false;
    bool prolic_running_ = false;
    QTimer playback_timer_;
    ViewerWindow* viewer_ = nullptr;  // a child window, made on first use
    std::optional<DisplayChoices> display_pending_;
};

}  // namespace flowloom
