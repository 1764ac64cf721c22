#include <QFile>
#include <QFileInfo>
#include <QSocketNotifier>

#include <algorithm>
#include <csignal>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include "app/AppSystem.h"

namespace skiro {
namespace {

int g_signalPipe[2] = {-1, -1};

void onTerminationSignal(int) {
    const char byte = 1;
    // Only async-signal-safe work here: the close itself runs on the user-interface thread.
    [[maybe_unused]] const ssize_t written = ::write(g_signalPipe[1], &byte, 1);
}

// The read end of the signals' pipe; the pipe goes with it.
class SignalNotifier final : public QSocketNotifier {
  public:
    SignalNotifier(QObject* owner, std::function<void()> close)
        : QSocketNotifier(g_signalPipe[0], QSocketNotifier::Read, owner) {
        connect(this, &QSocketNotifier::activated, this, [close = std::move(close)] {
            char byte = 0;
            [[maybe_unused]] const ssize_t got = ::read(g_signalPipe[0], &byte, 1);
            close();
        });
    }
    ~SignalNotifier() override {
        setEnabled(false);
        ::close(g_signalPipe[0]);
        ::close(g_signalPipe[1]);
        g_signalPipe[0] = g_signalPipe[1] = -1;
    }
};

} // namespace

std::string pathBytes(const QString& path) {
    return QFile::encodeName(path).toStdString();
}

bool canWriteIn(const QString& folder) {
    return QFileInfo(folder).isWritable();
}

void closeOnTermination(QObject* owner, std::function<void()> close) {
    if (g_signalPipe[0] >= 0)
        return;
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, g_signalPipe) != 0)
        return;
    new SignalNotifier(owner, std::move(close));
    struct sigaction action {};
    action.sa_handler = onTerminationSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGHUP, &action, nullptr);
}

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

// No DDE and no 秀Term here: the Send service is the one way in.
struct SystemInlets::Parts {};

SystemInlets::SystemInlets(const QString&, QWidget*, Deliver) {}

SystemInlets::~SystemInlets() = default;

void SystemInlets::shutdown() {}

bool SystemInlets::linkTerm() {
    return false;
}

void SystemInlets::unlinkTerm() {}

} // namespace skiro
