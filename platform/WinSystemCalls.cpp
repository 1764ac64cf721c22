#include <windows.h>

#include <cerrno>
#include <string>

#include "core/SystemCalls.h"
#include "platform/WinPaths.h"

// The logic's calls on Windows: the wide-character file calls, so that a folder of any name
// works whatever the machine's code page.

namespace skiro {

namespace {

// Another writer holds the log's lock only for one write, so a short wait is enough.
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

FileResult failure(const std::string& step, DWORD code) {
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

HANDLE logHandle(std::intptr_t handle) {
    return reinterpret_cast<HANDLE>(handle);
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
            m_handle = reinterpret_cast<std::intptr_t>(h.release());
            return;
        }
        if (::GetLastError() != ERROR_LOCK_VIOLATION)
            return;
        ::Sleep(1);
    }
}

LogAppend::~LogAppend() {
    if (m_handle == kNone)
        return;
    const HANDLE file = logHandle(m_handle);
    OVERLAPPED lockAt{};
    lockAt.OffsetHigh = kLockOffsetHigh;
    ::UnlockFileEx(file, 0, 1, 0, &lockAt);
    ::CloseHandle(file);
}

bool LogAppend::append(std::string_view record) {
    if (m_handle == kNone)
        return false;
    const HANDLE file = logHandle(m_handle);
    LARGE_INTEGER before{};
    LARGE_INTEGER zero{};
    // The lock keeps the cut-back below from removing another writer's line.
    if (!::GetFileSizeEx(file, &before) || !::SetFilePointerEx(file, zero, nullptr, FILE_END))
        return false;
    DWORD failure = 0;
    if (writeAll(file, record, failure))
        return true;
    // Nothing more can be done about a full disk; the log keeps its whole lines.
    if (::SetFilePointerEx(file, before, nullptr, FILE_BEGIN))
        ::SetEndOfFile(file);
    return false;
}

FileResult replaceFile(const std::string& file, std::string_view what,
                       const std::function<std::string(std::string_view now)>& content) {
    std::wstring target = widePath(file);

    const DWORD attributes = ::GetFileAttributesW(target.c_str());
    const bool exists = attributes != INVALID_FILE_ATTRIBUTES;
    // A file reached through a link is replaced where it really lies, keeping the link.
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
        return {EACCES,
                "the " + std::string(what) + " " + shown + " is read-only and was left alone"};

    // The save changes the file as it is now; a file that is there but cannot be read would
    // otherwise be replaced by the program's keys alone.
    std::string bytesNow;
    const int readError = readWholeFile(narrow(target), bytesNow);
    if (readError != 0 && readError != ENOENT)
        return {readError, "read " + shown + ": error " + std::to_string(readError) + "; the " +
                               std::string(what) + " was left alone"};
    const std::string bytesNew = content(bytesNow);

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
    if (!writeAll(out.get(), bytesNew, code) ||
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

std::tm localCalendar(std::time_t when) {
    std::tm parts{};
    localtime_s(&parts, &when);
    return parts;
}

// One text a line, as in the string table.
// clang-format off
std::vector<std::pair<int, std::string>> systemTexts() {
    return {
        {33040, "\x83p\x83\\\x83R\x83\x93\x82\xCC\x92\xCA\x90M\x83|\x81[\x83g\x82\xF0\x91I\x91\xF0\x82\xB5\x82\xDC\x82\xB7\x81" "B\n\x93\xE0\x91\xA0\x83\x82\x83" "f\x83\x80\x82\xCC\x92\xCA\x90M\x83|\x81[\x83g\x82\xC5\x82\xCD\x82\xA0\x82\xE8\x82\xDC\x82\xB9\x82\xF1\x81" "B\n[\xBA\xDD\xC4\xDB\xB0\xD9\xCA\xDF\xC8\xD9]\x81\xA8[\xBC\xBD\xC3\xD1]\x82\xCC\xC3\xDE\xCA\xDE\xB2\xBD\xCF\xC8\xB0\xBC\xDE\xAC\x82\xC5\n\x8Am\x94" "F\x82\xB5\x82\xC4\x82\xAD\x82\xBE\x82\xB3\x82\xA2\x81" "B"}, // パソコンの通信ポートを選択します。\n内蔵モデムの通信ポートではありません。\n[ｺﾝﾄﾛｰﾙﾊﾟﾈﾙ]→[ｼｽﾃﾑ]のﾃﾞﾊﾞｲｽﾏﾈｰｼﾞｬで\n確認してください。
        {33059, "SetTimer\x82\xCD\x81" "A\x88\xC0\x91S\x82\xC5\x82\xB7\x82\xAA\x82\xA0\x82\xDC\x82\xE8\x90\xB3\x8Am\x82\xC5\x82\xCD\x82\xA0\x82\xE8\x82\xDC\x82\xB9\x82\xF1\x81" "B\n\x8A\xC2\x8B\xAB\x82\xC9\x82\xE0\x82\xE6\x82\xE8\x82\xDC\x82\xB7\x82\xAA\x81" "A50ms\x92\xF6\x93x\x82\xAA\x8C\xC0\x93x\x82\xCC\x82\xE6\x82\xA4\x82\xC5\x82\xB7\x81" "B"}, // SetTimerは、安全ですがあまり正確ではありません。\n環境にもよりますが、50ms程度が限度のようです。
        {33088, "\x8E\xF3\x90M\x82\xB5\x82\xBD\x95\xB6\x8E\x9A\x82\xF0\x83\x8D\x83O\x83t\x83@\x83" "C\x83\x8B\x82\xC9\x8BL\x98^\x82\xB5\x82\xDC\x82\xB7\x81" "B\n\x83\x8D\x83O\x83t\x83@\x83" "C\x83\x8B\x82\xCD\x81" "ASKIRO.EXE\x82\xC6\x93\xAF\x82\xB6\x83t\x83H\x83\x8B\x83_\x82\xCC\nYYMMDD.log\x82\xC5\x82\xB7\x81" "B"}, // 受信した文字をログファイルに記録します。\nログファイルは、SKIRO.EXEと同じフォルダの\nYYMMDD.logです。
        {33098, "\x8FGTerm\x82\xC6\x82\xCC\x8A\xD4\x82\xC5\x92\xCA\x90M\x82\xF0\x8Ds\x82\xC8\x82\xA2\x81" "A\n\x8FGTerm\x82\xAA\x8E\xF3\x90M\x82\xB5\x82\xBD\xC3\xDE\xB0\xC0\x82\xF0SKIRO\x82\xC5\n\x95\\\x8E\xA6\x82\xB5\x82\xDC\x82\xB7\x81" "B\n \n\x8Eg\x82\xA4\x8E\x9E\x82\xC9\x82\xCD\x81" "A\xBC\xD8\xB1\xD9\x82\xCC\x90\xDD\x92\xE8\x82\xCC\n\x81u\xDB\xB0\xB6\xD9\xB4\xBA\xB0\x82\xB7\x82\xE9\x81v\x82\xF0\xC1\xAA\xAF\xB8\x82\xB5\x82\xC4\n\x82\xAD\x82\xBE\x82\xB3\x82\xA2\x81" "B"}, // 秀Termとの間で通信を行ない、\n秀Termが受信したﾃﾞｰﾀをSKIROで\n表示します。\n \n使う時には、ｼﾘｱﾙの設定の\n「ﾛｰｶﾙｴｺｰする」をﾁｪｯｸして\nください。
    };
}
// clang-format on

} // namespace skiro
