#include <QApplication>
#include <QFileInfo>
#include <QLibraryInfo>
#include <QTranslator>
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <sys/resource.h>

#include "app/CMarelApp.h"

namespace {

// "--web" or "--web=PORT": the web view on for this run. Returns -1 for a port that is no port.
int webOption(const char* arg) {
    if (std::strcmp(arg, "--web") == 0)
        return 0;
    const QByteArray value = QByteArray(arg).mid(6);
    bool ok = false;
    const int port = value.toInt(&ok);
    return ok && port >= 1 && port <= 65535 ? port : -1;
}

// Every viewer of the web view, every feed client and every log write holds a file descriptor.
// The soft limit (often 1,024) is raised toward the hard one, so that a hall full of phones or
// clients that misbehave do not use them all up. Capped, because programs started from here
// (the browser that shows the help) may not expect a limit in the millions.
void raiseDescriptorLimit() {
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0)
        return;
    const rlim_t wanted = std::min<rlim_t>(limit.rlim_max, 65536);
    if (limit.rlim_cur < wanted) {
        limit.rlim_cur = wanted;
        ::setrlimit(RLIMIT_NOFILE, &limit);
    }
}

} // namespace

int main(int argc, char* argv[]) {
    raiseDescriptorLimit();
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("skiro"));
    // The program speaks Japanese whatever the desktop's language, and so do the font and
    // colour choosers and the message boxes' buttons that Qt provides.
    QTranslator qtTexts;
    if (qtTexts.load(QStringLiteral("qtbase_ja"),
                     QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QApplication::installTranslator(&qtTexts);
    const QFileInfo exe(QCoreApplication::applicationFilePath());
    skiro::CMarelApp app(exe.absolutePath(), exe.completeBaseName());
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--web") == 0 || std::strncmp(argv[i], "--web=", 6) == 0) {
            const int port = webOption(argv[i]);
            if (port < 0) {
                std::fprintf(stderr,
                             "skiro: --web=PORT: the port must be a number from 1 to 65535\n");
                return 2;
            }
            app.setWebForThisRun(port);
        }
    }
    app.closeOnTerminationSignals();
    if (!app.initInstance())
        return 1;
    return QApplication::exec();
}
