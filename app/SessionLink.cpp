#include "app/SessionLink.h"

#include <QMessageBox>
#include <QMetaObject>
#include <QShortcut>
#include <QWidget>

#include "sjis/Sjis.h"

namespace skiro {

SessionLink::SessionLink(QWidget* context, QString title, std::function<void()> afterFailure)
    : m_context(context), m_title(std::move(title)), m_afterFailure(std::move(afterFailure)) {}

void SessionLink::attachPort(SerialPort* port, ReadyEvent* readyEvent) {
    if (m_hooks.attachPort)
        m_hooks.attachPort(port, readyEvent);
}

std::size_t SessionLink::readPort() {
    return m_hooks.readPort ? m_hooks.readPort() : 0;
}

void SessionLink::endLine() {
    if (m_hooks.endLine)
        m_hooks.endLine();
}

void SessionLink::showFailure(const std::string& sjisMessage) {
    QMessageBox box(QMessageBox::Critical, m_title, fromSjis(sjisMessage), QMessageBox::Ok,
                    m_context);
    // F1 opens the page that says what each of these messages means and what to do.
    if (m_help) {
        auto* help = new QShortcut(QKeySequence(Qt::Key_F1), &box);
        QObject::connect(help, &QShortcut::activated, &box, [this] { m_help(); });
    }
    box.exec();
    if (m_afterFailure)
        m_afterFailure();
}

void SessionLink::linkWaiting(bool waiting, const std::string& device) {
    if (m_waiting)
        m_waiting(waiting, QString::fromLocal8Bit(device));
    // Stop and Start change their states with the wait.
    if (m_afterFailure)
        m_afterFailure();
}

void SessionLink::postDataReady() {
    if (m_hooks.postDataReady)
        m_hooks.postDataReady();
}

void SessionLink::postToUi(std::function<void()> task) {
    // The session is stopped before the frame goes, so the context outlives every poster.
    QMetaObject::invokeMethod(m_context, std::move(task), Qt::QueuedConnection);
}

} // namespace skiro
