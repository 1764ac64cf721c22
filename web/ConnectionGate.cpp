#include "web/ConnectionGate.h"

#include <algorithm>
#include <cstdio>

#include <QHostAddress>
#include <QTcpSocket>

#include "web/WebServer.h"

namespace skiro {

namespace {

constexpr int kSocketSendBuffer = 64 * 1024;
constexpr int kRetryAfterSeconds = 10;
// After the system refused a connection (no descriptors left), accepting starts again after
// this pause.
constexpr int kAcceptRetryMs = 500;
const QString kGateName = QStringLiteral("skiro-connection-gate");

} // namespace

std::string addressKey(const QHostAddress& address) {
    bool isV4 = false;
    const quint32 v4 = address.toIPv4Address(&isV4);
    if (isV4)
        return QHostAddress(v4).toString().toStdString();
    const Q_IPV6ADDR v6 = address.toIPv6Address();
    char text[48];
    std::snprintf(text, sizeof text, "%02x%02x:%02x%02x:%02x%02x:%02x%02x::/64", v6[0], v6[1],
                  v6[2], v6[3], v6[4], v6[5], v6[6], v6[7]);
    return text;
}

QByteArray plainAnswer(int status, const char* reason, const QByteArray& body,
                       const QByteArray& extraHeaders) {
    return "HTTP/1.1 " + QByteArray::number(status) + ' ' + reason +
           "\r\nContent-Type: text/plain; charset=utf-8\r\nContent-Length: " +
           QByteArray::number(body.size()) +
           "\r\nCache-Control: no-store\r\nX-Content-Type-Options: nosniff\r\n"
           "Connection: close\r\n" +
           extraHeaders + "\r\n" + body;
}

QByteArray serverFullAnswer() {
    return plainAnswer(
        503, "Service Unavailable",
        QStringLiteral("混み合っています。しばらくしてからもう一度開いてください。\n").toUtf8(),
        "Retry-After: " + QByteArray::number(kRetryAfterSeconds) + "\r\n");
}

ConnectionGate::ConnectionGate(WebServer& server, QTcpSocket* socket, std::string address,
                               Role role)
    : QObject(socket), m_server(server), m_socket(socket), m_address(std::move(address)),
      m_role(role) {
    setObjectName(kGateName);
    enter();
    m_server.m_gates.push_back(this);
    // Connected before the HTTP server connects its own reader: the gate sees each piece of
    // the head first.
    connect(socket, &QTcpSocket::readyRead, this, [this] { beforeRead(); });
    m_timer.setSingleShot(true);
    connect(&m_timer, &QTimer::timeout, this, [this] { timedOut(); });
    m_timer.start(role == Role::Refusing ? std::chrono::milliseconds(kRefusalMs)
                                         : m_server.m_limits.headDeadline);
}

ConnectionGate::~ConnectionGate() {
    leave();
    forget();
}

ConnectionGate* ConnectionGate::of(QTcpSocket* socket) {
    return static_cast<ConnectionGate*>(
        socket->findChild<QObject*>(kGateName, Qt::FindDirectChildrenOnly));
}

void ConnectionGate::approve(bool full) {
    m_approved = true;
    m_full = full;
    const auto held = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now() - m_arrived);
    m_timer.start(std::max(std::chrono::milliseconds(0), m_server.m_limits.headDeadline - held));
}

void ConnectionGate::becomeViewer() {
    leave();
    forget();
    m_timer.stop();
}

void ConnectionGate::holdBackBehindHead() {
    const auto head = static_cast<qsizetype>(m_head.bytesTaken());
    // The HTTP server has read the head, and perhaps more, inside its transaction; the rest of
    // what the gate has seen is still unread.
    const qsizetype unread = m_socket->bytesAvailable();
    if (m_seen.size() <= head || !m_socket->isTransactionStarted() || m_seen.size() - unread < head)
        return;
    m_behindHead = m_seen.mid(head);
    // The transaction is ended, what follows the head read away, and the transaction begun
    // again at the head put back, which the HTTP server then rolls back to for Qt's handshake.
    m_socket->commitTransaction();
    m_socket->skip(unread);
    for (qsizetype i = head; i-- > 0;)
        m_socket->ungetChar(m_seen[i]);
    m_socket->startTransaction();
    m_seen.clear();
}

void ConnectionGate::refuse(const QByteArray& answer) {
    if (m_answered)
        return;
    m_answered = true;
    m_seen.clear();
    if (QObject* http = m_server.httpServer())
        QObject::disconnect(m_socket, &QTcpSocket::readyRead, http, nullptr);
    m_socket->readAll();
    m_socket->write(answer);
    // After the HTTP server's reader has run for this piece, if it still runs.
    QMetaObject::invokeMethod(m_socket, &QTcpSocket::disconnectFromHost, Qt::QueuedConnection);
    m_timer.start(kRefusalMs);
}

void ConnectionGate::evict() {
    leave();
    forget();
    m_answered = true;
    m_timer.stop();
    m_socket->abort();
    m_socket->deleteLater();
}

ConnectionGate* ConnectionGate::longestWaiting(const std::vector<ConnectionGate*>& gates) {
    ConnectionGate* found = nullptr;
    for (ConnectionGate* gate : gates) {
        if (gate->m_role != Role::Http)
            continue;
        if (!found || gate->m_arrived < found->m_arrived)
            found = gate;
    }
    return found;
}

void ConnectionGate::enter() {
    if (m_role == Role::Http) {
        ++m_server.m_openHttp;
        ++m_server.m_httpPerAddress[m_address];
    } else if (m_role == Role::Refusing) {
        ++m_server.m_refusing;
    }
}

