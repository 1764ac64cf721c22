// The local "Send" service with the view scrolling on the offscreen platform: the latency from
// a client's write to the text having gone through receiveText, the lines per second one
// conversation carries when the client does not wait for each acknowledgement, and how many
// conversations the display holds at once while it keeps scrolling (the longest gap between
// scroll ticks meanwhile). Clients run on threads of their own, as other programs would.
#include <QApplication>
#include <QEventLoop>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "core/Clock.h"
#include "core/Recorder.h"
#include "core/Settings.h"
#include "core/StringTable.h"
#include "display/CMarelView.h"
#include "feed/FeedClient.h"
#include "feed/FeedServer.h"
#include "sjis/Sjis.h"

namespace {

using Steady = std::chrono::steady_clock;

double ms(Steady::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

double percentile(std::vector<double> v, double p) {
    std::sort(v.begin(), v.end());
    const auto i = static_cast<std::size_t>(std::ceil(p * static_cast<double>(v.size()))) - 1;
    return v[std::min(i, v.size() - 1)];
}

class NoRecorder : public skiro::LineRecorder {
  public:
    void recordLine(std::string_view) override {}
};

// The view with the arrival of each scroll tick noted.
class TickedView : public skiro::CMarelView {
  public:
    using CMarelView::CMarelView;
    std::vector<Steady::time_point> ticks;

  protected:
    bool event(QEvent* e) override {
        if (e->type() == kScrollTickEvent)
            ticks.push_back(Steady::now());
        return CMarelView::event(e);
    }
};

// Runs the event loop until `work`, on a thread of its own, is done.
void runWhile(const std::function<void()>& work) {
    QEventLoop loop;
    std::atomic<bool> done{false};
    std::thread worker([&] {
        work();
        done = true;
    });
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (done)
            loop.quit();
    });
    poll.start(1);
    loop.exec();
    worker.join();
}

void fail(const skiro::FeedClient::Result& r) {
    if (!r.ok()) {
        std::fprintf(stderr, "bench_feed: %s\n", qPrintable(r.message));
        std::exit(1);
    }
}

} // namespace

int main(int argc, char* argv[]) {
    QTemporaryDir runtime;
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime.path()));
    QApplication app(argc, argv);

    skiro::Settings settings;
    settings.Tick = 20;
    skiro::SystemClock clock;
    skiro::StringTable strings;
    NoRecorder recorder;
    TickedView view(settings, recorder, clock, strings);
    view.resize(1280, 720);
    view.show();

    std::vector<Steady::time_point> delivered;
    delivered.reserve(200000);
    skiro::FeedServer server("skiro", [&](std::string_view text) {
        view.receiveText(text);
        delivered.push_back(Steady::now());
    });
    if (!server.listen()) {
        std::fprintf(stderr, "bench_feed: %s\n", qPrintable(server.error()));
        return 1;
    }
    const std::string line =
        "[Send(" + skiro::toSjis(QString::fromUtf8("ただいまより定例会議を開催いたします。")) +
        "\r)]";

    // Latency: one request at a time, each timed from the client's write.
    constexpr int kLatencyLines = 2000;
    std::vector<Steady::time_point> written(kLatencyLines);
    runWhile([&] {
        skiro::FeedClient client("skiro");
        fail(client.open());
        for (int i = 0; i < kLatencyLines; ++i) {
            written[static_cast<std::size_t>(i)] = Steady::now();
            fail(client.sendRequest(line));
            fail(client.waitAcks());
            std::this_thread::sleep_for(std::chrono::microseconds(500));
        }
        client.terminate();
    });
    std::vector<double> latency;
    for (int i = 0; i < kLatencyLines; ++i)
        latency.push_back(
            ms(delivered[static_cast<std::size_t>(i)] - written[static_cast<std::size_t>(i)]));
    std::printf("feed_latency_p50: %.3f ms\n", percentile(latency, 0.5));
    std::printf("feed_latency_p99: %.3f ms\n", percentile(latency, 0.99));
    std::fflush(stdout);

    // Throughput: one conversation, requests sent ahead of their acknowledgements.
    constexpr int kBurst = 50000;
    delivered.clear();
    Steady::time_point start;
    runWhile([&] {
        skiro::FeedClient client("skiro");
        fail(client.open());
        start = Steady::now();
        for (int i = 0; i < kBurst; ++i) {
            fail(client.sendRequest(line));
            if (i % 256 == 0)
                fail(client.pollAcks());
        }
        fail(client.waitAcks(60000));
        client.terminate();
    });
    std::printf("feed_lines_per_s: %.0f lines/s\n",
                static_cast<double>(delivered.size()) / (ms(delivered.back() - start) / 1000.0));
    std::fflush(stdout);

    // Many conversations at once, each sending lines, while the display scrolls.
    view.intake().recordUnshownLines(); // start from a short backlog
    const std::size_t ticksBefore = view.ticks.size();
    std::atomic<int> held{0};
    constexpr int kRounds = 20;
    runWhile([&] {
        std::vector<std::unique_ptr<skiro::FeedClient>> clients;
        for (std::size_t i = 0; i < skiro::feed::kMaxConversations; ++i) {
            clients.push_back(std::make_unique<skiro::FeedClient>("skiro"));
            fail(clients.back()->open());
        }
        held = static_cast<int>(clients.size());
        for (int round = 0; round < kRounds; ++round) {
            for (auto& c : clients)
                fail(c->sendRequest("[Send(" + std::to_string(round) + "\r)]"));
            for (auto& c : clients)
                fail(c->waitAcks());
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        // The next one is turned away while the 64 are held.
        skiro::FeedClient extra("skiro");
        if (extra.open(2000).ok())
            held = -1;
        for (auto& c : clients)
            c->terminate();
    });
    double gap = 0;
    for (std::size_t i = ticksBefore + 1; i < view.ticks.size(); ++i)
        gap = std::max(gap, ms(view.ticks[i] - view.ticks[i - 1]));
    std::printf("feed_conversations: %d conversations\n", held.load());
    std::printf("feed_conversations_tick_gap_max: %.1f ms (tick %d ms, %zu ticks)\n", gap,
                settings.Tick, view.ticks.size() - ticksBefore);
    server.shutdown();
    return 0;
}
