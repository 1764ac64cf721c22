#include <QSocketNotifier>

#include "app/PortArrivals.h"
#include "serial/DeviceWatch.h"

namespace skiro {

struct PortArrivals::Parts {
    DeviceWatch devices;
    std::unique_ptr<QSocketNotifier> notifier;
};

PortArrivals::PortArrivals(QObject* context, std::function<void()> changed)
    : m_parts(std::make_unique<Parts>()) {
    DeviceWatch& devices = m_parts->devices;
    devices.watchFolder("/dev");
    devices.watchFolder("/dev/serial/by-id");
    if (!devices.ok())
        return;
    m_parts->notifier = std::make_unique<QSocketNotifier>(devices.fd(), QSocketNotifier::Read);
    QObject::connect(m_parts->notifier.get(), &QSocketNotifier::activated, context,
                     [&devices, changed = std::move(changed)] {
                         if (devices.takeEvents())
                             changed();
                     });
}

PortArrivals::~PortArrivals() = default;

} // namespace skiro
