#include "web/WebService.h"

#include <QThread>

#include "core/Intake.h"
#include "core/LineCommands.h"
#include "core/ShiftJis.h"

namespace skiro {

WebService::WebService(const Settings& settings, QObject* parent)
    : QObject(parent), m_settings(settings), m_baseColour(settings.Color.Text),
      m_thread(new QThread(this)), m_server(new WebServer) {
    m_thread->setObjectName(QStringLiteral("web"));
    m_server->moveToThread(m_thread);
    // The server and every socket it made are destroyed on their own thread.
    connect(m_thread, &QThread::finished, m_server, &QObject::deleteLater);
    connect(m_server, &WebServer::listening, this, &WebService::listening);
    // A failed listen is tried again when asked again, even at the same address.
    connect(m_server, &WebServer::failed, this, [this] { m_endpoint.reset(); });
    connect(m_server, &WebServer::failed, this, &WebService::failed);
    m_thread->start();
}

WebService::~WebService() {
    m_thread->quit();
    m_thread->wait();
}

void WebService::listen(const WebEndpoint& endpoint) {
    if (m_endpoint && *m_endpoint == endpoint)
        return;
    m_endpoint = endpoint;
    WebServer* server = m_server;
    QMetaObject::invokeMethod(
        server, [server, endpoint] { server->listen(endpoint); }, Qt::QueuedConnection);
}

void WebService::setDirection(int direction) {
    // Kept in the endpoint too, so that asking to listen at the same place later is still
    // "the same" and leaves the viewers connected.
    if (m_endpoint)
        m_endpoint->direction = direction;
    WebServer* server = m_server;
    QMetaObject::invokeMethod(
        server, [server, direction] { server->setDirection(direction); }, Qt::QueuedConnection);
}

bool WebService::displayForm(std::string_view text, Colour textColour, WebLineEvent& event) const {
    std::string_view shown = text.substr(skipLeadingBytes(text, m_settings));
    bool show = true;
    Colour outline = m_settings.OutlineColor;
    shown.remove_prefix(parseExtendedCommand(shown, m_settings, show, textColour, outline));
    if (!show)
        return false;
    event.sjis.assign(shown);
    event.colour = (m_settings.ExtCommands && textColour != m_baseColour)
                       ? static_cast<std::int64_t>(textColour)
                       : -1;
    return true;
}

void WebService::seed(const Intake& intake) {
    for (std::size_t i = 0; i < intake.storedLineCount(); ++i) {
        const CDisplayLine& line = intake.storedLine(i);
        WebLineEvent event;
        if (displayForm(line.text, line.textColor, event))
            m_server->post(std::move(event));
    }
    if (intake.lineComplete())
        lineCompleted(intake.currentLine());
    else if (!intake.currentLine().empty())
        lineGrowing(intake.currentLine());
}

void WebService::lineCompleted(std::string_view text) {
    WebLineEvent event;
    if (!displayForm(text, m_settings.Color.Text, event)) {
        // A line that shows nothing takes no number; the page only drops what was growing.
        m_server->post({WebLineEvent::Kind::Growing, {}, -1});
        return;
    }
    m_server->post(std::move(event));
}

void WebService::lineGrowing(std::string_view text) {
    WebLineEvent event;
    event.kind = WebLineEvent::Kind::Growing;
    // A character whose second byte has not come yet waits for it, rather than showing as a
    // broken one for a moment.
    if (!displayForm(sjis::withoutPartialChar(text), m_settings.Color.Text, event))
        event.sjis.clear();
    m_server->post(std::move(event));
}

} // namespace skiro
