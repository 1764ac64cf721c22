#include "serial/WinReconnector.h"

#include <algorithm>
#include <system_error>

#include "serial/WinSerialPort.h"

namespace skiro {

WinReconnector::WinReconnector(std::vector<std::string> paths, Dcb dcb, PortGuards, Opened opened)
    : m_paths(std::move(paths)), m_dcb(dcb), m_opened(std::move(opened)) {}

WinReconnector::~WinReconnector() {
    stop();
    if (m_stopEvent)
        ::CloseHandle(m_stopEvent);
}

bool WinReconnector::start() {
    if (m_thread.joinable())
        return true;
    if (!m_stopEvent)
        m_stopEvent = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (!m_stopEvent)
        return false;
    ::ResetEvent(m_stopEvent);
    m_stopping = false;
    try {
        m_thread = std::thread([this] { run(); });
    } catch (const std::system_error&) {
        return false;
    }
    return true;
}

void WinReconnector::stop() {
    if (!m_thread.joinable())
        return;
    m_stopping = true;
    ::SetEvent(m_stopEvent);
    if (m_thread.get_id() == std::this_thread::get_id()) {
        m_thread.detach(); // called from the callback: the thread ends right after it
        return;
    }
    m_thread.join();
}

void WinReconnector::run() {
    int pause = kFirstRetryMs;
    for (;;) {
        for (const std::string& path : m_paths) {
            auto port = std::make_shared<WinSerialPort>();
            // What the device holds now was sent after it came back: it is kept.
            if (port->open(path, m_dcb, true).ok()) {
                if (m_opened)
                    m_opened(std::move(port), path);
                return;
            }
        }
        const DWORD woke = ::WaitForSingleObject(m_stopEvent, static_cast<DWORD>(pause));
        // A wait the system refuses does not end the wait for the device, which the view
        // shows as going on: the pause is slept out instead.
        if (woke == WAIT_FAILED)
            ::Sleep(static_cast<DWORD>(pause));
        else if (woke != WAIT_TIMEOUT)
            return;
        if (m_stopping)
            return;
        pause = std::min(pause * 2, kLastRetryMs);
    }
}

std::string byIdAlias(const std::string&, const std::string&) {
    return {};
}

} // namespace skiro
