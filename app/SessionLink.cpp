#include "app/SessionLink.h"

#include <QMessageBox>
#include <QMetaObject>
#include <QWidget>

#include "app/Sjis.h"
#include "display/CMarelView.h"

namespace skiro {

SessionLink::SessionLink(QWidget* context, QString title, std::function<void()> afterFailure)
    : m_context(context), m_title(std::move(title)), m_afterFailure(std::move(afterFailure)) {}

void SessionLink::setView(CMarelView* view) {
    m_view = view;
    if (!m_view)
        return;
    // A failed echo of received text, or of typed characters, is shown once like the
    // device's own failures.
    QObject::connect(m_view, &CMarelView::sendFailed, m_view, [this](const QString& message) {
        QMessageBox::critical(m_context, m_title, message);
    });
}

void SessionLink::attachPort(SerialPort* port, ReadyEvent* readyEvent) {
    if (m_view)
        m_view->setSession(port, readyEvent);
}

std::size_t SessionLink::readPort() {
    return m_view ? m_view->intake().readPort() : 0;
}

void SessionLink::showFailure(const std::string& sjisMessage) {
    QMessageBox::critical(m_context, m_title, fromSjis(sjisMessage));
    if (m_afterFailure)
        m_afterFailure();
}

void SessionLink::postDataReady() {
    if (m_view)
        m_view->postDataReady();
}

void SessionLink::postToUi(std::function<void()> task) {
    // The session is stopped before the frame goes, so the context outlives every poster.
    QMetaObject::invokeMethod(m_context, std::move(task), Qt::QueuedConnection);
}

} // namespace skiro
