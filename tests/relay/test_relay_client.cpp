#include <gtest/gtest.h>

#include <QThread>

#include <memory>
#include <string>
#include <vector>

#include "core/RelayProtocol.h"
#include "relay/RelayClient.h"
#include "tests/relay/TestBroker.h"
#include "tests/relay/Wait.h"

namespace skiro {
namespace {

using relay::Kind;
using relay::Message;

class RelayClientTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(broker.ok()) << "openssl or mosquitto_passwd failed";
        ASSERT_TRUE(broker.start()) << broker.output().toStdString();
    }

    RelayEndpoint endpoint(const QString& user, const QString& clientId) {
        RelayEndpoint e;
        QString error;
        EXPECT_TRUE(parseBrokerAddress(broker.address() + "/hall", e, error));
        e.user = user;
        e.password = QString::fromLatin1(TestBroker::kPassword);
        e.caFile = broker.caFile();
        e.clientId = clientId;
        return e;
    }

    // A follower of the room's lines that keeps what it was given, in order.
    struct Follower {
        RelayClient client;
        relay::FollowerSequence sequence;
        std::vector<std::uint64_t> seqs;
        std::vector<std::uint64_t> missed;
        void listen() {
            QObject::connect(&client, &RelayClient::messageArrived,
                             [this](const QByteArray&, const QByteArray& payload) {
                                 const auto m = relay::decode(payload.toStdString());
                                 if (!m)
                                     return;
                                 const auto v = sequence.accept(m->run, m->seq);
                                 if (v.missedFrom)
                                     missed.push_back(v.missedFrom);
                                 if (v.deliver)
                                     seqs.push_back(m->seq);
                             });
        }
    };

    void startFollower(Follower& f, const QString& id = QStringLiteral("follower")) {
        f.listen();
        ASSERT_TRUE(f.client.start(endpoint("display", id),
                                   {{QByteArray::fromStdString(relay::linesTopic("hall")), 1}}));
        ASSERT_TRUE(waitUntil([&] { return f.client.state() == RelayClient::State::Connected; }))
            << f.client.problem().toStdString();
    }

    void sendLines(RelayClient& sender, std::uint64_t from, std::uint64_t to) {
        for (std::uint64_t seq = from; seq <= to; ++seq)
            sender.publishQueued(seq, relay::encode(Message{Kind::Line, 1, seq, 0, 0, 0,
                                                            "行 " + std::to_string(seq)}));
    }

    static std::vector<std::uint64_t> upTo(std::uint64_t n) {
        std::vector<std::uint64_t> all;
        for (std::uint64_t i = 1; i <= n; ++i)
            all.push_back(i);
        return all;
    }

    TestBroker broker;
};

TEST_F(RelayClientTest, EveryLineReachesTheFollowerOnceAndInOrder) {
    Follower follower;
    startFollower(follower);
    RelayClient sender;
    ASSERT_TRUE(sender.start(endpoint("display", "sender"), {},
                             QByteArray::fromStdString(relay::linesTopic("hall"))));
    sendLines(sender, 1, 2000);
    ASSERT_TRUE(waitUntil([&] { return follower.seqs.size() >= 2000; }));
    EXPECT_TRUE(waitUntil([&] { return sender.pending() == 0; }));
    EXPECT_EQ(follower.seqs, upTo(2000));
    EXPECT_TRUE(follower.missed.empty());
}

TEST_F(RelayClientTest, BrokerRestartedMidStreamLosesNothingAndRepeatsNothing) {
    Follower follower;
    startFollower(follower);
    RelayClient sender;
    ASSERT_TRUE(sender.start(endpoint("display", "sender"), {},
                             QByteArray::fromStdString(relay::linesTopic("hall"))));
    ASSERT_TRUE(waitUntil([&] { return sender.state() == RelayClient::State::Connected; }));
    std::uint64_t sent = 0;
    for (int restart = 0; restart < 3; ++restart) {
        sendLines(sender, sent + 1, sent + 300);
        sent += 300;
        // Stopped while the lines are on their way.
        ASSERT_TRUE(waitUntil([&] { return follower.seqs.size() > sent - 300; }));
        broker.stop();
        // The display keeps captioning while the broker is away.
        sendLines(sender, sent + 1, sent + 200);
        sent += 200;
        ASSERT_TRUE(broker.start()) << broker.output().toStdString();
    }
    ASSERT_TRUE(waitUntil([&] { return follower.seqs.size() >= sent; }, 60000))
        << follower.seqs.size() << " of " << sent << " follower " << int(follower.client.state())
        << follower.client.problem().toStdString() << " sender " << int(sender.state())
        << sender.problem().toStdString() << broker.output().toStdString();
    EXPECT_TRUE(waitUntil([&] { return sender.pending() == 0; }));
    // Repeats that were still coming would show here.
    QThread::msleep(300);
    QCoreApplication::processEvents();
    EXPECT_EQ(follower.seqs, upTo(sent));
    EXPECT_TRUE(follower.missed.empty());
}

