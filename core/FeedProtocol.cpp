#include "core/FeedProtocol.h"

namespace skiro::feed {
namespace {

// Largest payload a frame of this type may carry.
std::optional<std::size_t> payloadLimit(std::uint8_t type) {
    switch (static_cast<FrameType>(type)) {
    case FrameType::Initiate:
    case FrameType::InitiateAck:
        return 2 * kMaxName + 1;
    case FrameType::Execute:
        return kMaxRequest;
    case FrameType::ExecuteAck:
        return 2;
    case FrameType::Terminate:
        return 0;
    }
    return std::nullopt;
}

} // namespace

std::string encodeFrame(FrameType type, std::string_view payload) {
    std::string frame;
    frame.reserve(kHeaderSize + payload.size());
    frame += static_cast<char>(type);
    const auto size = static_cast<std::uint32_t>(payload.size());
    for (int shift = 24; shift >= 0; shift -= 8)
        frame += static_cast<char>((size >> shift) & 0xFF);
    frame += payload;
    return frame;
}

std::string encodeInitiate(std::string_view service, std::string_view topic) {
    std::string names(service);
    names += '\0';
    names += topic;
    return encodeFrame(FrameType::Initiate, names);
}

std::string encodeAck(std::uint16_t status) {
    const char word[2] = {static_cast<char>(status >> 8), static_cast<char>(status & 0xFF)};
    return encodeFrame(FrameType::ExecuteAck, std::string_view(word, 2));
}

void FrameReader::append(std::string_view bytes) {
    if (m_consumed > 0 && m_consumed == m_buffer.size()) {
        m_buffer.clear();
        m_consumed = 0;
    }
    m_buffer += bytes;
}

FrameReader::Status FrameReader::next(Frame& out) {
    const std::string_view rest = std::string_view(m_buffer).substr(m_consumed);
    if (rest.size() < kHeaderSize)
        return Status::NeedMore;
    const auto type = static_cast<std::uint8_t>(rest[0]);
    std::uint32_t size = 0;
    for (std::size_t i = 1; i < kHeaderSize; ++i)
        size = (size << 8) | static_cast<std::uint8_t>(rest[i]);
    const auto limit = payloadLimit(type);
    if (!limit)
        return Status::Malformed;
    if (size > *limit)
        return static_cast<FrameType>(type) == FrameType::Execute ? Status::TooLarge
                                                                  : Status::Malformed;
    if (rest.size() < kHeaderSize + size)
        return Status::NeedMore;
    out.type = static_cast<FrameType>(type);
    out.payload.assign(rest.substr(kHeaderSize, size));
    m_consumed += kHeaderSize + size;
    // Keep the buffer from growing without end on a long-lived stream.
    if (m_consumed > 64 * 1024 && m_consumed * 2 > m_buffer.size()) {
        m_buffer.erase(0, m_consumed);
        m_consumed = 0;
    }
    return Status::Frame;
}

std::optional<InitiateNames> parseInitiate(std::string_view payload) {
    const std::size_t nul = payload.find('\0');
    if (nul == std::string_view::npos)
        return std::nullopt;
    return InitiateNames{payload.substr(0, nul), payload.substr(nul + 1)};
}

std::optional<std::uint16_t> parseAck(std::string_view payload) {
    if (payload.size() != 2)
        return std::nullopt;
    return static_cast<std::uint16_t>((static_cast<std::uint8_t>(payload[0]) << 8) |
                                      static_cast<std::uint8_t>(payload[1]));
}

std::string_view requestText(std::string_view payload) {
    return payload.substr(0, payload.find('\0'));
}

std::optional<std::string_view> sendArgument(std::string_view request) {
    if (request.size() < 2 || request.front() != '[' || request.back() != ']')
        return std::nullopt;
    const std::string_view inner = request.substr(1, request.size() - 2);
    const std::size_t open = inner.find('(');
    if (open == std::string_view::npos || open == 0)
        return std::nullopt;
    // Neither "(" nor ")" can be the second byte of a Shift-JIS character, so finding them
    // byte by byte is finding them character by character.
    if (inner.back() != ')')
        return std::nullopt;
    if (inner.substr(0, open) != "Send")
        return std::nullopt;
    return inner.substr(open + 1, inner.size() - 1 - (open + 1));
}

} // namespace skiro::feed
