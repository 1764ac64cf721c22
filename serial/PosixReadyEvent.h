#pragma once
#include <condition_variable>
#include <mutex>

#include "core/ReadyEvent.h"

// The manual-reset ready event between the watch thread and the view, on a mutex and a
// condition variable. Starts set, so the first data that arrives is reported at once.
namespace skiro {

class PosixReadyEvent final : public ReadyEvent {
  public:
    void set() override;
    void reset() override;
    bool wait(int timeoutMs) override;
    bool isSet() const;

  private:
    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    bool m_set = true;
};

} // namespace skiro
