#include "app/application.h"

#include <QApplication>

#include "app/main_window.h"

namespace flowloom {

int Application::Run() {
    MainWindow window;
    QApplication::setWindowIcon(window.icon);
    window.exec();
    return 0;
}

}  // namespace flowloom
