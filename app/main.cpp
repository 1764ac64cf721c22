#include <QApplication>
#include <QFileInfo>
#include <QLibraryInfo>
#include <QTranslator>
#include <cstdio>

#include "app/CMarelApp.h"
#include "core/CommandLine.h"

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
    return QApplication::exec();
}
