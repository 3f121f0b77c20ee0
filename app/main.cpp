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

// --help and --version answer without a display (the manual page is made from them).
// Qt's own options still reach Qt.
const char kHelp[] =
    "Usage: flowloom [QT-OPTION]... [FILE]\n"
    "Show 2D vector fields by Line Integral Convolution (LIC) in an interactive window.\n"
    "\n"
    "The window computes LIC, MagLIC, Enhance, ProLIC and Animation pictures of analytic\n"
    "fields or of vector-field files, LICs colour photographs with LICing, and saves\n"
    "pictures as PNG or BMP and animations as AVI. F2 opens the viewer: the picture\n"
    "fitted to a resizable window, zoomed with the wheel, and the values under the pointer.\n"
    "\n"
    "FILE, or a file dropped on the window, is chosen as the field or as the photograph to\n"
    "LIC, told by its content:\n"
    "  vector fields   binary or text .vec, NumPy .npy and .npz, NetCDF (classic and\n"
    "                  netCDF-4), CSV tables with a header line\n"
    "  photographs     BMP (.bmp), SGI RGB (.rgb), PNG, JPEG\n"
    "A file that cannot be read is named in a message, and the window keeps its field.\n"
    "\n"
    "Options:\n"
    "      --help        print this help and exit\n"
    "      --version     print the version and exit\n"
    "\n"
    "Qt's standard options (for example -platform NAME, -style NAME) are accepted too.\n"
    "\n"
    "Examples:\n"
    "  flowloom                                   open the window with the Saddle field\n"
    "  flowloom wind_300hpa_january.nc            choose a NetCDF wind field, then press\n"
    "                                             \"Line Integral Convolution\"\n"
    "  flowloom coffee.png                        choose a photograph, then press \"LICing\"\n"
    "\n"
    "Files:\n"
    "  LICAnimation/frame00.bmp ...   animation frames, in the current directory\n"
    "  LIC_Flow000.vec ...            field snapshots (Shift+left click), likewise\n"
    "  share/flowloom/samples         sample fields and photographs, beside the program;\n"
    "                                 the open dialogs start there\n"
    "\n"
    "flowloom-render computes the same pictures without a window.\n";

}  // namespace

int main(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--help")) {
            std::fputs(kHelp, stdout);
            return 0;
        }
        if (!std::strcmp(argv[i], "--version")) {
            std::puts("flowloom " FLOWLOOM_VERSION);
            return 0;
        }
    }
    if (!PlatformChosen(argc, argv) && !IsSet("DISPLAY") && !IsSet("WAYLAND_DISPLAY")) {
        std::fputs(kNeedsDisplay, stderr);
        return 1;
    }
    qt_handler = qInstallMessageHandler(StartUpMessage);
    QApplication qt(argc, argv);
    qInstallMessageHandler(qt_handler);
    QApplication::setApplicationName(QStringLiteral("Flowloom"));
    QApplication::setApplicationVersion(QStringLiteral(FLOWLOOM_VERSION));
    int extra = 0;
    const QString file = flowloom::FileArgument(QApplication::arguments(), extra);
    if (extra > 0) std::fprintf(stderr, "flowloom: one file at a time: %d more ignored\n", extra);
    flowloom::Application application;
    return application.Run(file);
}
