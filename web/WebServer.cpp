#include "web/WebServer.h"

#include <algorithm>
#include <cstdio>
#include <memory>

#include <QAbstractHttpServer>
#include <QCryptographicHash>
#include <QHostAddress>
#include <QHttpServerRequest>
#include <QHttpServerResponder>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTcpSocket>
#include <QThread>
#include <QTimer>
#include <QUrlQuery>
#include <QWebSocket>

#include "core/Contrast.h"
#include "core/WebSettings.h"
#include "sjis/Sjis.h"
#include "web/ConnectionGate.h"
#include "web/WebPage.h"

namespace skiro {

namespace {

using Status = QHttpServerResponder::StatusCode;

constexpr int kKeepAliveMs = 15000;

QByteArray digest(const QByteArray& text) {
    return QCryptographicHash::hash(text, QCryptographicHash::Sha256);
}

// Compared as digests, every byte, so that the time taken tells nothing about either text.
bool sameText(const QByteArray& given, const QByteArray& expected) {
    const QByteArray a = digest(given);
    const QByteArray b = digest(expected);
    unsigned difference = 0;
    for (qsizetype i = 0; i < a.size(); ++i)
        difference |= static_cast<unsigned char>(a[i] ^ b[i]);
    return difference == 0;
}

// What the cookie carries in place of the access code: it opens the page as the code does,
// but does not show the code itself to anyone who sees the cookie.
QByteArray codeToken(const QByteArray& code) {
    return digest("skiro web view\n" + code)
        .toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals);
}

QByteArray cookieValue(const QByteArray& header, const QByteArray& name) {
    for (const QByteArray& part : header.split(';')) {
        const QByteArray pair = part.trimmed();
        if (pair.startsWith(name + '='))
            return pair.mid(name.size() + 1);
    }
    return {};
}

// Whether a WebSocket handshake comes from the page's own origin. A browser names the page
// that opens a stream; one from another site (which could otherwise watch through the
// viewer's browser) is refused. A client that names no origin is no browser page, and the
// access code is what keeps it out.
bool sameOrigin(const QByteArray& origin, const QByteArray& host) {
    if (origin.isEmpty())
        return true;
    static const QRegularExpression plainHost(
        QStringLiteral("^([A-Za-z0-9.\\-]{1,253}|\\[[0-9A-Fa-f:.]{2,45}\\])(:[0-9]{1,5})?$"));
    if (!plainHost.match(QString::fromLatin1(host)).hasMatch())
        return false;
    const QUrl page(QString::fromLatin1(origin));
    const QString scheme = page.scheme();
    if (!page.isValid() || (scheme != QLatin1String("http") && scheme != QLatin1String("https")))
        return false;
    const int defaultPort = scheme == QLatin1String("https") ? 443 : 80;
    const QUrl asked(QStringLiteral("http://") + QString::fromLatin1(host));
    return page.host().compare(asked.host(), Qt::CaseInsensitive) == 0 &&
           page.port(defaultPort) == asked.port(defaultPort);
}

QByteArray colourText(std::int64_t colour) {
    const auto c = static_cast<std::uint32_t>(colour);
    char text[8];
    std::snprintf(text, sizeof text, "#%02x%02x%02x", c & 0xFF, (c >> 8) & 0xFF, (c >> 16) & 0xFF);
    return text;
}

QByteArray toMessage(const QJsonObject& object) {
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

} // namespace

// The HTTP side: fixed routes only, GET and HEAD only, nothing read from disk.
class ViewerHttp : public QAbstractHttpServer {
  public:
    explicit ViewerHttp(WebServer& server) : QAbstractHttpServer(&server), m_server(server) {}

