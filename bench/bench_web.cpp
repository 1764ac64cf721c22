// The audience web view under load, on loopback only: how fast a line reaches 200 viewers, how
// many viewers the server holds while the user-interface thread keeps its tick, what idle
// viewers cost in CPU and memory. The viewers run in a child process (this program with
// --viewers), so that the server's own memory and CPU are what is measured.
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTimer>
#include <QWebSocket>

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "bench/BenchLoop.h"
#include "bench/WebBenchServer.h"
#include "core/Clock.h"
#include "core/Intake.h"
#include "core/Recorder.h"
#include "core/Settings.h"
#include "core/StringTable.h"
#include "core/ViewState.h"
#include "web/WebService.h"

using namespace skiro;
using bench::runFor;
using bench::runUntil;

namespace {

std::int64_t nowNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

double cpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

long residentBytes() {
    std::ifstream statm("/proc/self/statm");
    long size = 0, resident = 0;
    statm >> size >> resident;
    return resident * sysconf(_SC_PAGESIZE);
}

double percentile(std::vector<double> values, double p) {
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    const auto index = static_cast<std::size_t>(p * static_cast<double>(values.size() - 1) + 0.5);
    return values[std::min(index, values.size() - 1)];
}

// The child: `count` viewers; prints "ready" once all are greeted, then "seq ns" per line
// received by any viewer, and "complete n" with the number of viewers that got `expect` lines.
int runViewers(int count, int port, int expect) {
    std::vector<std::unique_ptr<QWebSocket>> sockets;
    int greeted = 0;
    int complete = 0;
    std::vector<int> lines(static_cast<std::size_t>(count), 0);
    std::vector<std::pair<int, std::int64_t>> arrivals;
    arrivals.reserve(static_cast<std::size_t>(count * expect));
    for (int i = 0; i < count; ++i) {
        auto socket = std::make_unique<QWebSocket>();
        QObject::connect(socket.get(), &QWebSocket::textMessageReceived, [&, i](const QString& t) {
            const std::int64_t at = nowNs();
            const QJsonObject m = QJsonDocument::fromJson(t.toUtf8()).object();
            const QString kind = m.value(QStringLiteral("t")).toString();
            if (kind == QLatin1String("hello")) {
                ++greeted;
            } else if (kind == QLatin1String("line")) {
                arrivals.emplace_back(static_cast<int>(m.value(QStringLiteral("seq")).toInteger()),
                                      at);
                if (++lines[static_cast<std::size_t>(i)] == expect)
                    ++complete;
            }
        });
        socket->open(QUrl(QStringLiteral("ws://127.0.0.1:%1/stream").arg(port)));
        sockets.push_back(std::move(socket));
        if (i % 50 == 49)
            runFor(10);
    }
    runUntil([&] { return greeted == count; }, 30000);
    std::printf("ready %d\n", greeted);
    std::fflush(stdout);
    runUntil([&] { return complete == count; }, 60000);
    for (const auto& [seq, at] : arrivals)
        std::printf("%d %lld\n", seq, static_cast<long long>(at));
    std::printf("complete %d\n", complete);
    std::fflush(stdout);
    return 0;
}

// Every viewer here comes from the one loopback address, where in a hall each phone has its
// own: the limits per address are lifted to the limits in all.
WebLimits oneAddressLimits() {
    WebLimits limits;
    limits.httpPerAddress = WebServer::kMaxHttpConnections;
    limits.viewersPerAddress = WebServer::kMaxViewers;
    return limits;
}

struct Server : bench::WebBenchServer {
    Server() : WebBenchServer({}, oneAddressLimits()) {}
    std::int64_t show(const std::string& line) {
        const std::int64_t at = nowNs();
        WebBenchServer::show(line);
        return at;
    }
    std::int64_t arrive(const std::string& line) {
        const std::int64_t at = nowNs();
        WebBenchServer::arrive(line);
        return at;
    }
};

struct Child {
    QProcess process;
    int ready = -1;
    std::map<int, std::vector<std::int64_t>> arrivals;
    int complete = -1;

