#pragma once
#include <QTimer>

#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

#include "display/SystemTimer.h"

namespace skiro {

// The scroll engine's periodic tick, delivered to the user-interface thread as a queued event
// by `post`. Three sources, as the TimerMethod setting chooses: 0 a coarse timer on the
// user-interface thread; 1 a precise timer, a thread that waits for deadlines on a fixed grid
// of the interval (it paces more evenly than Qt's precise timer on the user-interface thread,
// which shares that thread's delays); any other value a thread that sleeps for the interval
// after each tick. At most one runs at a time.
class TickSource {
  public:
    enum class Kind { None, CoarseTimer, PreciseTimer, Thread };

    // `post` queues one tick for the user-interface thread; the tick thread calls it too, so it
    // must be safe to call from any thread.
    explicit TickSource(std::function<void()> post);
    ~TickSource();
    TickSource(const TickSource&) = delete;
    TickSource& operator=(const TickSource&) = delete;

    // Stops whatever runs, then starts the source of `method` at `intervalMs`.
    void start(int method, int intervalMs);
    // Stops the running source; the tick thread has ended when this returns.
    void stop();

    // A started source rests without waking anyone until resume(); it stays the running
    // source (a rest is not a stop), and its first tick after resume() comes one interval
    // later. Both do nothing when no source runs.
    void pause();
    void resume();
    bool paused() const { return m_paused.load(); }

    Kind running() const;
    // The interval in milliseconds of the running source; 0 when none runs.
    int interval() const;
    // How many sources run at this moment: 0 or 1, never more.
    int runningSources() const;

  private:
    void threadLoop(bool fixedGrid);
    bool systemTimerStarted() const { return m_systemTimer && m_systemTimer->started(); }

    std::function<void()> m_post;
    QTimer m_coarse;
    Kind m_threadKind = Kind::None;
    // The tick thread's interval in milliseconds; 0 tells it to end.
    std::atomic<int> m_interval{0};
    // Written under m_wakeLock, so that the tick thread's waits see every change.
    std::atomic<bool> m_paused{false};
    std::thread m_thread;
    std::mutex m_wakeLock;
    std::condition_variable m_wake;
    // The precise source where the system offers a timer of its own, rather than the thread.
    std::unique_ptr<SystemTimer> m_systemTimer;
};

} // namespace skiro
