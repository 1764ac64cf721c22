#include <QApplication>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <gtest/gtest.h>

// The application's widgets need a QApplication; tests run on the offscreen platform, on a
// private session bus of their own so that desktop services can be stood in for.
int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    // Every display made here serves its "Send" service in a runtime folder of this run's own,
    // never beside a display the user is running.
    QTemporaryDir runtime;
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime.path()));
    QProcess bus;
    const QString daemon = QStandardPaths::findExecutable(QStringLiteral("dbus-daemon"));
    if (!daemon.isEmpty()) {
        bus.start(daemon, {QStringLiteral("--session"), QStringLiteral("--nofork"),
                           QStringLiteral("--print-address")});
        if (bus.waitForStarted(5000) && bus.waitForReadyRead(5000))
            qputenv("DBUS_SESSION_BUS_ADDRESS", bus.readLine().trimmed());
    } else {
        qunsetenv("DBUS_SESSION_BUS_ADDRESS");
    }
    QApplication application(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    const int result = RUN_ALL_TESTS();
    bus.kill();
    bus.waitForFinished(2000);
    return result;
}
