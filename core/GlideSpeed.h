#pragma once
#include <cstdint>
#include <vector>

namespace skiro {

// Text that waits to enter the window, in the order it will enter: first the part of the
// current line still outside, then each complete line queued behind it.
struct WaitingText {
    double pixels = 0;           // its extent along the scroll axis still outside the window
    std::uint32_t arrivedMs = 0; // clock tick at which its last byte arrived
};

// The speed of the gliding picture, in pixels per millisecond. It starts at the base speed of
// Step/Tick; with keep-up it rises while text waits, so that a waiting line starts to enter
// within kStartWithinMs of its arrival and lies inside within kInWithinMs, never faster than
// the reader can follow, and falls back to the base speed as the waiting text runs out. Every
// change follows a critically damped ramp: the speed has no jump and its rate of change none
// either, and a change takes about 0.4 s to settle.
class GlideSpeed {
  public:
    static constexpr double kStartWithinMs = 800;
    static constexpr double kInWithinMs = 1800;
    // A line already late is brought in as if it had this long left: fast, but not at once.
    static constexpr double kLateMs = 250;
    // The reading ceiling: one window extent in two seconds. A line then stays on screen at
    // least two seconds on its way across, time to read it once, and the eye can follow the
    // motion; faster than that the display would catch up but no one could read it.
    static constexpr double kCeilingMsPerExtent = 2000;
    // The ramp: natural frequency (per ms) of the damped follower, and the largest rate of
    // change of the speed (px/ms per ms: 1500 px/s each second).
    static constexpr double kOmegaPerMs = 0.012;
    static constexpr double kMaxAccel = 0.0015;
    // Deceleration planned toward the end of the waiting text, so that the speed is back near
    // the base speed when the last line is in; below kMaxAccel, since the ramp lags the target.
    static constexpr double kBrakeAccel = 0.0004;

    // Motion starts from rest at `base` (the display has always started at its base speed).
    void start(double base);

    // The speed that the waiting text asks for at tick `nowMs`, between `base` and the
    // ceiling of a window `extent` pixels long along the scroll axis.
    // `current` is the speed now: the ramp follows the target about 2/kOmegaPerMs behind, and
    // the way back to the base speed allows for that.
    static double target(double base, double extent, const std::vector<WaitingText>& waiting,
                         std::uint32_t nowMs, double current = 0);

    // Follows `target` for `dtMs` milliseconds; returns the pixels moved meanwhile.
    double advance(double dtMs, double target);

    double speed() const { return m_speed; }
    double acceleration() const { return m_accel; }

  private:
    double m_speed = 0;
    double m_accel = 0;
};

} // namespace skiro
