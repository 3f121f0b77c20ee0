#pragma once

#include <QString>
#include <QStringList>

namespace flowloom {

// The process's application object: runs the one main window as a modal dialog. The
// program ends when the window does; what ended it is not looked at.
class Application {
public:
    // Needs a QApplication. `file`, when not empty, is opened as soon as the window runs,
    // as a file dropped on it would be. Returns the process's exit status, 0.
    int Run(const QString& file = {});
};

// The file named among the program's arguments (Qt's own options already taken out, the
// program's name first): the first argument that is not an option, or "-- NAME".
// `extra` counts further names, which are not opened.
QString FileArgument(const QStringList& arguments, int& extra);

}  // namespace flowloom
