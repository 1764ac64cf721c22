#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <gtest/gtest.h>
#include <mutex>
#include <poll.h>
#include <thread>
#include <unistd.h>

#include "serial/DeviceWatch.h"
#include "serial/PosixSerialPort.h"
#include "serial/Reconnector.h"
#include "tests/serial/PtyPair.h"

namespace skiro {
namespace {

namespace fs = std::filesystem;

// Whether the watch reports a change within a generous bound; false when nothing came.
bool changed(DeviceWatch& watch) {
    pollfd p{watch.fd(), POLLIN, 0};
    if (::poll(&p, 1, 5000) <= 0)
        return false;
    return watch.takeEvents();
}

// udev makes /dev/serial/by-id with the first adapter and removes it with the last: a link
// there is still seen when the folders above it come and go while the watch runs.
TEST(DeviceWatch, ALinkInAFolderThatAppearsLaterIsSeen) {
    char pattern[] = "/tmp/skiro-watch-XXXXXX";
    const fs::path root = ::mkdtemp(pattern);
    const fs::path byId = root / "serial" / "by-id";
    DeviceWatch watch;
    ASSERT_TRUE(watch.ok());
    watch.watchFolderOf((byId / "usb-Adapter-if00-port0").string());
    EXPECT_FALSE(watch.takeEvents()) << "nothing yet";

    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round == 0 ? "first adapter" : "after the folder was removed");
        fs::create_directory(root / "serial");
        ASSERT_TRUE(changed(watch));
        fs::create_directory(byId);
        ASSERT_TRUE(changed(watch));
        fs::create_symlink("/dev/null", byId / "usb-Adapter-if00-port0");
        ASSERT_TRUE(changed(watch)) << "the watch moved down to the new folder";
        fs::remove_all(root / "serial");
        ASSERT_TRUE(changed(watch));
    }
    fs::remove_all(root);
}

// A system whose inotify watches are used up: the descriptor is there, every watch refused.
std::atomic<int> g_refusedWatches{0};
int refuseWatch(int, const char*, std::uint32_t) {
    ++g_refusedWatches;
    errno = ENOSPC;
    return -1;
}

// With no folder watched the reconnector does not sleep for ever on a descriptor that will
// never wake it: it looks for the device by time and opens it once it is back.
TEST(Reconnector, FindsTheDeviceByTimeWhenNoFolderCanBeWatched) {
    char pattern[] = "/tmp/skiro-watch-XXXXXX";
    const fs::path root = ::mkdtemp(pattern);
    const fs::path link = root / "ttyLINK";
    DeviceWatch refused(&refuseWatch);
    refused.watchFolderOf(link.string());
    EXPECT_TRUE(refused.ok());
    EXPECT_FALSE(refused.watching());

    std::mutex mutex;
    std::condition_variable opened;
    std::string openedBy;
    Reconnector reconnector({link.string()}, Dcb{}, PortGuards{{}, "/proc"},
                            [&](std::shared_ptr<PosixSerialPort>, const std::string& path) {
                                std::lock_guard lock(mutex);
                                openedBy = path;
                                opened.notify_all();
                            });
    reconnector.setAddWatch(&refuseWatch);
    g_refusedWatches = 0;
    ASSERT_TRUE(reconnector.start());
    // The device comes back once the reconnector has looked for it and found nothing: it has
    // then tried its watch a second time.
    ASSERT_TRUE(test::waitFor([] { return g_refusedWatches >= 2; }, 20000));
    test::PtyPair pty;
    ASSERT_TRUE(pty.ok());
    fs::create_symlink(pty.slavePath, link);
    {
        std::unique_lock lock(mutex);
        EXPECT_TRUE(
            opened.wait_for(lock, std::chrono::seconds(20), [&] { return !openedBy.empty(); }));
        EXPECT_EQ(openedBy, link.string());
    }
    reconnector.stop();
    fs::remove_all(root);
}

} // namespace
} // namespace skiro
