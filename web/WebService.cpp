#include "web/WebService.h"

#include <QThread>

#include <algorithm>
#include <vector>

#include "core/Intake.h"
#include "core/LineCommands.h"
#include "core/LogHistory.h"
#include "core/ShiftJis.h"

namespace skiro {

WebService::WebService(const Settings& settings, QObject* parent)
    : QObject(parent), m_settings(settings), m_baseColour(settings.Color.Text),
      m_textColour(settings.Color.Text), m_thread(new QThread(this)), m_server(new WebServer) {
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

bool WebService::displayForm(std::string_view text, bool withPrefix, Colour& textColour,
                             WebLineEvent& event) const {
    std::string_view shown = withPrefix ? text.substr(skipLeadingBytes(text, m_settings)) : text;
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

void WebService::seed(const Intake& intake, const std::vector<std::string>& logged) {
    // The display's own lines as the log has them, to find where they go on from the log: the
    // log holds each line from the moment it became current, unless logging was off.
    std::vector<std::string_view> shown;
    for (std::size_t i = 0; i < intake.storedLineCount(); ++i) {
        const std::string_view text = intake.storedLine(i).text;
        shown.push_back(text.substr(skipLeadingBytes(text, m_settings)));
    }
    if (intake.lineComplete()) {
        const std::string_view text = intake.currentLine();
        shown.push_back(text.substr(skipLeadingBytes(text, m_settings)));
    }
    const std::size_t from =
        continuationIndex(std::vector<std::string_view>(logged.begin(), logged.end()), shown);

    // The day's earlier lines, in the colours their commands gave them.
    Colour colour = m_baseColour;
    for (const std::string& line : logged) {
        WebLineEvent event;
        if (displayForm(line, false, colour, event))
            m_server->post(std::move(event));
    }
    for (std::size_t i = from; i < intake.storedLineCount(); ++i) {
        const CDisplayLine& line = intake.storedLine(i);
        WebLineEvent event;
        Colour own = line.textColor;
        if (displayForm(line.text, true, own, event))
            m_server->post(std::move(event));
    }
    // What has arrived beyond the stored lines: the current line when it is complete, the
    // complete lines waiting behind it, and the line still arriving. The display's colour has
    // taken in the commands it has painted; those still to come are taken in here in order.
    m_textColour = m_settings.Color.Text;
    if (intake.lineComplete()) {
        std::vector<std::string_view> waiting{intake.currentLine()};
        const std::string_view backlog = intake.backlog();
        std::size_t start = 0;
        for (std::size_t cr = backlog.find('\r'); cr != std::string_view::npos;
             cr = backlog.find('\r', start)) {
            waiting.push_back(backlog.substr(start, cr - start));
            start = cr + 1;
        }
        // Viewers are given the last lines only, and the current line once; the others still
        // set the colour.
        std::size_t firstSent = waiting.size() > WebServer::kHistoryLines
                                    ? waiting.size() - WebServer::kHistoryLines
                                    : 0;
        if (from > intake.storedLineCount())
            firstSent = std::max<std::size_t>(firstSent, 1);
        for (std::size_t i = 0; i < waiting.size(); ++i) {
            if (i >= firstSent) {
                lineCompleted(waiting[i]);
            } else {
                WebLineEvent ignored;
                displayForm(waiting[i], true, m_textColour, ignored);
            }
        }
    }
    if (!intake.arrivingLine().empty())
        lineGrowing(intake.arrivingLine());
}

void WebService::lineCompleted(std::string_view text) {
    WebLineEvent event;
    if (!displayForm(text, true, m_textColour, event)) {
        // A line that shows nothing takes no number; the page only drops what was growing.
        m_server->post({WebLineEvent::Kind::Growing, {}, -1});
        return;
    }
    m_server->post(std::move(event));
}

void WebService::lineGrowing(std::string_view text) {
    WebLineEvent event;
    event.kind = WebLineEvent::Kind::Growing;
    // A command in a line not yet complete holds for that line only, until it completes. A
    // character whose second byte has not come yet waits for it, rather than showing as a
    // broken one for a moment.
    Colour colour = m_textColour;
    if (!displayForm(sjis::withoutPartialChar(text), true, colour, event))
        event.sjis.clear();
    m_server->post(std::move(event));
}

} // namespace skiro
