#include <filesystem>
#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>

#include "serial/DeviceWatch.h"

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

} // namespace
} // namespace skiro
