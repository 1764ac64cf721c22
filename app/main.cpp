#include <QApplication>
#include <QFileInfo>
#include <QLibraryInfo>
#include <QTranslator>
#include <algorithm>
#include <cstdio>
#include <mutex>

#include "app/AppSystem.h"
#include "app/CMarelApp.h"
#include "core/CommandLine.h"
#include "core/MessageThrottle.h"

namespace {

// Qt's own diagnostics go through a throttle: a flood of misbehaving web clients makes Qt say
// the same line for each of them, thousands a second, which would cost the display its time
// and fill the desktop's journal. Messages come from the web view's thread as well.
QtMessageHandler g_qtHandler = nullptr;
std::mutex g_throttleMutex;
skiro::MessageThrottle g_throttle;

void tellHeldBack(std::size_t heldBack) {
    if (heldBack > 0)
        g_qtHandler(
            QtWarningMsg, QMessageLogContext(),
            QStringLiteral("skiro: %1 more messages were held back (each minute at most %2 of a "
                           "kind and %3 in all are written)")
                .arg(heldBack)
                .arg(skiro::MessageThrottle::kPerText)
                .arg(skiro::MessageThrottle::kInAll));
}

void throttledMessage(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    if (type == QtFatalMsg) {
        g_qtHandler(type, context, message);
        return;
    }
    skiro::MessageThrottle::Verdict verdict;
    {
        const std::lock_guard lock(g_throttleMutex);
        const std::string key =
            std::string(context.category ? context.category : "") + '\n' + message.toStdString();
        verdict = g_throttle.admit(key, skiro::MessageThrottle::Clock::now());
    }
    tellHeldBack(verdict.heldBackBefore);
    if (verdict.write)
        g_qtHandler(type, context, message);
}

} // namespace

int main(int argc, char* argv[]) {
    // The command line is read before Qt starts, so that --help and --version answer without a
    // display and a mistyped option says so instead of opening the window.
    const skiro::CommandLine options =
        skiro::parseCommandLine(std::vector<std::string_view>(argv + 1, argv + argc));
    switch (options.action) {
    case skiro::CommandLine::Action::Help: {
        // Where this copy of the program finds its help pages, for a user looking for them.
        QCoreApplication core(argc, argv);
        std::printf("%s\nHelp pages: %s\n", skiro::commandLineUsage().c_str(),
                    qPrintable(skiro::helpFolder(QCoreApplication::applicationDirPath())));
        return 0;
    }
    case skiro::CommandLine::Action::Version:
        std::printf("skiro %s\n", SKIRO_VERSION);
        return 0;
    case skiro::CommandLine::Action::UsageError:
        std::fprintf(stderr, "skiro: %s\nTry 'skiro --help' for more information.\n",
                     options.error.c_str());
        return 2;
    case skiro::CommandLine::Action::Run:
        break;
    }
    skiro::raiseDescriptorLimit();
    g_qtHandler = qInstallMessageHandler(throttledMessage);

    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("skiro"));
    QApplication::setApplicationVersion(QStringLiteral(SKIRO_VERSION));
    // The desktop matches the window to its menu entry and icon by this name.
    QGuiApplication::setDesktopFileName(QStringLiteral("skiro"));
    // The program speaks Japanese whatever the desktop's language, and so do the font and
    // colour choosers and the message boxes' buttons that Qt provides.
    QTranslator qtTexts;
    if (qtTexts.load(QStringLiteral("qtbase_ja"),
                     QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QApplication::installTranslator(&qtTexts);
    const QFileInfo exe(QCoreApplication::applicationFilePath());
    skiro::CMarelApp app(exe.absolutePath(), exe.completeBaseName());
    if (options.web)
        app.setWebForThisRun(options.webPort);
    app.closeOnTerminationSignals();
    if (!app.initInstance())
        return 1;
    const int status = QApplication::exec();
    {
        const std::lock_guard lock(g_throttleMutex);
        tellHeldBack(g_throttle.takeHeldBack());
    }
    return status;
}
