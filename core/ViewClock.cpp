#include "core/ViewClock.h"

#include <cstdio>

#include "core/Intake.h"
#include "core/ScrollEngine.h"

namespace skiro {

ViewClock::ViewClock(const Settings& settings, const Clock& clock, ViewState& state, Intake& intake,
                     ScrollEngine& engine, LineRecorder& recorder, CursorControl* cursor)
    : m_settings(settings), m_clock(clock), m_state(state), m_intake(intake), m_engine(engine),
      m_recorder(recorder), m_cursor(cursor) {}

void ViewClock::onClock(bool portOpen) {
    const LocalTime now = m_clock.localTime();
    if (now.second % 20 == 0)
        nudgeCursor();
    if (portOpen && m_settings.TimeStamp && m_settings.WriteTime != 0 && now.second == 0)
        stamp(now);

    // Data whose notification was skipped while the view was busy waits in the driver; pick it
    // up while the display is at rest.
    if (!m_state.scrolling) {
        m_intake.readPort();
        if (!m_state.scrolling)
            return;
    }
    m_engine.checkStall();
}

void ViewClock::nudgeCursor() {
    if (!m_cursor)
        return;
    const std::optional<CursorControl::Position> at = m_cursor->position();
    if (!at)
        return;
    m_cursor->moveTo(at->x + 1, at->y);
    m_cursor->moveTo(at->x - 1, at->y);
    m_cursor->moveTo(at->x, at->y + 1);
    m_cursor->moveTo(at->x, at->y - 1);
    m_cursor->moveTo(at->x, at->y);
}

void ViewClock::stamp(const LocalTime& now) {
    // Stamps fall on the minutes of the hour whose seconds are a multiple of the interval.
    const int m = now.minute * 60;
    if (m % m_settings.WriteTime != 0)
        return;
    // The clock runs twice a second; the second event of the same minute must not stamp again.
    // Keyed by the whole date and time, not the minute of the hour alone, so that an interval
    // of 60 minutes stamps every hour and not only the first time.
    const std::int64_t minuteKey =
        ((((static_cast<std::int64_t>(now.year) * 13 + now.month) * 32 + now.day) * 24 + now.hour) *
             60 +
         now.minute);
    if (minuteKey == m_lastStampMinute)
        return;
    char text[32];
    std::snprintf(text, sizeof text, kTimeStampFormat, now.hour, now.minute, now.second);
    m_recorder.recordLine(text);
    m_lastStampMinute = minuteKey;
}

} // namespace skiro
