#include "web/ViewerFrames.h"

#include <algorithm>

namespace skiro {

namespace {

// The codes a closing frame may carry: those the protocol defines for use on the wire, and
// those registered for libraries and applications. 1004-1006 and 1015 are reserved, never
// sent.
bool validCloseCode(std::uint16_t code) {
    return (code >= 1000 && code <= 1003) || (code >= 1007 && code <= 1014) ||
           (code >= 3000 && code <= 4999);
}

// Strict UTF-8: no overlong forms, no surrogates, nothing beyond U+10FFFF.
bool validUtf8(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size()) {
        const auto c = static_cast<unsigned char>(text[i]);
        std::size_t more = 0;
        std::uint32_t point = 0, least = 0;
        if (c < 0x80) {
            ++i;
            continue;
        } else if (c >= 0xC2 && c <= 0xDF) {
            more = 1, point = c & 0x1F, least = 0x80;
        } else if (c >= 0xE0 && c <= 0xEF) {
            more = 2, point = c & 0x0F, least = 0x800;
        } else if (c >= 0xF0 && c <= 0xF4) {
            more = 3, point = c & 0x07, least = 0x10000;
        } else {
            return false;
        }
        if (text.size() - i <= more)
            return false;
        for (std::size_t k = 1; k <= more; ++k) {
            const auto next = static_cast<unsigned char>(text[i + k]);
            if ((next & 0xC0) != 0x80)
                return false;
            point = (point << 6) | (next & 0x3F);
        }
        if (point < least || point > 0x10FFFF || (point >= 0xD800 && point <= 0xDFFF))
            return false;
        i += more + 1;
    }
    return true;
}

} // namespace

std::vector<ViewerFrames::Event> ViewerFrames::take(std::string_view bytes) {
    std::vector<Event> events;
    const auto violation = [&](std::uint16_t code) {
        events.push_back({Event::Kind::Violation, {}, code});
        m_ended = true;
        m_buffer.clear();
    };
    while (!m_ended && !bytes.empty()) {
        // Gather one header, or one whole control frame, and no more.
        std::size_t want = 2;
        if (m_buffer.size() >= 2)
            want = 2 + 4 + (static_cast<unsigned char>(m_buffer[1]) & 0x7F);
        const std::size_t step = std::min(want - m_buffer.size(), bytes.size());
        m_buffer.append(bytes.substr(0, step));
        bytes.remove_prefix(step);
        if (m_buffer.size() < 2)
            break;
        const auto first = static_cast<unsigned char>(m_buffer[0]);
        const auto second = static_cast<unsigned char>(m_buffer[1]);
        const bool final = (first & 0x80) != 0;
        const std::uint8_t opcode = first & 0x0F;
        const std::size_t length = second & 0x7F;
        if ((first & 0x70) != 0 || (second & 0x80) == 0) {
            violation(kProtocolError); // reserved bits, or a frame a browser would have masked
            break;
        }
        if (opcode == 0x0 || opcode == 0x1 || opcode == 0x2) {
            violation(kUnsupportedData); // a viewer has nothing to say
            break;
        }
        if ((opcode != kClose && opcode != kPing && opcode != kPong) || !final || length > 125) {
            violation(kProtocolError);
            break;
        }
        if (m_buffer.size() < 2 + 4 + length)
            continue;
        std::string payload = m_buffer.substr(6, length);
        for (std::size_t i = 0; i < payload.size(); ++i)
            payload[i] = static_cast<char>(payload[i] ^ m_buffer[2 + i % 4]);
        m_buffer.clear();
        if (opcode == kPing) {
            events.push_back({Event::Kind::Ping, std::move(payload), 0});
        } else if (opcode == kPong) {
            events.push_back({Event::Kind::Pong, std::move(payload), 0});
        } else if (length == 1) {
            violation(kProtocolError);
        } else {
            const std::uint16_t code =
                length == 0
                    ? kNormal
                    : static_cast<std::uint16_t>((static_cast<unsigned char>(payload[0]) << 8) |
                                                 static_cast<unsigned char>(payload[1]));
            // A code no endpoint may send, or a reason that is not text, is the peer's error,
            // and the answer says so rather than agreeing to a normal close.
            if (length > 0 &&
                (!validCloseCode(code) || !validUtf8(std::string_view(payload).substr(2)))) {
                violation(kProtocolError);
                break;
            }
            events.push_back({Event::Kind::Close, {}, code});
            m_ended = true;
        }
    }
    return events;
}

std::string ViewerFrames::frame(std::uint8_t opcode, std::string_view payload) {
    std::string out = header(opcode, payload.size());
    out.append(payload);
    return out;
}

std::string ViewerFrames::header(std::uint8_t opcode, std::size_t size, bool final) {
    std::string out;
    out.push_back(static_cast<char>((final ? 0x80 : 0x00) | opcode));
    if (size < 126) {
        out.push_back(static_cast<char>(size));
    } else if (size <= 0xFFFF) {
        out.push_back(static_cast<char>(126));
        out.push_back(static_cast<char>(size >> 8));
        out.push_back(static_cast<char>(size & 0xFF));
    } else {
        out.push_back(static_cast<char>(127));
        for (int shift = 56; shift >= 0; shift -= 8)
            out.push_back(static_cast<char>((static_cast<std::uint64_t>(size) >> shift) & 0xFF));
    }
    return out;
}

std::string ViewerFrames::closeFrame(std::uint16_t code) {
    const char payload[2] = {static_cast<char>(code >> 8), static_cast<char>(code & 0xFF)};
    return frame(kClose, std::string_view(payload, 2));
}

} // namespace skiro
