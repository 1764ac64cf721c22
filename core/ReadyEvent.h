#pragma once

namespace skiro {

// The handshake between the watch thread and the view that keeps at most one data-ready
// notification outstanding: the watch thread resets it before it posts, the view sets it again
// once it has handled the notification. Starts set.
class ReadyEvent {
public:
    virtual ~ReadyEvent() = default;
    virtual void set() = 0;
    virtual void reset() = 0;
    // Waits up to timeoutMs for the event to be set; false on time-out.
    virtual bool wait(int timeoutMs) = 0;
};

} // namespace skiro
