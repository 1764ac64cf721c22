#pragma once
#include <QByteArray>
#include <QHostAddress>
#include <QList>
#include <QString>
#include <QStringList>

#include <chrono>

namespace skiro {

// The host names a request may ask for in its Host field: this machine's names and addresses,
// and the names the operator adds. A page of another site that points a name of its own at
// this machine (for a moment, or for good) sends that name, and is refused, so that it cannot
// read the captions through the viewer's browser where no access code keeps it out.
class HostNames {
  public:
    HostNames() = default;
    // `extra`: the operator's names, lower case.
    explicit HostNames(QStringList extra);

    // `host`: a Host field's value, with or without a port.
    bool allows(const QByteArray& host) const;

  private:
    bool ownAddress(const QHostAddress& address) const;

    QStringList m_names;
    // The machine's addresses change with its networks: read again now and then.
    mutable QList<QHostAddress> m_addresses;
    mutable std::chrono::steady_clock::time_point m_readAt;
};

} // namespace skiro
