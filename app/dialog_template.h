#pragma once

#include <map>
#include <string>
#include <vector>

namespace flowloom {

// The kinds of control a dialog template can hold.
enum class ControlKind {
    kFrame,  // static black frame, sunken (the image view's border)
    kPushButton,
    kCancelButton,   // a push button that closes the dialog
    kDefaultButton,  // a push button that accepts the dialog
    kRadioButton,    // auto radio button
    kCheckBox,       // auto check box
    kEdit,           // bordered, auto-scrolling one-line edit
    kGroupBox,
    kLabel,  // static text, left-aligned
    kIcon,   // the application icon
};

// One control of a template. Places are in dialog units; `id` is -1 for statics.
struct DialogControl {
    int id = -1;
    ControlKind kind = ControlKind::kLabel;
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
    bool group_start = false;
    std::string text;
};

// A dialog template kept as data: its size in dialog units, its title and its controls
// in template order (which is also the tab order).
struct DialogTemplate {
    int id = 0;
    int width = 0;
    int height = 0;
    std::string title;
    std::vector<DialogControl> controls;

    // The control with this id, or null (statics, id -1, are never found).
    const DialogControl* Find(int control_id) const;
    // The radio buttons of the group that starts at `first_id`: walks the controls in
    // template order from that button up to the next control that starts a group,
    // counting radio buttons only. Empty when `first_id` is not a radio button.
    std::vector<int> RadioGroup(int first_id) const;
};

// Parses a template table: '#' comments and blank lines are skipped, one line
// `dialog <id> <width> <height> "<title>"` comes first, then one line per control,
// `<id> <kind> <x> <y> <width> <height> <group|-> "<text>"`. Returns 1, or 0 with
// `error` naming the offending line; `out` is complete only on success.
int ParseDialogTemplate(const std::string& text, DialogTemplate& out, std::string& error);

// Parses a string table, one `<id> "<text>"` per line. 1 on success, 0 with `error`.
int ParseStringTable(const std::string& text, std::map<int, std::string>& out, std::string& error);

// Dialog units to pixels for a font with base units of 6 x 13 pixels: 1.5 pixels per
// unit across and 1.625 down, rounded half up (units of 0 or more; the parser refuses
// negative places). Rectangles convert their edges, so that
// controls that touch in units touch in pixels.
int DialogUnitsToPixelsX(int units);
int DialogUnitsToPixelsY(int units);

// A rectangle as left, top, right, bottom; right and bottom are outside it.
struct PixelRect {
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;

    int Width() const { return right - left; }
    int Height() const { return bottom - top; }
    // left <= x < right and top <= y < bottom.
    bool Contains(int x, int y) const { return x >= left && x < right && y >= top && y < bottom; }
    bool operator==(const PixelRect&) const = default;
};

PixelRect ControlPixelRect(const DialogControl& control);

}  // namespace flowloom
