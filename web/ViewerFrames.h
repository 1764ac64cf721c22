#pragma once
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace skiro {

// The WebSocket frames on a viewer's link after the handshake, read strictly. A viewer only
// listens: beyond the answers to the server's pings, pings of its own and its closing frame,
// anything it sends ends the link, at the first frame header, so that no message is ever
// gathered from it. Frames from a browser are masked; one that is not is a protocol error.
// Plain C++, no Qt.
class ViewerFrames {
  public:
    // Close codes the server ends a link with.
    static constexpr std::uint16_t kNormal = 1000;
    static constexpr std::uint16_t kProtocolError = 1002;
    static constexpr std::uint16_t kUnsupportedData = 1003;
    static constexpr std::uint16_t kPolicyViolation = 1008;
    static constexpr std::uint16_t kTryAgainLater = 1013;

    struct Event {
        enum class Kind { Ping, Pong, Close, Violation };
        Kind kind;
        std::string payload;    // of a ping or a pong
        std::uint16_t code = 0; // the viewer's close code, or the one to close a violation with
    };

    // Takes the next bytes of the link and returns what they complete. After a Close or a
    // Violation, nothing more is read.
    std::vector<Event> take(std::string_view bytes);
    bool ended() const { return m_ended; }

    // A frame from the server: final, unmasked; or only its header, for a payload that is
    // written after it (a message sent in pieces: text, then continuations, the last final).
    static std::string frame(std::uint8_t opcode, std::string_view payload);
    static std::string header(std::uint8_t opcode, std::size_t payloadSize, bool final = true);
    static std::string closeFrame(std::uint16_t code);

    static constexpr std::uint8_t kContinuation = 0x0;
    static constexpr std::uint8_t kText = 0x1;
    static constexpr std::uint8_t kClose = 0x8;
    static constexpr std::uint8_t kPing = 0x9;
    static constexpr std::uint8_t kPong = 0xA;

  private:
    std::string m_buffer; // one control frame at most: 2 + 4 + 125 bytes
    bool m_ended = false;
};

} // namespace skiro