void ConnectionGate::leave() {
    if (m_role == Role::Http) {
        --m_server.m_openHttp;
        const auto found = m_server.m_httpPerAddress.find(m_address);
        if (found != m_server.m_httpPerAddress.end() && --found->second <= 0)
            m_server.m_httpPerAddress.erase(found);
    } else if (m_role == Role::Refusing) {
        --m_server.m_refusing;
    }
    m_role = Role::Viewer; // counted nowhere any more
}

void ConnectionGate::forget() {
    auto& gates = m_server.m_gates;
    gates.erase(std::remove(gates.begin(), gates.end(), this), gates.end());
}

void ConnectionGate::beforeRead() {
    if (m_answered || m_role == Role::Viewer) {
        m_socket->readAll();
        return;
    }
    if (m_role == Role::Refusing) {
        const QByteArray bytes = m_socket->readAll();
        if (m_head.take(std::string_view(bytes.constData(), bytes.size())) !=
            RequestHead::Verdict::NeedMore)
            refuse(serverFullAnswer());
        return;
    }
    if (m_head.verdict() != RequestHead::Verdict::NeedMore) {
        // One request per connection: what follows its head is not read.
        m_socket->readAll();
        return;
    }
    // The HTTP server has read everything before this piece: what is available now is new.
    const QByteArray bytes = m_socket->peek(m_socket->bytesAvailable());
    m_seen += bytes;
    switch (m_head.take(std::string_view(bytes.constData(), bytes.size()))) {
    case RequestHead::Verdict::NeedMore:
        return;
    case RequestHead::Verdict::Whole:
        // Only GET and HEAD are served: a body has no use here and is not waited for.
        if (m_head.announcesBody()) {
            refuse(plainAnswer(413, "Payload Too Large", {}));
            return;
        }
        // The answer, or the handshake, gets a deadline of its own.
        m_timer.start(m_server.m_limits.headDeadline);
        return;
    case RequestHead::Verdict::BadRequest:
        refuse(plainAnswer(400, "Bad Request", "Bad request\n"));
        return;
    case RequestHead::Verdict::TooLarge:
        refuse(plainAnswer(431, "Request Header Fields Too Large", {}));
        return;
    case RequestHead::Verdict::BadVersion:
        refuse(plainAnswer(505, "HTTP Version Not Supported", "HTTP/1.1 or HTTP/1.0 only\n"));
        return;
    }
}

void ConnectionGate::timedOut() {
    if (m_role == Role::Viewer)
        return;
    if (m_answered) {
        m_socket->abort();
        return;
    }
    if (m_role == Role::Refusing) {
        refuse(serverFullAnswer());
        return;
    }
    if (m_head.verdict() == RequestHead::Verdict::NeedMore) {
        refuse(plainAnswer(408, "Request Timeout", {}));
        return;
    }
    // The answer was not taken, or the handshake never finished.
    m_socket->abort();
}

GuardedTcpServer::GuardedTcpServer(WebServer& server) : m_server(server) {
    // Qt stops accepting when the system refuses a connection (no descriptors left): the
    // server listens again a moment later rather than staying deaf for the rest of the run.
    connect(this, &QTcpServer::acceptError, this,
            [this] { QTimer::singleShot(kAcceptRetryMs, this, [this] { resumeAccepting(); }); });
}

QTcpSocket* GuardedTcpServer::nextPendingConnection() {
    while (hasPendingConnections()) {
        if (m_burst == 0) {
            // The next turn takes in what is left. The HTTP server takes connections when this
            // signal comes; Qt's own accepting stops once the queue is full.
            QTimer::singleShot(0, this, [this] {
                m_burst = 0;
                if (hasPendingConnections())
                    QMetaObject::invokeMethod(this, "pendingConnectionAvailable");
            });
        }
        if (m_burst >= kBurst)
            return nullptr;
        ++m_burst;
        QTcpSocket* socket = QTcpServer::nextPendingConnection();
        std::string address = addressKey(socket->peerAddress());
        const auto held = m_server.m_httpPerAddress.find(address);
        const bool addressFull = held != m_server.m_httpPerAddress.end() &&
                                 held->second >= m_server.m_limits.httpPerAddress;
        bool full = addressFull;
        if (!full && m_server.m_openHttp.load() >= WebServer::kMaxHttpConnections) {
            // Connections that take their time, from however many addresses, do not keep
            // newcomers out: the one that has held its place longest makes room. A browser's
            // head comes whole at once and is answered or upgraded at once, so that is never
            // a viewer's.
            if (ConnectionGate* oldest = ConnectionGate::longestWaiting(m_server.m_gates))
                oldest->evict();
            else
                full = true;
        }
        if (full && m_server.m_refusing >= WebServer::kMaxRefusing) {
            socket->abort();
            socket->deleteLater();
            continue;
        }
        // The socket's own buffers stay small: a request needs little, and a viewer that
        // stops reading shows up as waiting bytes soon rather than after megabytes.
        socket->setReadBufferSize(WebServer::kMaxRequestBytes + 1024);
        socket->setSocketOption(QAbstractSocket::SendBufferSizeSocketOption, kSocketSendBuffer);
        socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
        if (full) {
            new ConnectionGate(m_server, socket, std::move(address),
                               ConnectionGate::Role::Refusing);
            connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
            continue;
        }
        new ConnectionGate(m_server, socket, std::move(address), ConnectionGate::Role::Http);
        return socket;
    }
    return nullptr;
}

} // namespace skiro