TEST_F(RelayClientTest, FollowerThatWasAwayGetsWhatItMissed) {
    auto follower = std::make_unique<Follower>();
    startFollower(*follower, QStringLiteral("returning"));
    RelayClient sender;
    ASSERT_TRUE(sender.start(endpoint("display", "sender"), {},
                             QByteArray::fromStdString(relay::linesTopic("hall"))));
    sendLines(sender, 1, 100);
    ASSERT_TRUE(waitUntil([&] { return follower->seqs.size() == 100; }));
    follower.reset(); // away: its session stays with the broker

    sendLines(sender, 101, 250);
    ASSERT_TRUE(waitUntil([&] { return sender.pending() == 0; }));
    Follower back;
    back.sequence.accept(1, 100); // where it was
    startFollower(back, QStringLiteral("returning"));
    ASSERT_TRUE(waitUntil([&] { return back.seqs.size() >= 150; }));
    std::vector<std::uint64_t> expected;
    for (std::uint64_t i = 101; i <= 250; ++i)
        expected.push_back(i);
    EXPECT_EQ(back.seqs, expected);
}

TEST_F(RelayClientTest, RefusalsAreToldInTheUsersWords) {
    struct Case {
        const char* what;
        QString user;
        QString password;
        QString caFile;
        QByteArray subscribe;
        QByteArray publish;
        const char* message; // a part of the message shown
    };
    const std::vector<Case> cases = {
        {"wrong password",
         "display",
         "wrong",
         broker.caFile(),
         {},
         {},
         "ユーザー名かパスワードが違います"},
        {"bad certificate",
         "display",
         TestBroker::kPassword,
         broker.otherCaFile(),
         {},
         {},
         "証明書を確かめられません"},
        // Mosquitto grants a subscription outside the rules and sends nothing through it, so a
        // room it does not know shows when the display sends.
        {"unknown room",
         "display",
         TestBroker::kPassword,
         broker.caFile(),
         {},
         "skiro/elsewhere/lines",
         "送ることは許されていません"},
        {"refused topic",
         "audience",
         TestBroker::kPassword,
         broker.caFile(),
         {},
         "skiro/hall/input",
         "送ることは許されていません"},
    };
    for (const Case& c : cases) {
        RelayEndpoint e = endpoint(c.user, QStringLiteral("refused-") + c.what);
        e.password = c.password;
        e.caFile = c.caFile;
        RelayClient client;
        std::vector<RelayClient::Subscription> subscriptions;
        if (!c.subscribe.isEmpty())
            subscriptions.push_back({c.subscribe, 1});
        ASSERT_TRUE(client.start(e, subscriptions, c.publish));
        if (!c.publish.isEmpty())
            client.publishQueued(1, "x");
        EXPECT_TRUE(waitUntil([&] {
            return client.problem().contains(QString::fromUtf8(c.message));
        })) << c.what
            << ": " << client.problem().toStdString();
    }
    // A broker that is not there at all.
    RelayEndpoint gone = endpoint("display", "nowhere");
    broker.stop();
    RelayClient client;
    ASSERT_TRUE(client.start(gone, {}));
    EXPECT_TRUE(waitUntil([&] {
        return client.problem().contains(QStringLiteral("接続できません"));
    })) << client.problem().toStdString();
}

TEST(RelayAddress, PlainConnectionsOnlyOnThisMachine) {
    struct Case {
        const char* address;
        bool ok;
        const char* host;
        int port;
        bool tls;
        const char* room;
    };
    for (const Case& c : std::vector<Case>{
             {"mqtts://broker.example", true, "broker.example", 8883, true, ""},
             {"mqtts://broker.example:9999/hall", true, "broker.example", 9999, true, "hall"},
             {"mqtt://localhost/hall", true, "localhost", 1883, false, "hall"},
             {"mqtt://127.0.0.1:1884", true, "127.0.0.1", 1884, false, ""},
             {"mqtt://broker.example", false, "", 0, false, ""},
             {"http://broker.example", false, "", 0, false, ""},
             {"broker.example", false, "", 0, false, ""},
         }) {
        RelayEndpoint e;
        QString error;
        EXPECT_EQ(parseBrokerAddress(QString::fromLatin1(c.address), e, error), c.ok) << c.address;
        if (!c.ok) {
            EXPECT_FALSE(error.isEmpty());
            continue;
        }
        EXPECT_EQ(e.host, QString::fromLatin1(c.host));
        EXPECT_EQ(e.port, c.port);
        EXPECT_EQ(e.tls, c.tls);
        EXPECT_EQ(e.room, QString::fromLatin1(c.room));
    }
}

} // namespace
} // namespace skiro
