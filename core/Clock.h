#pragma once
#include <cstdint>

namespace skiro {

// Local wall-clock time, as the log names and stamps need it.
struct LocalTime {
    int year = 0;   // four digits
    int month = 0;  // 1..12
    int day = 0;    // 1..31
    int hour = 0;   // 0..23
    int minute = 0; // 0..59
    int second = 0; // 0..59
};

// Where time comes from. The program uses the system clock; tests inject their own so that
// midnight, minute boundaries and watchdog delays can be reached without waiting.
class Clock {
public:
    virtual ~Clock() = default;
    virtual LocalTime localTime() const = 0;
    // Milliseconds since an arbitrary start, wrapping at 2^32; differences are taken unsigned.
    virtual std::uint32_t tickCount() const = 0;
};

class SystemClock final : public Clock {
public:
    LocalTime localTime() const override;
    std::uint32_t tickCount() const override;
};

} // namespace skiro
