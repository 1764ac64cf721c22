#pragma once
#include <functional>
#include <memory>

class QObject;

namespace skiro {

// Tells, while the serial dialog is open, that serial ports may have come or gone, so that an
// adapter plugged in joins the list at once: on POSIX the watch of the device folders
// (PosixPortArrivals.cpp); Windows tells no descriptor about arriving ports, so there its list
// is looked at once a second (WinPortArrivals.cpp).
class PortArrivals {
  public:
    // `changed` runs on the user-interface thread while `context` lives.
    PortArrivals(QObject* context, std::function<void()> changed);
    ~PortArrivals();
    PortArrivals(const PortArrivals&) = delete;
    PortArrivals& operator=(const PortArrivals&) = delete;

  private:
    struct Parts;
    std::unique_ptr<Parts> m_parts;
};

} // namespace skiro
