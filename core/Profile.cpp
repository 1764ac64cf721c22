#include "core/Profile.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "core/ShiftJis.h"
#include "core/SystemCalls.h"

namespace skiro {

namespace {

constexpr std::string_view kUtf8Mark = "\xEF\xBB\xBF";
constexpr std::string_view kUtf16Mark = "\xFF\xFE";
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

bool isAscii(std::string_view text) {
    for (char c : text) {
        if (static_cast<unsigned char>(c) >= 0x80)
            return false;
    }
    return true;
}

// Splits a key line into name and value, both trimmed; false for a line without "=". "=" (3D)
// never trails a lead byte, so the first one is the separator.
bool splitKeyLine(std::string_view line, std::string_view& name, std::string_view& value) {
    line = trim(line);
    const std::size_t eq = line.find('=');
    if (eq == npos)
        return false;
    name = trim(line.substr(0, eq));
    value = trim(line.substr(eq + 1));
    return true;
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

std::string_view unquoted(std::string_view raw) {
    raw = raw.substr(0, raw.find('\0'));
    if (raw.size() >= 2 && (raw.front() == '"' || raw.front() == '\'') && raw.back() == raw.front())
        raw = raw.substr(1, raw.size() - 2);
    return raw;
}

std::string cutText(std::string text) {
    text.resize(std::strlen(text.c_str()));
    if (text.size() > Profile::kTextMax)
        text.resize(Profile::kTextMax);
    dropDanglingLeadByte(text);
    return text;
}

bool isLineBreak(char c) {
    return c == '\r' || c == '\n' || c == '\0';
}

// The Shift-JIS value as a profile line can hold it and the reader returns it: CR, LF and NUL
// left out, and with them a lead byte that would otherwise pair with what follows them (or be
// left last), which would read back as another character or not at all.
std::string storable(std::string_view value) {
    std::string out;
    out.reserve(value.size());
    for (std::size_t i = 0; i < value.size();) {
        const std::size_t length = sjis::charLength(value, i);
        const bool loneLead =
            length == 1 && sjis::isLeadByte(static_cast<unsigned char>(value[i]));
        if (loneLead && (i + 1 == value.size() || isLineBreak(value[i + 1]))) {
            ++i;
            continue;
        }
        if (!(length == 1 && isLineBreak(value[i])))
            out.append(value.substr(i, length));
        i += length;
    }
    return out;
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

// --- UTF-8 and UTF-16 ---------------------------------------------------------------------

void appendUtf8(std::string& out, std::uint32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

// One code point of UTF-8 at `pos`, its length in `length`; false for a malformed sequence.
// A surrogate is taken only when `surrogates` is set: the UTF-16 side keeps an unpaired one
// from the file so that the line it is on is written back as it was.
bool nextUtf8(std::string_view text, std::size_t pos, std::uint32_t& cp, std::size_t& length,
              bool surrogates) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char b = byte(pos);
    std::uint32_t min = 0;
    if (b < 0x80) {
        cp = b;
        length = 1;
        return true;
    }
    if (b >= 0xC2 && b <= 0xDF) {
        cp = b & 0x1F;
        length = 2;
        min = 0x80;
    } else if (b >= 0xE0 && b <= 0xEF) {
        cp = b & 0x0F;
        length = 3;
        min = 0x800;
    } else if (b >= 0xF0 && b <= 0xF4) {
        cp = b & 0x07;
        length = 4;
        min = 0x10000;
    } else {
        return false;
    }
    if (pos + length > text.size())
        return false;
    for (std::size_t i = 1; i < length; ++i) {
        if ((byte(pos + i) & 0xC0) != 0x80)
            return false;
        cp = (cp << 6) | (byte(pos + i) & 0x3F);
    }
    if (cp < min || cp > 0x10FFFF)
        return false;
    return surrogates || cp < 0xD800 || cp > 0xDFFF;
}

// Whether the text is well-formed UTF-8 with at least one character beyond ASCII.
bool isUtf8BeyondAscii(std::string_view text) {
    bool beyond = false;
    for (std::size_t i = 0; i < text.size();) {
        std::uint32_t cp = 0;
        std::size_t length = 0;
        if (!nextUtf8(text, i, cp, length, false))
            return false;
        beyond = beyond || length > 1;
        i += length;
    }
    return beyond;
}

std::string utf16ToUtf8(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size());
    const auto unit = [&](std::size_t i) {
        return static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[i]) |
                                          (static_cast<unsigned char>(bytes[i + 1]) << 8));
    };
    for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
        std::uint32_t cp = unit(i);
        if (cp >= 0xD800 && cp <= 0xDBFF && i + 3 < bytes.size()) {
            const std::uint32_t low = unit(i + 2);
            if (low >= 0xDC00 && low <= 0xDFFF) {
                cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
                i += 2;
            }
        }
        appendUtf8(out, cp);
    }
    return out;
}

