#pragma once
#include <QByteArray>
#include <QObject>
#include <QString>
#include <QStringList>

#include <QPointer>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "web/CodeAttempts.h"
#include "web/HostNames.h"
#include "web/ViewerFrames.h"

class QHostAddress;
class QHttpServerRequest;
class QTcpSocket;
class QTimer;
class QWebSocket;

namespace skiro {

class ConnectionGate;
class GuardedTcpServer;
class ViewerHttp;

// Where and how the server listens.
struct WebEndpoint {
    quint16 port = 8730; // 0 picks a free port (tests, benchmarks)
    bool bindAll = false;
    QByteArray accessCode; // empty: none
    int direction = 0;     // the display's writing direction, the page's default
    QStringList hosts{};   // host names asked for besides the machine's own, lower case

    bool operator==(const WebEndpoint&) const = default;
};

// How long connections may take and how many one address may hold. The defaults are the
// server's; tests shorten the times.
struct WebLimits {
    std::chrono::milliseconds headDeadline{10000}; // for a request's head, and again for its answer
    std::chrono::milliseconds stallLimit{30000};   // a viewer that reads nothing for this long goes
    // A viewer that has left a ping unanswered this long gives its place to a newcomer when
    // the places are full.
    std::chrono::milliseconds unansweredPing{5000};
    int httpPerAddress = 32;
    int viewersPerAddress = 32;
    int codeFailures = 10; // wrong access codes per address within codeWindow, then 429
    std::chrono::milliseconds codeWindow{60000};
    // Wrong access codes from all addresses together within codeWindow, then every attempt is
    // refused (429) for codeLockout.
    int codeFailuresOverall = 100;
    std::chrono::milliseconds codeLockout{30000};
};

// One step of a line on the display, handed from the user-interface thread to the server.
// The text is what the display shows (prefix deleted, command stripped), still Shift-JIS: it
// becomes UTF-8 on the server's thread.
struct WebLineEvent {
    // Completed: a whole line. Growing: the line still arriving, as far as it has come, in
    // place of what was growing. Grown: text that follows what was handed over of the line
    // still arriving, whole characters only; a long line grows at the cost of what is new.
    enum class Kind { Completed, Growing, Grown };
    Kind kind = Kind::Completed;
    std::string sjis;
    std::int64_t colour = -1; // 0x00BBGGRR set by a colour command, -1 for the page's own
};

// The audience web view's server: the page on "/" and the stream of lines on "/stream" (a
// WebSocket), read-only. Lives on a thread of its own: the user-interface thread only posts
// line events (post() takes a lock for a moment and never waits for the network). Keeps the
// last 100 lines, numbered, for late joiners and for viewers that come back after a drop; a
// viewer that does not keep up with the stream is dropped rather than waited for.
// Every connection is bounded: in time (its head, its answer, a viewer's reading), in bytes
// (what it may send, what waits for it) and in number, per address as well as in all, so that
// clients that misbehave, on purpose or not, cannot keep the others out.
class WebServer : public QObject {
    Q_OBJECT
  public:
    static constexpr int kMaxViewers = 500;
    static constexpr int kMaxHttpConnections = 128;
    // Connections being told that the server is full, at a time; beyond, they are cut at once.
    static constexpr int kMaxRefusing = 64;
    // What waits for one viewer, not yet sent: the stored lines a joiner is sent and 128 KiB of
    // new ones, each message counted at most kWriteAhead (see counted()). Of that, at most
    // kWriteAhead is in the socket's buffer at a time; the rest are messages shared with the
    // other viewers.
    static constexpr qint64 kMaxQueuedBytes = 384 * 1024;
    static constexpr qint64 kWriteAhead = 16 * 1024; // the socket's own buffer takes 64 KiB more
    static constexpr std::size_t kHistoryLines = 100;
    // The stored lines a joiner is sent, and of the day's log after a restart.
    static constexpr std::size_t kHistoryBytes = 256 * 1024;
    static constexpr qint64 kMaxRequestBytes = 8 * 1024; // request line and headers
    static constexpr int kMaxHeaders = 64;
    // What a viewer may send in a keep-alive round: answers to pings and a closing frame.
    static constexpr qint64 kMaxViewerInput = 4 * 1024;
    static constexpr std::size_t kMaxInbox = 4096; // events waiting for the server thread

    WebServer();
    ~WebServer() override;

    // Any thread.
    void post(WebLineEvent event);
    int viewerCount() const { return m_viewerCount.load(); }
    // The Shift-JIS bytes the server has taken in and made UTF-8, all told.
    std::uint64_t convertedBytes() const { return m_converted.load(); }
    // HTTP connections open now, not counting viewers.
    int httpCount() const { return m_openHttp.load(); }
    quint16 port() const { return m_port.load(); }

    // The server's thread (invoked queued from elsewhere).
    void setLimits(const WebLimits& limits);
    void listen(WebEndpoint endpoint);
    void stopListening();
    // The display turned to another writing direction: pages that follow the display turn
    // with it, and viewers who come later start in it.
    void setDirection(int direction);

  signals:
    void listening(quint16 port);
    void failed(QString reason);

