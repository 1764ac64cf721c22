#pragma once
#include <QByteArray>
#include <QObject>
#include <QString>

#include <atomic>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

class QTimer;
class QUrl;
class QWebSocket;

namespace skiro {

class ViewerHttp;

// Where and how the server listens.
struct WebEndpoint {
    quint16 port = 8730; // 0 picks a free port (tests, benchmarks)
    bool bindAll = false;
    QByteArray accessCode; // empty: none
    int direction = 0;     // the display's writing direction, the page's default

    bool operator==(const WebEndpoint&) const = default;
};

// One step of a line on the display, handed from the user-interface thread to the server.
// The text is what the display shows (prefix deleted, command stripped), still Shift-JIS: it
// becomes UTF-8 on the server's thread.
struct WebLineEvent {
    enum class Kind { Completed, Growing };
    Kind kind = Kind::Completed;
    std::string sjis;
    std::int64_t colour = -1; // 0x00BBGGRR set by a colour command, -1 for the page's own
};

// The audience web view's server: the page on "/" and the stream of lines on "/stream" (a
// WebSocket), read-only. Lives on a thread of its own: the user-interface thread only posts
// line events (post() takes a lock for a moment and never waits for the network). Keeps the
// last 100 lines, numbered, for late joiners and for viewers that come back after a drop; a
// viewer that does not keep up with the stream is dropped rather than waited for.
class WebServer : public QObject {
    Q_OBJECT
  public:
    static constexpr int kMaxViewers = 500;
    static constexpr int kMaxHttpConnections = 128;
    static constexpr qint64 kMaxQueuedBytes = 128 * 1024; // per viewer, not yet sent
    static constexpr std::size_t kHistoryLines = 100;
    static constexpr std::size_t kHistoryBytes = 256 * 1024; // of the day's log, after a restart
    static constexpr qint64 kMaxRequestBytes = 8 * 1024; // request line and headers
    static constexpr int kMaxHeaders = 64;
    static constexpr std::size_t kMaxInbox = 4096; // events waiting for the server thread

    WebServer();
    ~WebServer() override;

    // Any thread.
    void post(WebLineEvent event);
    int viewerCount() const { return m_viewerCount.load(); }
    quint16 port() const { return m_port.load(); }

    // The server's thread (invoked queued from elsewhere).
    void listen(WebEndpoint endpoint);
    void stopListening();
    // The display turned to another writing direction: pages that follow the display turn
    // with it, and viewers who come later start in it.
    void setDirection(int direction);

  signals:
    void listening(quint16 port);
    void failed(QString reason);

  private:
    friend class ViewerHttp;
    struct Viewer {
        QWebSocket* socket = nullptr;
        int stalledRounds = 0;
    };
    struct Entry {
        std::uint64_t seq;
        QString message;
    };

    void drainInbox();
    void acceptViewers();
    void admit(QWebSocket* socket);
    void broadcast(const QString& message);
    void dropViewer(QWebSocket* socket);
    void keepAlive();
    QString helloMessage() const;
    bool codeMatches(const QByteArray& given) const;
    bool streamAllowed(const QUrl& url) const;

    std::mutex m_inboxLock;
    std::deque<WebLineEvent> m_inbox;
    bool m_wakePosted = false;
    std::uint64_t m_droppedLines = 0; // complete lines that a full inbox let go

    std::atomic<int> m_viewerCount{0};
    std::atomic<quint16> m_port{0};
    std::atomic<int> m_openHttp{0};

    WebEndpoint m_endpoint;
    QString m_run; // tells a viewer whether its sequence numbers are from this run
    ViewerHttp* m_http = nullptr;
    QTimer* m_keepAlive = nullptr;
    std::vector<Viewer> m_viewers;
    std::deque<Entry> m_history;
    std::uint64_t m_lastSeq = 0;
    QString m_current; // the growing line's message, empty when there is none
};

} // namespace skiro
