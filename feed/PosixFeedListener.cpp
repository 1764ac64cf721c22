#include "feed/PosixFeedListener.h"
#include "feed/FeedListener.h"

#include <QFile>
#include <QLocalSocket>
#include <QSocketNotifier>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace skiro {

namespace {

int spareDescriptor() {
    return ::open("/dev/null", O_RDONLY | O_CLOEXEC);
}

} // namespace

PosixFeedListener::PosixFeedListener(QObject* parent) : QObject(parent) {
    m_retry.setSingleShot(true);
    m_retry.setInterval(kRetryMs);
    connect(&m_retry, &QTimer::timeout, this, [this] {
        if (m_notifier)
            m_notifier->setEnabled(true);
        acceptWaiting();
    });
}

PosixFeedListener::~PosixFeedListener() {
    close();
}

bool PosixFeedListener::listen(const QString& path, int backlog) {
    close();
    const QByteArray name = QFile::encodeName(path);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (static_cast<std::size_t>(name.size()) >= sizeof address.sun_path) {
        m_error = QStringLiteral("the socket path is too long");
        return false;
    }
    std::memcpy(address.sun_path, name.constData(), static_cast<std::size_t>(name.size()));
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) {
        m_error = QString::fromLocal8Bit(std::strerror(errno));
        return false;
    }
    // The folder is the user's alone already; the socket itself is made the user's alone too
    // before anyone can connect to it.
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
        ::chmod(name.constData(), 0600) != 0 || ::listen(fd, backlog) != 0) {
        m_error = QString::fromLocal8Bit(std::strerror(errno));
        ::close(fd);
        return false;
    }
    m_fd = fd;
    m_path = path;
    m_error.clear();
    m_spare = spareDescriptor();
    m_notifier = new QSocketNotifier(fd, QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &PosixFeedListener::acceptWaiting);
    return true;
}

void PosixFeedListener::close() {
    if (m_fd < 0)
        return;
    m_retry.stop();
    delete m_notifier;
    m_notifier = nullptr;
    ::close(m_fd);
    m_fd = -1;
    ::unlink(QFile::encodeName(m_path).constData());
    if (m_spare >= 0)
        ::close(m_spare);
    m_spare = -1;
}

QLocalSocket* PosixFeedListener::nextPendingConnection() {
    if (m_pending.empty())
        return nullptr;
    QLocalSocket* socket = m_pending.front();
    m_pending.pop_front();
    return socket;
}

void PosixFeedListener::acceptWaiting() {
    if (m_fd < 0)
        return;
    bool accepted = false;
    for (;;) {
        const int fd = ::accept4(m_fd, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (fd >= 0) {
            auto* socket = new QLocalSocket(this);
            socket->setSocketDescriptor(fd, QLocalSocket::ConnectedState, QIODevice::ReadWrite);
            m_pending.push_back(socket);
            accepted = true;
            continue;
        }
        if (errno == EINTR || errno == ECONNABORTED)
            continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK)
            break;
        if ((errno == EMFILE || errno == ENFILE) && m_spare >= 0) {
            // Out of descriptors: the one held back goes to the waiting client.
            ::close(m_spare);
            m_spare = -1;
            continue;
        }
        // Still out of descriptors (or of memory): the socket stays where it is and keeps
        // its waiting clients, and accepting starts again a moment later.
        m_notifier->setEnabled(false);
        m_retry.start();
        break;
    }
    if (m_spare < 0)
        m_spare = spareDescriptor();
    if (accepted)
        emit newConnection();
}

} // namespace skiro

// --- the service's place on POSIX ----------------------------------------------------------

namespace skiro {

struct FeedListener::System {
    // Qt's local server closes itself, and removes the socket, at the first failed accept.
    PosixFeedListener socket;
    int lockFd = -1;
    QString error;
};

FeedListener::FeedListener(std::function<void()> newConnection)
    : m_system(std::make_unique<System>()) {
    QObject::connect(&m_system->socket, &PosixFeedListener::newConnection,
                     std::move(newConnection));
}

FeedListener::~FeedListener() {
    close();
    releaseClaim();
}

bool FeedListener::listen(const QString& path, int backlog) {
    System& s = *m_system;
    // Whoever holds the lock owns the socket: a second display of the same name leaves the
    // first one's socket alone, and a socket left behind by a crashed display (whose lock the
    // system released) may be replaced.
    const QByteArray lockPath = QFile::encodeName(path + QStringLiteral(".lock"));
    s.lockFd = ::open(lockPath.constData(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (s.lockFd < 0 || ::flock(s.lockFd, LOCK_EX | LOCK_NB) != 0) {
        releaseClaim();
        s.error = QStringLiteral("another SKIRO already serves %1").arg(path);
        return false;
    }
    const QByteArray socketBytes = QFile::encodeName(path);
    struct stat st {};
    if (::lstat(socketBytes.constData(), &st) == 0) {
        if (!S_ISSOCK(st.st_mode)) {
            s.error = QStringLiteral("%1 is in the way and is not a socket").arg(path);
            return false;
        }
        // A display that predates the lock, or runs on another machine sharing this folder,
        // would still answer: its socket is not stale.
        QLocalSocket probe;
        probe.connectToServer(path);
        if (probe.waitForConnected(500)) {
            probe.abort();
            s.error = QStringLiteral("another SKIRO already serves %1").arg(path);
            return false;
        }
        ::unlink(socketBytes.constData());
    }
    if (!s.socket.listen(path, backlog)) {
        s.error = QStringLiteral("%1 cannot be served (%2)").arg(path, s.socket.errorString());
        return false;
    }
    s.error.clear();
    return true;
}

bool FeedListener::isListening() const {
    return m_system->socket.isListening();
}

void FeedListener::close() {
    if (m_system->socket.isListening())
        m_system->socket.close();
}

void FeedListener::releaseClaim() {
    if (m_system->lockFd >= 0) {
        ::close(m_system->lockFd);
        m_system->lockFd = -1;
    }
}

QString FeedListener::errorString() const {
    return m_system->error;
}

QLocalSocket* FeedListener::nextPendingConnection() {
    return m_system->socket.nextPendingConnection();
}

bool FeedListener::isThisUser(QLocalSocket* socket) {
    // The user id of the process at the other end of the local socket.
    struct ucred cred {};
    socklen_t size = sizeof(cred);
    if (::getsockopt(static_cast<int>(socket->socketDescriptor()), SOL_SOCKET, SO_PEERCRED, &cred,
                     &size) != 0)
        return false;
    return cred.uid == ::geteuid();
}

} // namespace skiro
