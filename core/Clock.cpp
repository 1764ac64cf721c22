#include "core/Clock.h"

#include <chrono>
#include <ctime>

#include "core/SystemCalls.h"

namespace skiro {

LocalTime SystemClock::localTime() const {
    const std::tm parts = localCalendar(std::time(nullptr));
    return LocalTime{parts.tm_year + 1900, parts.tm_mon + 1, parts.tm_mday,
                     parts.tm_hour,        parts.tm_min,     parts.tm_sec};
}

std::uint32_t SystemClock::tickCount() const {
    const auto since = std::chrono::steady_clock::now().time_since_epoch();
    return static_cast<std::uint32_t>(
        std::chrono::duration_cast<std::chrono::milliseconds>(since).count());
}

} // namespace skiro
