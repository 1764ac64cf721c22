#pragma once
#include <cstdint>
#include <optional>

#include "core/Clock.h"
#include "core/Recorder.h"
#include "core/Settings.h"
#include "core/ViewState.h"

namespace skiro {

// The clock's time stamp in the log: hour, minute and second.
inline constexpr char kTimeStampFormat[] = "[%02d:%02d:%02d]";

class Intake;
class ScrollEngine;

// The system's mouse cursor, for the nudge that tells the system someone is there.
class CursorControl {
  public:
    struct Position {
        int x = 0;
        int y = 0;
    };
    virtual ~CursorControl() = default;
    // Nothing when the position cannot be read; the nudge is then skipped.
    virtual std::optional<Position> position() const = 0;
    virtual void moveTo(int x, int y) = 0;
};

// The view's slow clock beside the tick source, run every 500 ms: keeps the system from
// thinking the display is unattended, writes the periodic time stamp to the log, polls the
// port while the display rests, and runs the stall watchdog while it scrolls.
class ViewClock {
  public:
    static constexpr int kPeriodMs = 500;

    ViewClock(const Settings& settings, const Clock& clock, ViewState& state, Intake& intake,
              ScrollEngine& engine, LineRecorder& recorder, CursorControl* cursor);

    // One clock event. portOpen: a serial session is running.
    void onClock(bool portOpen);

  private:
    void nudgeCursor();
    void stamp(const LocalTime& now);

    const Settings& m_settings;
    const Clock& m_clock;
    ViewState& m_state;
    Intake& m_intake;
    ScrollEngine& m_engine;
    LineRecorder& m_recorder;
    CursorControl* m_cursor;
    // The minute of the last stamp, as a count of minutes of the whole date, so that the same
    // minute of the next hour (an interval of an hour) stamps again; -1 before the first.
    std::int64_t m_lastStampMinute = -1;
};

} // namespace skiro