std::string utf8ToUtf16(std::string_view text) {
    std::string out;
    out.reserve(text.size() * 2);
    const auto put = [&](std::uint32_t u) {
        out += static_cast<char>(u & 0xFF);
        out += static_cast<char>(u >> 8);
    };
    for (std::size_t i = 0; i < text.size();) {
        std::uint32_t cp = 0;
        std::size_t length = 0;
        if (!nextUtf8(text, i, cp, length, true)) {
            cp = 0xFFFD;
            length = 1;
        }
        if (cp >= 0x10000) {
            put(0xD800 + ((cp - 0x10000) >> 10));
            put(0xDC00 + ((cp - 0x10000) & 0x3FF));
        } else {
            put(cp);
        }
        i += length;
    }
    return out;
}

// Without the application's conversion only ASCII crosses between the encodings.
class AsciiOnly final : public SjisConversion {
  public:
    std::string toSjis(std::string_view utf8) const override {
        std::string out;
        for (std::size_t i = 0; i < utf8.size();) {
            std::uint32_t cp = 0;
            std::size_t length = 0;
            if (!nextUtf8(utf8, i, cp, length, false))
                length = 1;
            out += length == 1 && cp < 0x80 ? static_cast<char>(cp) : '?';
            i += length;
        }
        return out;
    }
    std::string toUtf8(std::string_view sjis) const override {
        std::string out;
        for (std::size_t i = 0; i < sjis.size();) {
            const std::size_t length = sjis::charLength(sjis, i);
            const bool ascii = length == 1 && static_cast<unsigned char>(sjis[i]) < 0x80;
            out += ascii ? sjis[i] : '?';
            i += length;
        }
        return out;
    }
};

const AsciiOnly kAsciiOnly;

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

Profile Profile::fromBytes(std::string_view bytes, std::string file,
                           const SjisConversion* conversion) {
    Profile profile(std::move(file), conversion);
    std::string decoded;
    std::string_view text = bytes;
    if (bytes.starts_with(kUtf16Mark)) {
        profile.m_encoding = Encoding::Utf16Le;
        profile.m_byteOrderMark = true;
        bytes.remove_prefix(kUtf16Mark.size());
        if (bytes.size() % 2 != 0) {
            profile.m_oddByte = std::string(1, bytes.back());
            bytes.remove_suffix(1);
        }
        decoded = utf16ToUtf8(bytes);
        text = decoded;
    } else if (bytes.starts_with(kUtf8Mark)) {
        profile.m_encoding = Encoding::Utf8;
        profile.m_byteOrderMark = true;
        text.remove_prefix(kUtf8Mark.size());
    } else if (isUtf8BeyondAscii(bytes)) {
        profile.m_encoding = Encoding::Utf8;
    }

    bool newlineSeen = false;
    while (!text.empty()) {
        const std::size_t at = text.find_first_of("\r\n");
        Line line{std::string(text.substr(0, at)), {}};
        if (at == npos) {
            text = {};
        } else {
            const std::size_t endLength = text.substr(at).starts_with("\r\n") ? 2 : 1;
            line.end = std::string(text.substr(at, endLength));
            text.remove_prefix(at + endLength);
            if (!newlineSeen) {
                profile.m_newline = line.end;
                newlineSeen = true;
            }
        }
        std::string_view name;
        if (profile.headerName(line.text, name))
            profile.m_headers.push_back(profile.m_lines.size());
        profile.m_lines.push_back(std::move(line));
    }
    return profile;
}

