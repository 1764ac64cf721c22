#pragma once
#include <cstdint>
#include <string>
#include <vector>

// Tells when serial devices may have come or gone, without looking again and again: inotify
// on the folders that hold them (/dev for ttyUSB0, /dev/serial/by-id for the stable names, the
// folder of a link that a profile names). A folder that does not exist yet (udev makes
// /dev/serial/by-id with the first adapter and removes it with the last) is waited for at the
// nearest folder above it that does, and taken up when it appears.
namespace skiro {

class DeviceWatch {
  public:
    // How a folder is put under watch: inotify_add_watch's own signature, so that a test can
    // stand in for a system whose watches are used up.
    using AddWatch = int (*)(int fd, const char* path, std::uint32_t mask);

    // `addWatch` nullptr means the system's inotify_add_watch.
    explicit DeviceWatch(AddWatch addWatch = nullptr);
    ~DeviceWatch();
    DeviceWatch(const DeviceWatch&) = delete;
    DeviceWatch& operator=(const DeviceWatch&) = delete;

    // False when the system gave no inotify descriptor (its limit reached).
    bool ok() const { return m_fd >= 0; }
    // Whether every folder asked for is watched (itself, or the nearest one above it). False
    // without a descriptor, and while the system refuses a watch (ENOSPC: the user's watches
    // are used up): a change there would go unnoticed, and the caller looks by time instead.
    bool watching() const;
    // Tries again to watch each folder that is not watched yet; takeEvents() does so too.
    void rearm();
    // Readable when something changed; for poll() or a socket notifier.
    int fd() const { return m_fd; }

    // Watches `folder` for entries made, removed, renamed or given new permissions (udev
    // makes a node first and sets its group a moment later).
    void watchFolder(const std::string& folder);
    // Watches the folder that holds `path`, so that `path` appearing is seen.
    void watchFolderOf(const std::string& path);

    // Reads what the descriptor holds without waiting, and moves each watch to the folder it
    // wants once that exists (or back up when it goes). True when anything was reported.
    bool takeEvents();

  private:
    struct Wanted {
        std::string folder;  // the folder wanted
        std::string watched; // the folder watched for it: itself or the nearest one above
        int wd = -1;
    };
    void arm(Wanted& wanted);

    AddWatch m_addWatch;
    int m_fd = -1;
    std::vector<Wanted> m_wanted;
};

} // namespace skiro
