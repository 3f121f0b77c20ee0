#include <QApplication>

#include "app/application.h"

int main(int argc, char** argv) {
    QApplication qt(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Flowloom"));
    QApplication::setApplicationVersion(QStringLiteral("1.0"));
    flowloom::Application application;
    return application.Run();
}
