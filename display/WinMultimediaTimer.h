#pragma once
#include <atomic>
#include <functional>

// The precise tick source on Windows: a periodic multimedia timer (timeSetEvent) with the
// system timer's resolution raised to 10 ms while it runs. Its callback runs on the system's
// timer thread and only calls `post`. Where the timer device cannot give 10 ms, no timer runs
// at all rather than a coarser one in its place: 高精度 promises steps at an even pace, and a
// coarse timer standing in for it would glide unevenly while the setting said otherwise. The
// lines still advance, one each 800 ms by the view's stall watchdog, which shows the operator
// that 安全 is the source for this machine.
namespace skiro {

class MultimediaTimer {
  public:
    static constexpr unsigned kResolutionMs = 10;

    explicit MultimediaTimer(std::function<void()> post);
    ~MultimediaTimer();
    MultimediaTimer(const MultimediaTimer&) = delete;
    MultimediaTimer& operator=(const MultimediaTimer&) = delete;

    // The resolution the timer device offers for the timer: 10, or 0 when it cannot.
    static unsigned devicePeriod();

    // Starts a periodic timer of `intervalMs`; false when the device or the system refuses.
    bool start(int intervalMs);
    void stop();
    // A rest: the timer is killed but its interval kept, and resume() starts it again.
    void pause();
    void resume();

    bool started() const { return m_interval != 0; }
    bool ticking() const { return m_id.load() != 0; }
    int interval() const { return m_interval; }

  private:
    bool arm();
    void disarm();
    static void __stdcall onTick(unsigned id, unsigned, unsigned long long user, unsigned long long,
                                 unsigned long long);

    std::function<void()> m_post;
    std::atomic<unsigned> m_id{0};
    int m_interval = 0;
};

} // namespace skiro
