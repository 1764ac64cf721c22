#pragma once
#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "core/Settings.h"
#include "serial/DeviceWatch.h"
#include "serial/PortLock.h"

// While the device of a running session is away (adapter pulled, far end hung up): waits on a
// thread of its own for the device to come back and opens it again with the session's line
// settings, so that the session goes on by itself. It sleeps in poll() on the device folders'
// inotify descriptor; only while a device is there but cannot be opened yet (udev has not given
// it its group, another program still holds it), or while a folder cannot be watched, does it
// try again after a pause. It never gives up on its own: only stop() ends the wait.
namespace skiro {

class PosixSerialPort;

class Reconnector {
  public:
    // Called once, on the reconnector's thread, with the port open again and the path it was
    // opened by; it must only post. The thread ends right after.
    using Opened = std::function<void(std::shared_ptr<PosixSerialPort>, const std::string&)>;

    // Pauses between attempts on a device that is there but will not open: short at first,
    // as udev settles a new device within milliseconds, then at most this long.
    static constexpr int kFirstRetryMs = 50;
    static constexpr int kLastRetryMs = 1000;

    // `paths` are tried in order: the stable by-id name first where the device has one, then
    // the path the session was started with.
    Reconnector(std::vector<std::string> paths, Dcb dcb, PortGuards guards, Opened opened);
    ~Reconnector();
    Reconnector(const Reconnector&) = delete;
    Reconnector& operator=(const Reconnector&) = delete;

    // False when the system refuses the wake-up descriptor or the thread.
    bool start();
    // Wakes the thread and waits for it to end; at once, also in the middle of its wait.
    void stop();
    // How the folders are put under watch; before start(). Tests make it fail.
    void setAddWatch(DeviceWatch::AddWatch addWatch) { m_addWatch = addWatch; }

  private:
    void run();
    // Tries each path once; true when one opened and was handed on.
    bool tryOpen(bool& present);
    // Sleeps without poll(), for when the system refuses the wait itself; true when stop()
    // has been called.
    bool sleepOrStop(int timeoutMs);

    std::vector<std::string> m_paths;
    Dcb m_dcb;
    PortGuards m_guards;
    Opened m_opened;
    DeviceWatch::AddWatch m_addWatch = nullptr;
    int m_wakeFd = -1;
    std::atomic<bool> m_stopping{false};
    std::thread m_thread;
};

// The /dev/serial/by-id name that leads to the same device as `path`, or an empty text when
// `path` is one already or the device has none.
std::string byIdAlias(const std::string& path, const std::string& byIdFolder = "/dev/serial/by-id");

} // namespace skiro
