#include "serial/PortTable.h"

#include <limits>

#include <algorithm>
#include <array>
#include <charconv>
#include <fstream>
#include <string_view>
#include <system_error>

namespace skiro {

std::string comDeviceName(int comPort) {
    // Widened first: a profile may hold any number, and ComPort + 1 must not overflow.
    return "COM" + std::to_string(static_cast<long long>(comPort) + 1);
}

PortTable::PortTable(std::vector<std::string> devices, std::map<int, std::string> overrides)
    : m_devices(std::move(devices)), m_overrides(std::move(overrides)) {}

PortTable PortTable::fromMachine(std::map<int, std::string> overrides,
                                 const std::filesystem::path& devRoot,
                                 const std::filesystem::path& ttyClass) {
    return PortTable(scanDevices(devRoot, ttyClass), std::move(overrides));
}

namespace {

// The kinds of serial device in the order the table numbers them.
constexpr std::array<std::string_view, 3> kKinds = {"ttyUSB", "ttyACM", "ttyS"};

struct Found {
    std::size_t kind;
    unsigned number;
    std::string path;
};

// Kind and number of a device name such as "ttyUSB10"; false for anything else.
bool classify(std::string_view name, std::size_t& kind, unsigned& number) {
    for (std::size_t k = 0; k < kKinds.size(); ++k) {
        if (!name.starts_with(kKinds[k]))
            continue;
        std::string_view digits = name.substr(kKinds[k].size());
        if (digits.empty())
            return false;
        auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), number);
        if (ec != std::errc() || end != digits.data() + digits.size())
            return false;
        kind = k;
        return true;
    }
    return false;
}

constexpr std::size_t kBuiltIn = 2; // ttyS in kKinds

// Whether a built-in port has a UART behind it. Its sysfs entry carries a device link only when
// a driver bound it, and "type" is the UART type, 0 (PORT_UNKNOWN) for a phantom port. Read
// from sysfs rather than with TIOCGSERIAL, so that scanning never opens a port (opening raises
// DTR and RTS on the line).
bool hasUart(const std::filesystem::path& ttyClass, const std::string& name) {
    const std::filesystem::path entry = ttyClass / name;
    std::error_code ec;
    if (!std::filesystem::exists(entry / "device", ec))
        return false;
    std::ifstream typeFile(entry / "type");
    int type = 0;
    return typeFile >> type && type != 0;
}

} // namespace

std::vector<std::string> PortTable::scanDevices(const std::filesystem::path& devRoot,
                                                const std::filesystem::path& ttyClass) {
    std::vector<Found> found;
    std::error_code ec;
    for (std::filesystem::directory_iterator it(devRoot, ec), end; !ec && it != end;
         it.increment(ec)) {
        std::string name = it->path().filename().string();
        Found f;
        if (classify(name, f.kind, f.number) && (f.kind != kBuiltIn || hasUart(ttyClass, name))) {
            f.path = it->path().string();
            found.push_back(std::move(f));
        }
    }
    std::sort(found.begin(), found.end(), [](const Found& a, const Found& b) {
        return a.kind != b.kind ? a.kind < b.kind : a.number < b.number;
    });
    std::vector<std::string> paths;
    paths.reserve(found.size());
    for (Found& f : found)
        paths.push_back(std::move(f.path));
    return paths;
}

std::vector<PortChoice> PortTable::listPorts(const std::filesystem::path& devRoot,
                                             const std::filesystem::path& ttyClass) {
    std::vector<PortChoice> choices;
    std::error_code ec;
    const std::filesystem::path byId = devRoot / "serial" / "by-id";
    for (std::filesystem::directory_iterator it(byId, ec), end; !ec && it != end;
         it.increment(ec)) {
        std::error_code linkError;
        // udev keeps only links to devices that are there; a dangling one is on its way out.
        if (!std::filesystem::exists(it->path(), linkError))
            continue;
        const std::filesystem::path target = std::filesystem::read_symlink(it->path(), linkError);
        std::string label = it->path().filename().string();
        if (!linkError)
            label += " (" + target.filename().string() + ")";
        choices.push_back({it->path().string(), std::move(label)});
    }
    std::sort(choices.begin(), choices.end(),
              [](const PortChoice& a, const PortChoice& b) { return a.label < b.label; });
    for (std::string& path : scanDevices(devRoot, ttyClass)) {
        std::string label = std::filesystem::path(path).filename().string();
        choices.push_back({std::move(path), std::move(label)});
    }
    return choices;
}

std::string PortTable::devicePath(int comPort) const {
    // The profile's ComPort is not range-checked: the COM number is formed only where it exists.
    if (comPort < std::numeric_limits<int>::max()) {
        if (auto it = m_overrides.find(comPort + 1); it != m_overrides.end() && !it->second.empty())
            return it->second;
    }
    if (comPort < 0 || static_cast<std::size_t>(comPort) >= m_devices.size())
        return {};
    return m_devices[static_cast<std::size_t>(comPort)];
}

} // namespace skiro
