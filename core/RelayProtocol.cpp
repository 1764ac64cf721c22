#include "core/RelayProtocol.h"

#include <charconv>
#include <cstdio>

namespace skiro::relay {
namespace {

constexpr std::string_view kMagic = "SKIRO1";

bool roomChar(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '_' || c == '.';
}

std::string topic(std::string_view room, std::string_view leaf) {
    std::string t = "skiro/";
    t.append(room);
    t += '/';
    t.append(leaf);
    return t;
}

// RRGGBB of a colour kept as 0x00BBGGRR.
void appendColour(std::string& out, Colour c) {
    char hex[8];
    std::snprintf(hex, sizeof hex, "%02X%02X%02X", redOf(c), greenOf(c), blueOf(c));
    out.append(hex, 6);
}

// The next field up to a space (or the end of the header), which is taken off `header`.
std::string_view nextField(std::string_view& header) {
    const std::size_t space = header.find(' ');
    const std::string_view field = header.substr(0, space);
    header.remove_prefix(space == std::string_view::npos ? header.size() : space + 1);
    return field;
}

template <typename T> bool parseNumber(std::string_view field, T& value, int base = 10) {
    if (field.empty())
        return false;
    const auto [end, error] =
        std::from_chars(field.data(), field.data() + field.size(), value, base);
    return error == std::errc{} && end == field.data() + field.size();
}

bool parseColour(std::string_view field, Colour& colour) {
    std::uint32_t value = 0;
    if (field.size() != 6 || !parseNumber(field, value, 16))
        return false;
    colour =
        rgb(static_cast<int>(value >> 16), static_cast<int>(value >> 8), static_cast<int>(value));
    return true;
}

} // namespace

bool validRoomName(std::string_view room) {
    if (room.empty() || room.size() > 64)
        return false;
    for (const char c : room) {
        if (!roomChar(c))
            return false;
    }
    return true;
}

std::string linesTopic(std::string_view room) {
    return topic(room, "lines");
}
std::string growingTopic(std::string_view room) {
    return topic(room, "growing");
}
std::string inputTopic(std::string_view room) {
    return topic(room, "input");
}

std::string encode(const Message& message) {
    std::string out;
    out.reserve(64 + message.text.size());
    out.append(kMagic);
    out += ' ';
    out += static_cast<char>(message.kind);
    for (const std::uint64_t n : {message.run, message.seq}) {
        out += ' ';
        out += std::to_string(n);
    }
    out += ' ';
    out += std::to_string(message.arrival);
    if (message.kind == Kind::Line) {
        out += ' ';
        appendColour(out, message.textColour);
        out += ' ';
        appendColour(out, message.outlineColour);
    }
    out += '\n';
    out.append(message.text);
    return out;
}

std::optional<Message> decode(std::string_view payload) {
    const std::size_t lf = payload.find('\n');
    if (lf == std::string_view::npos)
        return std::nullopt;
    std::string_view header = payload.substr(0, lf);
    if (nextField(header) != kMagic)
        return std::nullopt;
    Message message;
    const std::string_view kind = nextField(header);
    if (kind.size() != 1 || (kind[0] != 'L' && kind[0] != 'G' && kind[0] != 'I'))
        return std::nullopt;
    message.kind = static_cast<Kind>(kind[0]);
    if (!parseNumber(nextField(header), message.run) ||
        !parseNumber(nextField(header), message.seq) || message.seq == 0 ||
        !parseNumber(nextField(header), message.arrival))
        return std::nullopt;
    if (message.kind == Kind::Line && (!parseColour(nextField(header), message.textColour) ||
                                       !parseColour(nextField(header), message.outlineColour)))
        return std::nullopt;
    // Fields a later version adds after these are left for it.
    message.text.assign(payload.substr(lf + 1));
    return message;
}

FollowerSequence::Verdict FollowerSequence::accept(std::uint64_t run, std::uint64_t seq) {
    Verdict verdict;
    if (m_run == 0 || run > m_run) {
        // The first line this follower sees is taken wherever it joined the room; a sender
        // started again begins at 1, and what its new run began with before is lost.
        if (m_run != 0 && seq > 1) {
            verdict.missedFrom = 1;
            verdict.missedTo = seq - 1;
        }
        m_run = run;
        m_last = seq;
        verdict.deliver = true;
        return verdict;
    }
    // A run older than the one followed, or a seq already seen: a repeat.
    if (run < m_run || seq <= m_last)
        return verdict;
    if (seq > m_last + 1) {
        verdict.missedFrom = m_last + 1;
        verdict.missedTo = seq - 1;
    }
    m_last = seq;
    verdict.deliver = true;
    return verdict;
}

bool FollowerSequence::isNext(std::uint64_t run, std::uint64_t seq) const {
    return m_run == 0 || run > m_run || (run == m_run && seq > m_last);
}

bool InputRepeats::accept(std::uint64_t run, std::uint64_t seq) {
    const auto found = m_last.find(run);
    if (found != m_last.end()) {
        if (seq <= found->second)
            return false;
        found->second = seq;
        return true;
    }
    m_last.emplace(run, seq);
    m_order.push_back(run);
    if (m_order.size() > kRuns) {
        m_last.erase(m_order.front());
        m_order.pop_front();
    }
    return true;
}

SendQueue::Dropped SendQueue::push(std::uint64_t seq, std::string payload) {
    Dropped dropped;
    m_bytes += payload.size();
    m_entries.push_back({seq, std::move(payload)});
    while (m_entries.size() > 1 && (m_entries.size() > m_maxLines || m_bytes > m_maxBytes)) {
        if (dropped.count == 0)
            dropped.from = m_entries.front().seq;
        dropped.to = m_entries.front().seq;
        ++dropped.count;
        pop();
    }
    return dropped;
}

void SendQueue::pop() {
    m_bytes -= m_entries.front().payload.size();
    m_entries.pop_front();
}

} // namespace skiro::relay
