#pragma once
#include <cstddef>
#include <cstdint>
#include <deque>
#include <map>
#include <optional>
#include <string>
#include <string_view>

#include "core/Colour.h"

// The relay's messages on an MQTT broker, for this program and for anything else that wants to
// take part in a room (docs/DEVELOPING.md describes them for other implementations).
//
// A room has three topics: skiro/<room>/lines, every line the sending display records, once;
// skiro/<room>/growing, the line still arriving, as it grows; skiro/<room>/input, text for the
// display that receives the room, from captioners elsewhere. Each payload is a header line of
// ASCII fields separated by single spaces, LF, then the text in UTF-8:
//
//   SKIRO1 <kind> <run> <seq> <arrival> [<text colour> <outline colour>] LF <text>
//
// kind: L (a line), G (the growing line), I (input). run: the sender's start, milliseconds
// since 1970, so that a sender started again is told from one that repeats itself. seq: from 1
// within a run, one more for each line (G carries the seq the line will get). arrival: when
// the text arrived at the sender, milliseconds since 1970. The colours (L only) are RRGGBB in
// hexadecimal: the colours the line is shown in once its colour commands are applied. A line's
// text is as the display records it: the sender's prefix left out, a colour command (FS,
// U+001C) kept where it was. Input text is as a serial line would bring it: CR ends a line.
namespace skiro::relay {

enum class Kind : char { Line = 'L', Growing = 'G', Input = 'I' };

struct Message {
    Kind kind = Kind::Line;
    std::uint64_t run = 0;
    std::uint64_t seq = 0;
    std::int64_t arrival = 0;
    Colour textColour = 0;    // 0x00BBGGRR, as the profile keeps it
    Colour outlineColour = 0; // 0x00BBGGRR
    std::string text;         // UTF-8

    bool operator==(const Message&) const = default;
};

// A room name travels in topic names: letters, digits, '-', '_' and '.', 1 to 64 of them, so
// that it never holds the topic separator or a wildcard.
bool validRoomName(std::string_view room);

std::string linesTopic(std::string_view room);
std::string growingTopic(std::string_view room);
std::string inputTopic(std::string_view room);

std::string encode(const Message& message);
// nullopt for anything that is not a message of this protocol (a foreign client's, a newer
// version's): it is left alone rather than shown.
std::optional<Message> decode(std::string_view payload);

// What a follower does with the lines of a room: each once, in order; a gap it cannot fill is
// reported so that it can be marked. QoS 1 brings a message at least once and in order, so a
// repeat has a seq already seen in its run.
class FollowerSequence {
  public:
    struct Verdict {
        bool deliver = false;
        // The seqs that will never come, [missedFrom, missedTo]; missedFrom is 0 when none are.
        std::uint64_t missedFrom = 0;
        std::uint64_t missedTo = 0;
    };

    Verdict accept(std::uint64_t run, std::uint64_t seq);
    // Whether a growing message belongs to the line that comes next: a repeat of an old growing
    // message, or one of a sender given up on, is not shown.
    bool isNext(std::uint64_t run, std::uint64_t seq) const;
    std::uint64_t run() const { return m_run; }
    std::uint64_t last() const { return m_last; }

  private:
    std::uint64_t m_run = 0; // 0: nothing seen yet; the first line is taken wherever it starts
    std::uint64_t m_last = 0;
};

// The same for the input of a room, which several captioners may send into at once: each of
// their runs is followed on its own. Nothing is marked, since input has no order across
// senders; only repeats are dropped. The oldest runs are forgotten beyond kRuns.
class InputRepeats {
  public:
    static constexpr std::size_t kRuns = 256;
    // False for a repeat.
    bool accept(std::uint64_t run, std::uint64_t seq);

  private:
    std::map<std::uint64_t, std::uint64_t> m_last; // run -> last seq
    std::deque<std::uint64_t> m_order;             // runs, oldest first
};

// The lines waiting for the broker, oldest first, bounded in count and bytes: while the broker
// is away the display keeps captioning, and past the bounds the oldest lines give way.
class SendQueue {
  public:
    static constexpr std::size_t kMaxLines = 10000;
    static constexpr std::size_t kMaxBytes = 16u << 20;

    struct Entry {
        std::uint64_t seq = 0;
        std::string payload;
    };
    // The lines that gave way to a newer one: seqs [from, to], count of them (0: none).
    struct Dropped {
        std::uint64_t from = 0;
        std::uint64_t to = 0;
        std::size_t count = 0;
    };

    explicit SendQueue(std::size_t maxLines = kMaxLines, std::size_t maxBytes = kMaxBytes)
        : m_maxLines(maxLines), m_maxBytes(maxBytes) {}

    // Adds a line at the end, dropping the oldest until the bounds hold again. A line larger
    // than the byte bound on its own is kept alone.
    Dropped push(std::uint64_t seq, std::string payload);
    bool empty() const { return m_entries.empty(); }
    std::size_t size() const { return m_entries.size(); }
    std::size_t bytes() const { return m_bytes; }
    const Entry& front() const { return m_entries.front(); }
    void pop();

  private:
    std::size_t m_maxLines;
    std::size_t m_maxBytes;
    std::size_t m_bytes = 0;
    std::deque<Entry> m_entries;
};

} // namespace skiro::relay
