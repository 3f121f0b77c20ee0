#include <QApplication>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "app/application.h"

namespace {

const char kNeedsDisplay[] =
    "flowloom: the window needs a display, and none could be opened (see DISPLAY and WAYLAND_DISPLAY).\n"
    "flowloom-render computes the same pictures without a display; see flowloom-render --help.\n";

bool IsSet(const char* name) {
    const char* value = std::getenv(name);
    return value && *value;
}

// Whether Qt is told which platform to use: then it is not ours to judge the display.
bool PlatformChosen(int argc, char** argv) {
    for (int i = 1; i < argc; ++i)
        if (!std::strcmp(argv[i], "-platform") || !std::strcmp(argv[i], "--platform")) return true;
    return IsSet("QT_QPA_PLATFORM");
}

QtMessageHandler qt_handler = nullptr;

// Qt ends the process with a signal when no platform can start (a display that does
// not answer); while the application starts up, say what is missing and exit instead.
void StartUpMessage(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    if (type != QtFatalMsg) {
        if (qt_handler)
            qt_handler(type, context, message);
        else
            std::fprintf(stderr, "%s\n", qPrintable(message));
        return;
    }
    std::fputs(kNeedsDisplay, stderr);
    std::fflush(stderr);
    std::_Exit(1);
}

}  // namespace

int main(int argc, char** argv) {
    if (!PlatformChosen(argc, argv) && !IsSet("DISPLAY") && !IsSet("WAYLAND_DISPLAY")) {
        std::fputs(kNeedsDisplay, stderr);
        return 1;
    }
    qt_handler = qInstallMessageHandler(StartUpMessage);
    QApplication qt(argc, argv);
    qInstallMessageHandler(qt_handler);
    QApplication::setApplicationName(QStringLiteral("Flowloom"));
    QApplication::setApplicationVersion(QStringLiteral("1.0"));
    flowloom::Application application;
    return application.Run();
}
