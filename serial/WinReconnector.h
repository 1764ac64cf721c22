#pragma once
#include <windows.h>

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "core/Settings.h"
#include "serial/PortLock.h"

// While the device of a running session is away (a USB adapter pulled out): tries on a thread
// of its own to open the COM port again with the session's line settings, so that the session
// goes on by itself. Windows has no folder to watch for a returning port, so it tries again
// after a pause, short at first (the system settles a new device quickly), then once a second.
namespace skiro {

class WinSerialPort;

class WinReconnector {
  public:
    // Called once, on the reconnector's thread, with the port open again and the path it was
    // opened by; it must only post. The thread ends right after.
    using Opened = std::function<void(std::shared_ptr<WinSerialPort>, const std::string&)>;

    static constexpr int kFirstRetryMs = 50;
    static constexpr int kLastRetryMs = 1000;

    WinReconnector(std::vector<std::string> paths, Dcb dcb, PortGuards guards, Opened opened);
    ~WinReconnector();
    WinReconnector(const WinReconnector&) = delete;
    WinReconnector& operator=(const WinReconnector&) = delete;

    // False when the system refuses the stop event or the thread.
    bool start();
    // Ends the thread and waits for it; at once, also in the middle of a pause.
    void stop();

  private:
    void run();

    std::vector<std::string> m_paths;
    Dcb m_dcb;
    Opened m_opened;
    HANDLE m_stopEvent = nullptr;
    std::atomic<bool> m_stopping{false};
    std::thread m_thread;
};

// Windows names a port by its COM number alone; there is no second, stable name to look for.
std::string byIdAlias(const std::string& path, const std::string& byIdFolder = {});

} // namespace skiro