    Child(int viewers, int port, int expect) {
        process.start(QCoreApplication::applicationFilePath(),
                      {QStringLiteral("--viewers"), QString::number(viewers), QString::number(port),
                       QString::number(expect)});
        runUntil(
            [&] {
                while (process.canReadLine()) {
                    const QByteArray line = process.readLine().trimmed();
                    if (line.startsWith("ready "))
                        ready = line.mid(6).toInt();
                }
                return ready >= 0;
            },
            60000);
    }
    void finish() {
        runUntil([&] { return process.state() == QProcess::NotRunning; }, 90000);
        const QList<QByteArray> lines = process.readAllStandardOutput().split('\n');
        for (const QByteArray& line : lines) {
            if (line.startsWith("complete "))
                complete = line.mid(9).toInt();
            else if (const auto space = line.indexOf(' '); space > 0 && !line.startsWith("ready"))
                arrivals[line.left(space).toInt()].push_back(line.mid(space + 1).toLongLong());
        }
    }
};

} // namespace

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    if (argc == 5 && std::string(argv[1]) == "--viewers")
        return runViewers(std::atoi(argv[2]), std::atoi(argv[3]), std::atoi(argv[4]));

    constexpr int kLines = 50;
    const std::string text = "\x93\xFA\x96\x7B\x8C\xEA\x82\xCC\x8E\x9A\x96\x8B " // 日本語の字幕
                             "caption line of an ordinary length, some forty characters";
    {
        Server server;
        runFor(500);
        const long rssBefore = residentBytes();
        Child idle(200, server.port, kLines);
        runFor(1000);
        const long rssAfter = residentBytes();
        const double cpuStart = cpuSeconds();
        QElapsedTimer wall;
        wall.start();
        // Long enough to take in one round of the 15-second keep-alive.
        runFor(16000);
        const double cpuIdle =
            (cpuSeconds() - cpuStart) / (static_cast<double>(wall.elapsed()) / 1000.0) * 100.0;

        std::map<int, std::int64_t> sent;
        for (int i = 1; i <= kLines; ++i) {
            sent[i] = server.show(text);
            runFor(20);
        }
        idle.finish();
        std::vector<double> latencies;
        for (const auto& [seq, times] : idle.arrivals) {
            for (const std::int64_t at : times)
                latencies.push_back(static_cast<double>(at - sent[seq]) / 1e6);
        }
        std::printf("web_line_latency_p99: %.2f ms (200 viewers, %zu deliveries, median %.2f)\n",
                    percentile(latencies, 0.99), latencies.size(), percentile(latencies, 0.5));
        std::printf("web_cpu_idle: %.3f %% of a core (200 idle viewers, server process)\n",
                    cpuIdle);
        std::printf("web_rss_per_viewer: %.1f KB (%d viewers)\n",
                    static_cast<double>(rssAfter - rssBefore) / 1024.0 / std::max(1, idle.ready),
                    idle.ready);
    }
    {
        // The projector 50 lines behind: the line entering and 50 waiting behind it, none of
        // them shown yet. New lines still reach the viewers at once.
        constexpr int kBehind = 50;
        Server server;
        for (int i = 0; i <= kBehind; ++i)
            server.arrive(text);
        Child viewers(200, server.port, kBehind + 1 + kLines);
        std::map<int, std::int64_t> sent;
        for (int i = 1; i <= kLines; ++i) {
            sent[kBehind + 1 + i] = server.arrive(text);
            runFor(20);
        }
        viewers.finish();
        const std::size_t waiting =
            std::count(server.intake.backlog().begin(), server.intake.backlog().end(), '\r');
        std::vector<double> latencies;
        for (const auto& [seq, times] : viewers.arrivals) {
            if (sent.count(seq) == 0)
                continue;
            for (const std::int64_t at : times)
                latencies.push_back(static_cast<double>(at - sent[seq]) / 1e6);
        }
        std::printf("web_arrival_latency_p99: %.2f ms (200 viewers, the projector %d to %zu lines "
                    "behind, %zu deliveries, median %.2f)\n",
                    percentile(latencies, 0.99), kBehind, waiting, latencies.size(),
                    percentile(latencies, 0.5));
    }
    {
        // 500 viewers joining and following lines while the user-interface thread ticks every
        // 50 ms, as the display does: how late do its ticks come?
        Server server;
        std::vector<double> lateness;
        QElapsedTimer clock;
        clock.start();
        qint64 due = 50;
        QTimer tick;
        tick.setTimerType(Qt::PreciseTimer);
        QObject::connect(&tick, &QTimer::timeout, [&] {
            lateness.push_back(static_cast<double>(clock.elapsed() - due));
            due = clock.elapsed() + 50;
        });
        tick.start(50);
        Child crowd(500, server.port, kLines);
        for (int i = 1; i <= kLines; ++i) {
            server.show(text);
            runFor(50);
        }
        crowd.finish();
        tick.stop();
        std::printf("web_viewers: %d viewers held, every line to each (of 500; %d greeted)\n",
                    crowd.complete, crowd.ready);
        std::printf("web_ui_tick_late_p99: %.1f ms (50 ms tick while they join and follow)\n",
                    percentile(lateness, 0.99));
    }
    return 0;
}
