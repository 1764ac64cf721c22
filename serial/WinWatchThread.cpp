#include "serial/WinWatchThread.h"

#include <system_error>

#include "serial/WinSerialPort.h"

namespace skiro {

namespace {
// A wait that failed while the port still answers is tried again after a pause, and only so
// many times in a row before the thread gives up.
constexpr int kFailedWaitsAllowed = 20;
// A wait that ends without a received-character event (the event mask changed, or Wine, which
// cannot watch a pseudo-terminal's modem lines, ends every wait at once) is followed by this
// pause, so that the thread looks at the input queue often but never spins.
constexpr int kEmptyWaitPauseMs = 10;
} // namespace

WinWatchThread::WinWatchThread(HANDLE port, ReadyEvent& ready, WatchCallbacks callbacks)
    : m_port(port), m_ready(ready), m_callbacks(std::move(callbacks)) {}

WinWatchThread::~WinWatchThread() {
    stop();
    for (HANDLE event : {m_stopEvent, m_commEvent})
        if (event)
            ::CloseHandle(event);
}

bool WinWatchThread::start() {
    if (m_thread.joinable())
        return true;
    if (!m_stopEvent)
        m_stopEvent = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (!m_commEvent)
        m_commEvent = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (!m_stopEvent || !m_commEvent)
        return false;
    ::ResetEvent(m_stopEvent);
    m_stopping = false;
    m_running = true;
    try {
        m_thread = std::thread([this] { watchComm(); });
    } catch (const std::system_error&) {
        m_running = false;
        return false;
    }
    return true;
}

void WinWatchThread::stop() {
    if (!m_thread.joinable())
        return;
    m_stopping = true;
    m_ready.set();
    ::SetEvent(m_stopEvent);
    // Clearing the event mask ends a pending WaitCommEvent, on Windows and under Wine alike
    // (Wine cannot cancel that wait otherwise).
    ::SetCommMask(m_port, 0);
    if (m_thread.get_id() == std::this_thread::get_id())
        return; // called from a callback: the thread ends on its own, the owner joins it
    m_thread.join();
}

bool WinWatchThread::pauseOrStop(int timeoutMs) {
    ::WaitForSingleObject(m_stopEvent, static_cast<DWORD>(timeoutMs));
    return m_stopping.load();
}

bool WinWatchThread::waitForCharacters(bool& failed, bool& received) {
    failed = false;
    received = false;
    OVERLAPPED pending{};
    pending.hEvent = m_commEvent;
    ::ResetEvent(m_commEvent);
    DWORD mask = 0;
    if (!::WaitCommEvent(m_port, &mask, &pending)) {
        if (const DWORD error = ::GetLastError(); error != ERROR_IO_PENDING) {
            failed = true;
            m_lastWaitError = error;
            return m_stopping.load();
        }
        const HANDLE events[2] = {m_stopEvent, m_commEvent};
        const DWORD woke = ::WaitForMultipleObjects(2, events, FALSE, INFINITE);
        const DWORD waitError = woke == WAIT_FAILED ? ::GetLastError() : 0;
        DWORD ignored = 0;
        if (woke != WAIT_OBJECT_0 + 1) {
            // Stop (or a failed wait): the pending request is ended and its end awaited, since
            // it writes into `mask` and `pending` on this stack. Stop has cleared the event
            // mask, which ends it; the cancel covers the rest.
            ::CancelIoEx(m_port, &pending);
            ::GetOverlappedResult(m_port, &pending, &ignored, TRUE);
            failed = woke != WAIT_OBJECT_0;
            if (failed)
                m_lastWaitError = waitError;
            return m_stopping.load();
        }
        if (!::GetOverlappedResult(m_port, &pending, &ignored, FALSE)) {
            failed = true;
            m_lastWaitError = ::GetLastError();
        }
    }
    received = !failed && (mask & EV_RXCHAR);
    return m_stopping.load();
}

void WinWatchThread::watchComm() {
    // Below the user-interface thread: the thread only waits, and must never delay scrolling.
    ::SetThreadPriority(::GetCurrentThread(), THREAD_PRIORITY_LOWEST);
    int failedWaits = 0;
    while (!m_stopping) {
        const long queued = queuedInput(m_port);
        if (queued < 0) {
            // The port no longer answers: everything it delivered has been read or is lost
            // with it, and the session may close.
            if (m_callbacks.deviceLost)
                m_callbacks.deviceLost();
            break;
        }
        // A received-character event comes only for characters that arrive during a wait, so
        // data left unread (the view was busy) is looked at again without one.
        if (queued == 0) {
            bool failed = false;
            bool received = false;
            if (waitForCharacters(failed, received))
                break;
            if (failed) {
                if (++failedWaits > kFailedWaitsAllowed) {
                    // The port still answers but cannot be waited on: nothing would tell the
                    // view of data or of the device going, so the session is told, and treats
                    // the port as lost, rather than being left with a port nobody watches.
                    if (m_callbacks.gaveUp)
                        m_callbacks.gaveUp(static_cast<int>(m_lastWaitError));
                    break;
                }
                if (pauseOrStop(kRetryMs))
                    break;
            } else {
                failedWaits = 0;
                if (!received && pauseOrStop(kEmptyWaitPauseMs))
                    break;
            }
            continue;
        }
        // The view has not finished the previous notification within the wait: nothing is
        // posted this time, and the data stays in the driver until the next round.
        if (!m_ready.wait(kReadyWaitMs))
            continue;
        if (m_stopping)
            break;
        // The view may have read it meanwhile (its own poll while at rest).
        if (queuedInput(m_port) <= 0)
            continue;
        if (m_callbacks.canPost && !m_callbacks.canPost()) {
            if (pauseOrStop(kRetryMs))
                break;
            continue;
        }
        if (m_stopping)
            break;
        m_ready.reset();
        if (m_callbacks.postDataReady)
            m_callbacks.postDataReady();
    }
    m_running = false;
}

} // namespace skiro
