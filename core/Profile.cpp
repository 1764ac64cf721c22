#include "core/Profile.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <iterator>
#include <sys/stat.h>
#include <unistd.h>

#include "core/ShiftJis.h"

namespace skiro {

namespace {

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
constexpr std::size_t npos = std::string::npos;

// The blanks that the Windows reader strips around lines, names and values.
bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}

std::string_view trim(std::string_view text) {
    while (!text.empty() && isBlank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && isBlank(text.back()))
        text.remove_suffix(1);
    return text;
}

char asciiLower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

// Names compared character by character: a single-byte character without regard to ASCII case,
// a double-byte one byte for byte (its trail byte may look like an ASCII letter).
bool sameName(std::string_view a, std::string_view b) {
    std::size_t i = 0;
    std::size_t j = 0;
    while (i < a.size() && j < b.size()) {
        const std::size_t la = sjis::charLength(a, i);
        const std::size_t lb = sjis::charLength(b, j);
        if (la != lb)
            return false;
        if (la == 2) {
            if (a[i] != b[j] || a[i + 1] != b[j + 1])
                return false;
        } else if (asciiLower(a[i]) != asciiLower(b[j])) {
            return false;
        }
        i += la;
        j += lb;
    }
    return i == a.size() && j == b.size();
}

// The section name of a header line, or false when the line is no header. The closing bracket
// is the last single-byte "]", never the trail byte of a character such as "ー" (81 5B).
bool headerName(std::string_view line, std::string_view& name) {
    line = trim(line);
    if (line.empty() || line.front() != '[')
        return false;
    std::size_t close = npos;
    for (std::size_t i = 1; i < line.size(); i += sjis::charLength(line, i)) {
        if (line[i] == ']' && sjis::charLength(line, i) == 1)
            close = i;
    }
    if (close == npos)
        return false;
    name = line.substr(1, close - 1);
    return true;
}

// Splits a key line into name and value, both trimmed. "=" (3D) never trails a lead byte, so
// the first one is the separator.
void splitKeyLine(std::string_view line, std::string_view& name, std::string_view& value) {
    line = trim(line);
    const std::size_t eq = line.find('=');
    if (eq == npos) {
        name = line;
        value = {};
        return;
    }
    name = trim(line.substr(0, eq));
    value = trim(line.substr(eq + 1));
}

void dropDanglingLeadByte(std::string& text) {
    std::size_t i = 0;
    while (i < text.size()) {
        const std::size_t length = sjis::charLength(text, i);
        if (length == 1 && i + 1 == text.size() &&
            sjis::isLeadByte(static_cast<unsigned char>(text[i]))) {
            text.pop_back();
            return;
        }
        i += length;
    }
}

// The value as the caller's buffer receives it, before the 259-byte cut.
std::string unquoted(std::string_view raw) {
    raw = raw.substr(0, raw.find('\0'));
    if (raw.size() >= 2 && (raw.front() == '"' || raw.front() == '\'') && raw.back() == raw.front())
        raw = raw.substr(1, raw.size() - 2);
    return std::string(raw);
}

std::string cutText(std::string text) {
    if (text.size() > Profile::kTextMax)
        text.resize(Profile::kTextMax);
    dropDanglingLeadByte(text);
    return text;
}

int digitValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'z')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'Z')
        return c - 'A' + 10;
    return 99;
}

ProfileSaveResult failure(const std::string& step) {
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

} // namespace

std::int32_t leadingInteger(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size() && static_cast<unsigned char>(text[i]) <= ' ')
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    unsigned base = 10;
    if (i + 1 < text.size() && text[i] == '0') {
        switch (text[i + 1]) {
        case 'x':
            base = 16;
            break;
        case 'o':
            base = 8;
            break;
        case 'b':
            base = 2;
            break;
        default:
            break;
        }
        if (base != 10)
            i += 2;
    }
    std::uint32_t total = 0;
    for (; i < text.size(); ++i) {
        const int digit = digitValue(text[i]);
        if (digit >= static_cast<int>(base))
            break;
        total = total * base + static_cast<std::uint32_t>(digit);
    }
    if (negative)
        total = 0u - total;
    return static_cast<std::int32_t>(total);
}

Profile Profile::fromBytes(std::string_view bytes, std::string file) {
    Profile profile(std::move(file));
    if (bytes.starts_with(kByteOrderMark)) {
        profile.m_byteOrderMark = true;
        bytes.remove_prefix(kByteOrderMark.size());
    }
    while (!bytes.empty()) {
        const std::size_t lf = bytes.find('\n');
        std::string_view line = bytes.substr(0, lf);
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        profile.m_lines.emplace_back(line);
        bytes.remove_prefix(lf == npos ? bytes.size() : lf + 1);
    }
    return profile;
}

Profile Profile::load(const std::string& file) {
    std::ifstream in(file, std::ios::binary);
    if (!in)
        return Profile(file);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad())
        return Profile(file);
    return fromBytes(bytes, file);
}

