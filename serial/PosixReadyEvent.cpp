#include "serial/PosixReadyEvent.h"

#include <chrono>

namespace skiro {

void PosixReadyEvent::set() {
    {
        std::lock_guard lock(m_mutex);
        m_set = true;
    }
    m_changed.notify_all();
}

void PosixReadyEvent::reset() {
    std::lock_guard lock(m_mutex);
    m_set = false;
}

bool PosixReadyEvent::wait(int timeoutMs) {
    std::unique_lock lock(m_mutex);
    return m_changed.wait_for(lock, std::chrono::milliseconds(timeoutMs), [this] { return m_set; });
}

bool PosixReadyEvent::isSet() const {
    std::lock_guard lock(m_mutex);
    return m_set;
}

} // namespace skiro
