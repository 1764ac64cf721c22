#include "core/MessageThrottle.h"

namespace skiro {

void MessageThrottle::startPeriod(Clock::time_point now) {
    m_periodStart = now;
    m_started = true;
    m_written = 0;
    m_heldBack = 0;
    m_texts.clear();
}

MessageThrottle::Verdict MessageThrottle::admit(const std::string& text, Clock::time_point now) {
    Verdict verdict;
    if (!m_started || now - m_periodStart >= kPeriod) {
        verdict.heldBackBefore = m_heldBack;
        startPeriod(now);
    }
    if (m_written >= kInAll) {
        ++m_heldBack;
        return verdict;
    }
    std::size_t& same = m_texts[text];
    if (same >= kPerText) {
        ++m_heldBack;
        return verdict;
    }
    ++same;
    ++m_written;
    verdict.write = true;
    return verdict;
}

std::size_t MessageThrottle::takeHeldBack() {
    const std::size_t heldBack = m_heldBack;
    m_heldBack = 0;
    return heldBack;
}

} // namespace skiro
