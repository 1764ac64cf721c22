// The relay through a local Mosquitto: two displays, one sending its lines to a room and one
// following it, as in a hall with an overflow room. Prints relay_latency_p99 (with p50), from
// a line's last byte at the sending display to the line in the follower's intake;
// relay_lines_per_s through one room; relay_broker_restart_lost with the broker restarted 10
// times during a stream.
#include <QApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QTemporaryDir>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "app/CMainFrame.h"
#include "app/CMarelApp.h"
#include "app/RelayLink.h"
#include "core/LineObserver.h"
#include "core/RelayProtocol.h"
#include "display/CMarelView.h"
#include "relay/RelayClient.h"
#include "tests/relay/TestBroker.h"
#include "tests/relay/Wait.h"

using namespace skiro;

namespace {

using Steady = std::chrono::steady_clock;

struct Display {
    QTemporaryDir folder;
    std::unique_ptr<CMarelApp> app;
    CMarelView* view() const { return qobject_cast<CMarelView*>(app->frame()->centralWidget()); }
    bool connected() const {
        return app->relay() && app->relay()->client() &&
               app->relay()->client()->state() == RelayClient::State::Connected;
    }
};

std::unique_ptr<Display> display(const TestBroker& broker, const char* mode, const char* id) {
    auto d = std::make_unique<Display>();
    std::ofstream out(d->folder.filePath("skiro.ini").toStdString(), std::ios::binary);
    out << "[Relay]\r\nMode=" << mode << "\r\nBroker=" << broker.address().toStdString()
        << "\r\nRoom=hall\r\nUser=display\r\nCaFile=" << broker.caFile().toStdString()
        << "\r\nClientId=" << id << "\r\n";
    out.close();
    d->app = std::make_unique<CMarelApp>(d->folder.path(), "skiro");
    if (!d->app->initInstance() || !waitUntil([&] { return d->connected(); }))
        return nullptr;
    return d;
}

// The follower's intake tells it each line as it arrives: "L<n>" lines are noted with the
// time they came.
struct Arrivals : LineObserver {
    std::vector<Steady::time_point> at;
    std::vector<int> order;
    void lineCompleted(std::string_view text) override {
        if (text.size() < 2 || text[0] != 'L')
            return;
        const int n = std::atoi(std::string(text.substr(1)).c_str());
        if (n >= static_cast<int>(at.size()))
            at.resize(n + 1);
        at[n] = Steady::now();
        order.push_back(n);
    }
    void lineGrowing(std::string_view) override {}
};

double percentile(std::vector<double> v, double p) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0
                     : v[std::min(v.size() - 1,
                                  static_cast<std::size_t>(p * static_cast<double>(v.size())))];
}

std::string line(int n) {
    return "L" + std::to_string(n) + "\r";
}

} // namespace

