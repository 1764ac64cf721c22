#include <windows.h>

#include <algorithm>
#include <climits>
#include <cwchar>

#include "serial/PortTable.h"

// The port table on Windows, where "COMn" is itself the device: the machine's ports are the
// ones the system lists under HKLM\HARDWARE\DEVICEMAP\SERIALCOMM (built-in ports, USB
// adapters, Bluetooth and virtual ports alike), and the profile may still name another device
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
    std::vector<std::pair<unsigned, std::string>> found;
    HKEY key = nullptr;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_READ,
                        &key) != ERROR_SUCCESS)
        return {};
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
            found.emplace_back(number, "COM" + std::to_string(number));
    }
    ::RegCloseKey(key);
    std::sort(found.begin(), found.end());
    found.erase(std::unique(found.begin(), found.end()), found.end());
    std::vector<std::string> ports;
    for (auto& [number, name] : found)
        ports.push_back(std::move(name));
    return ports;
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
