#pragma once
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

// Who else uses a serial device, so that opening a port takes it for this program alone: the
// UUCP lock files that serial programs leave in the lock folder (LCK..ttyUSB0 holding a pid),
// and the processes that hold the device open, as /proc shows them. The descriptor's own
// flock() and TIOCEXCL are the port's; these cover programs that use neither.
namespace skiro {

// Another process that uses the device. The pid is 0 when the lock file names none; the
// program is its command name, empty when it cannot be read.
struct PortHolder {
    long pid = 0;
    std::string program;
};

// Where the checks look; the defaults are the system's, tests point them at folders of
// their own.
struct PortGuards {
    // Lock files are honoured in each folder and created in the first one that can be written;
    // Debian makes /var/lock a link to /run/lock, which then counts once.
    std::vector<std::string> lockFolders{"/var/lock", "/run/lock"};
    std::string procRoot = "/proc";
};

// "LCK..ttyUSB0" for /dev/ttyUSB0: the device's real path below /dev, '/' turned into '_'
// (LCK..pts_3 for /dev/pts/3), as the serial programs of Linux name it.
std::string lockFileName(const std::string& realDevice);

// A process other than this one that holds the character device `device` open, found in
// procRoot/<pid>/fd; none when there is none or when /proc does not let us see it.
std::optional<PortHolder> findPortHolder(dev_t device, const std::string& procRoot = "/proc");

// The command name of a process (procRoot/<pid>/comm), empty when unknown.
std::string programName(long pid, const std::string& procRoot = "/proc");

// The lock file of one open port. Taking it honours a lock file of a live process, removes one
// whose process has died (or that names none and is not new), and creates this process's own
// atomically, so that two programs cannot both believe they hold it. Where no lock folder can
// be written the port goes without a lock file, as on a system without one.
class PortLock {
  public:
    explicit PortLock(PortGuards guards = {}) : m_guards(std::move(guards)) {}
    ~PortLock() { release(); }
    PortLock(const PortLock&) = delete;
    PortLock& operator=(const PortLock&) = delete;

    // True when the lock is this process's now (or no folder takes lock files); false with
    // `holder` filled when another live process holds it.
    bool acquire(const std::string& realDevice, PortHolder& holder);
    // Removes the lock file this object made, if it still names this process.
    void release();
    const std::string& procRoot() const { return m_guards.procRoot; }

  private:
    // The holder of an existing lock file; none when there is no file or a stale one was
    // removed.
    std::optional<PortHolder> liveHolder(const std::string& file) const;

    PortGuards m_guards;
    std::string m_file; // the lock file made by acquire(), empty when none
};

} // namespace skiro
