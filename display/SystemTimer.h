#pragma once
#include <functional>
#include <memory>

// The precise periodic timer that a system offers of its own for TimerMethod 1, where it has
// one that paces better than the tick thread waiting for deadlines on a fixed grid. Its ticks
// come on a thread of the system's and only call `tick`.
namespace skiro {

class SystemTimer {
  public:
    virtual ~SystemTimer() = default;

    // Ticks every `intervalMs`. Where the system cannot time that finely, nothing ticks and
    // lines advance by the view's watchdog alone; the timer is still the running source.
    virtual void start(int intervalMs) = 0;
    virtual void stop() = 0;
    // A rest keeps the interval; resume() ticks again from then.
    virtual void pause() = 0;
    virtual void resume() = 0;

    virtual bool started() const = 0;
    virtual int interval() const = 0;
};

// This system's precise timer; nullptr where the tick thread on a fixed grid is the precise
// source.
std::unique_ptr<SystemTimer> makeSystemTimer(std::function<void()> tick);

} // namespace skiro
