#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "core/SystemCalls.h"

// The logic's calls on a POSIX system.
namespace skiro {

namespace {

constexpr std::size_t npos = std::string::npos;

FileResult failure(const std::string& step) {
    const int error = errno != 0 ? errno : EIO;
    return {error, step + ": " + std::strerror(error)};
}

bool writeAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        if (n == 0) {
            errno = ENOSPC;
            return false;
        }
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

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

std::tm localCalendar(std::time_t when) {
    std::tm parts{};
    localtime_r(&when, &parts);
    return parts;
}

int readWholeFile(const std::string& file, std::string& bytes) {
    const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return errno != 0 ? errno : EIO;
    bytes.clear();
    char buffer[8192];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            const int error = errno;
            ::close(fd);
            return error;
        }
        if (n == 0)
            break;
        bytes.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(fd);
    return 0;
}

FileResult replaceFile(const std::string& file, std::string_view what,
                       const std::function<std::string(std::string_view now)>& content) {
    // A file reached through a link is replaced where it really lies, keeping the link.
    std::string target = file;
    if (char* real = ::realpath(file.c_str(), nullptr)) {
        target = real;
        std::free(real);
    }

    // A direct write would be refused for a read-only file; the rename would not, so the
    // refusal is made here, as the user asked for it by marking the file.
    struct stat old {};
    const bool exists = ::stat(target.c_str(), &old) == 0;
    if (exists && S_ISREG(old.st_mode) &&
        ((old.st_mode & 0222) == 0 || ::access(target.c_str(), W_OK) != 0)) {
        return {EACCES,
                "the " + std::string(what) + " " + target + " is read-only and was left alone"};
    }
    // The save changes the file as it is now; a file that is there but cannot be read would
    // otherwise be replaced by the program's keys alone.
    std::string bytesNow;
    const int readError = readWholeFile(target, bytesNow);
    if (readError != 0 && readError != ENOENT) {
        return {readError, "read " + target + ": " + std::strerror(readError) + "; the " +
                               std::string(what) + " was left alone"};
    }
    const std::string bytesNew = content(bytesNow);

    std::string temporary = target + ".XXXXXX";
    errno = 0;
    const int fd = ::mkstemp(temporary.data());
    if (fd < 0)
        return failure("create " + temporary);

    const mode_t mode =
        exists && S_ISREG(old.st_mode) ? static_cast<mode_t>(old.st_mode & 07777) : 0644;
    ::fchmod(fd, mode);

    errno = 0;
    if (!writeAll(fd, bytesNew) || ::fsync(fd) != 0) {
        const FileResult result = failure("write " + temporary);
        ::close(fd);
        ::unlink(temporary.c_str());
        return result;
    }
    if (::close(fd) != 0) {
        const FileResult result = failure("close " + temporary);
        ::unlink(temporary.c_str());
        return result;
    }
    if (::rename(temporary.c_str(), target.c_str()) != 0) {
        const FileResult result = failure("replace " + target);
        ::unlink(temporary.c_str());
        return result;
    }
    // Make the rename itself durable; a failure here leaves a complete file either way.
    const std::size_t slash = target.rfind('/');
    const std::string folder = slash == npos ? "." : (slash == 0 ? "/" : target.substr(0, slash));
    const int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY);
    if (dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
    return {};
}

// The handle is the descriptor; closing it also releases the lock.
LogAppend::LogAppend(const std::string& path) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    // The lock keeps the cut-back below from removing another writer's line.
    if (fd >= 0 && !lockForWriting(fd)) {
        ::close(fd);
        return;
    }
    m_handle = fd;
}

LogAppend::~LogAppend() {
    if (m_handle != kNone)
        ::close(static_cast<int>(m_handle));
}

bool LogAppend::append(std::string_view record) {
    const int fd = static_cast<int>(m_handle);
    struct stat before {};
    if (m_handle == kNone || ::fstat(fd, &before) != 0)
        return false;
    ssize_t written;
    do {
        written = ::write(fd, record.data(), record.size());
    } while (written < 0 && errno == EINTR);
    if (written == static_cast<ssize_t>(record.size()))
        return true;
    if (written > 0) {
        // Nothing more can be done about a full disk; the log keeps its whole lines.
        [[maybe_unused]] const int cut = ::ftruncate(fd, before.st_size);
    }
    return false;
}

