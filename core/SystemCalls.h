#pragma once
#include <cstdint>
#include <ctime>
#include <functional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// What the logic asks of the system it runs on, and nothing more: the calendar, reading a file
// whole, replacing a file without ever leaving it half written, appending whole lines to the
// daily log under its lock, and the help texts that name the system's own places. Each system
// answers in a file of its own beneath the logic (platform/Posix*.cpp, platform/Win*.cpp), so
// that the logic itself stays the same everywhere. Paths are the bytes the program keeps:
// the file system's own encoding on POSIX, UTF-8 on Windows, whose wide-character calls then
// reach a folder of any name.
namespace skiro {

// How a file call ended: no error, or the errno value of the step that failed (ENOENT for a
// missing file or folder, EACCES for one refused, ENOSPC for a full disk) and a message that
// says which step failed and why, for a trace.
struct FileResult {
    int error = 0;
    std::string message;
    bool ok() const { return error == 0; }
};

// The local calendar time of `when`.
std::tm localCalendar(std::time_t when);

// The whole file; 0, or the errno value that kept it from being read (ENOENT when missing).
int readWholeFile(const std::string& file, std::string& bytes);

// Replaces `file` with what `content` makes of its bytes as they are now (none when it is
// missing): the new bytes go to a temporary file in the same folder, are flushed to disk and
// renamed over the old file, so that a crash or a full disk leaves either the old file or the
// new one. A file reached through a link is replaced where it really lies, keeping the link.
// A file that is read-only, or that exists but cannot be read, is left alone; on any failure
// the old file is untouched and the temporary file removed. `what` names the file in the
// messages ("profile").
FileResult replaceFile(const std::string& file, std::string_view what,
                       const std::function<std::string(std::string_view now)>& content);

// The log file open for appending under its lock, for one record or, at exit, many. Another
// writer (a second instance logging into the same folder) holds the lock only for one write,
// so the lock is waited for only briefly: the user-interface thread must not hang on a lock
// that some other program keeps, and the record is then left out of the log.
class LogAppend {
  public:
    explicit LogAppend(const std::string& path);
    ~LogAppend();
    LogAppend(const LogAppend&) = delete;
    LogAppend& operator=(const LogAppend&) = delete;

    bool ok() const { return m_handle != kNone; }
    // Whole lines in one write. A short write (disk full, file size limit) is cut back to the
    // size before it, so the log never ends in a torn line.
    bool append(std::string_view record);

  private:
    static constexpr std::intptr_t kNone = -1;
    std::intptr_t m_handle = kNone; // the system's handle of the open, locked log
};

// The help texts (string ids and Shift-JIS texts) that differ by system, because they name
// the system's own places: where the ports are listed, what the timers do, where the logs
// go, and whether 秀Term is there at all.
std::vector<std::pair<int, std::string>> systemTexts();

} // namespace skiro
