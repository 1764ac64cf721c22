#include "display/TickSource.h"

#include <chrono>

namespace skiro {

TickSource::TickSource(std::function<void()> post)
    : m_post(std::move(post)), m_systemTimer(makeSystemTimer([this] { m_post(); })) {
    m_coarse.setTimerType(Qt::CoarseTimer);
    QObject::connect(&m_coarse, &QTimer::timeout, [this] { m_post(); });
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
        return;
    }
    if (method == 1 && m_systemTimer) {
        m_systemTimer->start(intervalMs);
        return;
    }
    const bool fixedGrid = method == 1;
    m_threadKind = fixedGrid ? Kind::PreciseTimer : Kind::Thread;
    m_interval.store(intervalMs);
    m_thread = std::thread([this, fixedGrid] { threadLoop(fixedGrid); });
}

void TickSource::stop() {
    m_coarse.stop();
    if (m_systemTimer)
        m_systemTimer->stop();
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
    m_paused.store(false);
    m_threadKind = Kind::None;
}

void TickSource::pause() {
    if (m_paused.load() || runningSources() == 0)
        return;
    m_coarse.stop();
    if (m_systemTimer)
        m_systemTimer->pause();
    std::lock_guard lock(m_wakeLock);
    m_paused.store(true);
}

void TickSource::resume() {
    if (!m_paused.load())
        return;
    {
        std::lock_guard lock(m_wakeLock);
        m_paused.store(false);
    }
    if (m_thread.joinable())
        m_wake.notify_all();
    else if (systemTimerStarted())
        m_systemTimer->resume();
    else
        m_coarse.start();
}

TickSource::Kind TickSource::running() const {
    if (systemTimerStarted())
        return Kind::PreciseTimer;
    if (m_coarse.isActive() || (m_paused.load() && !m_thread.joinable()))
        return Kind::CoarseTimer;
    return m_thread.joinable() ? m_threadKind : Kind::None;
}

int TickSource::interval() const {
    if (systemTimerStarted())
        return m_systemTimer->interval();
    if (m_coarse.isActive())
        return m_coarse.interval();
    return m_thread.joinable() ? m_interval.load() : 0;
}

int TickSource::runningSources() const {
    if (systemTimerStarted())
        return 1 + int(m_coarse.isActive()) + int(m_thread.joinable());
    const bool coarse = m_coarse.isActive() || (m_paused.load() && !m_thread.joinable());
    return int(coarse) + int(m_thread.joinable());
}

void TickSource::threadLoop(bool fixedGrid) {
    using Clock = std::chrono::steady_clock;
    auto next = Clock::now();
    std::unique_lock lock(m_wakeLock);
    auto stopped = [this] { return m_interval.load() == 0; };
    for (;;) {
        if (m_paused.load()) {
            // At rest no tick is posted until resume(); the grid starts again from then.
            m_wake.wait(lock, [&] { return stopped() || !m_paused.load(); });
            next = Clock::now();
        }
        const int interval = m_interval.load();
        if (interval == 0)
            return;
        const auto now = Clock::now();
        if (fixedGrid) {
            // Deadlines on a fixed grid keep the pace even; after a long stall the grid
            // restarts from now instead of firing a burst to catch up.
            next += std::chrono::milliseconds(interval);
            if (next < now)
                next = now + std::chrono::milliseconds(interval);
        } else {
            next = now + std::chrono::milliseconds(interval);
        }
        // Waiting on the condition lets stop() end the thread at once, and pause() hold it.
        if (m_wake.wait_until(lock, next, [&] { return stopped() || m_paused.load(); }))
            continue;
        m_post();
    }
}
} // namespace skiro
