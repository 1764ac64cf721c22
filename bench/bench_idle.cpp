// What the program costs while the display rests with the port open: the whole application on
// the offscreen platform, Start on a pseudo-terminal, one line shown, then nothing. At rest
// only the 500 ms clock should wake the program. With the argument "whole-steps" the display
// moves by whole steps per tick instead of gliding.
#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>
#include <fstream>
#include <pty.h>
#include <string>
#include <sys/resource.h>
#include <unistd.h>

#include "app/CMainFrame.h"
#include "app/CMarelApp.h"
#include "app/UiTexts.h"

namespace {

struct Usage {
    double cpuSeconds = 0;
    long voluntarySwitches = 0;
};

Usage usage() {
    rusage u{};
    ::getrusage(RUSAGE_SELF, &u);
    return {static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
                static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6,
            u.ru_nvcsw};
}

// The application's own event loop, blocked between events as in a real run.
void runEventsFor(int ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM",
            qgetenv("QT_QPA_PLATFORM").isEmpty() ? "offscreen" : qgetenv("QT_QPA_PLATFORM"));
    QApplication application(argc, argv);
    constexpr int kMeasureMs = 10000;

    int master = -1, slave = -1;
    char name[256] = {};
    if (::openpty(&master, &slave, name, nullptr, nullptr) != 0) {
        std::fprintf(stderr, "bench_idle: no pseudo-terminal\n");
        return 1;
    }
    ::close(slave);
    QTemporaryDir folder;
    {
        std::ofstream ini(folder.filePath("skiro.ini").toStdString(), std::ios::binary);
        ini << "[Serial]\r\nCOM1=" << name << "\r\n";
        // "whole-steps": the display moves by whole steps per tick rather than gliding.
        if (argc > 1 && std::string(argv[1]) == "whole-steps")
            ini << "[Scroll]\r\nSmooth=0\r\n";
    }
    skiro::CMarelApp app(folder.path(), "skiro");
    if (!app.initInstance())
        return 1;
    app.frame()->action(skiro::ID_START)->trigger();
    if (!app.document()->session().isOpen()) {
        std::fprintf(stderr, "bench_idle: Start did not open %s\n", name);
        return 1;
    }
    // One line comes in and the display comes to rest.
    const char line[] = "\x83\x65\x83\x58\x83\x67\r"; // テスト
    if (::write(master, line, sizeof line - 1) < 0)
        return 1;
    runEventsFor(3000);

    const Usage before = usage();
    QElapsedTimer wall;
    wall.start();
    runEventsFor(kMeasureMs);
    const Usage after = usage();
    const double seconds = static_cast<double>(wall.elapsed()) / 1000.0;
    std::printf("cpu_idle: %.3f %%\n", 100.0 * (after.cpuSeconds - before.cpuSeconds) / seconds);
    std::printf("idle_wakeups: %.1f per s\n",
                static_cast<double>(after.voluntarySwitches - before.voluntarySwitches) / seconds);

    app.frame()->close();
    ::close(master);
    return 0;
}
