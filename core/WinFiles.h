#pragma once
#include <string>
#include <string_view>

// The file calls of the profile and the log on Windows. Paths are UTF-8 in the program and go
// to the system's wide-character calls, so that a folder of any name works whatever the
// machine's code page; a path that is not UTF-8 is taken in the system's ANSI code page.
namespace skiro {

std::wstring widePath(std::string_view path);

// The errno value that stands for a Windows error code in the program's results (ENOENT for a
// missing file or folder, EACCES for one that is refused or in use, ENOSPC for a full disk,
// EIO for the rest).
int errnoFromWindows(unsigned long code);

// The whole file; 0, or the errno value that kept it from being read (ENOENT when missing).
int readWholeFile(const std::string& file, std::string& bytes);

// The log file open for appending under its lock, for one record or, at exit, many. The lock
// is a byte range far beyond any real log (Windows locks bind the bytes they cover), taken
// within a bounded wait so that another program's lock cannot hang the display.
class LogAppend {
  public:
    explicit LogAppend(const std::string& path);
    ~LogAppend();
    LogAppend(const LogAppend&) = delete;
    LogAppend& operator=(const LogAppend&) = delete;

    bool ok() const { return m_file != nullptr; }
    // Whole lines in one write. A short write (disk full) is cut back to the size before it,
    // so the log never ends in a torn line.
    bool append(std::string_view record);

  private:
    void* m_file = nullptr; // the handle, locked; none when the log could not be opened
};

} // namespace skiro
