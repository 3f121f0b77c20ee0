#pragma once

#include <QSize>
#include <QString>
#include <map>
#include <string>
#include <vector>

#include "app/dialog_template.h"

class QFont;
class QIcon;
class QWidget;

namespace flowloom {

// The dialog templates and strings compiled into the application.
inline constexpr const char* kMainWindowTemplate = ":/flowloom/main_window.dlg";
inline constexpr const char* kAboutBoxTemplate = ":/flowloom/about_box.dlg";
inline constexpr const char* kStringTable = ":/flowloom/strings.txt";
inline constexpr const char* kIconResource = ":/flowloom/icon128.png";

// A template or string table from the application's resources. They are part of the
// program, so one that is missing or does not parse is a broken build: the process
// ends with a message naming it.
DialogTemplate LoadDialogTemplate(const char* resource);
QString LoadString(int id);
// The application icon (resource 128).
QIcon ApplicationIcon();

// The font of every dialog: a sans-serif face at 11 pixels, close to the metrics that
// the templates were laid out for.
QFont DialogFont();

// The client size of a template in pixels.
QSize TemplatePixelSize(const DialogTemplate& dialog);

// The widgets of a template, created as children of `parent` at the pixel rectangles of
// their controls. Group boxes, labels and frames lie below the other controls and let the
// mouse through to `parent`; each label names the nearest edit to its right as its buddy.
// Radio buttons are not exclusive here: the owner groups them by the template walk.
// Controls keep their places whatever the font: when a text is wider than its control,
// the whole dialog gets a smaller font (`parent`'s, down to 8 pixels), so that all texts
// stay one size. The tab order is the template order.
struct TemplateWidgets {
    std::map<int, QWidget*> by_id;  // controls with an id
    std::vector<QWidget*> statics;  // frames, group boxes, labels and icons, in template order
    QWidget* frame = nullptr;       // the first frame, or null
};
TemplateWidgets BuildTemplateWidgets(const DialogTemplate& dialog, QWidget* parent);

}  // namespace flowloom
