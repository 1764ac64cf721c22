#include "core/WinFiles.h"

#include <windows.h>

#include <cerrno>
#include <string>

#include "core/Profile.h"
#include "core/Recorder.h"

namespace skiro {

namespace {

// Another writer (a second instance logging into the same folder) holds the lock only for
// one write, so a short wait is enough; the user-interface thread must not hang on a lock that
// some other program keeps, so the wait is bounded and the line is then left out of the log.
constexpr int kLockAttempts = 20;

// The byte range the writers of one log lock. Windows locks are binding on the bytes they
// cover, so the range lies far beyond any real log and keeps no reader from the lines.
constexpr DWORD kLockOffsetHigh = 0x7FFFFFFF;

class Handle {
  public:
    explicit Handle(HANDLE h) : m_h(h) {}
    ~Handle() {
        if (valid())
            ::CloseHandle(m_h);
    }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    bool valid() const { return m_h != INVALID_HANDLE_VALUE && m_h != nullptr; }
    HANDLE get() const { return m_h; }
    HANDLE release() {
        const HANDLE h = m_h;
        m_h = INVALID_HANDLE_VALUE;
        return h;
    }
    void reset(HANDLE h) {
        close();
        m_h = h;
    }
    // Closes now; false when the system reports that the close failed.
    bool close() {
        const bool closed = !valid() || ::CloseHandle(m_h);
        m_h = INVALID_HANDLE_VALUE;
        return closed;
    }

  private:
    HANDLE m_h;
};

bool writeAll(HANDLE file, std::string_view bytes, DWORD& failure) {
    while (!bytes.empty()) {
        const DWORD chunk =
            bytes.size() > 0x40000000 ? 0x40000000 : static_cast<DWORD>(bytes.size());
        DWORD written = 0;
        if (!::WriteFile(file, bytes.data(), chunk, &written, nullptr)) {
            failure = ::GetLastError();
            return false;
        }
        if (written == 0) {
            failure = ERROR_DISK_FULL;
            return false;
        }
        bytes.remove_prefix(written);
    }
    return true;
}

ProfileSaveResult failure(const std::string& step, DWORD code) {
    return {errnoFromWindows(code), step + ": Windows error " + std::to_string(code)};
}

std::string narrow(const std::wstring& wide) {
    const int length = ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()),
                                             nullptr, 0, nullptr, nullptr);
    std::string text(static_cast<std::size_t>(length > 0 ? length : 0), '\0');
    if (length > 0)
        ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), text.data(),
                              length, nullptr, nullptr);
    return text;
}

} // namespace

std::wstring widePath(std::string_view path) {
    if (path.empty())
        return {};
    const int size = static_cast<int>(path.size());
    UINT codePage = CP_UTF8;
    int length =
        ::MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, path.data(), size, nullptr, 0);
    if (length <= 0) {
        codePage = CP_ACP;
        length = ::MultiByteToWideChar(codePage, 0, path.data(), size, nullptr, 0);
    }
    std::wstring wide(static_cast<std::size_t>(length > 0 ? length : 0), L'\0');
    if (length > 0)
        ::MultiByteToWideChar(codePage, 0, path.data(), size, wide.data(), length);
    return wide;
}

int errnoFromWindows(unsigned long code) {
    switch (code) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_DRIVE:
    case ERROR_BAD_NETPATH:
        return ENOENT;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
    case ERROR_WRITE_PROTECT:
        return EACCES;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
        return ENOSPC;
    default:
        return EIO;
    }
}

