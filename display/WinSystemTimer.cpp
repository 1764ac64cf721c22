#include "display/SystemTimer.h"
#include "display/WinMultimediaTimer.h"

namespace skiro {
namespace {

// The multimedia timer, which keeps an even pace where a thread's waits would follow the
// system's coarse scheduling tick.
class MultimediaSystemTimer final : public SystemTimer {
  public:
    explicit MultimediaSystemTimer(std::function<void()> tick) : m_timer(std::move(tick)) {}

    void start(int intervalMs) override { m_timer.start(intervalMs); }
    void stop() override { m_timer.stop(); }
    void pause() override { m_timer.pause(); }
    void resume() override { m_timer.resume(); }
    bool started() const override { return m_timer.started(); }
    int interval() const override { return m_timer.interval(); }

  private:
    MultimediaTimer m_timer;
};

} // namespace

std::unique_ptr<SystemTimer> makeSystemTimer(std::function<void()> tick) {
    return std::make_unique<MultimediaSystemTimer>(std::move(tick));
}

} // namespace skiro
