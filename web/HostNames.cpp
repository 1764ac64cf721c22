#include "web/HostNames.h"

#include <QHostInfo>
#include <QNetworkInterface>

namespace skiro {

namespace {

// How long the machine's addresses are taken as read.
constexpr std::chrono::seconds kAddressesFresh{5};

bool isNameChar(char c) {
    return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '.' || c == '_';
}

bool allDigits(const QByteArray& text) {
    if (text.isEmpty())
        return false;
    for (const char c : text) {
        if (c < '0' || c > '9')
            return false;
    }
    return true;
}

} // namespace

HostNames::HostNames(QStringList extra) : m_names(std::move(extra)) {
    // The machine's own name, as the hall's network or its name service may give it out.
    const QString self = QHostInfo::localHostName().toLower();
    if (!self.isEmpty()) {
        m_names << self << self + QStringLiteral(".local");
        const QString domain = QHostInfo::localDomainName().toLower();
        if (!domain.isEmpty())
            m_names << self + QLatin1Char('.') + domain;
    }
}

bool HostNames::allows(const QByteArray& field) const {
    const QByteArray host = field.trimmed().toLower();
    QByteArray name;
    if (host.startsWith('[')) {
        const qsizetype close = host.indexOf(']');
        if (close < 0)
            return false;
        const QByteArray rest = host.mid(close + 1);
        if (!rest.isEmpty() && !(rest.startsWith(':') && allDigits(rest.mid(1))))
            return false;
        QHostAddress address;
        return address.setAddress(QString::fromLatin1(host.mid(1, close - 1))) &&
               address.protocol() == QAbstractSocket::IPv6Protocol && ownAddress(address);
    }
    const qsizetype colon = host.indexOf(':');
    name = colon < 0 ? host : host.left(colon);
    if (colon >= 0 && !allDigits(host.mid(colon + 1)))
        return false;
    if (name.endsWith('.'))
        name.chop(1);
    if (name.isEmpty())
        return false;
    for (const char c : name) {
        if (!isNameChar(c))
            return false;
    }
    // An address typed or scanned as it is: one of this machine's.
    const QString text = QString::fromLatin1(name);
    if (QHostAddress address; address.setAddress(text))
        return ownAddress(address);
    // Names under "localhost" are this machine's by their definition; browsers do not ask any
    // name service for them.
    if (name == "localhost" || name.endsWith(".localhost"))
        return true;
    return m_names.contains(text);
}

bool HostNames::ownAddress(const QHostAddress& address) const {
    if (address.isLoopback())
        return true;
    const auto now = std::chrono::steady_clock::now();
    if (m_addresses.isEmpty() || now - m_readAt >= kAddressesFresh) {
        m_addresses = QNetworkInterface::allAddresses();
        m_readAt = now;
    }
    for (const QHostAddress& own : m_addresses) {
        if (own.isEqual(address, QHostAddress::TolerantConversion))
            return true;
    }
    return false;
}

} // namespace skiro
