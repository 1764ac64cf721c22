#include <QLocalServer>
#include <QLocalSocket>

#include "feed/FeedListener.h"
#include "feed/WinFeedPlace.h"

// The service's place on Windows: a named pipe that Qt's local server keeps, reachable by this
// user alone, and the session's mutex of the name as the claim.
namespace skiro {

struct FeedListener::System {
    QLocalServer server;
    void* claim = nullptr;
    QString error;
};

FeedListener::FeedListener(std::function<void()> newConnection)
    : m_system(std::make_unique<System>()) {
    QObject::connect(&m_system->server, &QLocalServer::newConnection, std::move(newConnection));
}

FeedListener::~FeedListener() {
    close();
    releaseClaim();
}

bool FeedListener::listen(const QString& path, int backlog) {
    System& s = *m_system;
    // Whoever holds the session's mutex of the name owns the pipe: a second display of the
    // same name leaves the first one's pipe alone.
    if (!claimService(path, s.claim)) {
        s.error = QStringLiteral("another SKIRO already serves %1").arg(path);
        return false;
    }
    s.server.setSocketOptions(QLocalServer::UserAccessOption);
    s.server.setListenBacklogSize(backlog);
    if (!s.server.listen(path)) {
        s.error = QStringLiteral("%1 cannot be served (%2)").arg(path, s.server.errorString());
        return false;
    }
    s.error.clear();
    return true;
}

bool FeedListener::isListening() const {
    return m_system->server.isListening();
}

void FeedListener::close() {
    if (m_system->server.isListening())
        m_system->server.close();
}

void FeedListener::releaseClaim() {
    releaseServiceClaim(m_system->claim);
}

QString FeedListener::errorString() const {
    return m_system->error;
}

QLocalSocket* FeedListener::nextPendingConnection() {
    return m_system->server.nextPendingConnection();
}

bool FeedListener::isThisUser(QLocalSocket* socket) {
    return pipePeerIsThisUser(socket->socketDescriptor(), false);
}

} // namespace skiro
