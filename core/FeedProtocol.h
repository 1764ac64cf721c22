#pragma once
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// The wire format of the local "Send" service, shared by the display's server and its clients,
// and the syntax of the one command it carries. Every message is a frame: one type byte, the
// payload length as 4 bytes big-endian, then the payload. Payloads are bytes of any value, so
// Shift-JIS text passes whole.
namespace skiro::feed {

enum class FrameType : std::uint8_t {
    Initiate = 1,    // client: service name, NUL, topic name
    InitiateAck = 2, // server: the same two names; the conversation is open
    Execute = 3,     // client: the request text; it ends at its first NUL byte
    ExecuteAck = 4,  // server: status word, 2 bytes big-endian
    Terminate = 5,   // either side: no payload; the other side answers with its own
};

constexpr std::size_t kHeaderSize = 5;
// A line of this many bytes goes to the display in one request, so that no other sender's text
// can come between its pieces.
constexpr std::uint32_t kMaxLine = 1024 * 1024;
// Largest request text: such a line with its CR and the command around it. A larger Execute is
// refused and its connection closed.
constexpr std::uint32_t kMaxRequest = kMaxLine + 16;
// Replies the display keeps for a client that does not read them; past this the connection is
// closed.
constexpr std::size_t kMaxUnread = 1024 * 1024;
// Longest service or topic name.
constexpr std::size_t kMaxName = 255;
// Conversations the display holds at once; further connections are closed unanswered.
constexpr std::size_t kMaxConversations = 64;
constexpr std::uint16_t kAckPositive = 0x8000;
constexpr std::uint16_t kAckRefused = 0x0000;
constexpr std::string_view kTopic = "Command";

std::string encodeFrame(FrameType type, std::string_view payload = {});
std::string encodeInitiate(std::string_view service, std::string_view topic);
std::string encodeAck(std::uint16_t status);

struct Frame {
    FrameType type{};
    std::string payload;
};

// Cuts frames out of a byte stream that arrives in pieces of any size.
class FrameReader {
  public:
    enum class Status {
        Frame,     // `out` holds the next frame
        NeedMore,  // no whole frame yet
        Malformed, // unknown type, or a payload too long for its type: the stream is unusable
        TooLarge,  // an Execute longer than kMaxRequest
    };
    void append(std::string_view bytes);
    Status next(Frame& out);
    // Bytes of a frame that has begun but not ended.
    bool midFrame() const { return m_consumed < m_buffer.size(); }

  private:
    std::string m_buffer;
    std::size_t m_consumed = 0;
};

// The two names of an Initiate payload, or nothing when it has no NUL between them.
struct InitiateNames {
    std::string_view service;
    std::string_view topic;
};
std::optional<InitiateNames> parseInitiate(std::string_view payload);
std::optional<std::uint16_t> parseAck(std::string_view payload);

// The text of an Execute payload: everything before its first NUL byte.
std::string_view requestText(std::string_view payload);

// The argument of a request "[Send(argument)]": nothing before "[" or after "]", the name
// runs to the first "(", the argument to the final ")" and may hold brackets and parentheses
// of its own. Nothing for any other shape or name; there is no quoting or escaping.
std::optional<std::string_view> sendArgument(std::string_view request);

} // namespace skiro::feed
