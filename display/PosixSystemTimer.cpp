#include "display/SystemTimer.h"

namespace skiro {

// POSIX systems offer no timer that paces better than the tick thread on a fixed grid, whose
// waits the system's high-resolution timers already serve.
std::unique_ptr<SystemTimer> makeSystemTimer(std::function<void()>) {
    return nullptr;
}

} // namespace skiro