Profile Profile::load(const std::string& file, const SjisConversion* conversion) {
    std::string bytes;
    if (readWholeFile(file, bytes) != 0)
        return Profile(file, conversion);
    return fromBytes(bytes, file, conversion);
}

std::string Profile::toFile(std::string_view sjis) const {
    if (m_encoding == Encoding::ShiftJis || isAscii(sjis))
        return std::string(sjis);
    std::string text = (m_conversion ? *m_conversion : kAsciiOnly).toUtf8(sjis);
    std::erase_if(text, isLineBreak);
    return text;
}

std::string Profile::fromFile(std::string_view text) const {
    if (m_encoding == Encoding::ShiftJis || isAscii(text))
        return std::string(text);
    return (m_conversion ? *m_conversion : kAsciiOnly).toSjis(text);
}

std::size_t Profile::charLength(std::string_view text, std::size_t pos) const {
    return m_encoding == Encoding::ShiftJis ? sjis::charLength(text, pos) : 1;
}

// Names compared character by character: a single-byte character without regard to ASCII case,
// a double-byte one byte for byte (its trail byte may look like an ASCII letter).
bool Profile::sameName(std::string_view a, std::string_view b) const {
    std::size_t i = 0;
    std::size_t j = 0;
    while (i < a.size() && j < b.size()) {
        const std::size_t la = charLength(a, i);
        const std::size_t lb = charLength(b, j);
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
bool Profile::headerName(std::string_view line, std::string_view& name) const {
    line = trim(line);
    if (line.empty() || line.front() != '[')
        return false;
    std::size_t close = npos;
    for (std::size_t i = 1; i < line.size(); i += charLength(line, i)) {
        if (line[i] == ']' && charLength(line, i) == 1)
            close = i;
    }
    if (close == npos)
        return false;
    name = trim(line.substr(1, close - 1));
    return true;
}

std::size_t Profile::findSection(std::string_view section) const {
    const std::string wanted = toFile(section);
    std::string_view name;
    for (const std::size_t i : m_headers) {
        if (headerName(m_lines[i].text, name) && sameName(name, wanted))
            return i;
    }
    return npos;
}

std::size_t Profile::sectionEnd(std::size_t header) const {
    const auto next = std::upper_bound(m_headers.begin(), m_headers.end(), header);
    return next == m_headers.end() ? m_lines.size() : *next;
}

bool Profile::findKey(std::string_view section, std::string_view key, KeyLine& found) const {
    const std::size_t header = findSection(section);
    if (header == npos)
        return false;
    const std::string wanted = toFile(key);
    const std::size_t end = sectionEnd(header);
    for (std::size_t i = header + 1; i < end; ++i) {
        std::string_view name;
        std::string_view value;
        if (splitKeyLine(m_lines[i].text, name, value) && sameName(name, wanted)) {
            found = {i, value};
            return true;
        }
    }
    return false;
}

std::string Profile::textOf(std::string_view raw) const {
    return cutText(fromFile(unquoted(raw)));
}

std::string Profile::readText(std::string_view section, std::string_view key,
                              std::string_view defaultText) const {
    KeyLine found{};
    if (!findKey(section, key, found))
        return cutText(std::string(defaultText.substr(0, defaultText.find('\0'))));
    return textOf(found.value);
}

std::int32_t Profile::readInt(std::string_view section, std::string_view key,
                              std::int32_t defaultValue) const {
    KeyLine found{};
    if (!findKey(section, key, found))
        return defaultValue;
    const std::string_view text = unquoted(found.value);
    if (text.empty())
        return defaultValue;
    return leadingInteger(text);
}

bool Profile::contains(std::string_view section, std::string_view key) const {
    KeyLine found{};
    return findKey(section, key, found);
}

void Profile::noteHeader(std::size_t line) {
    std::string_view name;
    if (!headerName(m_lines[line].text, name))
        return;
    const auto at = std::lower_bound(m_headers.begin(), m_headers.end(), line);
    if (at == m_headers.end() || *at != line)
        m_headers.insert(at, line);
}

void Profile::insertLine(std::size_t at, std::string text) {
    if (at > 0 && m_lines[at - 1].end.empty())
        m_lines[at - 1].end = m_newline;
    for (std::size_t& header : m_headers) {
        if (header >= at)
            ++header;
    }
    m_lines.insert(m_lines.begin() + static_cast<std::ptrdiff_t>(at),
                   Line{std::move(text), m_newline});
    noteHeader(at);
}

void Profile::writeText(std::string_view section, std::string_view key, std::string_view value) {
    // A name that would end its line, or a key name holding the separator, would write
    // somewhere other than it says.
    const std::string_view lineBreaks("\r\n\0", 3);
    if (section.empty() || key.empty() || section.find_first_of(lineBreaks) != npos ||
        key.find_first_of(lineBreaks) != npos || key.find('=') != npos)
        return;
    const std::string sjisValue = storable(value);
    m_writes.push_back({std::string(section), std::string(key), sjisValue});

    KeyLine found{};
    const bool present = findKey(section, key, found);
    if (present && textOf(found.value) == sjisValue)
        return;

    const std::string text = toFile(sjisValue);
    const bool needsQuotes =
        !text.empty() && (isBlank(text.front()) || isBlank(text.back()) ||
                          (text.size() >= 2 && (text.front() == '"' || text.front() == '\'') &&
                           text.back() == text.front()));
    const std::string stored = needsQuotes ? "\"" + text + "\"" : text;

    if (present) {
        std::string_view name;
        std::string_view oldValue;
        splitKeyLine(m_lines[found.line].text, name, oldValue);
        m_lines[found.line].text = std::string(name) + "=" + stored;
        noteHeader(found.line);
        return;
    }
    std::string line = toFile(key) + "=" + stored;
    const std::size_t header = findSection(section);
    if (header == npos) {
        insertLine(m_lines.size(), '[' + toFile(section) + ']');
        insertLine(m_lines.size(), std::move(line));
        return;
    }
    // After the section's last entry, before the blank lines and comments that set off the
    // next section (a comment there usually speaks of what follows it).
    std::size_t at = sectionEnd(header);
    while (at > header + 1) {
        const std::string_view content = trim(m_lines[at - 1].text);
        if (!content.empty() && content.front() != ';')
            break;
        --at;
    }
    insertLine(at, std::move(line));
}

void Profile::writeInt(std::string_view section, std::string_view key, std::int32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "%d", value);
    writeText(section, key, text);
}

Profile Profile::current() const {
    if (m_file.empty())
        return *this;
    Profile now = load(m_file, m_conversion);
    for (const Write& write : m_writes)
        now.writeText(write.section, write.key, write.value);
    return now;
}

std::string Profile::bytes() const {
    std::string text;
    for (const Line& line : m_lines) {
        text += line.text;
        text += line.end;
    }
    switch (m_encoding) {
    case Encoding::Utf16Le:
        return std::string(kUtf16Mark) + utf8ToUtf16(text) + m_oddByte;
    case Encoding::Utf8:
        return m_byteOrderMark ? std::string(kUtf8Mark) + text : text;
    case Encoding::ShiftJis:
        break;
    }
    return text;
}

ProfileSaveResult Profile::commit() const {
    if (m_file.empty())
        return {EINVAL, "no profile file"};
    // The file is read again as it is now, and this run's writes are made in it.
    return replaceFile(m_file, "profile", [this](std::string_view bytesNow) {
        Profile now = fromBytes(bytesNow, m_file, m_conversion);
        for (const Write& write : m_writes)
            now.writeText(write.section, write.key, write.value);
        return now.bytes();
    });
}

} // namespace skiro