  private:
    friend class ConnectionGate;
    friend class GuardedTcpServer;
    friend class ViewerHttp;
    using Clock = std::chrono::steady_clock;
    // A viewer after the handshake. Qt's WebSocket object made the handshake and stays the
    // socket's holder, but the server reads and writes the frames itself: a viewer only listens,
    // and what it sends is read strictly and in small amounts (ViewerFrames).
    struct Viewer {
        QWebSocket* handshake = nullptr;
        QPointer<QTcpSocket> socket;
        std::string address;
        ViewerFrames frames;
        // Messages not yet wholly in the socket, oldest first; the first may be partly
        // written (`written` bytes of it), as a large message goes out in pieces.
        struct Waiting {
            QByteArray message;
            // Not 0: the line being received, numbered so; its message is made when its turn
            // comes, from what the viewer already has of the line to where the line has got.
            std::uint64_t growing = 0;
        };
        std::deque<Waiting> waiting;
        qint64 waitingBytes = 0;
        qsizetype written = -1;     // of the first waiting message; -1 before it is begun
        Clock::time_point lastRead; // when the viewer last showed that it reads: a ping answered
        QByteArray pingToken;
        bool awaitingPong = false;
        Clock::time_point pingSentAt; // of the oldest ping not yet answered
        qint64 inputThisRound = 0;
        // Which start of the line being received the viewer was sent (Arriving::start), and how
        // much of it, in UTF-16 units as the page counts them.
        std::uint64_t lineStart = 0;
        qsizetype lineSent = 0;
    };
    // The line being received, as far as it has come. A viewer is sent it whole once, and
    // then what it grows by.
    struct Arriving {
        bool active = false;
        std::uint64_t seq = 0;
        std::uint64_t start = 0; // counts the lines' starts: a Growing event begins one afresh
        std::int64_t colour = -1;
        QString text;
        // The last messages made of it, shared by the viewers that are at the same point.
        QByteArray whole;
        qsizetype wholeAt = -1; // the length of text that `whole` holds
        QByteArray more;
        qsizetype moreFrom = -1, moreTo = -1;
    };
    struct Entry {
        std::uint64_t seq;
        QByteArray message;
    };
    // How a request's access code (in its address, or in the cookie given after the first
    // entry) compares; a wrong one counts against its address.
    enum class CodeCheck { Passed, Missing, Wrong, Throttled };

    void drainInbox();
    void acceptViewers();
    void admit(QWebSocket* socket);
    void broadcast(const QByteArray& message);
    // Queues a message for a viewer; false when the viewer has more waiting than it may.
    bool deliver(Viewer& viewer, const QByteArray& message);
    // Tells the viewers that the line being received has grown or begun afresh: each is sent
    // what it lacks of it when its turn comes, so that a viewer that is behind gets one
    // message for many steps.
    void broadcastGrowth();
    bool deliverGrowth(Viewer& viewer);
    // The message that brings the viewer's copy of the line being received up to date; empty
    // when it has all of it, or when the line is no longer the one numbered `seq`.
    QByteArray growthFor(Viewer& viewer, std::uint64_t seq);
    // What waits for the viewer: the socket's buffer, and the messages not yet begun as
    // counted().
    static qint64 backlog(const Viewer& viewer);
    static qint64 counted(const QByteArray& message);
    void pump(Viewer& viewer);
    void readFrom(Viewer& viewer);
    // Reads what the viewer sent; false when that ended the viewer, which is then gone.
    bool take(Viewer& viewer, const QByteArray& bytes);
    Viewer* findViewer(const QTcpSocket* socket);
    // Ends a viewer's link: with a closing frame carrying `closeCode`, or cut at once for 0.
    void dropViewer(Viewer* viewer, std::uint16_t closeCode = 0);
    void keepAlive();
    // Sends the viewer a ping with a new token.
    void ping(Viewer& viewer, Clock::time_point now);
    // Whether a viewer from `address` may come in; where the places are full, one held by a
    // viewer that does not read is freed for it.
    bool placeForViewer(const std::string& address);
    QByteArray helloMessage() const;
    bool codeMatches(const QByteArray& given) const;
    CodeCheck checkCode(const QHttpServerRequest& request, const std::string& address,
                        bool& fromAddress, int& waitSeconds);
    QByteArray cookieName() const;
    ConnectionGate* gateOf(const QHostAddress& peer, quint16 port) const;
    QObject* httpServer() const;

    std::mutex m_inboxLock;
    std::deque<WebLineEvent> m_inbox;
    bool m_wakePosted = false;
    std::uint64_t m_droppedLines = 0; // complete lines that a full inbox let go
    std::atomic<std::uint64_t> m_converted{0};

    std::atomic<int> m_viewerCount{0};
    std::atomic<quint16> m_port{0};
    std::atomic<int> m_openHttp{0};

    WebLimits m_limits;
    WebEndpoint m_endpoint;
    QString m_run; // tells a viewer whether its sequence numbers are from this run
    ViewerHttp* m_http = nullptr;
    QTimer* m_keepAlive = nullptr;
    std::vector<std::unique_ptr<Viewer>> m_viewers;
    std::vector<ConnectionGate*> m_gates; // every connection not yet a viewer
    std::unordered_map<std::string, int> m_httpPerAddress;
    std::unordered_map<std::string, int> m_viewersPerAddress;
    int m_refusing = 0;
    CodeAttempts m_attempts;
    HostNames m_hostNames;
    std::uint64_t m_pings = 0; // numbers the pings, so that no two tokens are alike
    std::deque<Entry> m_history;
    qint64 m_historyBytes = 0;
    std::uint64_t m_lastSeq = 0;
    Arriving m_arriving;
};

} // namespace skiro
