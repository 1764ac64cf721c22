#include "display/WinMultimediaTimer.h"

#include <windows.h>

#include <mmsystem.h>

namespace skiro {

MultimediaTimer::MultimediaTimer(std::function<void()> post) : m_post(std::move(post)) {}

MultimediaTimer::~MultimediaTimer() {
    stop();
}

unsigned MultimediaTimer::devicePeriod() {
    TIMECAPS caps{};
    if (::timeGetDevCaps(&caps, sizeof caps) != TIMERR_NOERROR)
        return 0;
    return caps.wPeriodMin <= kResolutionMs && caps.wPeriodMax >= kResolutionMs ? kResolutionMs : 0;
}

bool MultimediaTimer::start(int intervalMs) {
    stop();
    if (intervalMs <= 0 || devicePeriod() == 0)
        return false;
    m_interval = intervalMs;
    if (!arm()) {
        m_interval = 0;
        return false;
    }
    return true;
}

void MultimediaTimer::stop() {
    disarm();
    m_interval = 0;
}

void MultimediaTimer::pause() {
    disarm();
}

void MultimediaTimer::resume() {
    if (m_interval != 0 && !ticking())
        arm();
}

bool MultimediaTimer::arm() {
    if (::timeBeginPeriod(kResolutionMs) != TIMERR_NOERROR)
        return false;
    // The id is stored before the first tick can look for it: the callback ignores ticks of
    // any other id, so one that comes between timeSetEvent and the store is dropped, not
    // misdelivered.
    const MMRESULT id =
        ::timeSetEvent(static_cast<UINT>(m_interval), kResolutionMs,
                       reinterpret_cast<LPTIMECALLBACK>(&MultimediaTimer::onTick),
                       reinterpret_cast<DWORD_PTR>(this),
                       TIME_PERIODIC | TIME_CALLBACK_FUNCTION | TIME_KILL_SYNCHRONOUS);
    if (id == 0) {
        ::timeEndPeriod(kResolutionMs);
        return false;
    }
    m_id.store(id);
    return true;
}

void MultimediaTimer::disarm() {
    const unsigned id = m_id.exchange(0);
    if (id == 0)
        return;
    // TIME_KILL_SYNCHRONOUS: no callback runs once this returns.
    ::timeKillEvent(id);
    ::timeEndPeriod(kResolutionMs);
}

void __stdcall MultimediaTimer::onTick(unsigned id, unsigned, unsigned long long user,
                                       unsigned long long, unsigned long long) {
    auto* self = reinterpret_cast<MultimediaTimer*>(user);
    if (id == self->m_id.load() && self->m_post)
        self->m_post();
}

} // namespace skiro