std::size_t Profile::findSection(std::string_view section) const {
    std::string_view name;
    for (std::size_t i = 0; i < m_lines.size(); ++i) {
        if (headerName(m_lines[i], name) && sameName(name, section))
            return i;
    }
    return npos;
}

std::size_t Profile::sectionEnd(std::size_t header) const {
    std::string_view name;
    for (std::size_t i = header + 1; i < m_lines.size(); ++i) {
        if (headerName(m_lines[i], name))
            return i;
    }
    return m_lines.size();
}

bool Profile::findKey(std::string_view section, std::string_view key, KeyLine& found) const {
    const std::size_t header = findSection(section);
    if (header == npos)
        return false;
    const std::size_t end = sectionEnd(header);
    for (std::size_t i = header + 1; i < end; ++i) {
        if (trim(m_lines[i]).empty())
            continue;
        std::string_view name;
        std::string_view value;
        splitKeyLine(m_lines[i], name, value);
        if (sameName(name, key)) {
            found = {i, value};
            return true;
        }
    }
    return false;
}

std::string Profile::readText(std::string_view section, std::string_view key,
                              std::string_view defaultText) const {
    KeyLine found{};
    if (!findKey(section, key, found))
        return cutText(std::string(defaultText.substr(0, defaultText.find('\0'))));
    return cutText(unquoted(found.value));
}

std::int32_t Profile::readInt(std::string_view section, std::string_view key,
                              std::int32_t defaultValue) const {
    KeyLine found{};
    if (!findKey(section, key, found))
        return defaultValue;
    const std::string text = unquoted(found.value);
    if (text.empty())
        return defaultValue;
    return leadingInteger(text);
}

bool Profile::contains(std::string_view section, std::string_view key) const {
    KeyLine found{};
    return findKey(section, key, found);
}

void Profile::writeText(std::string_view section, std::string_view key, std::string_view value) {
    if (section.empty() || key.empty())
        return;
    value = value.substr(0, value.find_first_of(std::string_view("\r\n\0", 3)));
    const bool needsQuotes =
        !value.empty() && (isBlank(value.front()) || isBlank(value.back()) ||
                           (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
                            value.back() == value.front()));
    std::string stored = needsQuotes ? "\"" + std::string(value) + "\"" : std::string(value);

    KeyLine found{};
    if (findKey(section, key, found)) {
        std::string_view name;
        std::string_view oldValue;
        splitKeyLine(m_lines[found.line], name, oldValue);
        m_lines[found.line] = std::string(name) + "=" + stored;
        return;
    }
    std::string line = std::string(key) + "=" + stored;
    const std::size_t header = findSection(section);
    if (header == npos) {
        m_lines.push_back("[" + std::string(section) + "]");
        m_lines.push_back(std::move(line));
        return;
    }
    // After the section's last key, before the blank lines that set off the next section.
    std::size_t at = sectionEnd(header);
    while (at > header + 1 && trim(m_lines[at - 1]).empty())
        --at;
    m_lines.insert(m_lines.begin() + static_cast<std::ptrdiff_t>(at), std::move(line));
}

void Profile::writeInt(std::string_view section, std::string_view key, std::int32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "%d", value);
    writeText(section, key, text);
}

std::string Profile::bytes() const {
    std::string out;
    if (m_byteOrderMark)
        out += kByteOrderMark;
    for (const std::string& line : m_lines) {
        out += line;
        out += "\r\n";
    }
    return out;
}

ProfileSaveResult Profile::commit() const {
    if (m_file.empty())
        return {EINVAL, "no profile file"};
    // A profile reached through a link is replaced where it really lies, keeping the link.
    std::string target = m_file;
    if (char* real = ::realpath(m_file.c_str(), nullptr)) {
        target = real;
        std::free(real);
    }
    std::string temporary = target + ".XXXXXX";
    errno = 0;
    const int fd = ::mkstemp(temporary.data());
    if (fd < 0)
        return failure("create " + temporary);

    struct stat old {};
    const mode_t mode = ::stat(target.c_str(), &old) == 0 && S_ISREG(old.st_mode)
                            ? static_cast<mode_t>(old.st_mode & 07777)
                            : static_cast<mode_t>(0644);
    ::fchmod(fd, mode);

    errno = 0;
    if (!writeAll(fd, bytes()) || ::fsync(fd) != 0) {
        const ProfileSaveResult result = failure("write " + temporary);
        ::close(fd);
        ::unlink(temporary.c_str());
        return result;
    }
    if (::close(fd) != 0) {
        const ProfileSaveResult result = failure("close " + temporary);
        ::unlink(temporary.c_str());
        return result;
    }
    if (::rename(temporary.c_str(), target.c_str()) != 0) {
        const ProfileSaveResult result = failure("replace " + target);
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

} // namespace skiro
