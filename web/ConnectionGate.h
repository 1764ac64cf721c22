#pragma once
#include <QByteArray>
#include <QObject>
#include <QString>
#include <QTcpServer>
#include <QTimer>

#include <chrono>
#include <string>
#include <utility>
#include <vector>

#include "web/RequestHead.h"

class QHostAddress;
class QTcpSocket;

namespace skiro {

class WebServer;

// The address a connection counts against: an IPv4 address, or the /64 network of an IPv6
// address (a household's or a phone's network gets a whole /64, so one client has as many
// addresses as it likes within it).
std::string addressKey(const QHostAddress& address);

// A whole answer written straight to the socket, where the HTTP server has no request to
// answer: the head was refused, the server is full, the upgrade is refused.
QByteArray plainAnswer(int status, const char* reason, const QByteArray& body,
                       const QByteArray& extraHeaders = {});
// 503 with a Retry-After, and a line in the viewers' language.
QByteArray serverFullAnswer();

// Watches one TCP connection from its arrival until it becomes a viewer or ends. It reads the
// request's head before the HTTP server does (RequestHead) and answers what that server would
// let through or leave hanging; it gives the head, and then the answer, a deadline; and it
// counts the connection against its address. A connection that arrives when its address or
// the server is full is answered 503 by the gate alone and never reaches the HTTP server.
class ConnectionGate : public QObject {
  public:
    // A connection told that the server is full, or refused, gets this long to send the rest
    // of its request and to read the answer.
    static constexpr int kRefusalMs = 2000;
    enum class Role { Http, Refusing, Viewer };

    ConnectionGate(WebServer& server, QTcpSocket* socket, std::string address, Role role);
    ~ConnectionGate() override;

    static ConnectionGate* of(QTcpSocket* socket);

    QTcpSocket* socket() const { return m_socket; }
    const std::string& address() const { return m_address; }
    int minorVersion() const { return m_head.minorVersion(); }
    bool answered() const { return m_answered; }
    // The HTTP server has let the stream's handshake through; `full` when only to tell the
    // page, by the stream's close, that there is no place for it now.
    // Its place is held no longer than the head's deadline, counted from its arrival: a
    // handshake that Qt's side then leaves unfinished frees it in time.
    void approve(bool full = false);
    bool approved() const { return m_approved; }
    bool full() const { return m_full; }

    // The connection is a viewer now: the server counts it as one from here on, and its
    // reading has limits of its own.
    void becomeViewer();
    // In the HTTP server's read of a stream's handshake, once it has read all that has come:
    // bytes sent right behind the head (frames from a client that did not wait for the
    // answer) are taken out of the connection, so that Qt's handshake reads the head alone and
    // none of the viewer's frames reach Qt's WebSocket reader. takeBehindHead() hands them to
    // the server's own.
    void holdBackBehindHead();
    QByteArray takeBehindHead() { return std::exchange(m_behindHead, {}); }
    // Answers and closes; nothing more is read from the connection.
    void refuse(const QByteArray& answer);
    // Cuts the connection to make room for a newcomer; it counts nowhere from here on.
    void evict();
    // Of `gates`, the connection that has held an HTTP place longest, or null: one still
    // waiting for the rest of its head, one whose handshake has not become a viewer, one
    // refused or answered and not yet gone. A browser's page or stream takes a moment there.
    static ConnectionGate* longestWaiting(const std::vector<ConnectionGate*>& gates);

  private:
    void enter();
    void leave();
    void forget();
    void beforeRead();
    void timedOut();

    WebServer& m_server;
    QTcpSocket* m_socket;
    std::string m_address;
    Role m_role;
    RequestHead m_head;
    QByteArray m_seen; // the connection's bytes up to the piece that completed the head
    QByteArray m_behindHead;
    std::chrono::steady_clock::time_point m_arrived = std::chrono::steady_clock::now();
    QTimer m_timer;
    bool m_answered = false;
    bool m_approved = false;
    bool m_full = false;
};

// Hands each new connection to the HTTP server with its gate in place, or has the gate tell
// it that the server is full. Qt accepts connections for as long as the system has any waiting,
// without the event loop turning in between: under a flood of connections, reopened as fast
// as they are closed, nothing else would run, not even the deletion of the closed ones. So
// only kBurst are taken in per turn; the rest wait in the queue for the next.
class GuardedTcpServer : public QTcpServer {
  public:
    // Connections taken in per turn of the event loop.
    static constexpr int kBurst = 32;

    explicit GuardedTcpServer(WebServer& server);
    QTcpSocket* nextPendingConnection() override;

  private:
    WebServer& m_server;
    int m_burst = 0;
};

} // namespace skiro
