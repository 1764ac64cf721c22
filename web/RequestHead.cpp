#include "web/RequestHead.h"

namespace skiro {

namespace {

// The characters of a token: a method or a field name.
bool isTokenChar(char c) {
    if ((c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'))
        return true;
    switch (c) {
    case '!':
    case '#':
    case '$':
    case '%':
    case '&':
    case '\'':
    case '*':
    case '+':
    case '-':
    case '.':
    case '^':
    case '_':
    case '`':
    case '|':
    case '~':
        return true;
    default:
        return false;
    }
}

bool isToken(std::string_view text) {
    if (text.empty())
        return false;
    for (const char c : text) {
        if (!isTokenChar(c))
            return false;
    }
    return true;
}

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

bool equalsLower(std::string_view text, std::string_view lower) {
    if (text.size() != lower.size())
        return false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
        if (c != lower[i])
            return false;
    }
    return true;
}

std::string_view trimmed(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t'))
        text.remove_suffix(1);
    return text;
}

} // namespace

RequestHead::Verdict RequestHead::take(std::string_view bytes) {
    for (const char c : bytes) {
        if (m_verdict != Verdict::NeedMore)
            break;
        if (++m_bytes > kMaxBytes) {
            m_verdict = Verdict::TooLarge;
            break;
        }
        // Blank lines before the request line are skipped, as Qt's parser does.
        if (!m_started) {
            if (c == '\r' || c == '\n' || c == ' ' || c == '\t' || c == '\v')
                continue;
            m_started = true;
        }
        if (c == '\n') {
            // Every line ends in CR LF. A line feed alone is taken by Qt's request parser but
            // not by its WebSocket handshake, which would wait for the head's end for ever.
            if (m_line.empty() || m_line.back() != '\r') {
                m_verdict = Verdict::BadRequest;
                break;
            }
            m_line.pop_back();
            m_verdict = line(m_line);
            m_line.clear();
            continue;
        }
        // Control characters have no place in a head; a tab may separate a field's value.
        if ((static_cast<unsigned char>(c) < 0x20 && c != '\t' && c != '\r') || c == 0x7F) {
            m_verdict = Verdict::BadRequest;
            break;
        }
        m_line.push_back(c);
    }
    return m_verdict;
}

bool RequestHead::announcesBody() const {
    if (m_transferEncoding)
        return true;
    return m_hasContentLength && m_contentLength.find_first_not_of('0') != std::string::npos;
}

RequestHead::Verdict RequestHead::line(std::string_view text) {
    // A carriage return ends a line together with its line feed only.
    if (text.find('\r') != std::string_view::npos)
        return Verdict::BadRequest;
    if (!m_requestLineDone) {
        m_requestLineDone = true;
        return requestLine(text);
    }
    if (!text.empty())
        return field(text);
    // The end of the head.
    if (m_hosts > 1 || (m_minor == 1 && m_hosts == 0))
        return Verdict::BadRequest;
    // A body framed two ways is read one way here and another by whatever stands between the
    // viewer and this server: the request is refused rather than guessed at.
    if (m_transferEncoding && m_hasContentLength)
        return Verdict::BadRequest;
    return Verdict::Whole;
}

RequestHead::Verdict RequestHead::requestLine(std::string_view text) {
    // method SP target SP version, as Qt reads it, with the version checked.
    std::string_view parts[3];
    int count = 0;
    while (!text.empty()) {
        const std::size_t space = text.find(' ');
        const std::string_view part = text.substr(0, space);
        if (!part.empty()) {
            if (count == 3)
                return Verdict::BadRequest;
            parts[count++] = part;
        }
        if (space == std::string_view::npos)
            break;
        text.remove_prefix(space + 1);
    }
    if (count != 3 || !isToken(parts[0]))
        return Verdict::BadRequest;
    const std::string_view version = parts[2];
    if (version == "HTTP/1.0" || version == "HTTP/1.1") {
        m_minor = version.back() - '0';
        return Verdict::NeedMore;
    }
    if (version.size() == 8 && version.substr(0, 5) == "HTTP/" && isDigit(version[5]) &&
        version[6] == '.' && isDigit(version[7]))
        return Verdict::BadVersion;
    return Verdict::BadRequest;
}

RequestHead::Verdict RequestHead::field(std::string_view text) {
    // A folded continuation line is obsolete and read differently by different parsers.
    if (text.front() == ' ' || text.front() == '\t')
        return Verdict::BadRequest;
    const std::size_t colon = text.find(':');
    if (colon == std::string_view::npos || !isToken(text.substr(0, colon)))
        return Verdict::BadRequest;
    if (++m_fields > kMaxFields)
        return Verdict::TooLarge;
    const std::string_view name = text.substr(0, colon);
    const std::string_view value = trimmed(text.substr(colon + 1));
    if (equalsLower(name, "host")) {
        ++m_hosts;
    } else if (equalsLower(name, "transfer-encoding")) {
        m_transferEncoding = true;
    } else if (equalsLower(name, "content-length")) {
        if (value.empty() || value.size() > 18)
            return Verdict::BadRequest;
        for (const char c : value) {
            if (!isDigit(c))
                return Verdict::BadRequest;
        }
        if (m_hasContentLength && value != m_contentLength)
            return Verdict::BadRequest;
        m_hasContentLength = true;
        m_contentLength.assign(value);
    }
    return Verdict::NeedMore;
}

} // namespace skiro
