#include "web/CodeAttempts.h"

#include <algorithm>

namespace skiro {

CodeAttempts::CodeAttempts(int limit, std::chrono::milliseconds window, int overall,
                           std::chrono::milliseconds lockout, std::size_t maxAddresses)
    : m_limit(std::max(1, limit)), m_window(window), m_overallLimit(std::max(1, overall)),
      m_lockout(lockout), m_maxAddresses(std::max<std::size_t>(1, maxAddresses)) {}

std::chrono::milliseconds CodeAttempts::wait(const std::string& address, Clock::time_point now,
                                             bool overall) const {
    using std::chrono::milliseconds;
    const milliseconds locked = overall && now < m_lockedUntil
                                    ? std::chrono::ceil<milliseconds>(m_lockedUntil - now)
                                    : milliseconds(0);
    const auto found = m_failures.find(address);
    if (found == m_failures.end() || static_cast<int>(found->second.size()) < m_limit)
        return locked;
    const auto since = std::chrono::duration_cast<milliseconds>(now - found->second.front());
    return std::max(locked, since >= m_window ? milliseconds(0) : m_window - since);
}

void CodeAttempts::failed(const std::string& address, Clock::time_point now) {
    m_overall.push_back(now);
    while (!m_overall.empty() && now - m_overall.front() >= m_window)
        m_overall.pop_front();
    if (static_cast<int>(m_overall.size()) >= m_overallLimit) {
        // Counted afresh after the lock-out: a guesser gets one more round of the bound, and
        // waits again.
        m_lockedUntil = now + m_lockout;
        m_overall.clear();
    }
    if (m_failures.size() >= m_maxAddresses && m_failures.find(address) == m_failures.end()) {
        prune(now);
        // Still full: the address whose last failure is oldest makes room. Guessers who spread
        // over more addresses than this are not stopped by counting per address anyway.
        if (m_failures.size() >= m_maxAddresses) {
            const auto oldest = std::min_element(
                m_failures.begin(), m_failures.end(),
                [](const auto& a, const auto& b) { return a.second.back() < b.second.back(); });
            m_failures.erase(oldest);
        }
    }
    std::deque<Clock::time_point>& times = m_failures[address];
    times.push_back(now);
    while (static_cast<int>(times.size()) > m_limit)
        times.pop_front();
}

void CodeAttempts::prune(Clock::time_point now) {
    for (auto it = m_failures.begin(); it != m_failures.end();) {
        std::deque<Clock::time_point>& times = it->second;
        while (!times.empty() && now - times.front() >= m_window)
            times.pop_front();
        it = times.empty() ? m_failures.erase(it) : std::next(it);
    }
}

} // namespace skiro
