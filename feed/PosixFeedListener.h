#pragma once
#include <QObject>
#include <QString>
#include <QTimer>

#include <deque>

class QLocalSocket;
class QSocketNotifier;

namespace skiro {

// The listening socket of the display's "Send" service, in place of Qt's local server: that
// one closes itself, and removes the socket file, the first time accepting a connection fails,
// which happens whenever the process is out of file descriptors; the service would be gone for
// the rest of the run. Here a failure leaves the socket listening: a descriptor kept in reserve
// goes to the waiting client, and otherwise accepting starts again a moment later.
class PosixFeedListener : public QObject {
    Q_OBJECT
  public:
    static constexpr int kRetryMs = 200;

    explicit PosixFeedListener(QObject* parent = nullptr);
    ~PosixFeedListener() override;

    // Makes the socket at `path` (mode 0600) and listens; false, with errorString(), when it
    // cannot.
    bool listen(const QString& path, int backlog);
    bool isListening() const { return m_fd >= 0; }
    // Stops listening and removes the socket file.
    void close();
    const QString& errorString() const { return m_error; }
    // The next accepted connection, or null. It is the listener's child, as with Qt's server,
    // until the caller deletes it.
    QLocalSocket* nextPendingConnection();

  signals:
    void newConnection();

  private:
    void acceptWaiting();

    int m_fd = -1;
    int m_spare = -1; // a descriptor held back for a client that comes when there are none left
    QString m_path;
    QString m_error;
    QSocketNotifier* m_notifier = nullptr;
    QTimer m_retry;
    std::deque<QLocalSocket*> m_pending;
};

} // namespace skiro
