#include <climits>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <unistd.h>

#include "serial/PortTable.h"
#include "serial/Reconnector.h"

namespace skiro {
namespace {

namespace fs = std::filesystem;

class PortTableScan : public ::testing::Test {
  protected:
    void SetUp() override {
        m_root = fs::temp_directory_path() / ("skiro-dev-" + std::to_string(::getpid()));
        m_ttyClass = m_root / "class-tty";
        fs::create_directories(m_root);
    }
    void TearDown() override { fs::remove_all(m_root); }
    void touch(const std::string& name) { std::ofstream(m_root / name).put('\0'); }
    std::string path(const std::string& name) const { return (m_root / name).string(); }
    // A built-in port as the kernel shows it: a device node, and in the tty class folder a
    // device link when a driver bound it and the UART type.
    void builtIn(const std::string& name, bool device, const char* type) {
        touch(name);
        fs::create_directories(m_ttyClass / name);
        if (device)
            fs::create_directory_symlink(m_root, m_ttyClass / name / "device");
        if (type)
            std::ofstream(m_ttyClass / name / "type") << type << "\n";
    }

    fs::path m_root;
    fs::path m_ttyClass;
};

TEST_F(PortTableScan, UsbAdaptersFirstInNaturalOrderThenBuiltInPorts) {
    for (const char* name : {"ttyUSB10", "ttyUSB2", "ttyACM0", "ttyUSB", "ttyUSBx1", "ttyS1a",
                             "tty0", "console", "ttyAMA0"})
        touch(name);
    for (const char* name : {"ttyS10", "ttyS2", "ttyS0"})
        builtIn(name, true, "4");
    const std::vector<std::string> expected = {path("ttyUSB2"), path("ttyUSB10"), path("ttyACM0"),
                                               path("ttyS0"),   path("ttyS2"),    path("ttyS10")};
    EXPECT_EQ(PortTable::scanDevices(m_root, m_ttyClass), expected);

    PortTable table = PortTable::fromMachine({}, m_root, m_ttyClass);
    EXPECT_EQ(table.devicePath(0), path("ttyUSB2"));
    EXPECT_EQ(table.devicePath(3), path("ttyS0"));
}

// The kernel makes ttyS0 to ttyS3 on most machines whether or not a UART is there; opening one
// without hardware succeeds and never receives anything.
TEST_F(PortTableScan, BuiltInPortsWithoutAUartAreLeftOut) {
    builtIn("ttyS0", true, "4");  // a 16550A
    builtIn("ttyS1", true, "0");  // unknown UART: a phantom
    builtIn("ttyS2", false, "4"); // no driver bound
    builtIn("ttyS3", true, nullptr);
    builtIn("ttyS4", true, "junk");
    touch("ttyS5"); // no sysfs entry at all
    EXPECT_EQ(PortTable::scanDevices(m_root, m_ttyClass), std::vector<std::string>{path("ttyS0")});

    // With no port at all, every COM number resolves to nothing: Start reports the missing
    // device instead of opening a phantom.
    fs::remove(m_ttyClass / "ttyS0" / "device");
    const PortTable table = PortTable::fromMachine({}, m_root, m_ttyClass);
    EXPECT_TRUE(table.devices().empty());
    EXPECT_EQ(table.devicePath(0), "");
}

// The serial dialog's list: the stable by-id names first, each with the device it leads to,
// then the devices by their kernel names; a by-id link whose device has gone is left out. And
// a session started by kernel name finds the device's by-id name, to look for it by that name
// when it comes back.
TEST_F(PortTableScan, DialogListsStableNamesFirstThenTheDevices) {
    for (const char* name : {"ttyUSB0", "ttyUSB1", "ttyACM0", "null"})
        touch(name);
    builtIn("ttyS0", true, "4");
    builtIn("ttyS1", true, "0");
    const fs::path byId = m_root / "serial" / "by-id";
    fs::create_directories(byId);
    const std::string ftdi = "usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0";
    const std::string prolific = "usb-Prolific_Technology_Inc._USB-Serial_Controller-if00-port0";
    fs::create_symlink("../../ttyUSB1", byId / ftdi);
    fs::create_symlink("../../ttyUSB0", byId / prolific);
    fs::create_symlink("../../ttyUSB7", byId / "usb-Gone_Adapter-if00-port0");

    const std::vector<PortChoice> expected = {
        {(byId / ftdi).string(), ftdi + " (ttyUSB1)"},
        {(byId / prolific).string(), prolific + " (ttyUSB0)"},
        {path("ttyUSB0"), "ttyUSB0"},
        {path("ttyUSB1"), "ttyUSB1"},
        {path("ttyACM0"), "ttyACM0"},
        {path("ttyS0"), "ttyS0"},
    };
    EXPECT_EQ(PortTable::listPorts(m_root, m_ttyClass), expected);

    EXPECT_EQ(byIdAlias(path("ttyUSB1"), byId.string()), (byId / ftdi).string());
    EXPECT_EQ(byIdAlias((byId / ftdi).string(), byId.string()), "") << "already a stable name";
    EXPECT_EQ(byIdAlias(path("ttyACM0"), byId.string()), "") << "a device without one";
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
