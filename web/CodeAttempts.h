#pragma once
#include <chrono>
#include <cstddef>
#include <deque>
#include <string>
#include <unordered_map>

namespace skiro {

// Wrong access codes, counted per address: once an address has given `limit` wrong codes
// within `window`, every attempt from it is refused, the right code included, until the oldest
// of those failures leaves the window. Guessing a code of six letters and digits at ten tries
// a minute takes longer than any event lasts. Guessers spread over many addresses (a /64 of
// IPv6 counts as one, but a network of hosts does not) meet an overall bound too: `overall`
// wrong codes within `window` from all addresses together refuse every attempt for `lockout`.
// A hall's viewers mistype a few a minute. Plain C++, no Qt; time comes in as an argument.
class CodeAttempts {
  public:
    using Clock = std::chrono::steady_clock;

    CodeAttempts(int limit, std::chrono::milliseconds window, int overall = 100,
                 std::chrono::milliseconds lockout = std::chrono::seconds(30),
                 std::size_t maxAddresses = 4096);

    // How long `address` must wait before an attempt of it is heard; zero when it is heard now.
    // `overall`: whether the overall lock-out holds for this attempt too.
    std::chrono::milliseconds wait(const std::string& address, Clock::time_point now,
                                   bool overall = true) const;
    void failed(const std::string& address, Clock::time_point now);
    // Forgets failures that have left the window.
    void prune(Clock::time_point now);
    std::size_t addressCount() const { return m_failures.size(); }

  private:
    int m_limit;
    std::chrono::milliseconds m_window;
    int m_overallLimit;
    std::chrono::milliseconds m_lockout;
    std::deque<Clock::time_point> m_overall; // the latest failures from every address
    Clock::time_point m_lockedUntil{};
    std::size_t m_maxAddresses;
    std::unordered_map<std::string, std::deque<Clock::time_point>> m_failures;
};

} // namespace skiro
