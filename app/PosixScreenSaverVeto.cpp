#include "app/ScreenSaverVeto.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusReply>

namespace skiro {
namespace {

const QString kService = QStringLiteral("org.freedesktop.ScreenSaver");
const QString kInterface = QStringLiteral("org.freedesktop.ScreenSaver");

} // namespace

ScreenSaverVeto::~ScreenSaverVeto() {
    setActive(false);
}

void ScreenSaverVeto::setActive(bool active) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (active == holding() || !bus.isConnected())
        return;
    if (active) {
        QDBusConnectionInterface* names = bus.interface();
        if (!names || !names->isServiceRegistered(kService).value())
            return;
        // Desktops publish the service under either path.
        for (const QString& path :
             {QStringLiteral("/org/freedesktop/ScreenSaver"), QStringLiteral("/ScreenSaver")}) {
            QDBusMessage call = QDBusMessage::createMethodCall(kService, path, kInterface,
                                                               QStringLiteral("Inhibit"));
            call << QStringLiteral("SKIRO") << QStringLiteral("showing live text");
            const QDBusReply<std::uint32_t> reply = bus.call(call, QDBus::Block, 500);
            if (reply.isValid() && reply.value() != 0) {
                m_cookie = reply.value();
                m_path = path;
                return;
            }
        }
        return;
    }
    QDBusMessage call =
        QDBusMessage::createMethodCall(kService, m_path, kInterface, QStringLiteral("UnInhibit"));
    call << m_cookie;
    bus.call(call, QDBus::NoBlock);
    m_cookie = 0;
}

} // namespace skiro
