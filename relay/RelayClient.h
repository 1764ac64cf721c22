#pragma once
#include <QByteArray>
#include <QObject>
#include <QString>
#include <QTimer>

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "core/RelayProtocol.h"

struct mosquitto;
struct mosquitto_message;
typedef struct mqtt5__property mosquitto_property;

namespace skiro {

// Where the relay's broker is and who this client is there.
struct RelayEndpoint {
    QString host;
    int port = 0;
    bool tls = false;
    QString room; // from the address's path, when it names one
    QString user;
    QString password;
    QString caFile; // empty: the system's store
    QString clientId;
};

// Reads mqtts://host[:port][/room] or mqtt://host[:port][/room] (port 8883 and 1883 by
// default) into `endpoint`; false with the reason in `error` otherwise. A broker that is not
// on this machine is reached only with TLS: the password and the captions cross networks.
bool parseBrokerAddress(const QString& address, RelayEndpoint& endpoint, QString& error);
// Whether `host` names this machine (localhost, a loopback address).
bool isLocalHost(const QString& host);

// One connection to the broker, on libmosquitto's own network thread: MQTT 5, QoS 1, a session
// the broker keeps for an hour and more while this client is away (clean start off), and a
// reconnection that never gives up. What the network thread learns reaches the owner's thread
// as queued signals. Lines to keep go through a bounded queue and leave it once the broker has
// acknowledged them, in order; while the broker is away they wait.
class RelayClient : public QObject {
    Q_OBJECT
  public:
    enum class State { Off, Connecting, Connected, Waiting };
    struct Subscription {
        QByteArray topic;
        int qos = 1;
    };
    // How long a session is kept by the broker while this client is away.
    static constexpr int kSessionExpirySeconds = 4 * 3600;
    // Lines handed to the library at once; the rest wait in the queue.
    static constexpr std::size_t kWindow = 1000;

    explicit RelayClient(QObject* parent = nullptr);
    ~RelayClient() override;

    // Connects (in the background) and subscribes to `subscriptions` at every connection.
    // Messages queued with publishQueued() go to `queueTopic`. False when the library refused
    // the settings; problem() says why.
    bool start(const RelayEndpoint& endpoint, std::vector<Subscription> subscriptions,
               QByteArray queueTopic = {});
    // Disconnects, waiting up to `drainMs` for the queue to empty first; stops the network
    // thread. What is still queued is dropped.
    void stop(int drainMs = 0);

    // A line that must arrive: it waits in the queue until the broker acknowledges it. The
    // oldest lines give way past the queue's bounds (dropped() tells).
    void publishQueued(std::uint64_t seq, std::string payload);
    // A message that matters only now (the growing line): sent at QoS 0 while connected,
    // otherwise dropped.
    void publishNow(const QByteArray& topic, const std::string& payload);

    State state() const { return m_state; }
    // The last problem in the user's words, empty while there is none.
    const QString& problem() const { return m_problem; }
    // Lines not yet acknowledged by the broker.
    std::size_t pending() const { return m_queue.size() + m_inflight.size(); }
    const RelayEndpoint& endpoint() const { return m_endpoint; }
    // Queued lines the broker took, and those it refused (a topic the user may not send to).
    std::size_t acknowledged() const { return m_acknowledged; }
    std::size_t refused() const { return m_refused; }
    // Whether lines went to the broker whose acknowledgement has not come.
    bool inFlight() const { return !m_inflight.empty(); }

    // What the network thread reaches a client by; cut off when the client stops, so that a
    // connection still being made when the client goes can finish on its own.
    struct Link;

  signals:
    void stateChanged(skiro::RelayClient::State state, QString problem);
    void messageArrived(QByteArray topic, QByteArray payload);
    // Lines that gave way in the full queue.
    void dropped(quint64 fromSeq, quint64 toSeq, quint64 count);
    // Every queued line has been acknowledged.
    void drained();

  private:
    // Called on the network thread.
    static void onConnect(mosquitto*, void* self, int rc, int flags, const mosquitto_property*);
    static void onDisconnect(mosquitto*, void* self, int rc, const mosquitto_property*);
    static void onPublish(mosquitto*, void* self, int mid, int reason, const mosquitto_property*);
    static void onSubscribe(mosquitto*, void* self, int mid, int count, const int* granted,
                            const mosquitto_property*);
    static void onMessage(mosquitto*, void* self, const mosquitto_message* message,
                          const mosquitto_property*);
    static void onLog(mosquitto*, void* self, int level, const char* text);

    // On the owner's thread.
    void loopStarted(bool ok);
    void connected(int rc);
    void disconnected(int rc);
    void acknowledged(int mid, int reason);
    void subscribed(int mid, std::vector<int> granted);
    void setState(State state, const QString& problem);
    void handOver();
    void restartLoop();
    QString brokerName() const;

    std::shared_ptr<Link> m_link;
    mosquitto* m_mosq = nullptr;
    RelayEndpoint m_endpoint;
    std::vector<Subscription> m_subscriptions;
    QByteArray m_queueTopic;
    State m_state = State::Off;
    QString m_problem;
    bool m_everConnected = false;
    // The last certificate failure the library logged, until the next connection.
    bool m_certificateFailed = false;
    // A broker that stays out of reach past this is reported as such.
    QTimer m_unreachable;
    // The library's network thread ends for good after some failures (a TLS connection cut
    // while it was being made, as when the broker stops at that moment): a client that stays
    // unconnected is started again.
    QTimer m_watchdog;
    int m_unconnectedTicks = 0;
    relay::SendQueue m_queue;
    std::map<int, QByteArray> m_subscribing; // message id -> topic
    std::set<int> m_inflight;
    std::size_t m_acknowledged = 0;
    std::size_t m_refused = 0; // message ids handed to the library, not yet acknowledged
};

} // namespace skiro
