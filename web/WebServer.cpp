#include "web/WebServer.h"

#include <algorithm>
#include <memory>

#include <QAbstractHttpServer>
#include <QCryptographicHash>
#include <QHttpServerRequest>
#include <QHttpServerResponder>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>
#include <QTimer>
#include <QUrlQuery>
#include <QWebSocket>

#include "core/Contrast.h"
#include "display/Sjis.h"
#include "web/WebPage.h"

namespace skiro {

namespace {

using Status = QHttpServerResponder::StatusCode;

constexpr int kRequestTimeoutMs = 10000;
constexpr int kKeepAliveMs = 15000;
constexpr int kSocketSendBuffer = 64 * 1024;

// Watches one HTTP connection before the HTTP server reads it: a request may not grow beyond
// kMaxRequestBytes nor take longer than kRequestTimeoutMs. Once the connection has become a
// WebSocket the HTTP server has taken its readyRead away from everyone, this guard included,
// and the guard stops counting it.
class ConnectionGuard : public QObject {
  public:
    static inline const QString kName = QStringLiteral("skiro-connection-guard");

    ConnectionGuard(QTcpSocket* socket, std::atomic<int>& openCount)
        : QObject(socket), m_socket(socket), m_openCount(openCount) {
        setObjectName(kName);
        ++m_openCount;
        m_read = connect(socket, &QTcpSocket::readyRead, this, [this] { beforeRead(); });
        m_timer.setSingleShot(true);
        connect(&m_timer, &QTimer::timeout, this, [this] { timedOut(); });
        m_timer.start(kRequestTimeoutMs);
    }
    ~ConnectionGuard() override { release(); }

    // The connection is becoming a viewer: from here on the viewer limit counts it, and the
    // WebSocket handshake has its own time limit.
    void release() {
        m_timer.stop();
        if (m_counted) {
            m_counted = false;
            --m_openCount;
        }
    }

  private:
    void beforeRead() {
        // The HTTP server reads inside a transaction that it commits when a request is whole:
        // no transaction here means a new request begins.
        if (!m_socket->isTransactionStarted()) {
            m_requestBytes = 0;
            m_timer.start(kRequestTimeoutMs);
        }
        m_requestBytes += m_socket->bytesAvailable();
        if (m_requestBytes > WebServer::kMaxRequestBytes) {
            m_socket->readAll(); // nothing of it reaches the parser
            m_socket->write("HTTP/1.1 431 Request Header Fields Too Large\r\n"
                            "Content-Length: 0\r\nConnection: close\r\n\r\n");
            QMetaObject::invokeMethod(m_socket, &QTcpSocket::disconnectFromHost,
                                      Qt::QueuedConnection);
        }
    }
    void timedOut() {
        if (!m_read) {
            release(); // a viewer now; the viewer limit counts it
            return;
        }
        m_socket->abort();
    }

    QTcpSocket* m_socket;
    std::atomic<int>& m_openCount;
    QMetaObject::Connection m_read;
    QTimer m_timer;
    qint64 m_requestBytes = 0;
    bool m_counted = true;
};

// Hands each new connection to the HTTP server with its guard in place, or refuses it when
// too many HTTP connections are open already.
class GuardedTcpServer : public QTcpServer {
  public:
    explicit GuardedTcpServer(std::atomic<int>& openCount) : m_openCount(openCount) {}

    QTcpSocket* nextPendingConnection() override {
        while (QTcpSocket* socket = QTcpServer::nextPendingConnection()) {
            if (m_openCount.load() >= WebServer::kMaxHttpConnections) {
                socket->abort();
                socket->deleteLater();
                continue;
            }
            // The socket's own buffers stay small: a request needs little, and a viewer that
            // stops reading shows up as queued bytes soon rather than after megabytes.
            socket->setReadBufferSize(WebServer::kMaxRequestBytes + 1024);
            socket->setSocketOption(QAbstractSocket::SendBufferSizeSocketOption,
                                    kSocketSendBuffer);
            socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
            new ConnectionGuard(socket, m_openCount);
            return socket;
        }
        return nullptr;
    }

