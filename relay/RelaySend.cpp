#include "relay/RelaySend.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDeadlineTimer>
#include <QHostInfo>
#include <QRandomGenerator>
#include <QThread>

#include <cstdio>

#include "core/RelayProtocol.h"
#include "relay/RelayClient.h"
#include "relay/RelaySecret.h"

namespace skiro {
namespace {

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUnknown = 3;

bool waitFor(const std::function<bool()>& done, QDeadlineTimer deadline) {
    while (!done()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(1);
    }
    return true;
}

void tell(const QString& text) {
    std::fprintf(stderr, "skiro-send: %s\n", text.toLocal8Bit().constData());
}

} // namespace

int sendThroughRelay(const RelaySendOptions& options,
                     const std::function<std::optional<std::string>()>& next) {
    RelayEndpoint endpoint;
    QString error;
    if (!parseBrokerAddress(options.address, endpoint, error)) {
        tell(error);
        return kExitFailed;
    }
    if (!relay::validRoomName(endpoint.room.toStdString())) {
        tell(QStringLiteral("the address names no room: mqtts://host/room"));
        return kExitFailed;
    }
    endpoint.user =
        options.user.isEmpty() ? qEnvironmentVariable("SKIRO_RELAY_USER") : options.user;
    endpoint.password = options.passwordFile.isEmpty()
                            ? qEnvironmentVariable("SKIRO_RELAY_PASSWORD")
                            : readPasswordFile(options.passwordFile);
    endpoint.caFile =
        options.caFile.isEmpty() ? qEnvironmentVariable("SKIRO_RELAY_CA") : options.caFile;
    // Each run is a client of its own: what it sends is kept by its run and seq, not a session.
    const auto run = static_cast<std::uint64_t>(QDateTime::currentMSecsSinceEpoch());
    endpoint.clientId = QStringLiteral("skiro-send-%1-%2")
                            .arg(QCoreApplication::applicationPid())
                            .arg(QRandomGenerator::system()->generate(), 0, 16);

    RelayClient client;
    if (!client.start(endpoint, {},
                      QByteArray::fromStdString(relay::inputTopic(endpoint.room.toStdString())))) {
        tell(client.problem());
        return kExitFailed;
    }
    const QDeadlineTimer connectBy(options.waitSeconds * 1000);
    if (!waitFor(
            [&] {
                return client.state() == RelayClient::State::Connected ||
                       !client.problem().isEmpty();
            },
            connectBy) ||
        client.state() != RelayClient::State::Connected) {
        tell(client.problem().isEmpty()
                 ? QStringLiteral("中継: ブローカー %1:%2 に接続できません。")
                       .arg(endpoint.host)
                       .arg(endpoint.port)
                 : client.problem());
        client.stop();
        return kExitFailed;
    }

    std::uint64_t seq = 0;
    while (std::optional<std::string> line = next()) {
        relay::Message message;
        message.kind = relay::Kind::Input;
        message.run = run;
        message.seq = ++seq;
        message.arrival = QDateTime::currentMSecsSinceEpoch();
        message.text = std::move(*line);
        client.publishQueued(message.seq, relay::encode(message));
        // The network thread's answers are taken between lines, so that a long input keeps
        // only a window in flight.
        QCoreApplication::processEvents();
        while (client.pending() > RelayClient::kWindow * 4)
            waitFor([&] { return client.pending() <= RelayClient::kWindow * 4; },
                    QDeadlineTimer(1000));
    }
    waitFor([&] { return client.pending() == 0; },
            QDeadlineTimer(std::max(options.waitSeconds, 1) * 1000 + 50000));
    const std::size_t acknowledged = client.acknowledged();
    const std::size_t refused = client.refused();
    const bool inFlight = client.inFlight();
    const QString problem = client.problem();
    client.stop();
    if (acknowledged == seq && refused == 0)
        return kExitOk;
    if (!problem.isEmpty())
        tell(problem);
    if (acknowledged == 0 && !inFlight)
        return kExitFailed;
    std::fprintf(stderr, "skiro-send: %zu of %llu lines were acknowledged%s\n", acknowledged,
                 static_cast<unsigned long long>(seq),
                 inFlight ? "; whether the rest arrived is not known"
                          : "; the rest did not arrive");
    return kExitUnknown;
}

} // namespace skiro
