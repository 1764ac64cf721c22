#pragma once
#include <QByteArray>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>

#include <chrono>
#include <functional>
#include <memory>
#include <string_view>
#include <vector>

#include "core/FeedProtocol.h"
#include "feed/FeedListener.h"

class QLocalSocket;

namespace skiro {

// The display's local "Send" service: other programs of the same user open a conversation
// with the service name and the topic "Command" and hand over "[Send(text)]" requests, whose
// text goes on to intake exactly as sent. Each request is acknowledged before it is carried
// out, and a request that has been read is carried out even when its acknowledgement can no
// longer reach the client. Runs on the user-interface thread, like the rest of intake.
class FeedServer : public QObject {
    Q_OBJECT
  public:
    using Deliver = std::function<void(std::string_view text)>;

    FeedServer(QString serviceName, Deliver deliver, QObject* parent = nullptr);
    ~FeedServer() override;

    // Starts serving; false (and error() says why) when the service stays off: its folder is
    // refused, or another display already serves the same name.
    bool listen();
    const QString& error() const { return m_error; }
    const QString& socketPath() const { return m_socketPath; }
    // Open conversations, and connections that have not opened one yet.
    std::size_t connectionCount() const { return m_conversations.size(); }
    // How long a connection may stay without an open conversation before it is closed.
    void setOpenWithin(std::chrono::milliseconds bound) { m_openWithin = bound; }
    // How long a frame that has begun may wait for its next bytes before the connection is
    // closed.
    void setFrameWithin(std::chrono::milliseconds bound) { m_frameWithin = bound; }

    // The end of the run: stops listening, ends every open conversation and waits for the
    // clients' answers, at most `bound` in all, then drops whatever is left.
    void shutdown(std::chrono::milliseconds bound = std::chrono::seconds(2));

  signals:
    // A conversation opened, or a connection ended.
    void conversationsChanged();

  private:
    enum class State { Closed, Connected, Terminating };
    struct Conversation {
        QPointer<QLocalSocket> socket;
        feed::FrameReader reader;
        State state = State::Closed;
        bool reading = false;
        bool dropped = false;
        // The client closed its end: what it sent before is still carried out.
        bool peerGone = false;
        // The client left more replies unread than the display keeps for it.
        bool unreadTooMuch = false;
        QTimer frameTimer; // runs while a frame has begun and not ended
    };
    using Record = std::shared_ptr<Conversation>;

    void onNewConnection();
    void readFrom(const Record& c);
    void handle(const Record& c, const feed::Frame& frame);
    void send(const Record& c, const std::string& frame);
    // Closes the connection (after what was written has gone out) and forgets the record.
    void drop(const Record& c, bool flushFirst);
    bool anyTerminating() const;

    QString m_service;
    QByteArray m_serviceBytes;
    Deliver m_deliver;
    FeedListener m_server;
    QString m_socketPath;
    QString m_error;
    std::vector<Record> m_conversations;
    std::chrono::milliseconds m_openWithin = std::chrono::seconds(10);
    std::chrono::milliseconds m_frameWithin = std::chrono::seconds(30);
};

} // namespace skiro
