#pragma once
#include <filesystem>
#include <map>
#include <string>
#include <vector>

// Resolves the COM port that the settings name (COM1 = ComPort 0) to a device path. By default
// the machine's serial devices are numbered in a stable order; the profile may name a device
// for any COMn, so that any tty, a pseudo-terminal included, can serve as the port.
namespace skiro {

// "COM%d" with comPort + 1: the name the settings and the serial dialog show.
std::string comDeviceName(int comPort);

// A port the serial dialog offers: the path stored for a COM port, and the name shown.
struct PortChoice {
    std::string path;
    std::string label;
    bool operator==(const PortChoice&) const = default;
};

class PortTable {
  public:
    // Overrides are keyed by the COM number as the profile writes it (COM1=/dev/ttyUSB0 is 1).
    PortTable(std::vector<std::string> devices, std::map<int, std::string> overrides);

    // The table of this machine: the serial devices found under devRoot, then the overrides.
    static PortTable fromMachine(std::map<int, std::string> overrides,
                                 const std::filesystem::path& devRoot = "/dev",
                                 const std::filesystem::path& ttyClass = "/sys/class/tty");

    // The serial devices under devRoot: USB adapters (ttyUSB*, then ttyACM*) before the
    // built-in ports (ttyS*), each kind by its number, so that ttyUSB2 comes before ttyUSB10
    // and plugging in an adapter does not renumber the ones already there. The kernel makes
    // ttyS0 to ttyS3 (or more) whether or not a UART is there; only those with hardware behind
    // them count: a device link in ttyClass and a UART type other than unknown (0).
    static std::vector<std::string>
    scanDevices(const std::filesystem::path& devRoot = "/dev",
                const std::filesystem::path& ttyClass = "/sys/class/tty");

    // The ports the serial dialog lists: first the stable names of USB adapters in
    // devRoot/serial/by-id (maker, model and serial number, the same adapter whatever number
    // it gets), in name order and labelled with the device they lead to now; then the devices
    // of scanDevices(), labelled with their own names.
    static std::vector<PortChoice>
    listPorts(const std::filesystem::path& devRoot = "/dev",
              const std::filesystem::path& ttyClass = "/sys/class/tty");

    // The device path for ComPort (0 = COM1), or an empty text when the table has none.
    std::string devicePath(int comPort) const;

    const std::vector<std::string>& devices() const { return m_devices; }

  private:
    std::vector<std::string> m_devices;
    std::map<int, std::string> m_overrides;
};

} // namespace skiro