  private:
    std::atomic<int>& m_openCount;
};

QByteArray digest(const QByteArray& text) {
    return QCryptographicHash::hash(text, QCryptographicHash::Sha256);
}

QString colourText(std::int64_t colour) {
    const auto c = static_cast<std::uint32_t>(colour);
    return QStringLiteral("#%1%2%3")
        .arg(c & 0xFF, 2, 16, QLatin1Char('0'))
        .arg((c >> 8) & 0xFF, 2, 16, QLatin1Char('0'))
        .arg((c >> 16) & 0xFF, 2, 16, QLatin1Char('0'));
}

QString toMessage(const QJsonObject& object) {
    return QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Compact));
}

// A Host header fit to be repeated in the policy: a name or address and a port, nothing else.
QByteArray streamOrigin(const QByteArray& host) {
    static const QRegularExpression plain(QStringLiteral("^[A-Za-z0-9.\\-:\\[\\]]{1,255}$"));
    if (!plain.match(QString::fromLatin1(host)).hasMatch())
        return {};
    return "ws://" + host;
}

} // namespace

// The HTTP side: fixed routes only, GET and HEAD only, nothing read from disk.
class ViewerHttp : public QAbstractHttpServer {
  public:
    explicit ViewerHttp(WebServer& server) : QAbstractHttpServer(&server), m_server(server) {}

