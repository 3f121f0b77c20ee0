#include "app/application.h"

#include <QApplication>
#include <QTimer>

#include "app/main_window.h"

namespace flowloom {

int Application::Run(const QString& file) {
    MainWindow window;
    QApplication::setWindowIcon(window.icon);
    // Once the window is up, so that a message about the file has a window to stand on.
    if (!file.isEmpty()) QTimer::singleShot(0, &window, [&window, file] { window.OpenDesktopFile(file); });
    window.exec();
    return 0;
}

QString FileArgument(const QStringList& arguments, int& extra) {
    QString file;
    extra = 0;
    bool options_end = false;
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        const QString& argument = arguments[i];
        if (!options_end && argument == QStringLiteral("--")) {
            options_end = true;
            continue;
        }
        if (!options_end && argument.startsWith('-') && argument.size() > 1) continue;
        if (file.isEmpty())
            file = argument;
        else
            ++extra;
    }
    return file;
}

}  // namespace flowloom
