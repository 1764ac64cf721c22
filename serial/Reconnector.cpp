#include "serial/Reconnector.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <dirent.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

#include "serial/DeviceWatch.h"
#include "serial/PosixSerialPort.h"

namespace skiro {

namespace {

std::string realPathOf(const std::string& path) {
    char* real = ::realpath(path.c_str(), nullptr);
    if (!real)
        return {};
    std::string text(real);
    std::free(real);
    return text;
}

bool isCharDevice(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISCHR(st.st_mode);
}

} // namespace

std::string byIdAlias(const std::string& path, const std::string& byIdFolder) {
    if (path.starts_with(byIdFolder + "/"))
        return {};
    const std::string device = realPathOf(path);
    if (device.empty())
        return {};
    DIR* folder = ::opendir(byIdFolder.c_str());
    if (!folder)
        return {};
    std::string alias;
    while (const dirent* entry = ::readdir(folder)) {
        if (entry->d_name[0] == '.')
            continue;
        const std::string candidate = byIdFolder + "/" + entry->d_name;
        if (realPathOf(candidate) == device) {
            alias = candidate;
            break;
        }
    }
    ::closedir(folder);
    return alias;
}

Reconnector::Reconnector(std::vector<std::string> paths, Dcb dcb, PortGuards guards, Opened opened)
    : m_paths(std::move(paths)), m_dcb(dcb), m_guards(std::move(guards)),
      m_opened(std::move(opened)) {}

Reconnector::~Reconnector() {
    stop();
}

bool Reconnector::start() {
    if (m_thread.joinable())
        return true;
    m_wakeFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (m_wakeFd < 0)
        return false;
    m_stopping = false;
    try {
        m_thread = std::thread([this] { run(); });
    } catch (const std::system_error&) {
        ::close(m_wakeFd);
        m_wakeFd = -1;
        return false;
    }
    return true;
}

void Reconnector::stop() {
    if (!m_thread.joinable())
        return;
    m_stopping = true;
    const std::uint64_t one = 1;
    (void)!::write(m_wakeFd, &one, sizeof one);
    m_thread.join();
    ::close(m_wakeFd);
    m_wakeFd = -1;
}

bool Reconnector::tryOpen(bool& present) {
    present = false;
    for (const std::string& path : m_paths) {
        if (m_stopping)
            return false;
        if (!isCharDevice(path))
            continue;
        present = true;
        auto port = std::make_shared<PosixSerialPort>(m_guards);
        // What the sender has sent since the device came back is kept: it is text to show.
        if (port->open(path, m_dcb, true).ok()) {
            if (m_opened)
                m_opened(std::move(port), path);
            return true;
        }
    }
    return false;
}

void Reconnector::run() {
    // As the watch thread: below the user-interface thread, but not at the idle level, whose
    // wake-ups a loaded machine delays.
    (void)::setpriority(PRIO_PROCESS, static_cast<id_t>(::gettid()), 10);

    DeviceWatch watch(m_addWatch);
    for (const std::string& path : m_paths)
        watch.watchFolderOf(path);
    int retryMs = kFirstRetryMs;
    while (!m_stopping) {
        bool present = false;
        if (tryOpen(present))
            return;
        // Nothing to open: sleep until a folder changes. Where a folder is not watched (no
        // inotify, or the user's watches used up) the device is looked for once a second,
        // which costs next to nothing either, and the watches are tried again.
        const bool watching = watch.watching();
        int timeoutMs = watching ? -1 : kLastRetryMs;
        if (present) {
            timeoutMs = retryMs;
            retryMs = std::min(retryMs * 2, kLastRetryMs);
        }
        pollfd fds[2] = {{m_wakeFd, POLLIN, 0}, {watch.fd(), POLLIN, 0}};
        const int ready = ::poll(fds, watch.ok() ? 2 : 1, timeoutMs);
        if (ready < 0 && errno != EINTR) {
            // The wait itself failed: the view still says the session waits, so it goes on
            // waiting, by time.
            if (sleepOrStop(kLastRetryMs))
                return;
            continue;
        }
        if (m_stopping || (ready > 0 && fds[0].revents))
            return;
        if (ready > 0 && fds[1].revents && watch.takeEvents())
            retryMs = kFirstRetryMs;
        else if (!watching)
            watch.rearm();
    }
}

bool Reconnector::sleepOrStop(int timeoutMs) {
    constexpr int kStepMs = 20;
    for (int slept = 0; slept < timeoutMs && !m_stopping; slept += kStepMs)
        std::this_thread::sleep_for(std::chrono::milliseconds(kStepMs));
    return m_stopping.load();
}

} // namespace skiro
