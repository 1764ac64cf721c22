#include "serial/DeviceWatch.h"

#include <cerrno>
#include <cstdint>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

namespace skiro {

namespace {

constexpr std::uint32_t kEvents = IN_CREATE | IN_DELETE | IN_MOVED_TO | IN_MOVED_FROM | IN_ATTRIB |
                                  IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR;

bool isFolder(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string parentOf(const std::string& path) {
    const auto slash = path.find_last_of('/');
    if (slash == std::string::npos)
        return ".";
    if (slash == 0)
        return "/";
    return path.substr(0, slash);
}

} // namespace

DeviceWatch::DeviceWatch(AddWatch addWatch)
    : m_addWatch(addWatch ? addWatch : &::inotify_add_watch),
      m_fd(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC)) {}

bool DeviceWatch::watching() const {
    if (m_fd < 0)
        return false;
    for (const Wanted& w : m_wanted) {
        if (w.wd < 0)
            return false;
    }
    return true;
}

void DeviceWatch::rearm() {
    for (Wanted& w : m_wanted)
        arm(w);
}

DeviceWatch::~DeviceWatch() {
    if (m_fd >= 0)
        ::close(m_fd);
}

void DeviceWatch::watchFolderOf(const std::string& path) {
    watchFolder(parentOf(path));
}

void DeviceWatch::watchFolder(const std::string& folder) {
    for (const Wanted& w : m_wanted) {
        if (w.folder == folder)
            return;
    }
    m_wanted.push_back({folder, {}, -1});
    arm(m_wanted.back());
}

void DeviceWatch::arm(Wanted& wanted) {
    if (m_fd < 0)
        return;
    for (;;) {
        std::string folder = wanted.folder;
        while (!isFolder(folder) && folder != "/" && folder != ".")
            folder = parentOf(folder);
        if (folder == wanted.watched && wanted.wd >= 0)
            return;
        // The same folder watched for two wants shares one descriptor, which inotify hands
        // out again; it is therefore not removed when one want moves on. Once watched, the
        // folders below are looked at again: one made in the meantime would go unnoticed.
        wanted.watched = folder;
        wanted.wd = m_addWatch(m_fd, folder.c_str(), kEvents);
        if (wanted.wd < 0)
            return;
    }
}

bool DeviceWatch::takeEvents() {
    if (m_fd < 0)
        return false;
    bool any = false;
    alignas(inotify_event) char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(m_fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        any = true;
        for (ssize_t at = 0; at < n;) {
            const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
            // A watched folder that went is watched no more (IN_IGNORED follows).
            if (event->mask & IN_IGNORED) {
                for (Wanted& w : m_wanted) {
                    if (w.wd == event->wd)
                        w.wd = -1;
                }
            }
            at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
        }
    }
    rearm();
    return any;
}

} // namespace skiro
