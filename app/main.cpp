#include <QApplication>
#include <QFileInfo>

#include "app/CMarelApp.h"

int main(int argc, char* argv[]) {
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("skiro"));
    const QFileInfo exe(QCoreApplication::applicationFilePath());
    skiro::CMarelApp app(exe.absolutePath(), exe.completeBaseName());
    app.closeOnTerminationSignals();
    if (!app.initInstance())
        return 1;
    return QApplication::exec();
}
