#include <QTimer>

#include <vector>

#include "app/PortArrivals.h"
#include "serial/PortTable.h"

namespace skiro {

struct PortArrivals::Parts {
    std::vector<PortChoice> listed = PortTable::listPorts();
    QTimer lookAgain;
};

// The dialog's list is made again only when the system's list changed.
PortArrivals::PortArrivals(QObject* context, std::function<void()> changed)
    : m_parts(std::make_unique<Parts>()) {
    Parts& parts = *m_parts;
    QObject::connect(&parts.lookAgain, &QTimer::timeout, context,
                     [&parts, changed = std::move(changed)] {
                         std::vector<PortChoice> now = PortTable::listPorts();
                         if (now != parts.listed) {
                             parts.listed = std::move(now);
                             changed();
                         }
                     });
    parts.lookAgain.start(1000);
}

PortArrivals::~PortArrivals() = default;

} // namespace skiro
