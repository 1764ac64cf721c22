#include "app/WebViewPart.h"

#include <QMessageBox>

#include "app/CMarelDoc.h"
#include "app/UiTexts.h"
#include "core/LogHistory.h"
#include "display/CMarelView.h"
#include "web/CWebDialog.h"
#include "web/WebService.h"

namespace skiro {

struct WebViewPart::Parts {
    std::unique_ptr<WebService> web;
};

WebViewPart::WebViewPart(Host host) : m_host(std::move(host)), m_parts(std::make_unique<Parts>()) {}

WebViewPart::~WebViewPart() = default;

void WebViewPart::apply(bool forRun, int runPort) {
    std::unique_ptr<WebService>& service = m_parts->web;
    CMarelDoc& doc = m_host.doc;
    const WebSettings& web = doc.settings().Web;
    const bool on = web.Enabled != 0 || forRun;
    if (!on) {
        if (m_host.view)
            m_host.view->intake().setObserver(nullptr);
        service.reset();
        return;
    }
    if (!service) {
        service = std::make_unique<WebService>(doc.settings());
        QObject::connect(service.get(), &WebService::failed, service.get(),
                         [this](const QString& reason) {
                             QMessageBox::critical(
                                 m_host.window, m_host.texts.appTitle,
                                 QStringLiteral("ウェブ表示を開始できません。\n%1").arg(reason));
                         });
        if (m_host.view) {
            // After a restart the pages go on from the day's earlier lines.
            const std::string log = doc.recorder().logPath(m_host.clock.localTime());
            service->seed(m_host.view->intake(),
                          readRecentLogLines(log, WebServer::kHistoryLines,
                                             WebServer::kHistoryBytes, doc.strings()));
            m_host.view->intake().setObserver(service.get());
        }
    }
    WebEndpoint endpoint;
    endpoint.port = static_cast<quint16>(forRun && runPort > 0 ? runPort : web.Port);
    endpoint.bindAll = web.BindAll;
    endpoint.accessCode = QByteArray::fromStdString(web.AccessCode);
    endpoint.direction = doc.settings().Direction;
    service->listen(endpoint);
}

bool WebViewPart::showDialog(bool forRun, int runPort) {
    // The dialog shows the web view as it runs now, a port from the command line included.
    WebSettings shown = m_host.doc.settings().Web;
    if (forRun) {
        shown.Enabled = 1;
        if (runPort > 0)
            shown.Port = runPort;
    }
    CWebDialog dialog(shown, m_host.window, m_host.help);
    if (dialog.exec() != QDialog::Accepted)
        return false;
    // What OK confirms becomes the setting, stored at close like the others.
    m_host.doc.settings().Web = dialog.settings();
    return true;
}

void WebViewPart::directionChanged() {
    if (m_parts->web)
        m_parts->web->setDirection(m_host.doc.settings().Direction);
}

void WebViewPart::stop() {
    if (m_host.view)
        m_host.view->intake().setObserver(nullptr);
    m_parts->web.reset();
}

WebService* WebViewPart::service() const {
    return m_parts->web.get();
}

} // namespace skiro
