#include "web/WebAddress.h"

#include <QNetworkInterface>
#include <QUrlQuery>

namespace skiro {

namespace {

// The first IPv4 address of an interface that is up and is not the loopback: the one a phone
// on the same network reaches. A machine without one falls back to the loopback address.
QString networkHost() {
    const auto interfaces = QNetworkInterface::allInterfaces();
    for (const QNetworkInterface& interface : interfaces) {
        const auto flags = interface.flags();
        if (!(flags & QNetworkInterface::IsUp) || !(flags & QNetworkInterface::IsRunning) ||
            (flags & QNetworkInterface::IsLoopBack))
            continue;
        for (const QNetworkAddressEntry& entry : interface.addressEntries()) {
            const QHostAddress address = entry.ip();
            if (address.protocol() == QAbstractSocket::IPv4Protocol && !address.isLoopback())
                return address.toString();
        }
    }
    return QStringLiteral("127.0.0.1");
}

} // namespace

QString webAddress(const WebSettings& web, int port) {
    QUrl url;
    url.setScheme(QStringLiteral("http"));
    url.setHost(web.BindAll ? networkHost() : QStringLiteral("127.0.0.1"));
    url.setPort(port);
    url.setPath(QStringLiteral("/"));
    if (!web.AccessCode.empty()) {
        QUrlQuery query;
        query.addQueryItem(QStringLiteral("code"), QString::fromStdString(web.AccessCode));
        url.setQuery(query);
    }
    return url.toString(QUrl::FullyEncoded);
}

} // namespace skiro
