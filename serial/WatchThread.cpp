#include "serial/WatchThread.h"

#include <cerrno>
#include <cstdint>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <system_error>
#include <unistd.h>

namespace skiro {

namespace {

constexpr short kGone = POLLHUP | POLLERR | POLLNVAL;

// Whether unread input waits in the driver, given what poll() reported. After a hang-up a pty
// still holds what the far end wrote before it closed; a pulled adapter's descriptor reports
// POLLIN for ever but holds nothing, and answers TIOCINQ with EIO.
bool hasPendingInput(int fd, short revents) {
    if (!(revents & POLLIN) || (revents & POLLNVAL))
        return false;
    if (!(revents & kGone))
        return true;
    int queued = 0;
    return ::ioctl(fd, TIOCINQ, &queued) == 0 && queued > 0;
}

short pollNow(int fd) {
    pollfd p{fd, POLLIN, 0};
    return ::poll(&p, 1, 0) > 0 ? p.revents : 0;
}

} // namespace

WatchThread::WatchThread(int portFd, ReadyEvent& ready, WatchCallbacks callbacks)
    : m_portFd(portFd), m_ready(ready), m_callbacks(std::move(callbacks)) {}

WatchThread::~WatchThread() {
    stop();
}

bool WatchThread::start() {
    if (m_thread.joinable())
        return true;
    m_wakeFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (m_wakeFd < 0)
        return false;
    m_stopping = false;
    m_running = true;
    try {
        m_thread = std::thread([this] { watchComm(); });
    } catch (const std::system_error&) {
        m_running = false;
        ::close(m_wakeFd);
        m_wakeFd = -1;
        return false;
    }
    return true;
}

void WatchThread::stop() {
    if (!m_thread.joinable())
        return;
    m_stopping = true;
    m_ready.set();
    const std::uint64_t one = 1;
    (void)!::write(m_wakeFd, &one, sizeof one);
    if (m_thread.get_id() == std::this_thread::get_id())
        return; // called from a callback: the thread ends on its own, the owner joins it
    m_thread.join();
    ::close(m_wakeFd);
    m_wakeFd = -1;
}

bool WatchThread::pauseOrStop(int timeoutMs) {
    pollfd p{m_wakeFd, POLLIN, 0};
    while (::poll(&p, 1, timeoutMs) < 0 && errno == EINTR) {
    }
    return m_stopping.load();
}

void WatchThread::watchComm() {
    // Below the user-interface thread: the thread only waits, and must never delay scrolling.
    // Not the idle level 19, though: the scheduler holds a woken thread of that level back
    // behind every busy thread's long turn, so on a loaded machine a Stop or the notice of
    // arriving text would wait hundreds of milliseconds. Raising one's own niceness is always
    // allowed; where it is not, the thread runs as it is.
    (void)::setpriority(PRIO_PROCESS, static_cast<id_t>(::gettid()), 10);

    while (!m_stopping) {
        pollfd fds[2] = {{m_portFd, POLLIN, 0}, {m_wakeFd, POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0) {
            if (errno == EINTR)
                continue;
            // The wait itself failed: nothing would tell the view of data or of the device
            // going, so the session is told rather than left watching nothing.
            const int error = errno;
            if (!m_stopping && m_callbacks.gaveUp)
                m_callbacks.gaveUp(error);
            break;
        }
        if (m_stopping || fds[1].revents)
            break;
        const short revents = fds[0].revents;
        if ((revents & kGone) && !hasPendingInput(m_portFd, revents)) {
            // Everything the device delivered has been read by now; the session may close.
            if (m_callbacks.deviceLost)
                m_callbacks.deviceLost();
            break;
        }
        if (!(revents & POLLIN))
            continue;
        // The view has not finished the previous notification within the wait: nothing is
        // posted for this arrival, and the data stays in the driver until the next round.
        if (!m_ready.wait(kReadyWaitMs))
            continue;
        if (m_stopping)
            break;
        // The view may have read it meanwhile (its own poll while at rest).
        if (!hasPendingInput(m_portFd, pollNow(m_portFd)))
            continue;
        if (m_callbacks.canPost && !m_callbacks.canPost()) {
            if (pauseOrStop(kRetryMs))
                break;
            continue;
        }
        // Stop may have begun during the checks; a notification that still slips through finds
        // the port closed and reads nothing, which the view's handler allows.
        if (m_stopping)
            break;
        m_ready.reset();
        if (m_callbacks.postDataReady)
            m_callbacks.postDataReady();
    }
    m_running = false;
}

} // namespace skiro
