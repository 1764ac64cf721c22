#pragma once
#include <atomic>
#include <functional>
#include <thread>

#include "core/ReadyEvent.h"

// Watches the open port on a thread of its own and tells the view, through the ready-event
// handshake, that data has arrived; it never reads or writes the port itself. It also notices
// when the device goes away, so that the session can end as if Stop had been chosen.
namespace skiro {

struct WatchCallbacks {
    // Whether the view has nothing queued and nothing to paint; asked from the watch thread.
    std::function<bool()> canPost;
    // Posts the data-ready notification to the view; the view reads the port and then sets
    // the ready event, whether or not it read anything.
    std::function<void()> postDataReady;
    // Called once, from the watch thread, when the device has gone and everything it still
    // held has been read; the thread ends right after. It must only post: stopping the
    // session from inside it would wait for the thread that is calling it.
    std::function<void()> deviceLost;
    // Called once, from the watch thread, when it can no longer wait on the port (the system
    // refuses the wait itself), with the system's error code; the thread ends right after.
    // It must only post, as deviceLost.
    std::function<void(int error)> gaveUp;
};

class WatchThread {
  public:
    // While nothing is posted and data stays unread (the view busy), the port is looked at
    // again after this pause rather than at once, as poll() reports unread data for ever.
    static constexpr int kRetryMs = 50;
    // How long the thread waits for the view to finish the previous notification.
    static constexpr int kReadyWaitMs = 500;

    WatchThread(int portFd, ReadyEvent& ready, WatchCallbacks callbacks);
    ~WatchThread();
    WatchThread(const WatchThread&) = delete;
    WatchThread& operator=(const WatchThread&) = delete;

    // Starts watching; false when the system refuses the wake-up descriptor or the thread.
    bool start();
    // Sets the ready event (a thread waiting for the view goes on), wakes the thread and waits
    // for it to end; returns at once, also while data keeps arriving. Safe to call twice.
    void stop();
    // True from start() until the thread has ended, by stop() or by the device going away.
    bool running() const { return m_running.load(); }

  private:
    void watchComm();
    // Waits for the wake-up descriptor up to timeoutMs; true when stop() has been called.
    bool pauseOrStop(int timeoutMs);

    int m_portFd;
    ReadyEvent& m_ready;
    WatchCallbacks m_callbacks;
    int m_wakeFd = -1;
    std::atomic<bool> m_stopping{false};
    std::atomic<bool> m_running{false};
    std::thread m_thread;
};

} // namespace skiro
