#pragma once

namespace flowloom {

// The process's application object: runs the one main window as a modal dialog. The
// program ends when the window does; what ended it is not looked at.
class Application {
public:
    // Needs a QApplication. Returns the process's exit status, 0.
    int Run();
};

}  // namespace flowloom
