#include "feed/FeedServer.h"

#include <QEventLoop>
#include <QFile>
#include <QLocalSocket>
#include <QTimer>

#include <algorithm>
#include <cerrno>
#ifdef _WIN32
#include "feed/WinFeedPlace.h"
#else
#include <fcntl.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include "feed/FeedPlace.h"

namespace skiro {
namespace {

#ifdef _WIN32
bool isThisUser(QLocalSocket* socket) {
    return pipePeerIsThisUser(socket->socketDescriptor(), false);
}
#else

// The user id of the process at the other end of a local socket, or -1.
long peerUid(qintptr fd) {
    struct ucred cred {};
    socklen_t size = sizeof(cred);
    if (::getsockopt(static_cast<int>(fd), SOL_SOCKET, SO_PEERCRED, &cred, &size) != 0)
        return -1;
    return static_cast<long>(cred.uid);
}

bool isThisUser(QLocalSocket* socket) {
    return peerUid(socket->socketDescriptor()) == static_cast<long>(::geteuid());
}
#endif

} // namespace

FeedServer::FeedServer(QString serviceName, Deliver deliver, QObject* parent)
    : QObject(parent), m_service(std::move(serviceName)),
      m_serviceBytes(QFile::encodeName(m_service)), m_deliver(std::move(deliver)) {
    connect(&m_server, &QLocalServer::newConnection, this, &FeedServer::onNewConnection);
}

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
#ifdef _WIN32
    // Whoever holds the session's mutex of the name owns the pipe: a second display of the
    // same name leaves the first one's pipe alone.
    if (!claimService(m_socketPath, m_claim)) {
        m_error = QStringLiteral("another SKIRO already serves %1").arg(m_socketPath);
        return false;
    }
#else
    // Whoever holds the lock owns the socket: a second display of the same name leaves the
    // first one's socket alone, and a socket left behind by a crashed display (whose lock the
    // system released) may be replaced.
    const QByteArray lockPath = QFile::encodeName(m_socketPath + QStringLiteral(".lock"));
    m_lockFd = ::open(lockPath.constData(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (m_lockFd < 0 || ::flock(m_lockFd, LOCK_EX | LOCK_NB) != 0) {
        if (m_lockFd >= 0)
            ::close(m_lockFd);
        m_lockFd = -1;
        m_error = QStringLiteral("another SKIRO already serves %1").arg(m_socketPath);
        return false;
    }
    const QByteArray socketBytes = QFile::encodeName(m_socketPath);
    struct stat st {};
    if (::lstat(socketBytes.constData(), &st) == 0) {
        if (!S_ISSOCK(st.st_mode)) {
            m_error = QStringLiteral("%1 is in the way and is not a socket").arg(m_socketPath);
            shutdown(std::chrono::milliseconds(0));
            return false;
        }
        // A display that predates the lock, or runs on another machine sharing this folder,
        // would still answer: its socket is not stale.
        QLocalSocket probe;
        probe.connectToServer(m_socketPath);
        if (probe.waitForConnected(500)) {
            probe.abort();
            m_error = QStringLiteral("another SKIRO already serves %1").arg(m_socketPath);
            shutdown(std::chrono::milliseconds(0));
            return false;
        }
        ::unlink(socketBytes.constData());
    }
#endif
    m_server.setSocketOptions(QLocalServer::UserAccessOption);
    m_server.setListenBacklogSize(2 * static_cast<int>(feed::kMaxConversations));
    if (!m_server.listen(m_socketPath)) {
        m_error =
            QStringLiteral("%1 cannot be served (%2)").arg(m_socketPath, m_server.errorString());
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
        const bool sameUser = isThisUser(socket);
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
    if (m_server.isListening())
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

#ifdef _WIN32
    releaseServiceClaim(m_claim);
#else
    if (m_lockFd >= 0) {
        ::close(m_lockFd);
        m_lockFd = -1;
    }
#endif
}

} // namespace skiro
