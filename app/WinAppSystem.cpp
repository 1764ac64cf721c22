#include <QGuiApplication>
#include <QTemporaryFile>
#include <QTimer>
#include <QWidget>

#include <cstdio>

#include "app/AppSystem.h"
#include "app/WinDdeServer.h"
#include "app/WinTermLink.h"

namespace skiro {

std::string pathBytes(const QString& path) {
    return path.toStdString();
}

// Windows does not mark Program Files read-only, so its attributes do not tell: a file is made
// and removed again.
bool canWriteIn(const QString& folder) {
    QTemporaryFile probe(folder + QStringLiteral("/skiro-XXXXXX.tmp"));
    return probe.open();
}

// Windows ends a session (log-off, shutdown) with WM_QUERYENDSESSION rather than a signal.
void closeOnTermination(QObject* owner, std::function<void()> close) {
    QObject::connect(qGuiApp, &QGuiApplication::commitDataRequest, owner, std::move(close));
}

// Windows keeps no low limit on the handles a program holds.
void raiseDescriptorLimit() {}

struct SystemInlets::Parts {
    // The link with 秀Term, which exists on Windows alone.
    std::unique_ptr<WinTermLink> termLink;
    // The real DDE server, beside the local service that skiro-send uses.
    std::unique_ptr<WinDdeServer> dde;
};

SystemInlets::SystemInlets(const QString& serviceName, QWidget* frame, Deliver deliver)
    : m_parts(std::make_unique<Parts>()) {
    // DDE clients reach the display under the executable's name, topic "Command".
    m_parts->dde = std::make_unique<WinDdeServer>(serviceName, deliver);
    if (!m_parts->dde->start()) {
        std::fprintf(stderr, "%s: the DDE service stays off: %s\n", qPrintable(serviceName),
                     qPrintable(m_parts->dde->error()));
        m_parts->dde.reset();
    }
    // 秀Term's text is taken in from the event loop, outside the window procedure that
    // announced it.
    m_parts->termLink =
        std::make_unique<WinTermLink>(frame, [frame, deliver](std::string_view text) {
            QTimer::singleShot(0, frame, [deliver, text = std::string(text)] { deliver(text); });
        });
}

SystemInlets::~SystemInlets() = default;

void SystemInlets::shutdown() {
    if (m_parts->dde)
        m_parts->dde->shutdown();
}

bool SystemInlets::linkTerm() {
    return m_parts->termLink && m_parts->termLink->link();
}

void SystemInlets::unlinkTerm() {
    if (m_parts->termLink)
        m_parts->termLink->unlink();
}

} // namespace skiro
