#pragma once
#include <QString>

#include <functional>
#include <memory>

class QLocalSocket;

namespace skiro {

// The listening end of the display's "Send" service and this display's claim on the service's
// name, as each system makes them. Whoever holds the claim owns the place: a second display of
// the same name leaves the first one's place alone. On POSIX the place is a socket in the
// user's private folder and the claim a lock beside it, which the system releases when a
// display crashes, so that the socket it left behind may be replaced (PosixFeedListener.cpp);
// on Windows the place is a named pipe of the user's own and the claim a mutex of the session
// (WinFeedListener.cpp).
class FeedListener {
  public:
    // `newConnection` is called on the user-interface thread when connections wait.
    explicit FeedListener(std::function<void()> newConnection);
    ~FeedListener();
    FeedListener(const FeedListener&) = delete;
    FeedListener& operator=(const FeedListener&) = delete;

    // Claims the name and listens at `path`; false, with errorString(), when another display
    // serves it or the place cannot be served. After a failure, close() and releaseClaim()
    // undo what was done.
    bool listen(const QString& path, int backlog);
    bool isListening() const;
    // Stops listening; the place goes while the claim is still held.
    void close();
    void releaseClaim();
    QString errorString() const;
    // The next accepted connection, or null; the listener's child until the caller deletes it.
    QLocalSocket* nextPendingConnection();

    // Whether the program at the other end of an accepted connection runs as this user.
    static bool isThisUser(QLocalSocket* socket);

  private:
    struct System;
    std::unique_ptr<System> m_system;
};

} // namespace skiro
