#include "serial/DeviceWatch.h"

// Windows has no descriptor that becomes readable when a serial device comes or goes: the
// watch is never ready there, and whoever wants to follow the ports looks at the system's list
// again from time to time instead.
namespace skiro {

DeviceWatch::DeviceWatch(AddWatch) {}

DeviceWatch::~DeviceWatch() = default;

bool DeviceWatch::watching() const {
    return false;
}

void DeviceWatch::rearm() {}

void DeviceWatch::watchFolder(const std::string&) {}

void DeviceWatch::watchFolderOf(const std::string&) {}

bool DeviceWatch::takeEvents() {
    return false;
}

} // namespace skiro