int readWholeFile(const std::string& file, std::string& bytes) {
    // Shared for writing and deleting: an editor or the other instance may hold the file.
    Handle h(::CreateFileW(widePath(file).c_str(), GENERIC_READ,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!h.valid())
        return errnoFromWindows(::GetLastError());
    bytes.clear();
    char buffer[8192];
    for (;;) {
        DWORD got = 0;
        if (!::ReadFile(h.get(), buffer, sizeof buffer, &got, nullptr))
            return errnoFromWindows(::GetLastError());
        if (got == 0)
            break;
        bytes.append(buffer, got);
    }
    return 0;
}

LogAppend::LogAppend(const std::string& path) {
    Handle h(::CreateFileW(widePath(path).c_str(), GENERIC_WRITE,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!h.valid())
        return;
    OVERLAPPED lockAt{};
    lockAt.OffsetHigh = kLockOffsetHigh;
    for (int attempt = 0; attempt < kLockAttempts; ++attempt) {
        if (::LockFileEx(h.get(), LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0,
                         &lockAt)) {
            m_file = h.release();
            return;
        }
        if (::GetLastError() != ERROR_LOCK_VIOLATION)
            return;
        ::Sleep(1);
    }
}

LogAppend::~LogAppend() {
    if (!m_file)
        return;
    OVERLAPPED lockAt{};
    lockAt.OffsetHigh = kLockOffsetHigh;
    ::UnlockFileEx(m_file, 0, 1, 0, &lockAt);
    ::CloseHandle(m_file);
}

bool LogAppend::append(std::string_view record) {
    if (!m_file)
        return false;
    LARGE_INTEGER before{};
    LARGE_INTEGER zero{};
    // The lock keeps the cut-back below from removing another writer's line.
    if (!::GetFileSizeEx(m_file, &before) || !::SetFilePointerEx(m_file, zero, nullptr, FILE_END))
        return false;
    DWORD failure = 0;
    if (writeAll(m_file, record, failure))
        return true;
    // Nothing more can be done about a full disk; the log keeps its whole lines.
    if (::SetFilePointerEx(m_file, before, nullptr, FILE_BEGIN))
        ::SetEndOfFile(m_file);
    return false;
}

bool appendRecord(const std::string& path, std::string_view record) {
    LogAppend log(path);
    return log.ok() && log.append(record);
}

ProfileSaveResult Profile::commit() const {
    if (m_file.empty())
        return {EINVAL, "no profile file"};
    std::wstring target = widePath(m_file);

    const DWORD attributes = ::GetFileAttributesW(target.c_str());
    const bool exists = attributes != INVALID_FILE_ATTRIBUTES;
    // A profile reached through a link is replaced where it really lies, keeping the link.
    if (exists && (attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
        Handle h(::CreateFileW(target.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                               OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
        wchar_t real[32768];
        const DWORD length =
            h.valid() ? ::GetFinalPathNameByHandleW(h.get(), real, 32768, FILE_NAME_NORMALIZED) : 0;
        if (length > 0 && length < 32768)
            target.assign(real, length);
    }
    const std::string shown = narrow(target);
    // A direct write would be refused for a read-only file; the rename would not, so the
    // refusal is made here, as the user asked for it by marking the file.
    if (exists && !(attributes & FILE_ATTRIBUTE_DIRECTORY) &&
        (attributes & FILE_ATTRIBUTE_READONLY))
        return {EACCES, "the profile " + shown + " is read-only and was left alone"};

    // The save changes the file as it is now; a file that is there but cannot be read would
    // otherwise be replaced by the program's keys alone.
    std::string bytesNow;
    const int readError = readWholeFile(narrow(target), bytesNow);
    if (readError != 0 && readError != ENOENT)
        return {readError, "read " + shown + ": error " + std::to_string(readError) +
                               "; the profile was left alone"};
    Profile now = fromBytes(bytesNow, m_file, m_conversion);
    for (const Write& write : m_writes)
        now.writeText(write.section, write.key, write.value);

    // A name of this process's own in the same folder, so that the rename never crosses drives.
    std::wstring temporary;
    Handle out(INVALID_HANDLE_VALUE);
    for (unsigned attempt = 0; attempt < 100 && !out.valid(); ++attempt) {
        temporary = target + L"." + std::to_wstring(::GetCurrentProcessId()) + L"-" +
                    std::to_wstring(attempt) + L".tmp";
        out.reset(::CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!out.valid() && ::GetLastError() != ERROR_FILE_EXISTS)
            break;
    }
    if (!out.valid())
        return failure("create " + narrow(temporary), ::GetLastError());

    DWORD code = 0;
    if (!writeAll(out.get(), now.bytes(), code) ||
        (!::FlushFileBuffers(out.get()) && (code = ::GetLastError(), true))) {
        out.close();
        ::DeleteFileW(temporary.c_str());
        return failure("write " + narrow(temporary), code);
    }
    if (!out.close()) {
        code = ::GetLastError();
        ::DeleteFileW(temporary.c_str());
        return failure("close " + narrow(temporary), code);
    }
    // A hidden profile stays hidden.
    if (exists && (attributes & FILE_ATTRIBUTE_HIDDEN))
        ::SetFileAttributesW(temporary.c_str(), FILE_ATTRIBUTE_HIDDEN);
    if (!::MoveFileExW(temporary.c_str(), target.c_str(),
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        code = ::GetLastError();
        ::DeleteFileW(temporary.c_str());
        return failure("replace " + shown, code);
    }
    return {};
}

} // namespace skiro
