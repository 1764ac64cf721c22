#pragma once
#include <cstdint>

#include <vector>

#include "core/Clock.h"
#include "core/Geometry.h"
#include "core/GlideSpeed.h"
#include "core/Settings.h"
#include "core/ViewState.h"

namespace skiro {

class Intake;

// What the scroll engine asks of the view's window: the window system moves the pixels, the
// view erases the uncovered strip and has it painted.
class ScrollTarget {
  public:
    virtual ~ScrollTarget() = default;
    virtual Rect clientRect() const = 0;
    virtual void invalidate(const Rect& area, bool erase) = 0;
    // Moves the whole picture by (dx, dy); the uncovered strip is erased to the background and
    // queued for painting.
    virtual void movePicture(int dx, int dy) = 0;
};

// Moves the picture toward the outgoing edge a few pixels per tick while the current line
// enters, and keeps lines moving when the window cannot be painted. Intake starts it, painting
// decides after each step whether the line is in; the engine itself only keeps the arithmetic
// and tells the view what to move and repaint.
class ScrollEngine {
  public:
    // More than this since the last paint while scrolling means the window is not being painted.
    static constexpr std::uint32_t kStallMs = 800;

    ScrollEngine(const Settings& settings, const Clock& clock, ViewState& state, Intake& intake,
                 ScrollTarget& target);

    // One tick of the tick source: a step while scrolling; at rest it renews the idle time and
    // closes a gap of more than ten steps at the incoming edge. The view drops queued surplus
    // ticks itself.
    void onTick();

    // Moves the picture once by `step` pixels, doubled by speed-up. Returns the pixels moved.
    int scrollStep(int step);

    // Run by the view clock while scrolling. True when it committed a line.
    bool checkStall();

    // End of a paint.
    void paintDone();

    std::uint32_t idleSince() const { return m_idleSince; }

    // Gliding (Smooth): the picture moves every frame by what the time since the last frame
    // gives at the current speed, in fractions of a pixel, timed from glideStart. There is no
    // step at the start: the repaint that intake asks for decides before the first frame
    // whether the text fits, so text that fits moves nothing. `nowMs` is on the clock's
    // millisecond scale, with the fraction.
    void glideStart(double nowMs);
    // One frame: moves the picture and returns the pixels moved. `waiting` is what keep-up
    // looks at, in the order it will enter.
    double glideFrame(double nowMs, const std::vector<WaitingText>& waiting);
    // At rest after a glide: a gap of more than ten steps at the incoming edge closes as the
    // ticks at rest close it in whole steps. True when it closed one.
    bool closeGapAtRest();
    const GlideSpeed& glideSpeed() const { return m_speed; }
    // Longest time between two frames that the picture moves for in one frame: after a longer
    // stall it goes on from where it was rather than leaping ahead.
    static constexpr double kMaxFrameGapMs = 100;

    // Whether a tick could do anything: step while scrolling, or close a gap at the incoming
    // edge at rest. When it could not, the view lets its tick source rest, so that a display
    // at rest does not wake the program for nothing.
    bool needsTicks() const { return m_state.scrolling || hasGapToClose(); }
    // The tick source starts again after a rest: the display has been idle until now, as the
    // ticks at rest would have recorded, so speed-up counts from here.
    void ticksResumed() { m_idleSince = m_clock.tickCount(); }

  private:
    bool hasGapToClose() const;

    const Settings& m_settings;
    const Clock& m_clock;
    ViewState& m_state;
    Intake& m_intake;
    ScrollTarget& m_target;
    std::uint32_t m_idleSince;
    GlideSpeed m_speed;
    double m_lastFrameMs = 0;
    bool m_gliding = false; // a glide has started and not yet painted its first frame
};

} // namespace skiro