// One text a line, as in the string table.
// clang-format off
std::vector<std::pair<int, std::string>> systemTexts() {
    return {
        {33040, "\x83p\x83\\\x83R\x83\x93\x82\xCC\x92\xCA\x90M\x83|\x81[\x83g\x82\xF0\x91I\x91\xF0\x82\xB5\x82\xDC\x82\xB7\x81" "B\n\x93\xE0\x91\xA0\x83\x82\x83" "f\x83\x80\x82\xCC\x92\xCA\x90M\x83|\x81[\x83g\x82\xC5\x82\xCD\x82\xA0\x82\xE8\x82\xDC\x82\xB9\x82\xF1\x81" "B\n\x82\xBB\x82\xCC\x83|\x81[\x83g\x82\xC5\x8AJ\x82\xAD\xC3\xDE\xCA\xDE\xB2\xBD\x82\xCD\x81" "A\x89\xBA\x82\xCC\n\x81u\xC3\xDE\xCA\xDE\xB2\xBD\x81v\x82\xC5\x8Am\x82\xA9\x82\xDF\x82\xC4\x91I\x82\xD7\x82\xDC\x82\xB7\x81" "B"}, // パソコンの通信ポートを選択します。\n内蔵モデムの通信ポートではありません。\nそのポートで開くﾃﾞﾊﾞｲｽは、下の\n「ﾃﾞﾊﾞｲｽ」で確かめて選べます。
        {33059, "SetTimer\x82\xCD\x81" "A\x88\xC0\x91S\x82\xC5\x82\xB7\x82\xAA\x82\xA0\x82\xDC\x82\xE8\x90\xB3\x8Am\x82\xC5\x82\xCD\x82\xA0\x82\xE8\x82\xDC\x82\xB9\x82\xF1\x81" "B\n\x8A\xC2\x8B\xAB\x82\xC9\x82\xE0\x82\xE6\x82\xE8\x82\xDC\x82\xB7\x82\xAA\x81" "A\x8A\xD4\x8Au\x82\xAA" "5%\x82\xD9\x82\xC7\x91O\x8C\xE3\x82\xB5\x82\xDC\x82\xB7\x81" "B"}, // SetTimerは、安全ですがあまり正確ではありません。\n環境にもよりますが、間隔が5%ほど前後します。
        {33088, "\x8E\xF3\x90M\x82\xB5\x82\xBD\x95\xB6\x8E\x9A\x82\xF0\x83\x8D\x83O\x83t\x83@\x83" "C\x83\x8B\x82\xC9\x8BL\x98^\x82\xB5\x82\xDC\x82\xB7\x81" "B\n\x83\x8D\x83O\x83t\x83@\x83" "C\x83\x8B\x82\xCD\x81" "Askiro\x82\xC6\x93\xAF\x82\xB6\x83t\x83H\x83\x8B\x83_\n(\x8F\x91\x82\xAB\x8D\x9E\x82\xDF\x82\xC8\x82\xA2\x8E\x9E\x82\xCD~/.local/share/skiro)\x82\xCC\nYYMMDD.log\x82\xC5\x82\xB7\x81" "B"}, // 受信した文字をログファイルに記録します。\nログファイルは、skiroと同じフォルダ\n(書き込めない時は~/.local/share/skiro)の\nYYMMDD.logです。
        {33098, "\x8FGTerm\x82\xC6\x82\xCC\x8A\xD4\x82\xC5\x92\xCA\x90M\x82\xF0\x8Ds\x82\xC8\x82\xA2\x81" "A\n\x8FGTerm\x82\xAA\x8E\xF3\x90M\x82\xB5\x82\xBD\xC3\xDE\xB0\xC0\x82\xF0SKIRO\x82\xC5\n\x95\\\x8E\xA6\x82\xB5\x82\xDC\x82\xB7\x81" "B\n \n\x8Eg\x82\xA4\x8E\x9E\x82\xC9\x82\xCD\x81" "A\xBC\xD8\xB1\xD9\x82\xCC\x90\xDD\x92\xE8\x82\xCC\n\x81u\xDB\xB0\xB6\xD9\xB4\xBA\xB0\x82\xB7\x82\xE9\x81v\x82\xF0\xC1\xAA\xAF\xB8\x82\xB5\x82\xC4\n\x82\xAD\x82\xBE\x82\xB3\x82\xA2\x81" "B\n \n\x8FGTerm\x82\xCDWindows\x97p\x82\xCC\x82\xBD\x82\xDF\x81" "A\x82\xB1\x82\xCC\x94\xC5\x82\xC5\x82\xCD\n\x8Eg\x82\xA6\x82\xDC\x82\xB9\x82\xF1\x81" "B"}, // 秀Termとの間で通信を行ない、\n秀Termが受信したﾃﾞｰﾀをSKIROで\n表示します。\n \n使う時には、ｼﾘｱﾙの設定の\n「ﾛｰｶﾙｴｺｰする」をﾁｪｯｸして\nください。\n \n秀TermはWindows用のため、この版では\n使えません。
    };
}
// clang-format on

} // namespace skiro
