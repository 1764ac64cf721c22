#include "feed/FeedServer.h"

#include <QEventLoop>
#include <QFile>
#include <QLocalSocket>
#include <QTimer>

#include <algorithm>

#include "feed/FeedPlace.h"

namespace skiro {

FeedServer::FeedServer(QString serviceName, Deliver deliver, QObject* parent)
    : QObject(parent), m_service(std::move(serviceName)),
      m_serviceBytes(QFile::encodeName(m_service)), m_deliver(std::move(deliver)),
      m_server([this] { onNewConnection(); }) {}

FeedServer::~FeedServer() {
    shutdown(std::chrono::milliseconds(0));
}

bool FeedServer::listen() {
    const FeedPlace place = feedPlace(m_service, true);
    m_socketPath = place.socket;
    if (!place.ok()) {
        m_error = place.error;
        return false;
    }
    if (!m_server.listen(m_socketPath, 2 * static_cast<int>(feed::kMaxConversations))) {
        m_error = m_server.errorString();
        shutdown(std::chrono::milliseconds(0));
        return false;
    }
    m_error.clear();
    return true;
}

void FeedServer::onNewConnection() {
    while (QLocalSocket* socket = m_server.nextPendingConnection()) {
        // Only the user's own programs may hand text to the display; anyone else is dropped
        // without a word, even where the folder's permissions were loosened.
        const bool sameUser = FeedListener::isThisUser(socket);
        if (!sameUser || m_conversations.size() >= feed::kMaxConversations) {
            socket->abort();
            socket->deleteLater();
            continue;
        }
        auto c = std::make_shared<Conversation>();
        c->socket = socket;
        m_conversations.push_back(c);
        const std::weak_ptr<Conversation> weak = c;
        connect(socket, &QLocalSocket::readyRead, this, [this, weak] {
            if (const Record r = weak.lock())
                readFrom(r);
        });
        connect(socket, &QLocalSocket::disconnected, this, [this, weak] {
            // The client went away: as if its window no longer existed. What it sent before it
            // closed (a script writes its requests and closes at once) is carried out first.
            if (const Record r = weak.lock()) {
                r->peerGone = true;
                readFrom(r);
            }
        });
        // A frame that stops halfway would hold its place for ever.
        c->frameTimer.setSingleShot(true);
        connect(&c->frameTimer, &QTimer::timeout, this, [this, weak] {
            if (const Record r = weak.lock())
                drop(r, false);
        });
        // The places are few: a connection that opens no conversation (a stuck or confused
        // client, or one that only asked for another service) gives its place back.
        QTimer::singleShot(m_openWithin, this, [this, weak] {
            if (const Record r = weak.lock(); r && !r->dropped && r->state == State::Closed)
                drop(r, false);
        });
        if (socket->bytesAvailable() > 0)
            readFrom(c);
    }
}

void FeedServer::readFrom(const Record& c) {
    // Delivering text can open a message box (an echo that failed), whose event loop brings
    // this connection's next bytes here again; the outer call reads them when it is back.
    if (c->reading)
        return;
    c->reading = true;
    while (!c->dropped && !c->unreadTooMuch && c->socket && c->socket->bytesAvailable() > 0) {
        const QByteArray bytes = c->socket->readAll();
        c->reader.append(
            std::string_view(bytes.constData(), static_cast<std::size_t>(bytes.size())));
        feed::Frame frame;
        for (;;) {
            if (c->dropped)
                break;
            const auto status = c->reader.next(frame);
            if (status == feed::FrameReader::Status::NeedMore)
                break;
            if (status == feed::FrameReader::Status::Malformed) {
                drop(c, false);
                break;
            }
            if (status == feed::FrameReader::Status::TooLarge) {
                send(c, feed::encodeAck(feed::kAckRefused));
                drop(c, true);
                break;
            }
            handle(c, frame);
        }
    }
    c->reading = false;
    if (c->dropped)
        return;
    if (c->peerGone || c->unreadTooMuch) {
        drop(c, false);
        return;
    }
    if (c->reader.midFrame())
        c->frameTimer.start(m_frameWithin); // bytes came: the frame has its time again
    else
        c->frameTimer.stop();
}

void FeedServer::handle(const Record& c, const feed::Frame& frame) {
    switch (frame.type) {
    case feed::FrameType::Initiate: {
        // A second open on a live conversation, a wildcard (an empty name), another service
        // or another topic: no answer.
        if (c->state != State::Closed)
            return;
        const auto names = feed::parseInitiate(frame.payload);
        if (!names) {
            drop(c, false);
            return;
        }
        if (names->service.empty() || names->topic.empty() ||
            names->service != std::string_view(m_serviceBytes.constData(),
                                               static_cast<std::size_t>(m_serviceBytes.size())) ||
            names->topic != feed::kTopic)
            return;
        send(c, feed::encodeFrame(feed::FrameType::InitiateAck, frame.payload));
        c->state = State::Connected;
        emit conversationsChanged();
        return;
    }
    case feed::FrameType::Execute: {
        if (c->state != State::Connected)
            return;
        // The acknowledgement is positive whatever the request says, and goes out before the
        // request is carried out.
        send(c, feed::encodeAck(feed::kAckPositive));
        const std::string_view text = feed::requestText(frame.payload);
        if (text.empty())
            return;
        if (const auto argument = feed::sendArgument(text); argument && m_deliver)
            m_deliver(*argument);
        return;
    }
    case feed::FrameType::Terminate:
        if (c->state == State::Connected) {
            // The client ends the conversation: answer, then forget it.
            send(c, feed::encodeFrame(feed::FrameType::Terminate));
            c->state = State::Closed;
            drop(c, true);
        } else if (c->state == State::Terminating) {
            // The client's answer to the display's own terminate.
            c->state = State::Closed;
            drop(c, true);
        }
        return;
    case feed::FrameType::InitiateAck:
    case feed::FrameType::ExecuteAck:
        // Answers are the display's to give; a client's are not answered.
        return;
    }
}

void FeedServer::send(const Record& c, const std::string& frame) {
    QLocalSocket* socket = c->socket;
    if (!socket || c->dropped || c->peerGone || socket->state() != QLocalSocket::ConnectedState)
        return;
    socket->write(frame.data(), static_cast<qint64>(frame.size()));
    socket->flush();
    // A client that sends and never reads would have its replies pile up in the display.
    if (c->socket && c->socket->bytesToWrite() > static_cast<qint64>(feed::kMaxUnread))
        c->unreadTooMuch = true;
}

void FeedServer::drop(const Record& c, bool flushFirst) {
    if (c->dropped)
        return;
    c->dropped = true;
    c->state = State::Closed;
    c->frameTimer.stop();
    if (QLocalSocket* socket = c->socket) {
        socket->disconnect(this);
        if (flushFirst)
            socket->disconnectFromServer(); // writes what is buffered, then closes
        else
            socket->abort();
        socket->deleteLater();
    }
    const auto found = std::find(m_conversations.begin(), m_conversations.end(), c);
    if (found != m_conversations.end())
        m_conversations.erase(found);
    emit conversationsChanged();
}

bool FeedServer::anyTerminating() const {
    return std::any_of(m_conversations.begin(), m_conversations.end(),
                       [](const Record& c) { return c->state == State::Terminating; });
}

void FeedServer::shutdown(std::chrono::milliseconds bound) {
    // Stop listening first: the socket file goes while this display still holds the lock.
    m_server.close();

    const std::vector<Record> all = m_conversations;
    for (const Record& c : all) {
        if (c->state == State::Connected) {
            c->state = State::Terminating;
            send(c, feed::encodeFrame(feed::FrameType::Terminate));
        } else if (c->state == State::Closed) {
            drop(c, false);
        }
    }
    // The answers arrive through the event loop, which keeps the display scrolling meanwhile;
    // a client that never answers holds the close up for `bound` at most.
    if (anyTerminating() && bound.count() > 0) {
        QEventLoop wait;
        QTimer limit;
        limit.setSingleShot(true);
        connect(&limit, &QTimer::timeout, &wait, &QEventLoop::quit);
        const auto check = connect(this, &FeedServer::conversationsChanged, &wait, [&] {
            if (!anyTerminating())
                wait.quit();
        });
        limit.start(bound);
        wait.exec();
        disconnect(check);
    }
    const std::vector<Record> left = m_conversations;
    for (const Record& c : left)
        drop(c, false);
    m_conversations.clear();

    m_server.releaseClaim();
}

} // namespace skiro