  protected:
    bool handleRequest(const QHttpServerRequest& request, QTcpSocket* socket) override {
        // The HTTP server asks here before it turns a connection into a WebSocket: only the
        // stream's own address with the right code becomes one. Refused, the connection is
        // closed by missingHandler().
        if (request.value("upgrade").compare("websocket", Qt::CaseInsensitive) == 0) {
            if (!m_server.streamAllowed(request.url()))
                return false;
            if (QObject* guard = socket->findChild<QObject*>(ConnectionGuard::kName,
                                                             Qt::FindDirectChildrenOnly))
                static_cast<ConnectionGuard*>(guard)->release();
            return true;
        }
        QHttpServerResponder responder = makeResponder(request, socket);
        answer(request, responder);
        // Each connection carries one request: a hall full of phones must not hold idle
        // connections open.
        socket->disconnectFromHost();
        return true;
    }
    void missingHandler(const QHttpServerRequest&, QTcpSocket* socket) override {
        socket->write("HTTP/1.1 403 Forbidden\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
        socket->disconnectFromHost();
    }

  private:
    static void reply(QHttpServerResponder& responder, Status status, const QByteArray& type,
                      const QByteArray& body, const QByteArray& policy, bool withBody,
                      const QByteArray& extraName = {}, const QByteArray& extraValue = {}) {
        responder.writeStatusLine(status);
        responder.writeHeader("Content-Type", type);
        responder.writeHeader("Content-Length", QByteArray::number(body.size()));
        responder.writeHeader("Content-Security-Policy", policy);
        responder.writeHeader("Cache-Control", "no-store");
        responder.writeHeader("X-Content-Type-Options", "nosniff");
        responder.writeHeader("X-Frame-Options", "DENY");
        responder.writeHeader("Referrer-Policy", "no-referrer");
        responder.writeHeader("Connection", "close");
        if (!extraName.isEmpty())
            responder.writeHeader(extraName, extraValue);
        responder.writeBody(withBody ? body : QByteArray());
    }

    void answer(const QHttpServerRequest& request, QHttpServerResponder& responder) {
        static const QByteArray kNone = "default-src 'none'; frame-ancestors 'none'";
        static const QByteArray kText = "text/plain; charset=utf-8";
        const auto method = request.method();
        const bool head = method == QHttpServerRequest::Method::Head;
        if (method != QHttpServerRequest::Method::Get && !head) {
            reply(responder, Status::MethodNotAllowed, kText, "GET only\n", kNone, true, "Allow",
                  "GET, HEAD");
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
        if (path != QLatin1String("/")) {
            reply(responder, Status::NotFound, kText, "Not found\n", kNone, !head);
            return;
        }
        const QByteArray code =
            request.query().queryItemValue(QStringLiteral("code"), QUrl::FullyDecoded).toUtf8();
        if (!m_server.codeMatches(code)) {
            reply(responder, Status::Forbidden, "text/html; charset=utf-8",
                  WebPage::codeRequest(!code.isEmpty()), WebPage::codeRequestPolicy(), !head);
            return;
        }
        const WebPage& page = WebPage::instance();
        reply(responder, Status::Ok, "text/html; charset=utf-8", page.html,
              page.contentSecurityPolicy(streamOrigin(request.value("host"))), !head);
    }

    WebServer& m_server;
};

WebServer::WebServer() {
    m_run = QString::number(QRandomGenerator::system()->generate64(), 36);
}

WebServer::~WebServer() {
    stopListening();
}

void WebServer::post(WebLineEvent event) {
    bool wake = false;
    {
        std::lock_guard<std::mutex> lock(m_inboxLock);
        // Only the newest state of a growing line matters.
        if (event.kind == WebLineEvent::Kind::Growing && !m_inbox.empty() &&
            m_inbox.back().kind == WebLineEvent::Kind::Growing) {
            m_inbox.back() = std::move(event);
        } else {
            if (m_inbox.size() >= kMaxInbox) {
                // A burst larger than the server can take in at once: the oldest goes, but
                // keeps its number, so that pages see the gap rather than a seamless jump.
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
        QJsonObject object;
        object.insert(QStringLiteral("text"), fromSjis(event.sjis));
        if (event.colour >= 0) {
            // The line's own colour, and the same hue as it reads on each of the page's themes.
            const auto colour = static_cast<Colour>(event.colour);
            object.insert(QStringLiteral("color"), colourText(colour));
            object.insert(QStringLiteral("dark"),
                          colourText(readableOn(colour, WebPage::kDarkBackground)));
            object.insert(QStringLiteral("light"),
                          colourText(readableOn(colour, WebPage::kLightBackground)));
        }
        if (event.kind == WebLineEvent::Kind::Completed) {
            object.insert(QStringLiteral("t"), QStringLiteral("line"));
            object.insert(QStringLiteral("seq"), static_cast<double>(++m_lastSeq));
            QString message = toMessage(object);
            m_history.push_back({m_lastSeq, message});
            if (m_history.size() > kHistoryLines)
                m_history.pop_front();
            m_current.clear();
            broadcast(message);
        } else {
            object.insert(QStringLiteral("t"), QStringLiteral("cur"));
            object.insert(QStringLiteral("seq"), static_cast<double>(m_lastSeq + 1));
            m_current = toMessage(object);
            broadcast(m_current);
        }
    }
}

void WebServer::listen(WebEndpoint endpoint) {
    stopListening();
    m_endpoint = std::move(endpoint);
    m_http = new ViewerHttp(*this);
    connect(m_http, &QAbstractHttpServer::newWebSocketConnection, this,
            &WebServer::acceptViewers);

    // "local" listens on both loopback addresses, where the machine has IPv6 at all.
    const QList<QHostAddress> addresses =
        m_endpoint.bindAll ? QList<QHostAddress>{QHostAddress(QHostAddress::Any)}
                           : QList<QHostAddress>{QHostAddress(QHostAddress::LocalHost),
                                                 QHostAddress(QHostAddress::LocalHostIPv6)};
    quint16 port = m_endpoint.port;
    for (qsizetype i = 0; i < addresses.size(); ++i) {
        auto* tcp = new GuardedTcpServer(m_openHttp);
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
    m_keepAlive->start(kKeepAliveMs);
    m_port = port;
    emit listening(port);
}

void WebServer::stopListening() {
    // The pages are told that the display has closed, so that they do not show a network drop;
    // the words go out at once, as the server's thread may be ending.
    static const QString kEnd = QStringLiteral("{\"t\":\"end\"}");
    for (const Viewer& viewer : m_viewers) {
        viewer.socket->disconnect(this);
        viewer.socket->sendTextMessage(kEnd);
        viewer.socket->close(QWebSocketProtocol::CloseCodeGoingAway);
        viewer.socket->flush();
        viewer.socket->abort();
        delete viewer.socket;
    }
    m_viewers.clear();
    m_viewerCount = 0;
    delete m_keepAlive;
    m_keepAlive = nullptr;
    delete m_http; // its listening servers and open connections with it
    m_http = nullptr;
    m_port = 0;
}

bool WebServer::codeMatches(const QByteArray& given) const {
    if (m_endpoint.accessCode.isEmpty())
        return true;
    // Compared as digests, every byte, so the time taken tells nothing about the code.
    const QByteArray a = digest(given);
    const QByteArray b = digest(m_endpoint.accessCode);
    unsigned difference = 0;
    for (qsizetype i = 0; i < a.size(); ++i)
        difference |= static_cast<unsigned char>(a[i] ^ b[i]);
    return difference == 0;
}

QString WebServer::helloMessage() const {
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

bool WebServer::streamAllowed(const QUrl& url) const {
    return url.path() == QLatin1String("/stream") &&
           codeMatches(QUrlQuery(url)
                           .queryItemValue(QStringLiteral("code"), QUrl::FullyDecoded)
                           .toUtf8());
}

void WebServer::admit(QWebSocket* socket) {
    socket->setParent(this);
    const QUrl url = socket->requestUrl();
    const QUrlQuery query(url);
    const auto refuse = [socket](QWebSocketProtocol::CloseCode code) {
        socket->close(code);
        socket->deleteLater();
    };
    if (!streamAllowed(url)) {
        refuse(QWebSocketProtocol::CloseCodePolicyViolated);
        return;
    }
    if (static_cast<int>(m_viewers.size()) >= kMaxViewers) {
        refuse(static_cast<QWebSocketProtocol::CloseCode>(1013)); // "try again later"
        return;
    }
    // Viewers only listen: anything they send beyond a control frame ends the connection.
    socket->setMaxAllowedIncomingFrameSize(1024);
    socket->setMaxAllowedIncomingMessageSize(1024);
    connect(socket, &QWebSocket::disconnected, this, [this, socket] { dropViewer(socket); });
    m_viewers.push_back({socket, 0});
    m_viewerCount = static_cast<int>(m_viewers.size());

    // A viewer that was here before asks for the lines after its last one; a late joiner, or
    // one from an earlier run, gets every line still kept.
    std::uint64_t after = 0;
    if (query.queryItemValue(QStringLiteral("run")) == m_run)
        after = query.queryItemValue(QStringLiteral("after")).toULongLong();
    socket->sendTextMessage(helloMessage());
    for (const Entry& entry : m_history) {
        if (entry.seq > after)
            socket->sendTextMessage(entry.message);
    }
    if (!m_current.isEmpty())
        socket->sendTextMessage(m_current);
    // What follows is new: the page animates it in.
    socket->sendTextMessage(QStringLiteral("{\"t\":\"live\"}"));
}

void WebServer::broadcast(const QString& message) {
    std::vector<QWebSocket*> behind;
    for (const Viewer& viewer : m_viewers) {
        if (viewer.socket->bytesToWrite() > kMaxQueuedBytes)
            behind.push_back(viewer.socket);
        else
            viewer.socket->sendTextMessage(message);
    }
    for (QWebSocket* socket : behind)
        dropViewer(socket);
}

void WebServer::dropViewer(QWebSocket* socket) {
    const auto found = std::find_if(m_viewers.begin(), m_viewers.end(),
                                    [socket](const Viewer& v) { return v.socket == socket; });
    if (found == m_viewers.end())
        return;
    m_viewers.erase(found);
    m_viewerCount = static_cast<int>(m_viewers.size());
    socket->disconnect(this);
    socket->abort();
    socket->deleteLater();
}

void WebServer::keepAlive() {
    // A viewer whose bytes have not moved for two rounds has stopped reading: it goes, so its
    // queue never grows. The others get a sign of life, by which a page notices a dead link.
    static const QString kAlive = QStringLiteral("{\"t\":\"ka\"}");
    std::vector<QWebSocket*> stalled;
    for (Viewer& viewer : m_viewers) {
        viewer.stalledRounds = viewer.socket->bytesToWrite() > 0 ? viewer.stalledRounds + 1 : 0;
        if (viewer.stalledRounds >= 2)
            stalled.push_back(viewer.socket);
    }
    for (QWebSocket* socket : stalled)
        dropViewer(socket);
    broadcast(kAlive);
}

} // namespace skiro
