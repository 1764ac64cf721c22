#include "feed/FeedClient.h"

#include <QDeadlineTimer>
#include <QFile>

#include <utility>

#include "feed/FeedPlace.h"
#ifdef _WIN32
#include "feed/WinFeedPlace.h"
#endif

namespace skiro {

FeedClient::FeedClient(QString service) : m_service(std::move(service)) {
    const FeedPlace place = feedPlace(m_service, false);
    m_socketPath = place.socket;
    m_placeError = place.error;
}

FeedClient::~FeedClient() {
    m_socket.abort();
}

FeedClient::Result FeedClient::failure(Status status, const QString& what) const {
    return {status, what};
}

FeedClient::Result FeedClient::open(int timeoutMs) {
    if (!m_placeError.isEmpty())
        return failure(Status::PlaceRefused,
                       QStringLiteral("the service folder is refused: %1").arg(m_placeError));
    m_socket.connectToServer(m_socketPath);
    if (!m_socket.waitForConnected(timeoutMs))
        return failure(Status::NoDisplay,
                       QStringLiteral("no SKIRO display is running (nothing answers at %1)")
                           .arg(m_socketPath));
#ifdef _WIN32
    // Pipe names are open to every user of the machine: text goes only to a display of this
    // user, never to a pipe someone else made under the same name.
    if (!pipePeerIsThisUser(m_socket.socketDescriptor(), true)) {
        m_socket.abort();
        return failure(Status::PlaceRefused,
                       QStringLiteral("the pipe %1 is served by another user").arg(m_socketPath));
    }
#endif
    const QByteArray service = QFile::encodeName(m_service);
    const std::string frame = feed::encodeInitiate(
        std::string_view(service.constData(), static_cast<std::size_t>(service.size())),
        feed::kTopic);
    m_socket.write(frame.data(), static_cast<qint64>(frame.size()));
    QDeadlineTimer deadline(timeoutMs);
    while (!m_open) {
        const Result r = readFrames(static_cast<int>(deadline.remainingTime()));
        if (!r.ok())
            return r;
        if (!m_open && deadline.hasExpired())
            return failure(
                Status::NoAnswer,
                QStringLiteral("the display at %1 did not open a conversation").arg(m_socketPath));
    }
    return {};
}

FeedClient::Result FeedClient::sendRequest(std::string_view request) {
    if (request.size() > feed::kMaxRequest)
        return failure(Status::Refused,
                       QStringLiteral("a request is longer than %1 bytes").arg(feed::kMaxRequest));
    // Kept until the display answers it: it may have to go to the next display.
    m_unacknowledged.emplace_back(request);
    m_unacknowledgedBytes += request.size();
    ++m_unsent;
    if (!m_open || m_closedByDisplay)
        return failure(
            Status::DisplayClosed,
            QStringLiteral("the display at %1 ended the conversation").arg(m_socketPath));
    // The answers that came meanwhile are taken first: a write into a connection that the
    // display has closed would lose what is still unread on it.
    if (const Result answers = readFrames(0); !answers.ok())
        return answers;
    m_unsent = 0;
    const std::string frame = feed::encodeFrame(feed::FrameType::Execute, request);
    if (m_socket.write(frame.data(), static_cast<qint64>(frame.size())) < 0)
        return failure(Status::DisplayClosed,
                       QStringLiteral("the display at %1 went away").arg(m_socketPath));
    // Push the bytes out now; a display that is slow to read makes this wait, not grow.
    while (m_socket.bytesToWrite() > 0) {
        if (!m_socket.waitForBytesWritten(5000))
            return failure(Status::DisplayClosed,
                           QStringLiteral("the display at %1 stopped reading").arg(m_socketPath));
    }
    return {};
}

FeedClient::Result FeedClient::waitAcks(int timeoutMs) {
    QDeadlineTimer deadline(timeoutMs);
    while (!m_unacknowledged.empty()) {
        const Result r = readFrames(static_cast<int>(deadline.remainingTime()));
        if (!r.ok())
            return r;
        if (!m_unacknowledged.empty() && deadline.hasExpired())
            return failure(
                Status::NoAnswer,
                QStringLiteral("the display at %1 did not acknowledge in time").arg(m_socketPath));
    }
    return {};
}

FeedClient::Result FeedClient::readFrames(int timeoutMs) {
    if (m_socket.bytesAvailable() == 0 && m_socket.state() == QLocalSocket::ConnectedState)
        m_socket.waitForReadyRead(timeoutMs);
    const QByteArray bytes = m_socket.readAll();
    m_reader.append(std::string_view(bytes.constData(), static_cast<std::size_t>(bytes.size())));
    feed::Frame frame;
    for (;;) {
        const auto status = m_reader.next(frame);
        if (status == feed::FrameReader::Status::NeedMore)
            break;
        if (status != feed::FrameReader::Status::Frame)
            return failure(Status::DisplayClosed,
                           QStringLiteral("the display at %1 sent garbage").arg(m_socketPath));
        switch (frame.type) {
        case feed::FrameType::InitiateAck:
            m_open = true;
            break;
        case feed::FrameType::ExecuteAck:
            if (feed::parseAck(frame.payload) != feed::kAckPositive) {
                // The display closes the conversation after it: the refused request and those
                // after it were not carried out.
                m_refusedRequest = true;
                return failure(
                    Status::Refused,
                    QStringLiteral("the display at %1 refused a request").arg(m_socketPath));
            }
            if (!m_unacknowledged.empty()) {
                m_unacknowledgedBytes -= m_unacknowledged.front().size();
                m_unacknowledged.pop_front();
            }
            ++m_acknowledged;
            break;
        case feed::FrameType::Terminate: {
            // The display is closing: answer it, as a conversation partner must.
            const std::string answer = feed::encodeFrame(feed::FrameType::Terminate);
            m_socket.write(answer.data(), static_cast<qint64>(answer.size()));
            m_socket.flush();
            m_closedByDisplay = true;
            return failure(Status::DisplayClosed,
                           QStringLiteral("the display at %1 closed").arg(m_socketPath));
        }
        default:
            break;
        }
    }
    if (m_socket.state() != QLocalSocket::ConnectedState && m_socket.bytesAvailable() == 0 &&
        (!m_open || !m_unacknowledged.empty()))
        return failure(m_open ? Status::DisplayClosed : Status::Refused,
                       m_open ? QStringLiteral("the display at %1 went away").arg(m_socketPath)
                              : QStringLiteral("the display at %1 closed the connection without "
                                               "opening a conversation (it serves at most %2 "
                                               "senders at once)")
                                    .arg(m_socketPath)
                                    .arg(feed::kMaxConversations));
    return {};
}

FeedClient::Unacknowledged FeedClient::unacknowledgedFate() const {
    // The display answers a request before it carries it out, and once it has ended the
    // conversation it carries out nothing more: what it did not answer by then never ran.
    return m_closedByDisplay || m_refusedRequest || m_unacknowledged.size() <= m_unsent
               ? Unacknowledged::NotCarriedOut
               : Unacknowledged::Unknown;
}

std::deque<std::string> FeedClient::takeUnacknowledged() {
    // Answers that arrived before the connection ended still count.
    if (m_open)
        readFrames(0);
    m_unacknowledgedBytes = 0;
    m_unsent = 0;
    return std::exchange(m_unacknowledged, {});
}

void FeedClient::terminate(int timeoutMs) {
    if (m_socket.state() != QLocalSocket::ConnectedState)
        return;
    if (m_open && !m_closedByDisplay) {
        const std::string frame = feed::encodeFrame(feed::FrameType::Terminate);
        m_socket.write(frame.data(), static_cast<qint64>(frame.size()));
        m_socket.flush();
        // The display answers with its own terminate and closes the connection.
        QDeadlineTimer deadline(timeoutMs);
        while (m_socket.state() == QLocalSocket::ConnectedState && !deadline.hasExpired()) {
            if (!m_socket.waitForReadyRead(static_cast<int>(deadline.remainingTime())))
                break;
            m_socket.readAll();
        }
    }
    m_socket.abort();
}

} // namespace skiro
