#include "core/Recorder.h"

#include <cerrno>
#include <cstdio>
#ifdef _WIN32
#include "core/WinFiles.h"
#else
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>
#endif

#include "core/TextFormat.h"

namespace skiro {

// On Windows LogAppend and appendRecord are WinFiles.cpp's.
#ifndef _WIN32
namespace {

// Another writer (a second instance logging into the same folder) holds the lock only for
// one write, so a short wait is enough; the user-interface thread must not hang on a lock that
// some other program keeps, so the wait is bounded and the line is then left out of the log.
constexpr int kLockAttempts = 20;
constexpr long kLockRetryNs = 1'000'000;

bool lockForWriting(int fd) {
    for (int attempt = 0; attempt < kLockAttempts; ++attempt) {
        if (flock(fd, LOCK_EX | LOCK_NB) == 0)
            return true;
        if (errno != EWOULDBLOCK && errno != EINTR)
            return false;
        const timespec pause{0, kLockRetryNs};
        nanosleep(&pause, nullptr);
    }
    return false;
}

} // namespace

namespace {

// The log file open for appending under its lock, for one record or, at exit, many.
class LogAppend {
  public:
    explicit LogAppend(const std::string& path)
        : m_fd(open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644)) {
        // The lock keeps the cut-back below from removing another writer's line.
        if (m_fd >= 0 && !lockForWriting(m_fd)) {
            close(m_fd);
            m_fd = -1;
        }
    }
    ~LogAppend() {
        if (m_fd >= 0)
            close(m_fd); // also releases the lock
    }
    LogAppend(const LogAppend&) = delete;
    LogAppend& operator=(const LogAppend&) = delete;

    bool ok() const { return m_fd >= 0; }

    // Whole lines in one write. A short write (disk full, file size limit) is cut back to the
    // size before it, so the log never ends in a torn line.
    bool append(std::string_view record) {
        struct stat before {};
        if (m_fd < 0 || fstat(m_fd, &before) != 0)
            return false;
        ssize_t written;
        do {
            written = write(m_fd, record.data(), record.size());
        } while (written < 0 && errno == EINTR);
        if (written == static_cast<ssize_t>(record.size()))
            return true;
        if (written > 0) {
            // Nothing more can be done about a full disk; the log keeps its whole lines.
            [[maybe_unused]] const int cut = ftruncate(m_fd, before.st_size);
        }
        return false;
    }

  private:
    int m_fd;
};

} // namespace

bool appendRecord(const std::string& path, std::string_view record) {
    LogAppend log(path);
    return log.ok() && log.append(record);
}
#endif

namespace {

// The unshown lines at exit go out in writes of about this size.
constexpr std::size_t kUnshownPieceBytes = 4 * 1024 * 1024;

} // namespace

Recorder::Recorder(const Settings& settings, const Clock& clock, const StringTable& strings,
                   std::string logFolder)
    : m_settings(settings), m_clock(clock), m_strings(strings), m_logFolder(std::move(logFolder)) {
    m_record.reserve(4096);
}

std::string Recorder::logPath(const LocalTime& date) const {
    char name[16];
    std::snprintf(name, sizeof name, "%02u%02u%02u.log", static_cast<unsigned>(date.year % 100),
                  static_cast<unsigned>(date.month % 100), static_cast<unsigned>(date.day % 100));
    std::string path = m_logFolder;
    if (!path.empty() && path.back() != '/')
        path += '/';
    path += name;
    return path;
}

void Recorder::recordLine(std::string_view sjisLine) {
    m_record.assign(sjisLine);
    m_record += "\r\n";
    // The date is taken for every line, so the first line after midnight opens the new day's
    // file.
    if (m_settings.Log)
        appendRecord(logPath(m_clock.localTime()), m_record);
    if (m_settings.ClipboardRelay && m_clipboard)
        m_clipboard->setText(m_record);
}

void Recorder::recordUnshown(const std::function<bool(std::string_view& line)>& next) {
    std::string_view line;
    if (!m_settings.Log || !next(line))
        return;
    const LocalTime now = m_clock.localTime();
    LogAppend log(logPath(now));
    if (!log.ok())
        return;
    std::string piece =
        formatNumbers(m_strings.text(IDS_UNSHOWN_STAMP),
                      {now.year, now.month, now.day, now.hour, now.minute, now.second});
    piece += "\r\n";
    piece.reserve(kUnshownPieceBytes + 4096);
    do {
        piece += line;
        piece += "\r\n";
        if (piece.size() >= kUnshownPieceBytes) {
            if (!log.append(piece))
                return;
            piece.clear();
        }
    } while (next(line));
    if (!piece.empty())
        log.append(piece);
}

void Recorder::recordStamp(int stringId, std::string_view detail) {
    const LocalTime now = m_clock.localTime();
    std::string line = formatNumbers(
        m_strings.text(stringId), {now.year, now.month, now.day, now.hour, now.minute, now.second});
    if (!detail.empty()) {
        line += ' ';
        line += detail;
    }
    recordLine(line);
}

} // namespace skiro
