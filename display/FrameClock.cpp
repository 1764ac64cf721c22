#include "display/FrameClock.h"

#include <QScreen>
#include <QWidget>

#include <algorithm>
#include <cmath>

namespace skiro {

FrameClock::FrameClock(QWidget* view, std::function<void(double)> frame)
    : m_view(view), m_frame(std::move(frame)) {
    m_timer.setSingleShot(true);
    m_timer.setTimerType(Qt::PreciseTimer);
    connect(&m_timer, &QTimer::timeout, this, &FrameClock::fire);
}

double FrameClock::nowMs() {
    const auto since = std::chrono::steady_clock::now().time_since_epoch();
    return std::chrono::duration<double, std::milli>(since).count();
}

double FrameClock::periodMs() const {
    const QScreen* screen = m_view ? m_view->screen() : nullptr;
    const double hz = screen ? screen->refreshRate() : 0;
    // Refresh rates below 20 Hz or above 500 Hz are not a display's: take the usual 60.
    return 1000.0 / (hz >= 20 && hz <= 500 ? hz : 60.0);
}

void FrameClock::start() {
    if (m_running)
        return;
    m_running = true;
    // The first frame is due one interval from now.
    m_dueMs = nowMs() + periodMs();
    schedule();
}

void FrameClock::stop() {
    m_running = false;
    m_timer.stop();
}

void FrameClock::schedule() {
    // Qt's timers count whole milliseconds.
    const double wait = m_dueMs - nowMs();
    m_timer.start(std::max(0, static_cast<int>(std::floor(wait))));
}

void FrameClock::fire() {
    if (!m_running)
        return;
    const double period = periodMs();
    const double now = nowMs();
    // The frame is placed for its due time, so a wake within a millisecond or two of it is
    // as good as one on time; an early wake beyond that sleeps again.
    if (m_dueMs - now > 2) {
        schedule();
        return;
    }
    // Frames missed while the program was busy are skipped, not made up: the next frame is the
    // latest one due.
    if (now - m_dueMs >= period)
        m_dueMs += std::floor((now - m_dueMs) / period) * period;
    const double due = m_dueMs;
    m_dueMs += period;
    m_frame(due);
    if (m_running)
        schedule();
}

} // namespace skiro
