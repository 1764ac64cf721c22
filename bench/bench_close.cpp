// Closing the whole application while a long backlog waits to be shown: how long until the
// window is off the screen, how long the close takes in all (the backlog recorded to the log,
// the profile written), and whether every waiting line reached the log. Backlogs of 280,000
// lines and of the number of lines given as the first argument (default 12,000,000).
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "app/CMainFrame.h"
#include "app/CMarelApp.h"
#include "display/CMarelView.h"
#include "sjis/Sjis.h"

namespace {

using Steady = std::chrono::steady_clock;

double ms(Steady::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

// Notes when the window leaves the screen.
class HideWatch : public QObject {
  public:
    Steady::time_point hidden{};
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Hide && hidden == Steady::time_point{})
            hidden = Steady::now();
        return QObject::eventFilter(watched, event);
    }
};

std::size_t countLines(const QString& folder) {
    std::size_t lines = 0;
    for (const QString& name : QDir(folder).entryList({"*.log"}, QDir::Files)) {
        QFile log(QDir(folder).filePath(name));
        if (!log.open(QIODevice::ReadOnly))
            continue;
        while (!log.atEnd())
            lines += static_cast<std::size_t>(log.read(1 << 20).count('\n'));
    }
    return lines;
}

void closeWith(std::size_t waiting) {
    QTemporaryDir folder;
    QTemporaryDir runtime;
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime.path()));
    skiro::CMarelApp app(folder.path(), "skiro");
    if (!app.initInstance())
        std::exit(1);
    auto* view = qobject_cast<skiro::CMarelView*>(app.frame()->centralWidget());
    const std::string line = skiro::toSjis(QStringLiteral("ただいまの発言を字幕で表示しています"));
    std::string received = "first\r";
    received.reserve(waiting * (line.size() + 9) + 16);
    for (std::size_t i = 0; i < waiting; ++i)
        (received += line) += std::to_string(i % 10000000) + "\r";
    view->receiveText(received);
    received = {};
    QCoreApplication::processEvents();

    HideWatch watch;
    app.frame()->installEventFilter(&watch);
    const auto start = Steady::now();
    app.frame()->close();
    const auto done = Steady::now();
    // The first line, the stamp and every waiting line.
    const bool recorded = countLines(folder.path()) == waiting + 2;
    std::printf("close_with_backlog_ms: %.0f ms until the window is off the screen, %.0f ms in "
                "all (%zu lines waiting, recorded: %s)\n",
                ms(watch.hidden - start), ms(done - start), waiting, recorded ? "yes" : "no");
    std::fflush(stdout);
}

} // namespace

int main(int argc, char* argv[]) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    const std::size_t most = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 12000000;
    closeWith(280000);
    closeWith(most);
    return 0;
}
