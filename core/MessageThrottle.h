#pragma once
#include <chrono>
#include <cstddef>
#include <string>
#include <unordered_map>

namespace skiro {

// Keeps diagnostics that repeat from flooding standard error. A client that misbehaves on
// purpose can make the libraries below say the same thing thousands of times a second (one
// line per refused connection); written out, that costs the program time and fills the
// desktop's journal. In each minute, each distinct text is written a few times and all texts
// together some dozens; the rest are held back and counted, and the first message after that
// minute says how many.
class MessageThrottle {
  public:
    using Clock = std::chrono::steady_clock;

    static constexpr std::size_t kPerText = 5;
    static constexpr std::size_t kInAll = 50;
    static constexpr std::chrono::seconds kPeriod{60};

    struct Verdict {
        bool write = false;
        // Messages held back in the period that has just ended: nonzero once, on the first
        // message after it, which is the moment to say so.
        std::size_t heldBackBefore = 0;
    };

    Verdict admit(const std::string& text, Clock::time_point now);

    // The messages held back in this period and not yet told; they count as told after this.
    // For the end of the run, so that a flood that stopped is still reported.
    std::size_t takeHeldBack();

  private:
    void startPeriod(Clock::time_point now);

    Clock::time_point m_periodStart;
    bool m_started = false;
    std::size_t m_written = 0;
    std::size_t m_heldBack = 0;
    // How often each text was written in this period. Emptied with each period, and never
    // holding more texts than the period may write, so that texts that differ cost no memory.
    std::unordered_map<std::string, std::size_t> m_texts;
};

} // namespace skiro
