#include <windows.h>

#include <algorithm>
#include <climits>
#include <cwchar>

#include "serial/PortTable.h"

// The port table on Windows, where "COMn" is itself the device: the machine's ports are the
// ones the system lists under HKLM\HARDWARE\DEVICEMAP\SERIALCOMM (built-in ports, USB
// adapters, Bluetooth and virtual ports alike), and the profile may still name another port
// for a COM number.
namespace skiro {

namespace {

// The COM number of a name such as "COM12"; 0 for anything else.
unsigned comNumber(const std::wstring& name) {
    if (name.size() < 4 || _wcsnicmp(name.c_str(), L"COM", 3) != 0)
        return 0;
    unsigned number = 0;
    for (std::size_t i = 3; i < name.size(); ++i) {
        if (name[i] < L'0' || name[i] > L'9' || number > 100000)
            return 0;
        number = number * 10 + static_cast<unsigned>(name[i] - L'0');
    }
    return number;
}

struct SystemPort {
    unsigned number;
    std::string name;   // "COM3"
    std::string device; // the driver's device, "\Device\Serial0"
};

std::string ascii(const std::wstring& wide) {
    std::string text;
    for (const wchar_t c : wide)
        text += c < 0x80 ? static_cast<char>(c) : '?';
    return text;
}

std::vector<SystemPort> systemPorts() {
    std::vector<SystemPort> found;
    HKEY key = nullptr;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_READ,
                        &key) != ERROR_SUCCESS)
        return found;
    for (DWORD index = 0;; ++index) {
        wchar_t name[256];
        DWORD nameLength = 256;
        wchar_t data[64];
        DWORD dataSize = sizeof data;
        DWORD type = 0;
        const LONG status = ::RegEnumValueW(key, index, name, &nameLength, nullptr, &type,
                                            reinterpret_cast<BYTE*>(data), &dataSize);
        if (status == ERROR_NO_MORE_ITEMS)
            break;
        if (status != ERROR_SUCCESS || type != REG_SZ)
            continue;
        std::wstring port(data, dataSize / sizeof(wchar_t));
        port.erase(std::find(port.begin(), port.end(), L'\0'), port.end());
        if (const unsigned number = comNumber(port))
            found.push_back(
                {number, "COM" + std::to_string(number), ascii(std::wstring(name, nameLength))});
    }
    ::RegCloseKey(key);
    std::stable_sort(found.begin(), found.end(),
                     [](const SystemPort& a, const SystemPort& b) { return a.number < b.number; });
    // A port listed twice (two drivers claiming it) counts once.
    found.erase(
        std::unique(found.begin(), found.end(),
                    [](const SystemPort& a, const SystemPort& b) { return a.number == b.number; }),
        found.end());
    return found;
}

} // namespace

std::string comDeviceName(int comPort) {
    // Widened first: a profile may hold any number, and ComPort + 1 must not overflow.
    return "COM" + std::to_string(static_cast<long long>(comPort) + 1);
}

PortTable::PortTable(std::vector<std::string> devices, std::map<int, std::string> overrides)
    : m_devices(std::move(devices)), m_overrides(std::move(overrides)) {}

PortTable PortTable::fromMachine(std::map<int, std::string> overrides, const std::filesystem::path&,
                                 const std::filesystem::path&) {
    return PortTable(scanDevices(), std::move(overrides));
}

std::vector<std::string> PortTable::scanDevices(const std::filesystem::path&,
                                                const std::filesystem::path&) {
    std::vector<std::string> ports;
    for (SystemPort& port : systemPorts())
        ports.push_back(std::move(port.name));
    return ports;
}

std::vector<PortChoice> PortTable::listPorts(const std::filesystem::path&,
                                             const std::filesystem::path&) {
    // Each port with its driver's device beside it ("COM3 (ProlificSerial0)"), which tells a
    // USB adapter from a built-in port.
    std::vector<PortChoice> choices;
    for (SystemPort& port : systemPorts()) {
        std::string device = port.device;
        if (const auto slash = device.rfind('\\'); slash != std::string::npos)
            device.erase(0, slash + 1);
        std::string label = device.empty() ? port.name : port.name + " (" + device + ")";
        choices.push_back({std::move(port.name), std::move(label)});
    }
    return choices;
}

std::string PortTable::devicePath(int comPort) const {
    // The profile's ComPort is not range-checked: the COM number is formed only where it exists.
    if (comPort < 0 || comPort >= INT_MAX)
        return {};
    if (auto it = m_overrides.find(comPort + 1); it != m_overrides.end() && !it->second.empty())
        return it->second;
    // The COM number names the device whether or not the system lists it: opening it decides.
    return comDeviceName(comPort);
}

} // namespace skiro
