#include "display/TickSource.h"

#include <chrono>

namespace skiro {

TickSource::TickSource(std::function<void()> post) : m_post(std::move(post)) {
    m_coarse.setTimerType(Qt::CoarseTimer);
    m_precise.setTimerType(Qt::PreciseTimer);
    QObject::connect(&m_coarse, &QTimer::timeout, [this] { m_post(); });
    QObject::connect(&m_precise, &QTimer::timeout, [this] { m_post(); });
}

TickSource::~TickSource() {
    stop();
}

void TickSource::start(int method, int intervalMs) {
    stop();
    if (intervalMs <= 0)
        return;
    if (method == 0) {
        m_coarse.start(intervalMs);
    } else if (method == 1) {
        m_precise.start(intervalMs);
    } else {
        m_interval.store(intervalMs);
        m_thread = std::thread([this] { threadLoop(); });
    }
}

void TickSource::stop() {
    m_coarse.stop();
    m_precise.stop();
    if (m_thread.joinable()) {
        {
            std::lock_guard lock(m_wakeLock);
            m_interval.store(0);
        }
        // The thread sleeps on the condition, so it ends at once rather than after its interval.
        m_wake.notify_all();
        m_thread.join();
    }
    m_interval.store(0);
}

TickSource::Kind TickSource::running() const {
    if (m_coarse.isActive())
        return Kind::CoarseTimer;
    if (m_precise.isActive())
        return Kind::PreciseTimer;
    if (m_thread.joinable())
        return Kind::Thread;
    return Kind::None;
}

int TickSource::runningSources() const {
    return int(m_coarse.isActive()) + int(m_precise.isActive()) + int(m_thread.joinable());
}

void TickSource::threadLoop() {
    using Clock = std::chrono::steady_clock;
    auto next = Clock::now();
    std::unique_lock lock(m_wakeLock);
    for (;;) {
        const int interval = m_interval.load();
        if (interval == 0)
            return;
        // Deadlines on a fixed grid keep the pace even; after a long stall the grid restarts
        // from now instead of firing a burst to catch up.
        next += std::chrono::milliseconds(interval);
        const auto now = Clock::now();
        if (next < now)
            next = now + std::chrono::milliseconds(interval);
        if (m_wake.wait_until(lock, next, [this] { return m_interval.load() == 0; }))
            return;
        m_post();
    }
}

} // namespace skiro
