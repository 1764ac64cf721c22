#include "relay/RelayClient.h"

#include <QHostAddress>
#include <QMetaObject>
#include <QUrl>

#include <mosquitto.h>
#include <mqtt_protocol.h>

#include <QEventLoop>
#include <QFile>

#include <cstdio>
#include <cstring>
#include <mutex>
#include <thread>

namespace skiro {
namespace {

void initLibrary() {
    static std::once_flag once;
    std::call_once(once, [] { mosquitto_lib_init(); });
}

constexpr int kKeepAliveSeconds = 20;
// A broker not reached in this time is reported as out of reach; the client keeps trying.
constexpr int kUnreachableMs = 5000;
// Seconds without a connection after which the network thread is started again.
constexpr int kRestartTicks = 4;

QString wrongPassword() {
    return QStringLiteral("中継: ユーザー名かパスワードが違います。");
}

} // namespace

struct RelayClient::Link {
    std::mutex mutex;
    RelayClient* owner = nullptr;
    bool loopStarted = false;
};

namespace {

// Runs `work` on the client's own thread, if the client is still there.
template <typename Work> void post(void* link, Work work) {
    auto* l = static_cast<RelayClient::Link*>(link);
    std::lock_guard<std::mutex> lock(l->mutex);
    if (l->owner)
        QMetaObject::invokeMethod(
            l->owner, [owner = l->owner, work = std::move(work)]() mutable { work(*owner); },
            Qt::QueuedConnection);
}

} // namespace

bool isLocalHost(const QString& host) {
    if (host.compare(QLatin1String("localhost"), Qt::CaseInsensitive) == 0)
        return true;
    const QHostAddress address(host);
    return !address.isNull() && address.isLoopback();
}

bool parseBrokerAddress(const QString& address, RelayEndpoint& endpoint, QString& error) {
    const QUrl url(address.trimmed(), QUrl::StrictMode);
    const QString scheme = url.scheme().toLower();
    if (!url.isValid() || url.host().isEmpty() ||
        (scheme != QLatin1String("mqtts") && scheme != QLatin1String("mqtt"))) {
        error = QStringLiteral("中継: ブローカーのアドレスは mqtts://ホスト名:ポート の形で"
                               "書いてください。");
        return false;
    }
    endpoint.tls = scheme == QLatin1String("mqtts");
    endpoint.host = url.host();
    endpoint.port = url.port(endpoint.tls ? 8883 : 1883);
    const QString path = url.path().section(QLatin1Char('/'), 1, 1);
    if (!path.isEmpty())
        endpoint.room = path;
    if (!endpoint.tls && !isLocalHost(endpoint.host)) {
        error = QStringLiteral("中継: この機械の外のブローカー (%1) には mqtts:// で暗号化して"
                               "接続してください。")
                    .arg(endpoint.host);
        return false;
    }
    return true;
}

RelayClient::RelayClient(QObject* parent) : QObject(parent) {
    initLibrary();
    m_unreachable.setSingleShot(true);
    m_unreachable.setInterval(kUnreachableMs);
    connect(&m_unreachable, &QTimer::timeout, this, [this] {
        if (m_state != State::Connected && m_problem.isEmpty())
            setState(m_state,
                     QStringLiteral("中継: ブローカー %1 に接続できません。").arg(brokerName()));
    });
    m_watchdog.setInterval(1000);
    connect(&m_watchdog, &QTimer::timeout, this, [this] {
        if (m_state == State::Connected || !m_link || !m_link->loopStarted) {
            m_unconnectedTicks = 0;
            return;
        }
        if (++m_unconnectedTicks >= kRestartTicks) {
            m_unconnectedTicks = 0;
            restartLoop();
        }
    });
}

void RelayClient::restartLoop() {
    // Ends the network thread wherever it is (a reconnection's pause included), then starts it
    // again on a new connection; the session and what was in flight are the library's still.
    mosquitto_disconnect_v5(m_mosq, MQTT_RC_NORMAL_DISCONNECTION, nullptr);
    mosquitto_loop_stop(m_mosq, false);
    mosquitto_reconnect_async(m_mosq);
    mosquitto_loop_start(m_mosq);
}

RelayClient::~RelayClient() {
    stop();
}

QString RelayClient::brokerName() const {
    return QStringLiteral("%1:%2").arg(m_endpoint.host).arg(m_endpoint.port);
}

bool RelayClient::start(const RelayEndpoint& endpoint, std::vector<Subscription> subscriptions,
                        QByteArray queueTopic) {
    stop();
    m_endpoint = endpoint;
    m_subscriptions = std::move(subscriptions);
    m_queueTopic = std::move(queueTopic);
    m_everConnected = false;
    m_certificateFailed = false;
    m_problem.clear();

    m_mosq = mosquitto_new(endpoint.clientId.toUtf8().constData(), false, this);
    if (!m_mosq) {
        setState(State::Off, QStringLiteral("中継: 接続を用意できません。"));
        return false;
    }
    mosquitto_int_option(m_mosq, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V5);
    mosquitto_int_option(m_mosq, MOSQ_OPT_TCP_NODELAY, 1);
    // Lines are many and small: a wide window keeps them flowing without a round trip each.
    mosquitto_int_option(m_mosq, MOSQ_OPT_SEND_MAXIMUM, 1000);
    mosquitto_int_option(m_mosq, MOSQ_OPT_RECEIVE_MAXIMUM, 1000);
    if (!endpoint.user.isEmpty())
        mosquitto_username_pw_set(
            m_mosq, endpoint.user.toUtf8().constData(),
            endpoint.password.isEmpty() ? nullptr : endpoint.password.toUtf8().constData());
    if (endpoint.tls) {
        int rc = MOSQ_ERR_SUCCESS;
        if (!endpoint.caFile.isEmpty()) {
            rc = mosquitto_tls_set(m_mosq, QFile::encodeName(endpoint.caFile).constData(), nullptr,
                                   nullptr, nullptr, nullptr);
        } else {
            mosquitto_int_option(m_mosq, MOSQ_OPT_TLS_USE_OS_CERTS, 1);
            rc = mosquitto_tls_set(m_mosq, nullptr, "/etc/ssl/certs", nullptr, nullptr, nullptr);
        }
        // The broker's name is checked against its certificate.
        mosquitto_tls_insecure_set(m_mosq, false);
        if (rc != MOSQ_ERR_SUCCESS) {
            setState(State::Off,
                     QStringLiteral("中継: CA ファイル %1 を読めません。").arg(endpoint.caFile));
            mosquitto_destroy(m_mosq);
            m_mosq = nullptr;
            return false;
        }
    }
    mosquitto_reconnect_delay_set(m_mosq, 1, 4, true);
    mosquitto_connect_v5_callback_set(m_mosq, &RelayClient::onConnect);
    mosquitto_disconnect_v5_callback_set(m_mosq, &RelayClient::onDisconnect);
    mosquitto_publish_v5_callback_set(m_mosq, &RelayClient::onPublish);
    mosquitto_subscribe_v5_callback_set(m_mosq, &RelayClient::onSubscribe);
    mosquitto_message_v5_callback_set(m_mosq, &RelayClient::onMessage);
    mosquitto_log_callback_set(m_mosq, &RelayClient::onLog);

    mosquitto_property* properties = nullptr;
    mosquitto_property_add_int32(&properties, MQTT_PROP_SESSION_EXPIRY_INTERVAL,
                                 kSessionExpirySeconds);
    setState(State::Connecting, {});
    m_unreachable.start();
    m_watchdog.start();
    m_unconnectedTicks = 0;
    // The first connection is made off this thread, since a broker out of reach must not hold
    // up the display; the library keeps its properties (the session's expiry) for every
    // reconnection of its network thread, which starts once the first attempt is over.
    m_link = std::make_shared<Link>();
    m_link->owner = this;
    mosquitto_user_data_set(m_mosq, m_link.get());
    std::thread([link = m_link, mosq = m_mosq, host = endpoint.host.toUtf8(), port = endpoint.port,
                 properties]() mutable {
        mosquitto_connect_bind_v5(mosq, host.constData(), port, kKeepAliveSeconds, nullptr,
                                  properties);
        mosquitto_property_free_all(&properties);
        std::lock_guard<std::mutex> lock(link->mutex);
        if (!link->owner) {
            // The client stopped meanwhile: the connection is closed here.
            mosquitto_destroy(mosq);
            return;
        }
        const bool ok = mosquitto_loop_start(mosq) == MOSQ_ERR_SUCCESS;
        link->loopStarted = true;
        QMetaObject::invokeMethod(
            link->owner, [owner = link->owner, ok] { owner->loopStarted(ok); },
            Qt::QueuedConnection);
    }).detach();
    return true;
}

void RelayClient::loopStarted(bool ok) {
    if (!ok)
        setState(State::Off, QStringLiteral("中継: 通信のスレッドを開始できません。"));
}

void RelayClient::stop(int drainMs) {
    if (!m_mosq)
        return;
    if (drainMs > 0 && pending() > 0) {
        QEventLoop wait;
        QTimer::singleShot(drainMs, &wait, &QEventLoop::quit);
        connect(this, &RelayClient::drained, &wait, &QEventLoop::quit);
        wait.exec();
    }
    m_unreachable.stop();
    m_watchdog.stop();
    bool loopStarted = false;
    {
        std::lock_guard<std::mutex> lock(m_link->mutex);
        m_link->owner = nullptr;
        loopStarted = m_link->loopStarted;
    }
    if (loopStarted) {
        mosquitto_disconnect_v5(m_mosq, MQTT_RC_NORMAL_DISCONNECTION, nullptr);
        mosquitto_loop_stop(m_mosq, false);
        mosquitto_destroy(m_mosq);
    }
    // Otherwise the first attempt is still under way, and its thread closes the connection.
    m_mosq = nullptr;
    m_link.reset();
    m_inflight.clear();
    m_state = State::Off;
}

void RelayClient::publishQueued(std::uint64_t seq, std::string payload) {
    const relay::SendQueue::Dropped dropped = m_queue.push(seq, std::move(payload));
    if (dropped.count > 0)
        emit this->dropped(dropped.from, dropped.to, dropped.count);
    handOver();
}

void RelayClient::publishNow(const QByteArray& topic, const std::string& payload) {
    if (!m_mosq || m_state != State::Connected)
        return;
    mosquitto_publish_v5(m_mosq, nullptr, topic.constData(), static_cast<int>(payload.size()),
                         payload.data(), 0, false, nullptr);
}

void RelayClient::handOver() {
    // Lines go to the library only while the broker is there, a window at a time; the library
    // sends again what it had in flight when the connection broke, so a line is never handed
    // over twice.
    if (!m_mosq || m_state != State::Connected)
        return;
    while (!m_queue.empty() && m_inflight.size() < kWindow) {
        const relay::SendQueue::Entry& entry = m_queue.front();
        int mid = 0;
        const int rc = mosquitto_publish_v5(m_mosq, &mid, m_queueTopic.constData(),
                                            static_cast<int>(entry.payload.size()),
                                            entry.payload.data(), 1, false, nullptr);
        if (rc != MOSQ_ERR_SUCCESS)
            return; // the connection went meanwhile; the line waits for the next one
        m_inflight.insert(mid);
        m_queue.pop();
    }
}

void RelayClient::onConnect(mosquitto*, void* link, int rc, int, const mosquitto_property*) {
    post(link, [rc](RelayClient& client) { client.connected(rc); });
}

void RelayClient::onDisconnect(mosquitto*, void* link, int rc, const mosquitto_property*) {
    post(link, [rc](RelayClient& client) { client.disconnected(rc); });
}

void RelayClient::onPublish(mosquitto*, void* link, int mid, int reason,
                            const mosquitto_property*) {
    post(link, [mid, reason](RelayClient& client) { client.acknowledged(mid, reason); });
}

void RelayClient::onSubscribe(mosquitto*, void* link, int mid, int count, const int* granted,
                              const mosquitto_property*) {
    std::vector<int> codes(granted, granted + count);
    post(link, [mid, codes = std::move(codes)](RelayClient& client) mutable {
        client.subscribed(mid, std::move(codes));
    });
}

void RelayClient::onMessage(mosquitto*, void* link, const mosquitto_message* message,
                            const mosquitto_property*) {
    QByteArray topic(message->topic);
    QByteArray payload(static_cast<const char*>(message->payload), message->payloadlen);
    post(link, [topic = std::move(topic), payload = std::move(payload)](RelayClient& client) {
        emit client.messageArrived(topic, payload);
    });
}

void RelayClient::onLog(mosquitto*, void* link, int level, const char* text) {
    // SKIRO_RELAY_DEBUG=1 shows the library's own account of the connection.
    static const bool debug = qEnvironmentVariableIsSet("SKIRO_RELAY_DEBUG");
    if (debug)
        std::fprintf(stderr, "relay: %s\n", text);
    // A refused certificate reaches the client only as the library's log line.
    if (level == MOSQ_LOG_ERR && std::strstr(text, "certificate verify failed"))
        post(link, [](RelayClient& client) {
            client.m_certificateFailed = true;
            client.setState(client.m_state,
                            QStringLiteral("中継: ブローカー %1 の証明書を確かめられません"
                                           "（発行元か名前が違います）。")
                                .arg(client.brokerName()));
        });
}

void RelayClient::connected(int rc) {
    if (rc == MQTT_RC_SUCCESS) {
        m_everConnected = true;
        m_certificateFailed = false;
        m_unreachable.stop();
        // The subscriptions are made again at each connection: a broker that lost the
        // session (restarted without its store) keeps none.
        for (const Subscription& s : m_subscriptions) {
            int mid = 0;
            if (mosquitto_subscribe_v5(m_mosq, &mid, s.topic.constData(), s.qos, 0, nullptr) ==
                MOSQ_ERR_SUCCESS)
                m_subscribing[mid] = s.topic;
        }
        setState(State::Connected, {});
        handOver();
        if (pending() == 0)
            emit drained();
        return;
    }
    if (rc == MQTT_RC_BAD_USERNAME_OR_PASSWORD || rc == MQTT_RC_NOT_AUTHORIZED || rc == 4 ||
        rc == 5)
        setState(State::Waiting, wrongPassword());
    else
        setState(State::Waiting,
                 QStringLiteral("中継: ブローカー %1 が接続を断りました (%2)。")
                     .arg(brokerName(), QString::fromUtf8(mosquitto_reason_string(rc))));
}

void RelayClient::disconnected(int rc) {
    if (m_state == State::Off)
        return;
    // A connection that breaks after a refusal or a bad certificate keeps its reason.
    if (m_state == State::Connected)
        m_problem.clear();
    setState(State::Waiting, m_problem);
    if (rc != 0 && !m_unreachable.isActive())
        m_unreachable.start();
}

void RelayClient::acknowledged(int mid, int reason) {
    if (m_inflight.erase(mid) == 0)
        return; // a message of QoS 0
    ++(reason >= 0x80 ? m_refused : m_acknowledged);
    if (reason >= 0x80)
        setState(m_state, QStringLiteral("中継: 部屋「%1」のトピック %2 に送ることは"
                                         "許されていません。部屋の名前とユーザーの権限を"
                                         "確かめてください。")
                              .arg(m_endpoint.room, QString::fromUtf8(m_queueTopic)));
    handOver();
    if (pending() == 0)
        emit drained();
}

void RelayClient::subscribed(int mid, std::vector<int> granted) {
    if (qEnvironmentVariableIsSet("SKIRO_RELAY_DEBUG"))
        for (int g : granted)
            std::fprintf(stderr, "relay: granted %d\n", g);
    const QString topic = QString::fromUtf8(m_subscribing[mid]);
    m_subscribing.erase(mid);
    for (const int code : granted) {
        if (code >= 0x80) {
            setState(m_state, QStringLiteral("中継: 部屋「%1」のトピック %2 を受け取ることは"
                                             "許されていません。部屋の名前とユーザーの権限を"
                                             "確かめてください。")
                                  .arg(m_endpoint.room, topic));
        }
    }
}

void RelayClient::setState(State state, const QString& problem) {
    if (state == m_state && problem == m_problem)
        return;
    m_state = state;
    m_problem = problem;
    emit stateChanged(state, problem);
}

} // namespace skiro
