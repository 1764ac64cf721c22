#pragma once
#include <QLocalSocket>
#include <QString>

#include <cstddef>
#include <deque>
#include <string>
#include <string_view>

#include "core/FeedProtocol.h"

namespace skiro {

// One conversation with a display's "Send" service, in blocking calls: for skiro-send, and for
// programs and tests that hand text over from a thread of their own. Requests may be sent
// ahead of their acknowledgements; waitAcks collects them. A request is kept until it is
// acknowledged, so that it can be sent again to the next display when this one goes away.
class FeedClient {
  public:
    enum class Status {
        Ok,
        NoDisplay,     // nothing listens at the service's socket
        PlaceRefused,  // the service's folder is not this user's own
        NoAnswer,      // the display did not answer in time
        Refused,       // the display refused a request (too large) or a conversation
        DisplayClosed, // the display ended the conversation or went away
    };
    // What became of the requests not acknowledged when a conversation failed.
    enum class Unacknowledged {
        NotCarriedOut, // the display ended the conversation first: none of them was carried out
        Unknown,       // the display went away or stopped answering: any may have been
    };
    struct Result {
        Status status = Status::Ok;
        QString message; // what went wrong, naming the socket
        bool ok() const { return status == Status::Ok; }
    };

    explicit FeedClient(QString service);
    ~FeedClient();

    const QString& socketPath() const { return m_socketPath; }

    // Connects and opens the conversation (service name, topic "Command").
    Result open(int timeoutMs = 5000);
    // Sends one request text as it is; its acknowledgement is collected later.
    Result sendRequest(std::string_view request);
    // Waits until every request sent so far is acknowledged.
    Result waitAcks(int timeoutMs = 5000);
    // Takes the acknowledgements that have arrived, without waiting.
    Result pollAcks() { return readFrames(0); }
    // Requests sent and not acknowledged yet, oldest first.
    std::size_t pending() const { return m_unacknowledged.size(); }
    std::size_t pendingBytes() const { return m_unacknowledgedBytes; }
    // Requests acknowledged in this conversation.
    std::size_t acknowledged() const { return m_acknowledged; }
    // After a failure: whether the display could have carried out what it did not acknowledge.
    Unacknowledged unacknowledgedFate() const;
    // Takes the requests not acknowledged, to send them again elsewhere.
    std::deque<std::string> takeUnacknowledged();
    // Ends the conversation and waits a moment for the display's answer.
    void terminate(int timeoutMs = 1000);

  private:
    Result readFrames(int timeoutMs);
    Result failure(Status status, const QString& what) const;

    QString m_service;
    QString m_socketPath;
    QString m_placeError;
    QLocalSocket m_socket;
    feed::FrameReader m_reader;
    std::deque<std::string> m_unacknowledged;
    std::size_t m_unacknowledgedBytes = 0;
    std::size_t m_acknowledged = 0;
    // Requests at the end of m_unacknowledged that never went out.
    std::size_t m_unsent = 0;
    bool m_open = false;
    bool m_closedByDisplay = false;
    bool m_refusedRequest = false;
};

} // namespace skiro
