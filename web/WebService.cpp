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

void WebService::setLimits(const WebLimits& limits) {
    WebServer* server = m_server;
    QMetaObject::invokeMethod(
        server, [server, limits] { server->setLimits(limits); }, Qt::QueuedConnection);
    m_endpoint.reset();
}

void WebService::listen(const WebEndpoint& asked) {
    // The host names the operator has added to the machine's own come with the settings.
    WebEndpoint endpoint = asked;
    for (const std::string& name : webHostNames(m_settings.Web.Hosts))
        endpoint.hosts << QString::fromStdString(name);
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
                             WebLineEvent& event, bool commands) const {
    std::string_view shown = withPrefix ? text.substr(skipLeadingBytes(text, m_settings)) : text;
    bool show = true;
    Colour outline = m_settings.OutlineColor;
    if (commands) {
        static const Settings withCommands = [] {
            Settings on;
            on.ExtCommands = 1;
            return on;
        }();
        shown.remove_prefix(parseExtendedCommand(shown, withCommands, show, textColour, outline));
    }
    if (!show)
        return false;
    event.sjis.assign(shown);
    event.colour = sentColour(textColour, commands);
    return true;
}

std::int64_t WebService::sentColour(Colour textColour, bool commands) const {
    return (commands && textColour != m_baseColour) ? static_cast<std::int64_t>(textColour) : -1;
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

    // The day's earlier lines, in the colours their commands gave them. The log keeps a line's
    // command as it came; the display took it in as a command when it showed the line,
    // whatever the extended commands are set to now, so it is never sent as text.
    Colour colour = m_baseColour;
    for (const std::string& line : logged) {
        WebLineEvent event;
        if (displayForm(line, false, colour, event, true))
            m_server->post(std::move(event));
    }
    for (std::size_t i = from; i < intake.storedLineCount(); ++i) {
        const CDisplayLine& line = intake.storedLine(i);
        WebLineEvent event;
        Colour own = line.textColor;
        if (displayForm(line.text, true, own, event))
            m_server->post(std::move(event));
    }
    m_arriving = {};
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
    m_arriving = {};
    WebLineEvent event;
    if (!displayForm(text, true, m_textColour, event)) {
        // A line that shows nothing takes no number; the page only drops what was growing.
        m_server->post({WebLineEvent::Kind::Growing, {}, -1});
        return;
    }
    m_server->post(std::move(event));
}

std::size_t WebService::settledStart(std::string_view text) {
    const std::size_t prefix = skipLeadingBytes(text, m_settings);
    if (prefix == text.size())
        return std::string::npos; // nothing yet beyond the sender's prefix
    if (!m_settings.ExtCommands || text[prefix] != kCommandIntroducer)
        return prefix;
    // A command runs to the first colon, which may come much later: each byte is looked at
    // once, however the line grows.
    if (m_arriving.colon == std::string::npos) {
        m_arriving.colon = text.find(':', std::max(prefix, m_arriving.scanned));
        m_arriving.scanned = text.size();
        if (m_arriving.colon == std::string::npos)
            return std::string::npos;
    }
    // The colour is read from the command's first bytes, wherever the colon is.
    if (text.size() - prefix < kColourCommandSize)
        return std::string::npos;
    return m_arriving.colon + 1;
}

void WebService::lineGrowing(std::string_view text) {
    // The line grows at its end, often by a few hundred bytes of a line that may be a million
    // long: only the new text is looked at and handed over, and the server sends the pages
    // only what they lack.
    Arriving& line = m_arriving;
    if (text.size() < line.seen)
        line = {};
    line.seen = text.size();
    if (line.handed == std::string::npos) {
        const std::size_t start = settledStart(text);
        WebLineEvent event;
        event.kind = WebLineEvent::Kind::Growing;
        if (start == std::string::npos) {
            // The start of the line, its prefix or its command, is not all there yet: it shows
            // what the display would show of it now, if anything. A command still waiting for
            // its colon shows nothing, whatever its length, and is told once.
            const bool awaitingColon = line.colon == std::string::npos && line.scanned > 0;
            if (awaitingColon || text.size() <= skipLeadingBytes(text, m_settings)) {
                if (line.told)
                    return;
            } else {
                Colour colour = m_textColour;
                if (!displayForm(sjis::withoutPartialChar(text), true, colour, event))
                    event.sjis.clear();
            }
            line.told = true;
            m_server->post(std::move(event));
            return;
        }
        // A command in a line not yet complete holds for that line only, until it completes.
        Colour colour = m_textColour;
        Colour outline = m_settings.OutlineColor;
        bool show = true;
        const std::size_t prefix = skipLeadingBytes(text, m_settings);
        parseExtendedCommand(text.substr(prefix, std::max(start - prefix, kColourCommandSize)),
                             m_settings, show, colour, outline);
        // A character whose second byte has not come yet waits for it, rather than showing as
        // a broken one for a moment.
        const std::string_view shown = sjis::withoutPartialChar(text.substr(start));
        event.sjis.assign(shown);
        event.colour = sentColour(colour);
        line.handed = start + shown.size();
        line.told = true;
        m_server->post(std::move(event));
        return;
    }
    const std::string_view added = sjis::withoutPartialChar(text.substr(line.handed));
    if (added.empty())
        return;
    line.handed += added.size();
    m_server->post({WebLineEvent::Kind::Grown, std::string(added), -1});
}

} // namespace skiro
