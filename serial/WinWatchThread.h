#pragma once
#include <windows.h>

#include <atomic>
#include <thread>

#include "core/ReadyEvent.h"
#include "serial/WatchThread.h"

// The watch thread on Win32: waits for received characters with an overlapped WaitCommEvent
// beside a stop event, and tells the view through the ready-event handshake that data has
// arrived; it never reads or writes the port itself. Stop ends the wait at once. A port whose
// state can no longer be asked (the adapter pulled out) is reported as gone; one that answers
// but can no longer be waited on is reported too, so that the session does not keep a port
// nobody watches.
namespace skiro {

class WinWatchThread {
  public:
    static constexpr int kRetryMs = WatchThread::kRetryMs;
    static constexpr int kReadyWaitMs = WatchThread::kReadyWaitMs;

    WinWatchThread(HANDLE port, ReadyEvent& ready, WatchCallbacks callbacks);
    ~WinWatchThread();
    WinWatchThread(const WinWatchThread&) = delete;
    WinWatchThread& operator=(const WinWatchThread&) = delete;

    // Starts watching; false when the system refuses the events or the thread.
    bool start();
    // Sets the ready event, ends the pending wait and waits for the thread to end; returns at
    // once, also while data keeps arriving. Safe to call twice.
    void stop();
    bool running() const { return m_running.load(); }

  private:
    void watchComm();
    // Waits for a port event or for Stop; true when Stop came. `received` tells whether the
    // event was a received character.
    bool waitForCharacters(bool& failed, bool& received);
    bool pauseOrStop(int timeoutMs);

    HANDLE m_port;
    ReadyEvent& m_ready;
    WatchCallbacks m_callbacks;
    HANDLE m_stopEvent = nullptr;
    HANDLE m_commEvent = nullptr;
    DWORD m_lastWaitError = 0; // the system's code of the last failed wait
    std::atomic<bool> m_stopping{false};
    std::atomic<bool> m_running{false};
    std::thread m_thread;
};

} // namespace skiro
