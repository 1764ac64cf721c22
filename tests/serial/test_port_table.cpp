#include <climits>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <unistd.h>

#include "serial/PortTable.h"

namespace skiro {
namespace {

namespace fs = std::filesystem;

class PortTableScan : public ::testing::Test {
  protected:
    void SetUp() override {
        m_root = fs::temp_directory_path() / ("skiro-dev-" + std::to_string(::getpid()));
        fs::create_directories(m_root);
    }
    void TearDown() override { fs::remove_all(m_root); }
    void touch(const std::string& name) { std::ofstream(m_root / name).put('\0'); }
    std::string path(const std::string& name) const { return (m_root / name).string(); }

    fs::path m_root;
};

TEST_F(PortTableScan, UsbAdaptersFirstInNaturalOrderThenBuiltInPorts) {
    for (const char* name : {"ttyS10", "ttyS2", "ttyS0", "ttyUSB10", "ttyUSB2", "ttyACM0", "ttyUSB",
                             "ttyUSBx1", "ttyS1a", "tty0", "console", "ttyAMA0"})
        touch(name);
    const std::vector<std::string> expected = {path("ttyUSB2"), path("ttyUSB10"), path("ttyACM0"),
                                               path("ttyS0"),   path("ttyS2"),    path("ttyS10")};
    EXPECT_EQ(PortTable::scanDevices(m_root), expected);

    PortTable table = PortTable::fromMachine({}, m_root);
    EXPECT_EQ(table.devicePath(0), path("ttyUSB2"));
    EXPECT_EQ(table.devicePath(3), path("ttyS0"));
}

TEST_F(PortTableScan, MissingFolderGivesNoDevices) {
    EXPECT_TRUE(PortTable::scanDevices(m_root / "absent").empty());
}

TEST(PortTable, ProfileMappingOverridesTheScannedDevice) {
    PortTable table({"/dev/ttyUSB0", "/dev/ttyS0"}, {{2, "/dev/pts/7"}, {4, "/dev/ttyACM3"}});
    struct Case {
        const char* name;
        int comPort;
        const char* expected;
    } cases[] = {
        {"COM1 from the scan", 0, "/dev/ttyUSB0"},
        {"COM2 named in the profile", 1, "/dev/pts/7"},
        {"COM3 beyond the scan, not named", 2, ""},
        {"COM4 beyond the scan but named", 3, "/dev/ttyACM3"},
        {"negative ComPort", -1, ""},
        {"huge ComPort", INT_MAX, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(table.devicePath(c.comPort), c.expected);
    }
}

TEST(PortTable, DeviceNameCountsFromOne) {
    EXPECT_EQ(comDeviceName(0), "COM1");
    EXPECT_EQ(comDeviceName(3), "COM4");
    EXPECT_EQ(comDeviceName(99999998), "COM99999999");
    EXPECT_EQ(comDeviceName(INT_MAX), "COM2147483648");
}

} // namespace
} // namespace skiro