int main(int argc, char** argv) {
    // Each figure is out as soon as it is known.
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QTemporaryDir runtime;
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime.path()));
    qputenv("SKIRO_RELAY_PASSWORD", TestBroker::kPassword);
    QApplication application(argc, argv);
    TestBroker broker;
    if (!broker.ok() || !broker.start()) {
        std::fprintf(stderr, "the broker did not start\n");
        return 1;
    }
    auto follower = display(broker, "follow", "bench-follower");
    auto sender = display(broker, "send", "bench-sender");
    if (!follower || !sender) {
        std::fprintf(stderr, "the displays did not reach the broker\n");
        return 1;
    }
    Arrivals arrivals;
    follower->view()->intake().addObserver(&arrivals);

    // Latency: a line every 2 ms, each timed from its last byte.
    constexpr int kTimed = 2000;
    std::vector<Steady::time_point> sent(kTimed + 1);
    for (int n = 1; n <= kTimed; ++n) {
        sent[n] = Steady::now();
        sender->view()->receiveText(line(n));
        const auto next = sent[n] + std::chrono::milliseconds(2);
        while (Steady::now() < next)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
    }
    waitUntil([&] { return arrivals.order.size() >= kTimed; }, 60000);
    std::vector<double> latency;
    for (int n = 1; n <= kTimed && n < static_cast<int>(arrivals.at.size()); ++n)
        latency.push_back(
            std::chrono::duration<double, std::milli>(arrivals.at[n] - sent[n]).count());
    std::printf("relay_latency_p99: %.2f ms (p50 %.2f ms; %zu lines, TLS, local broker; goal "
                "20 ms)\n",
                percentile(latency, 0.99), percentile(latency, 0.50), latency.size());

    // Throughput through one room: a sender and a follower of the relay alone, since two
    // displays in one process share one thread, whose painting of 20,000 lines of backlog
    // would be measured instead of the relay.
    constexpr int kBulk = 20000;
    {
        RelayEndpoint endpoint;
        QString error;
        parseBrokerAddress(broker.address() + "/hall", endpoint, error);
        endpoint.user = QStringLiteral("display");
        endpoint.password = QString::fromLatin1(TestBroker::kPassword);
        endpoint.caFile = broker.caFile();
        RelayClient from;
        RelayClient to;
        endpoint.clientId = QStringLiteral("bench-bulk-follower");
        to.start(endpoint, {{QByteArray("skiro/hall/lines"), 1}});
        endpoint.clientId = QStringLiteral("bench-bulk-sender");
        from.start(endpoint, {}, QByteArray("skiro/hall/lines"));
        waitUntil([&] {
            return from.state() == RelayClient::State::Connected &&
                   to.state() == RelayClient::State::Connected;
        });
        relay::FollowerSequence sequence;
        int got = 0;
        QObject::connect(&to, &RelayClient::messageArrived,
                         [&](const QByteArray&, const QByteArray& payload) {
                             const auto m = relay::decode(payload.toStdString());
                             if (m && sequence.accept(m->run, m->seq).deliver)
                                 ++got;
                         });
        QElapsedTimer bulk;
        bulk.start();
        const auto run = static_cast<std::uint64_t>(QDateTime::currentMSecsSinceEpoch());
        for (int n = 1; n <= kBulk; ++n) {
            from.publishQueued(n, relay::encode(relay::Message{
                                      relay::Kind::Line, run, static_cast<std::uint64_t>(n), 0, 0,
                                      0, "字幕の一行、" + std::to_string(n)}));
            // Kept within the queue's bound, past which the oldest lines would give way.
            while (from.pending() >= relay::SendQueue::kMaxLines / 2)
                QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        }
        waitUntil([&] { return got >= kBulk; }, 120000);
        const double seconds = static_cast<double>(bulk.nsecsElapsed()) / 1e9;
        std::printf("relay_lines_per_s: %.0f lines/s (%d lines in %.2f s, sender to follower "
                    "through one room, TLS; goal 5000)\n",
                    got / seconds, got, seconds);
    }

    // The broker restarted 10 times in a stream.
    constexpr int kRestarts = 10;
    constexpr int kChunk = 500;
    const int first = kTimed + 1;
    int next = first;
    for (int r = 0; r < kRestarts; ++r) {
        for (int k = 0; k < kChunk; ++k)
            sender->view()->receiveText(line(next++));
        // Stopped while the lines are on their way.
        waitUntil([&] { return !arrivals.order.empty() && arrivals.order.back() > next - kChunk; });
        broker.stop();
        for (int k = 0; k < kChunk / 5; ++k)
            sender->view()->receiveText(line(next++));
        if (!broker.start()) {
            std::fprintf(stderr, "the broker did not start again\n");
            return 1;
        }
    }
    const int last = next - 1;
    waitUntil([&] { return !arrivals.order.empty() && arrivals.order.back() >= last; }, 120000);
    std::set<int> seen;
    int repeats = 0;
    for (const int n : arrivals.order) {
        if (n >= first && !seen.insert(n).second)
            ++repeats;
    }
    std::printf("relay_broker_restart_lost: %d lines (%d restarts, %d lines; shown twice: %d; "
                "goal 0)\n",
                last - first + 1 - static_cast<int>(seen.size()), kRestarts, last - first + 1,
                repeats);
    follower->view()->intake().removeObserver(&arrivals);
    return 0;
}
