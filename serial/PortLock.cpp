#include "serial/PortLock.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace skiro {

namespace {

// A lock file without a pid may be one that its maker has created and not yet written; only
// one older than this is taken for a leftover.
constexpr time_t kUnwrittenLockSeconds = 10;

// Parses the pid of a lock file: ten ASCII digits padded with blanks and a line feed, as
// written today, or the four binary bytes of the oldest UUCP programs. 0 when neither.
long lockPid(const char* data, ssize_t size) {
    long pid = 0;
    ssize_t at = 0;
    while (at < size && (data[at] == ' ' || data[at] == '\t'))
        ++at;
    bool digits = false;
    while (at < size && data[at] >= '0' && data[at] <= '9' && pid < 100000000L) {
        pid = pid * 10 + (data[at] - '0');
        digits = true;
        ++at;
    }
    if (digits)
        return pid;
    if (size == 4) {
        int binary = 0;
        __builtin_memcpy(&binary, data, 4);
        return binary > 0 ? binary : 0;
    }
    return 0;
}

bool isNumber(const char* name) {
    if (!*name)
        return false;
    for (const char* c = name; *c; ++c) {
        if (*c < '0' || *c > '9')
            return false;
    }
    return true;
}

// The lock folders as real paths, each once.
std::vector<std::string> realFolders(const std::vector<std::string>& folders) {
    std::vector<std::string> out;
    for (const std::string& folder : folders) {
        char* real = ::realpath(folder.c_str(), nullptr);
        if (!real)
            continue;
        std::string path(real);
        std::free(real);
        bool seen = false;
        for (const std::string& other : out)
            seen = seen || other == path;
        if (!seen)
            out.push_back(std::move(path));
    }
    return out;
}

bool writeAll(int fd, const std::string& text) {
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

std::string pidLine() {
    char line[32];
    std::snprintf(line, sizeof line, "%10ld\n", static_cast<long>(::getpid()));
    return line;
}

// The number N of a pseudo-terminal's slave /dev/pts/N, -1 for any other device.
long ptyIndex(dev_t device) {
    const unsigned int group = major(device);
    if (group < 136 || group > 143)
        return -1;
    return static_cast<long>(group - 136) * 256 + static_cast<long>(minor(device));
}

// The slave number of the pseudo-terminal whose master a descriptor holds, as its fdinfo file
// tells it ("tty-index:"); -1 when it does not.
long masterIndex(const std::string& fdInfo) {
    std::FILE* file = std::fopen(fdInfo.c_str(), "re");
    if (!file)
        return -1;
    long index = -1;
    char line[128];
    while (std::fgets(line, sizeof line, file)) {
        if (std::sscanf(line, "tty-index: %ld", &index) == 1)
            break;
        index = -1;
    }
    std::fclose(file);
    return index;
}

} // namespace

std::string lockFileName(const std::string& realDevice) {
    std::string name = realDevice;
    if (name.starts_with("/dev/"))
        name.erase(0, 5);
    else if (const auto slash = name.rfind('/'); slash != std::string::npos)
        name.erase(0, slash + 1);
    for (char& c : name) {
        if (c == '/')
            c = '_';
    }
    return "LCK.." + name;
}

std::string programName(long pid, const std::string& procRoot) {
    const std::string path = procRoot + "/" + std::to_string(pid) + "/comm";
    std::FILE* file = std::fopen(path.c_str(), "re");
    if (!file)
        return {};
    char name[64] = {};
    const bool read = std::fgets(name, sizeof name, file) != nullptr;
    std::fclose(file);
    if (!read)
        return {};
    std::string text(name);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
        text.pop_back();
    return text;
}

std::optional<PortHolder> findPortHolder(dev_t device, const std::string& procRoot) {
    DIR* proc = ::opendir(procRoot.c_str());
    if (!proc)
        return std::nullopt;
    const long self = ::getpid();
    const long pty = ptyIndex(device);
    std::optional<PortHolder> found;
    while (!found) {
        const dirent* entry = ::readdir(proc);
        if (!entry)
            break;
        if (!isNumber(entry->d_name))
            continue;
        const long pid = std::strtol(entry->d_name, nullptr, 10);
        if (pid == self)
            continue;
        // Another user's descriptors cannot be seen; TIOCEXCL keeps those out instead.
        const std::string fdFolder = procRoot + "/" + entry->d_name + "/fd";
        DIR* fds = ::opendir(fdFolder.c_str());
        if (!fds)
            continue;
        bool holdsDevice = false;
        bool holdsFarEnd = false;
        while (const dirent* fd = ::readdir(fds)) {
            struct stat st {};
            if (fd->d_name[0] == '.' || ::fstatat(::dirfd(fds), fd->d_name, &st, 0) != 0 ||
                !S_ISCHR(st.st_mode))
                continue;
            if (st.st_rdev == device)
                holdsDevice = true;
            else if (pty >= 0 && st.st_rdev == makedev(5, 2) &&
                     masterIndex(procRoot + "/" + entry->d_name + "/fdinfo/" + fd->d_name) == pty)
                holdsFarEnd = true;
        }
        ::closedir(fds);
        // A program that holds the pseudo-terminal's master is the far end of the line (socat
        // keeps the slave open beside it so that the line stays up), not a second reader.
        if (holdsDevice && !holdsFarEnd)
            found = PortHolder{pid, programName(pid, procRoot)};
    }
    ::closedir(proc);
    return found;
}

std::optional<PortHolder> PortLock::liveHolder(const std::string& file) const {
    const int fd = ::open(file.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return errno == ENOENT ? std::nullopt : std::optional<PortHolder>(PortHolder{});
    char data[64];
    ssize_t size = 0;
    do {
        size = ::read(fd, data, sizeof data);
    } while (size < 0 && errno == EINTR);
    struct stat st {};
    const bool stated = ::fstat(fd, &st) == 0;
    ::close(fd);
    const long pid = size > 0 ? lockPid(data, size) : 0;
    if (pid > 0) {
        // This process's own pid: another port of this program holds the device, which the
        // message need not name.
        if (pid == ::getpid())
            return PortHolder{};
        if (::kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM)
            return PortHolder{pid, programName(pid, m_guards.procRoot)};
    } else if (!stated || std::time(nullptr) - st.st_mtime < kUnwrittenLockSeconds) {
        return PortHolder{};
    }
    // Left behind by a process that has ended (or by a maker that never wrote it): the device
    // is free, and the leftover would only keep other programs out.
    if (::unlink(file.c_str()) != 0 && errno != ENOENT)
        return PortHolder{pid, {}};
    return std::nullopt;
}

bool PortLock::acquire(const std::string& realDevice, PortHolder& holder) {
    release();
    const std::string name = lockFileName(realDevice);
    const std::vector<std::string> folders = realFolders(m_guards.lockFolders);
    for (const std::string& folder : folders) {
        if (auto other = liveHolder(folder + "/" + name)) {
            holder = *other;
            return false;
        }
    }
    const std::string line = pidLine();
    for (const std::string& folder : folders) {
        const std::string file = folder + "/" + name;
        // Written in full under a name of its own, then linked into place: the lock file is
        // never seen empty, and link() fails when another program got there first.
        static std::atomic<unsigned> made{0};
        const std::string temp =
            folder + "/LCK.skiro." + std::to_string(::getpid()) + "." + std::to_string(made++);
        const int flags = O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW;
        int fd = ::open(temp.c_str(), flags, 0644);
        if (fd < 0 && errno == EEXIST) {
            // Left by an earlier process that had the same pid.
            ::unlink(temp.c_str());
            fd = ::open(temp.c_str(), flags, 0644);
        }
        if (fd < 0)
            continue; // a folder this user may not write
        const bool written = writeAll(fd, line);
        ::close(fd);
        if (!written) {
            ::unlink(temp.c_str());
            continue;
        }
        for (int attempt = 0; attempt < 3; ++attempt) {
            if (::link(temp.c_str(), file.c_str()) == 0) {
                ::unlink(temp.c_str());
                m_file = file;
                return true;
            }
            if (errno != EEXIST)
                break;
            if (auto other = liveHolder(file)) {
                ::unlink(temp.c_str());
                holder = *other;
                return false;
            }
        }
        ::unlink(temp.c_str());
    }
    return true;
}

void PortLock::release() {
    if (m_file.empty())
        return;
    const int fd = ::open(m_file.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd >= 0) {
        char data[64];
        const ssize_t size = ::read(fd, data, sizeof data);
        ::close(fd);
        if (size > 0 && lockPid(data, size) == ::getpid())
            ::unlink(m_file.c_str());
    }
    m_file.clear();
}

} // namespace skiro