  protected:
    bool handleRequest(const QHttpServerRequest& request, QTcpSocket* socket) override {
        ConnectionGate* gate = ConnectionGate::of(socket);
        if (!gate || gate->answered())
            return false;
        // A name this machine does not go by is another site's, pointed here: page and stream
        // alike are refused. (A request without the field, HTTP/1.0, comes from no browser.)
        if (const QByteArray host = request.value("host");
            !host.isEmpty() && !m_server.m_hostNames.allows(host)) {
            static const QByteArray kMisdirected =
                plainAnswer(421, "Misdirected Request", "Unknown host name\n");
            if (socket->isTransactionStarted()) {
                gate->refuse(kMisdirected);
                return false;
            }
            QHttpServerResponder responder = makeResponder(request, socket);
            reply(responder, Status::MisdirectedRequest, "text/plain; charset=utf-8",
                  "Unknown host name\n", "default-src 'none'; frame-ancestors 'none'",
                  request.method() != QHttpServerRequest::Method::Head);
            socket->disconnectFromHost();
            return true;
        }
        // A request that asks for an upgrade ("Connection: Upgrade") is read inside a read
        // transaction, which the HTTP server rolls back to hand the bytes to the WebSocket
        // handshake if this says yes; every other request it has committed before asking.
        if (socket->isTransactionStarted())
            return allowStream(request, *gate);
        QHttpServerResponder responder = makeResponder(request, socket);
        answer(request, responder, *gate);
        // Each connection carries one request: a hall full of phones must not hold idle
        // connections open.
        socket->disconnectFromHost();
        return true;
    }
    void missingHandler(const QHttpServerRequest&, QTcpSocket* socket) override {
        if (ConnectionGate* gate = ConnectionGate::of(socket); gate && gate->answered())
            return;
        socket->write("HTTP/1.1 403 Forbidden\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
        socket->disconnectFromHost();
    }

  private:
    using Headers = std::vector<std::pair<QByteArray, QByteArray>>;

    static void reply(QHttpServerResponder& responder, Status status, const QByteArray& type,
                      const QByteArray& body, const QByteArray& policy, bool withBody,
                      const Headers& extra = {}) {
        responder.writeStatusLine(status);
        responder.writeHeader("Content-Type", type);
        responder.writeHeader("Content-Length", QByteArray::number(body.size()));
        responder.writeHeader("Content-Security-Policy", policy);
        responder.writeHeader("Cache-Control", "no-store");
        responder.writeHeader("X-Content-Type-Options", "nosniff");
        responder.writeHeader("X-Frame-Options", "DENY");
        responder.writeHeader("Referrer-Policy", "no-referrer");
        responder.writeHeader("Connection", "close");
        for (const auto& [name, value] : extra)
            responder.writeHeader(name, value);
        responder.writeBody(withBody ? body : QByteArray());
    }

    // The stream's handshake: only GET /stream over HTTP/1.1, from the page's own origin, with
    // the right code, while there is a place. Refused, it gets an answer that says why.
    bool allowStream(const QHttpServerRequest& request, ConnectionGate& gate) {
        const auto refuse = [&gate](const QByteArray& answer) {
            gate.refuse(answer);
            return false;
        };
        if (request.url().path() != QLatin1String("/stream"))
            return refuse(plainAnswer(404, "Not Found", "Not found\n"));
        if (request.method() != QHttpServerRequest::Method::Get || gate.minorVersion() != 1)
            return refuse(plainAnswer(400, "Bad Request", "GET over HTTP/1.1 only\n"));
        if (request.value("sec-websocket-version").trimmed() != "13")
            return refuse(
                plainAnswer(426, "Upgrade Required", {}, "Sec-WebSocket-Version: 13\r\n"));
        if (QByteArray::fromBase64(request.value("sec-websocket-key").trimmed()).size() != 16)
            return refuse(plainAnswer(400, "Bad Request", "Bad WebSocket key\n"));
        if (!sameOrigin(request.value("origin"), request.value("host")))
            return refuse(plainAnswer(403, "Forbidden", "Another site's page\n"));
        bool fromAddress = false;
        int wait = 0;
        switch (m_server.checkCode(request, gate.address(), fromAddress, wait)) {
        case WebServer::CodeCheck::Passed:
            break;
        case WebServer::CodeCheck::Throttled:
            return refuse(plainAnswer(429, "Too Many Requests", {},
                                      "Retry-After: " + QByteArray::number(wait) + "\r\n"));
        case WebServer::CodeCheck::Missing:
        case WebServer::CodeCheck::Wrong:
            return refuse(plainAnswer(403, "Forbidden", {}));
        }
        // No place: the handshake goes through all the same, and the stream closes at once
        // with "try again later", as a page cannot read the status of a refused handshake
        // and would take it for a network drop.
        gate.holdBackBehindHead();
        gate.approve(!m_server.placeForViewer(gate.address()));
        return true;
    }

    void answer(const QHttpServerRequest& request, QHttpServerResponder& responder,
                ConnectionGate& gate) {
        static const QByteArray kNone = "default-src 'none'; frame-ancestors 'none'";
        static const QByteArray kText = "text/plain; charset=utf-8";
        static const QByteArray kHtml = "text/html; charset=utf-8";
        const auto method = request.method();
        const bool head = method == QHttpServerRequest::Method::Head;
        if (method != QHttpServerRequest::Method::Get && !head) {
            reply(responder, Status::MethodNotAllowed, kText, "GET only\n", kNone, true,
                  {{"Allow", "GET, HEAD"}});
            return;
        }
        if (request.headers().size() > WebServer::kMaxHeaders) {
            reply(responder, Status::RequestHeaderFieldsTooLarge, kText, {}, kNone, false);
            return;
        }
        if (!request.body().isEmpty()) {
            reply(responder, Status::PayloadTooLarge, kText, {}, kNone, false);
            return;
        }
        const QString path = request.url().path();
        if (path == QLatin1String("/favicon.ico")) {
            reply(responder, Status::NoContent, kText, {}, kNone, false);
            return;
        }
        if (path == QLatin1String("/stream")) {
            // The stream's address without a proper handshake (no "Connection: Upgrade", a
            // plain page request): said so, and closed, rather than left waiting.
            reply(responder, Status::UpgradeRequired, kText, "WebSocket only\n", kNone, !head,
                  {{"Upgrade", "websocket"}});
            return;
        }
        if (path != QLatin1String("/")) {
            reply(responder, Status::NotFound, kText, "Not found\n", kNone, !head);
            return;
        }
        bool fromAddress = false;
        int wait = 0;
        switch (m_server.checkCode(request, gate.address(), fromAddress, wait)) {
        case WebServer::CodeCheck::Throttled:
            reply(responder, Status::TooManyRequests, kHtml, WebPage::codeThrottled(),
                  WebPage::codeRequestPolicy(), !head, {{"Retry-After", QByteArray::number(wait)}});
            return;
        case WebServer::CodeCheck::Missing:
        case WebServer::CodeCheck::Wrong: {
            const bool given =
                request.query().hasQueryItem(QStringLiteral("code")) ||
                !cookieValue(request.value("cookie"), m_server.cookieName()).isEmpty();
            reply(responder, Status::Forbidden, kHtml, WebPage::codeRequest(given),
                  WebPage::codeRequestPolicy(), !head);
            return;
        }
        case WebServer::CodeCheck::Passed:
            break;
        }
        const WebPage& page = WebPage::instance();
        Headers extra;
        // The code given in the address moves into a cookie that scripts cannot read and
        // other sites cannot send; the page then takes it out of the address bar, so that
        // it is not left on the screen, in the history or in a shared link.
        if (fromAddress)
            extra.emplace_back("Set-Cookie",
                               m_server.cookieName() + '=' +
                                   codeToken(m_server.m_endpoint.accessCode) +
                                   "; Path=/; Max-Age=86400; HttpOnly; SameSite=Strict");
        reply(responder, Status::Ok, kHtml, page.html, page.contentSecurityPolicy(), !head, extra);
    }

    WebServer& m_server;
};

QObject* WebServer::httpServer() const {
    return m_http;
}

WebServer::WebServer()
    : m_attempts(m_limits.codeFailures, m_limits.codeWindow, m_limits.codeFailuresOverall,
                 m_limits.codeLockout) {
    m_run = QString::number(QRandomGenerator::system()->generate64(), 36);
}

WebServer::~WebServer() {
    stopListening();
}

void WebServer::setLimits(const WebLimits& limits) {
    m_limits = limits;
    m_attempts = CodeAttempts(limits.codeFailures, limits.codeWindow, limits.codeFailuresOverall,
                              limits.codeLockout);
}

void WebServer::post(WebLineEvent event) {
    bool wake = false;
    {
        std::lock_guard<std::mutex> lock(m_inboxLock);
        const auto growth = [](const WebLineEvent& e) {
            return e.kind != WebLineEvent::Kind::Completed;
        };
        if (event.kind == WebLineEvent::Kind::Grown && !m_inbox.empty() && growth(m_inbox.back())) {
            // The server has not taken the growing line's last step yet: this goes with it.
            m_inbox.back().sjis += event.sjis;
        } else {
            // A line begun afresh makes the steps before it that are still waiting useless.
            if (event.kind == WebLineEvent::Kind::Growing) {
                while (!m_inbox.empty() && growth(m_inbox.back()))
                    m_inbox.pop_back();
            }
            if (m_inbox.size() >= kMaxInbox) {
                // A burst larger than the server can take in at once: the oldest goes, but
                // keeps its number, so that pages see the gap rather than a seamless jump.
                // (A growing line's step that goes is followed by that line's end: steps of
                // one line stand together, as each joins the one before.)
                if (m_inbox.front().kind == WebLineEvent::Kind::Completed)
                    ++m_droppedLines;
                m_inbox.pop_front();
            }
            m_inbox.push_back(std::move(event));
        }
        wake = !m_wakePosted;
        m_wakePosted = true;
    }
    if (wake)
        QMetaObject::invokeMethod(this, &WebServer::drainInbox, Qt::QueuedConnection);
}

namespace {

// The line's colour fields: its own colour, and the same hue as it reads on each of the page's
// themes; none for a line in the page's own colours.
void insertColour(QJsonObject& object, std::int64_t colour) {
    if (colour < 0)
        return;
    const auto c = static_cast<Colour>(colour);
    object.insert(QStringLiteral("color"), QString::fromLatin1(colourText(c)));
    object.insert(QStringLiteral("dark"),
                  QString::fromLatin1(colourText(readableOn(c, WebPage::kDarkBackground))));
    object.insert(QStringLiteral("light"),
                  QString::fromLatin1(colourText(readableOn(c, WebPage::kLightBackground))));
}

} // namespace

void WebServer::drainInbox() {
    std::deque<WebLineEvent> events;
    {
        std::lock_guard<std::mutex> lock(m_inboxLock);
        events.swap(m_inbox);
        m_wakePosted = false;
        m_lastSeq += m_droppedLines;
        m_droppedLines = 0;
    }
    for (WebLineEvent& event : events) {
        m_converted += event.sjis.size();
        if (event.kind == WebLineEvent::Kind::Completed) {
            QJsonObject object;
            object.insert(QStringLiteral("text"), fromSjis(event.sjis));
            insertColour(object, event.colour);
            object.insert(QStringLiteral("t"), QStringLiteral("line"));
            object.insert(QStringLiteral("seq"), static_cast<double>(++m_lastSeq));
            QByteArray message = toMessage(object);
            m_history.push_back({m_lastSeq, message});
            m_historyBytes += message.size();
            // Only what a joiner can be sent is kept: the newest line, and older ones within
            // the bound.
            while (m_history.size() > kHistoryLines ||
                   (m_history.size() > 1 && m_historyBytes > static_cast<qint64>(kHistoryBytes))) {
                m_historyBytes -= m_history.front().message.size();
                m_history.pop_front();
            }
            // Its starts are still counted: a viewer's copy of this line is no copy of the next.
            const std::uint64_t starts = m_arriving.start;
            m_arriving = {};
            m_arriving.start = starts;
            broadcast(message);
        } else if (event.kind == WebLineEvent::Kind::Growing) {
            const std::uint64_t start = m_arriving.start + 1;
            m_arriving = {};
            m_arriving.active = true;
            m_arriving.seq = m_lastSeq + 1;
            m_arriving.start = start;
            m_arriving.colour = event.colour;
            m_arriving.text = fromSjis(event.sjis);
            broadcastGrowth();
        } else if (m_arriving.active && !event.sjis.empty()) {
            // Whole characters only: the pieces make the same text as the line made at once.
            m_arriving.text += fromSjis(event.sjis);
            broadcastGrowth();
        }
    }
}

void WebServer::listen(WebEndpoint endpoint) {
    stopListening();
    m_endpoint = std::move(endpoint);
    // A code that is too short is guessed in minutes: the page is not served behind it at all
    // rather than served as good as open. (The dialog takes no shorter code; a profile edited
    // by hand may hold one.)
    if (!accessCodeLongEnough(
            std::string_view(m_endpoint.accessCode.constData(), m_endpoint.accessCode.size()))) {
        emit failed(QStringLiteral("アクセスコードが短すぎます。%1文字以上にしてください。")
                        .arg(static_cast<int>(WebSettings::kAccessCodeMin)));
        return;
    }
    m_hostNames = HostNames(m_endpoint.hosts);
    m_http = new ViewerHttp(*this);
    connect(m_http, &QAbstractHttpServer::newWebSocketConnection, this, &WebServer::acceptViewers);

    // "local" listens on both loopback addresses, where the machine has IPv6 at all.
    const QList<QHostAddress> addresses =
        m_endpoint.bindAll ? QList<QHostAddress>{QHostAddress(QHostAddress::Any)}
                           : QList<QHostAddress>{QHostAddress(QHostAddress::LocalHost),
                                                 QHostAddress(QHostAddress::LocalHostIPv6)};
    quint16 port = m_endpoint.port;
    for (qsizetype i = 0; i < addresses.size(); ++i) {
        auto* tcp = new GuardedTcpServer(*this);
        tcp->setMaxPendingConnections(64);
        if (!tcp->listen(addresses[i], port)) {
            const QString reason = tcp->errorString();
            delete tcp;
            if (i == 0) {
                delete m_http;
                m_http = nullptr;
                emit failed(reason);
                return;
            }
            continue;
        }
        port = tcp->serverPort();
        m_http->bind(tcp);
    }
    m_keepAlive = new QTimer(this);
    connect(m_keepAlive, &QTimer::timeout, this, &WebServer::keepAlive);
    // Rounds often enough that a viewer which stops reading is noticed within the limit.
    m_keepAlive->start(
        static_cast<int>(std::clamp<qint64>(m_limits.stallLimit.count() / 2, 50, kKeepAliveMs)));
    m_port = port;
    emit listening(port);
}

void WebServer::stopListening() {
    // The pages are told that the display has closed, so that they do not show a network drop;
    // the words go out at once, as the server's thread may be ending. (A message half sent
    // cannot be interrupted by another; that page only sees the close.)
    static const QByteArray kEnd = QByteArrayLiteral("{\"t\":\"end\"}");
    for (const auto& viewer : m_viewers) {
        if (QTcpSocket* socket = viewer->socket) {
            socket->disconnect(this);
            std::string words;
            if (viewer->written < 0)
                words = ViewerFrames::frame(ViewerFrames::kText,
                                            std::string_view(kEnd.constData(), kEnd.size()));
            words += ViewerFrames::closeFrame(1001); // going away
            socket->write(words.data(), static_cast<qint64>(words.size()));
            socket->flush();
            socket->abort();
        }
        delete viewer->handshake;
    }
    m_viewers.clear();
    m_viewersPerAddress.clear();
    m_viewerCount = 0;
    delete m_keepAlive;
    m_keepAlive = nullptr;
    delete m_http; // its listening servers and open connections with it
    m_http = nullptr;
    m_port = 0;
}

bool WebServer::codeMatches(const QByteArray& given) const {
    return m_endpoint.accessCode.isEmpty() || sameText(given, m_endpoint.accessCode);
}

QByteArray WebServer::cookieName() const {
    // Browsers keep cookies per host, not per port: each display on a machine has its own.
    return "skiro_code_" + QByteArray::number(m_port.load());
}

WebServer::CodeCheck WebServer::checkCode(const QHttpServerRequest& request,
                                          const std::string& address, bool& fromAddress,
                                          int& waitSeconds) {
    fromAddress = false;
    if (m_endpoint.accessCode.isEmpty())
        return CodeCheck::Passed;
    const QByteArray given =
        request.query().queryItemValue(QStringLiteral("code"), QUrl::FullyDecoded).toUtf8();
    const QByteArray cookie = cookieValue(request.value("cookie"), cookieName());
    if (given.isEmpty() && cookie.isEmpty())
        return CodeCheck::Missing;
    const auto now = Clock::now();
    // The cookie carries a token no one guesses: a page that comes back with it (after a drop)
    // is heard while guessers of the code are locked out.
    const auto wait = m_attempts.wait(address, now, !given.isEmpty());
    if (wait.count() > 0) {
        waitSeconds = static_cast<int>((wait.count() + 999) / 1000);
        return CodeCheck::Throttled;
    }
    // A code in the address is what the viewer typed or scanned now: it decides, whatever an
    // older cookie says.
    const bool passed =
        !given.isEmpty() ? codeMatches(given) : sameText(cookie, codeToken(m_endpoint.accessCode));
    if (!passed) {
        m_attempts.failed(address, now);
        return CodeCheck::Wrong;
    }
    fromAddress = !given.isEmpty();
    return CodeCheck::Passed;
}

QByteArray WebServer::helloMessage() const {
    QJsonObject object;
    object.insert(QStringLiteral("t"), QStringLiteral("hello"));
    object.insert(QStringLiteral("run"), m_run);
    object.insert(QStringLiteral("dir"), m_endpoint.direction);
    object.insert(QStringLiteral("last"), static_cast<double>(m_lastSeq));
    return toMessage(object);
}

void WebServer::setDirection(int direction) {
    if (m_endpoint.direction == direction)
        return;
    m_endpoint.direction = direction;
    QJsonObject object;
    object.insert(QStringLiteral("t"), QStringLiteral("dir"));
    object.insert(QStringLiteral("dir"), direction);
    broadcast(toMessage(object));
}

void WebServer::acceptViewers() {
    if (!m_http)
        return;
    while (m_http->hasPendingWebSocketConnections()) {
        std::unique_ptr<QWebSocket> socket = m_http->nextPendingWebSocketConnection();
        if (socket)
            admit(socket.release());
    }
}

ConnectionGate* WebServer::gateOf(const QHostAddress& peer, quint16 port) const {
    for (ConnectionGate* gate : m_gates) {
        if (gate->socket()->peerPort() == port && gate->socket()->peerAddress() == peer)
            return gate;
    }
    return nullptr;
}

WebServer::Viewer* WebServer::findViewer(const QTcpSocket* socket) {
    for (const auto& viewer : m_viewers) {
        if (viewer->socket == socket)
            return viewer.get();
    }
    return nullptr;
}

void WebServer::admit(QWebSocket* handshake) {
    handshake->setParent(this);
    // The connection under the handshake, found by its gate; every stream has passed
    // allowStream() on its way here.
    ConnectionGate* gate = gateOf(handshake->peerAddress(), handshake->peerPort());
    if (!gate || !gate->approved()) {
        handshake->abort();
        handshake->deleteLater();
        return;
    }
    QTcpSocket* socket = gate->socket();
    if (gate->full()) {
        connect(socket, &QAbstractSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QAbstractSocket::disconnected, handshake, &QObject::deleteLater);
        handshake->close(static_cast<QWebSocketProtocol::CloseCode>(ViewerFrames::kTryAgainLater));
        return;
    }
    const std::string address = gate->address();
    const QByteArray behindHead = gate->takeBehindHead();
    gate->becomeViewer();

    auto owned = std::make_unique<Viewer>();
    Viewer* viewer = owned.get();
    viewer->handshake = handshake;
    viewer->socket = socket;
    viewer->address = address;
    viewer->lastRead = Clock::now();
    m_viewers.push_back(std::move(owned));
    ++m_viewersPerAddress[address];
    m_viewerCount = static_cast<int>(m_viewers.size());

    // Qt's object reads nothing more: the server reads the viewer's frames itself, strictly.
    QObject::disconnect(socket, &QIODevice::readyRead, handshake, nullptr);
    connect(socket, &QIODevice::readyRead, this, [this, viewer] { readFrom(*viewer); });
    connect(socket, &QIODevice::bytesWritten, this, [this, viewer] { pump(*viewer); });
    connect(socket, &QAbstractSocket::disconnected, this, [this, viewer] { dropViewer(viewer); });
    // Should Qt's object still have read a message of the viewer's, the viewer goes all the same.
    const auto spoke = [this, viewer] { dropViewer(viewer, ViewerFrames::kUnsupportedData); };
    connect(handshake, &QWebSocket::textFrameReceived, this, spoke);
    connect(handshake, &QWebSocket::binaryFrameReceived, this, spoke);

    // A viewer that was here before asks for the lines after its last one; a late joiner, or
    // one from an earlier run, gets the lines still kept: the newest, and as many before it as
    // fit in kHistoryBytes.
    const QUrlQuery query(handshake->requestUrl());
    std::uint64_t after = 0;
    if (query.queryItemValue(QStringLiteral("run")) == m_run)
        after = query.queryItemValue(QStringLiteral("after")).toULongLong();
    std::size_t first = m_history.size();
    qint64 bytes = 0;
    while (first > 0 && m_history[first - 1].seq > after &&
           (first == m_history.size() ||
            bytes + m_history[first - 1].message.size() <= static_cast<qint64>(kHistoryBytes))) {
        --first;
        bytes += m_history[first].message.size();
    }
    deliver(*viewer, helloMessage());
    for (std::size_t i = first; i < m_history.size(); ++i)
        deliver(*viewer, m_history[i].message);
    if (m_arriving.active)
        deliverGrowth(*viewer);
    // What follows is new: the page animates it in.
    deliver(*viewer, QByteArrayLiteral("{\"t\":\"live\"}"));
    // Pinged at once: a viewer that does not read is known as one from its first seconds.
    ping(*viewer, Clock::now());
    // Frames sent before the answer to the handshake was seen come first.
    if (!behindHead.isEmpty() && !take(*viewer, behindHead))
        return;
    if (socket->bytesAvailable() > 0)
        readFrom(*viewer);
}

bool WebServer::deliver(Viewer& viewer, const QByteArray& message) {
    viewer.waiting.push_back({message, 0});
    viewer.waitingBytes += counted(message);
    pump(viewer);
    return viewer.socket && backlog(viewer) <= kMaxQueuedBytes;
}

bool WebServer::deliverGrowth(Viewer& viewer) {
    // One waiting for its turn already brings the viewer as far as the line will have got.
    if (viewer.waiting.empty() || viewer.waiting.back().growing != m_arriving.seq)
        viewer.waiting.push_back({{}, m_arriving.seq});
    pump(viewer);
    return viewer.socket && backlog(viewer) <= kMaxQueuedBytes;
}

QByteArray WebServer::growthFor(Viewer& viewer, std::uint64_t seq) {
    Arriving& line = m_arriving;
    if (!line.active || line.seq != seq)
        return {};
    const qsizetype length = line.text.size();
    if (viewer.lineStart != line.start) {
        // The line whole, to a viewer that has none of it (a joiner, one that came back) or
        // an earlier start of it.
        if (line.wholeAt != length) {
            QJsonObject object;
            object.insert(QStringLiteral("t"), QStringLiteral("cur"));
            object.insert(QStringLiteral("seq"), static_cast<double>(line.seq));
            object.insert(QStringLiteral("text"), line.text);
            insertColour(object, line.colour);
            line.whole = toMessage(object);
            line.wholeAt = length;
        }
        viewer.lineStart = line.start;
        viewer.lineSent = length;
        return line.whole;
    }
    if (viewer.lineSent >= length)
        return {};
    // What it grew by since the viewer's last message, to append at the length the page has.
    if (line.moreFrom != viewer.lineSent || line.moreTo != length) {
        QJsonObject object;
        object.insert(QStringLiteral("t"), QStringLiteral("more"));
        object.insert(QStringLiteral("seq"), static_cast<double>(line.seq));
        object.insert(QStringLiteral("at"), static_cast<double>(viewer.lineSent));
        object.insert(QStringLiteral("text"), line.text.mid(viewer.lineSent));
        line.more = toMessage(object);
        line.moreFrom = viewer.lineSent;
        line.moreTo = length;
    }
    viewer.lineSent = length;
    return line.more;
}

qint64 WebServer::counted(const QByteArray& message) {
    // A message waits as one shared with every viewer and the stored lines; it costs a viewer
    // the piece of it in the socket. A long line counts as that piece, so that one line of a
    // million characters does not cut off every viewer, and a few of them still do.
    return std::min<qint64>(message.size(), kWriteAhead);
}

qint64 WebServer::backlog(const Viewer& viewer) {
    return viewer.waitingBytes + (viewer.socket ? viewer.socket->bytesToWrite() : 0);
}

void WebServer::pump(Viewer& viewer) {
    QTcpSocket* socket = viewer.socket;
    if (!socket)
        return;
    // The socket's buffer holds a little at a time; the rest waits as messages shared with
    // the other viewers, so that a slow one costs the server next to nothing. A long message
    // goes out in pieces of its own frames, between which a ping or a pong can go too.
    while (!viewer.waiting.empty() && socket->bytesToWrite() < kWriteAhead) {
        Viewer::Waiting& next = viewer.waiting.front();
        if (viewer.written < 0) {
            if (next.growing != 0) {
                // The line being received, made now: as far as it has got by this turn.
                next.message = growthFor(viewer, next.growing);
                next.growing = 0;
                if (next.message.isEmpty()) {
                    viewer.waiting.pop_front();
                    continue;
                }
            } else {
                viewer.waitingBytes -= counted(next.message); // from here on it is in the socket
            }
        }
        const QByteArray& message = next.message;
        const qsizetype offset = std::max<qsizetype>(viewer.written, 0);
        // At least four bytes, so that a piece holds a whole character however little room.
        qsizetype piece = std::min<qsizetype>(
            message.size() - offset, std::max<qint64>(kWriteAhead - socket->bytesToWrite(), 4));
        // Pieces end between characters: some clients check each frame's UTF-8 on its own.
        while (offset + piece < message.size() && piece > 0 &&
               (static_cast<unsigned char>(message[offset + piece]) & 0xC0) == 0x80)
            --piece;
        const bool last = offset + piece == message.size();
        const std::string header = ViewerFrames::header(
            viewer.written < 0 ? ViewerFrames::kText : ViewerFrames::kContinuation,
            static_cast<std::size_t>(piece), last);
        socket->write(header.data(), static_cast<qint64>(header.size()));
        socket->write(message.constData() + offset, piece);
        if (last) {
            viewer.waiting.pop_front();
            viewer.written = -1;
        } else {
            viewer.written = offset + piece;
        }
    }
}

void WebServer::readFrom(Viewer& viewer) {
    if (QTcpSocket* socket = viewer.socket)
        take(viewer, socket->readAll());
}

bool WebServer::take(Viewer& viewer, const QByteArray& bytes) {
    QTcpSocket* socket = viewer.socket;
    viewer.inputThisRound += bytes.size();
    for (const ViewerFrames::Event& event :
         viewer.frames.take(std::string_view(bytes.constData(), bytes.size()))) {
        switch (event.kind) {
        case ViewerFrames::Event::Kind::Ping: {
            // Answered like every other write: within the viewer's bound, or the viewer goes.
            const std::string pong = ViewerFrames::frame(ViewerFrames::kPong, event.payload);
            socket->write(pong.data(), static_cast<qint64>(pong.size()));
            if (backlog(viewer) > kMaxQueuedBytes) {
                dropViewer(&viewer);
                return false;
            }
            break;
        }
        case ViewerFrames::Event::Kind::Pong:
            if (!viewer.pingToken.isEmpty() &&
                event.payload ==
                    std::string_view(viewer.pingToken.constData(), viewer.pingToken.size())) {
                viewer.lastRead = Clock::now();
                viewer.awaitingPong = false;
            }
            break;
        case ViewerFrames::Event::Kind::Close:
            // The page is leaving: the closing frame is answered, as the protocol asks.
            dropViewer(&viewer, ViewerFrames::kNormal);
            return false;
        case ViewerFrames::Event::Kind::Violation:
            dropViewer(&viewer, event.code);
            return false;
        }
    }
    // A viewer sends next to nothing; one that sends more (pings by the thousand) costs the
    // server's thread for nothing and goes.
    if (viewer.inputThisRound > kMaxViewerInput) {
        dropViewer(&viewer, ViewerFrames::kPolicyViolation);
        return false;
    }
    return true;
}

void WebServer::broadcast(const QByteArray& message) {
    std::vector<Viewer*> behind;
    for (const auto& viewer : m_viewers) {
        if (!deliver(*viewer, message))
            behind.push_back(viewer.get());
    }
    for (Viewer* viewer : behind)
        dropViewer(viewer);
}

void WebServer::broadcastGrowth() {
    std::vector<Viewer*> behind;
    for (const auto& viewer : m_viewers) {
        if (!deliverGrowth(*viewer))
            behind.push_back(viewer.get());
    }
    for (Viewer* viewer : behind)
        dropViewer(viewer);
}

void WebServer::dropViewer(Viewer* viewer, std::uint16_t closeCode) {
    const auto found =
        std::find_if(m_viewers.begin(), m_viewers.end(),
                     [viewer](const std::unique_ptr<Viewer>& v) { return v.get() == viewer; });
    if (found == m_viewers.end())
        return;
    const std::unique_ptr<Viewer> owned = std::move(*found);
    m_viewers.erase(found);
    m_viewerCount = static_cast<int>(m_viewers.size());
    if (const auto held = m_viewersPerAddress.find(owned->address);
        held != m_viewersPerAddress.end() && --held->second <= 0)
        m_viewersPerAddress.erase(held);

    QWebSocket* handshake = owned->handshake;
    handshake->disconnect(this);
    QTcpSocket* socket = owned->socket;
    if (!socket) {
        handshake->deleteLater();
        return;
    }
    socket->disconnect(this);
    if (closeCode != 0 && socket->state() == QAbstractSocket::ConnectedState) {
        // The closing frame goes out, then the connection closes (Qt's object closes it once
        // the frame is written); one that does not take the frame is cut a moment later.
        // What the viewer sent is read away first: unread bytes would turn the close into a
        // reset that can cost the viewer the frame.
        connect(socket, &QAbstractSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QAbstractSocket::disconnected, handshake, &QObject::deleteLater);
        QTimer::singleShot(ConnectionGate::kRefusalMs, socket, [socket] { socket->abort(); });
        socket->readAll();
        handshake->close(static_cast<QWebSocketProtocol::CloseCode>(closeCode));
        return;
    }
    socket->abort();
    socket->deleteLater();
    handshake->deleteLater();
}

void WebServer::ping(Viewer& viewer, Clock::time_point now) {
    // A token of the viewer's own: another connection cannot answer for one that does not read.
    viewer.pingToken = QByteArray::number(QRandomGenerator::global()->generate64(), 36) + '.' +
                       QByteArray::number(++m_pings);
    if (!viewer.awaitingPong) {
        viewer.awaitingPong = true;
        viewer.pingSentAt = now;
    }
    const std::string frame =
        ViewerFrames::frame(ViewerFrames::kPing, std::string_view(viewer.pingToken.constData(),
                                                                  viewer.pingToken.size()));
    viewer.socket->write(frame.data(), static_cast<qint64>(frame.size()));
}

bool WebServer::placeForViewer(const std::string& address) {
    // Handshakes let through a moment ago take their places too.
    int all = static_cast<int>(m_viewers.size());
    int fromAddress = 0;
    if (const auto held = m_viewersPerAddress.find(address); held != m_viewersPerAddress.end())
        fromAddress = held->second;
    for (const ConnectionGate* gate : m_gates) {
        if (gate->approved() && !gate->full()) {
            ++all;
            fromAddress += gate->address() == address;
        }
    }
    const bool addressFull = fromAddress >= m_limits.viewersPerAddress;
    if (!addressFull && all < kMaxViewers)
        return true;
    // Places held by connections that do not read are given to newcomers: the viewer whose
    // ping has waited longest for its answer goes, one from the same address where that is
    // what is full. A browser answers within moments; a viewer that has answered keeps its
    // place, and with none to take the newcomer is told to come back later.
    const auto now = Clock::now();
    Viewer* longest = nullptr;
    for (const auto& viewer : m_viewers) {
        if (!viewer->awaitingPong || now - viewer->pingSentAt < m_limits.unansweredPing ||
            (addressFull && viewer->address != address))
            continue;
        if (!longest || viewer->pingSentAt < longest->pingSentAt)
            longest = viewer.get();
    }
    if (!longest)
        return false;
    dropViewer(longest);
    return true;
}

void WebServer::keepAlive() {
    // A viewer that has answered no ping for the limit does not read: it goes, however little
    // it has been sent, so that it neither holds a place nor gathers a queue. The others get
    // a sign of life, by which a page notices a dead link, and a ping whose answer shows that
    // they still read.
    const auto now = Clock::now();
    m_attempts.prune(now);
    std::vector<Viewer*> stalled;
    for (const auto& viewer : m_viewers) {
        viewer->inputThisRound = 0;
        if (now - viewer->lastRead >= m_limits.stallLimit)
            stalled.push_back(viewer.get());
    }
    for (Viewer* viewer : stalled)
        dropViewer(viewer);
    std::vector<Viewer*> behind;
    for (const auto& viewer : m_viewers) {
        if (!viewer->socket)
            continue;
        ping(*viewer, now);
        if (!deliver(*viewer, QByteArrayLiteral("{\"t\":\"ka\"}")))
            behind.push_back(viewer.get());
    }
    for (Viewer* viewer : behind)
        dropViewer(viewer);
}

} // namespace skiro
