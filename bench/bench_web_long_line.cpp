// A caption line of a million characters without a line end, arriving in pieces of 512 bytes
// (a speech recogniser piping into `skiro-send -n`, read a pipe's worth at a time) into a
// shown, gliding view with the audience web view on and 20 viewers following: the longest gap
// between two turns of the user-interface thread (a 5 ms probe timer), once with the web view
// off for comparison, and the bytes each viewer was sent for the line. The viewers run in a
// child process (this program with --viewers) and rebuild the growing line as a page does;
// the figures say whether each had it right all along and got the finished line whole.
//
// Arguments: the line's length in characters (default 1000000).
#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>
#include <QWebSocket>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "bench/BenchLoop.h"
#include "bench/WebBenchServer.h"
#include "core/Recorder.h"
#include "core/Settings.h"
#include "core/StringTable.h"
#include "display/CMarelView.h"
#include "feed/FeedClient.h"
#include "feed/FeedServer.h"
#include "sjis/Sjis.h"
#include "web/WebService.h"

namespace {

using bench::ms;
using bench::runFor;
using bench::runUntil;
using bench::Steady;

constexpr int kViewers = 20;
constexpr std::size_t kPiece = 512;

// Caption text with ASCII among it, so that pieces of 512 bytes also cut double-byte
// characters in two.
QString longText(std::size_t characters) {
    const QString sentence = QStringLiteral(
        "本日は「字幕表示システム」の説明会にお越しいただき、誠にありがとうございます。"
        "これから約30分間、画面の使い方と設定の変え方(Settings)について順番にご案内いたします。");
    QString text;
    text.reserve(static_cast<qsizetype>(characters));
    while (static_cast<std::size_t>(text.size()) < characters)
        text += sentence;
    text.truncate(static_cast<qsizetype>(characters));
    return text;
}

// The child: `count` viewers, each rebuilding the growing line from what it is sent, as the
// page does. Prints "ready n" once all are greeted, and when the line has come whole to all
// (or the wait ends): per viewer the bytes sent to it, whether its growing line was always a
// start of the line, and whether the finished line came whole.
int runViewers(int count, int port, int characters) {
    const QString expected = longText(static_cast<std::size_t>(characters));
    struct Viewer {
        std::unique_ptr<QWebSocket> socket;
        qint64 bytes = 0;
        QString growing;
        qint64 growingSeq = 0;
        bool right = true;
        bool whole = false;
        bool done = false;
        qint64 longestGrowing = 0;
    };
    std::vector<Viewer> viewers(static_cast<std::size_t>(count));
    int greeted = 0;
    int finished = 0;
    for (Viewer& v : viewers) {
        v.socket = std::make_unique<QWebSocket>();
        QObject::connect(v.socket.get(), &QWebSocket::textMessageReceived, [&](const QString& t) {
            v.bytes += t.toUtf8().size();
            const QJsonObject m = QJsonDocument::fromJson(t.toUtf8()).object();
            const QString kind = m.value(QStringLiteral("t")).toString();
            const qint64 seq = m.value(QStringLiteral("seq")).toInteger();
            const QString text = m.value(QStringLiteral("text")).toString();
            if (kind == QLatin1String("hello")) {
                ++greeted;
            } else if (kind == QLatin1String("cur")) {
                v.growing = text;
                v.growingSeq = seq;
            } else if (kind == QLatin1String("more")) {
                if (seq == v.growingSeq &&
                    m.value(QStringLiteral("at")).toInteger() == v.growing.size())
                    v.growing += text;
                else
                    v.right = false;
            } else if (kind == QLatin1String("line") && !v.done) {
                v.done = true;
                v.whole = text == expected;
                ++finished;
                return;
            }
            if (kind == QLatin1String("cur") || kind == QLatin1String("more")) {
                v.longestGrowing = std::max<qint64>(v.longestGrowing, v.growing.size());
                if (!expected.startsWith(v.growing))
                    v.right = false;
            }
        });
        v.socket->open(QUrl(QStringLiteral("ws://127.0.0.1:%1/stream").arg(port)));
    }
    runUntil([&] { return greeted == count; }, 30000);
    std::printf("ready %d\n", greeted);
    std::fflush(stdout);
    runUntil([&] { return finished == count; }, 1800000);
    for (const Viewer& v : viewers) {
        std::printf("viewer %lld %d %d %lld\n", static_cast<long long>(v.bytes), v.right ? 1 : 0,
                    v.whole ? 1 : 0, static_cast<long long>(v.longestGrowing));
    }
    std::fflush(stdout);
    return 0;
}

struct Arrival {
    double gapMs = 0;
    double tookMs = 0;
};

// Sends `line` in pieces of 512 bytes through the local "Send" service into a shown, gliding
// view, then its end, and watches the user-interface thread's turns meanwhile.
Arrival arrive(skiro::CMarelView& view, const std::string& line) {
    skiro::FeedServer server("skiro", [&](std::string_view text) { view.receiveText(text); });
    if (!server.listen()) {
        std::fprintf(stderr, "bench_web_long_line: %s\n", qPrintable(server.error()));
        std::exit(1);
    }
    bench::TurnProbe probe(1000000);

    std::atomic<bool> sent{false};
    std::atomic<bool> failed{false};
    const auto start = Steady::now();
    std::thread client([&] {
        skiro::FeedClient c("skiro");
        const auto ok = [&](const skiro::FeedClient::Result& r) {
            if (!r.ok()) {
                std::fprintf(stderr, "bench_web_long_line: %s\n", qPrintable(r.message));
                failed = true;
            }
            return r.ok();
        };
        if (ok(c.open())) {
            // Pieces as a pipe gives them: 512 bytes, whatever character that cuts.
            for (std::size_t at = 0; at < line.size() && !failed; at += kPiece) {
                if (!ok(c.sendRequest("[Send(" + line.substr(at, kPiece) + ")]")) ||
                    !ok(c.waitAcks(600000)))
                    break;
            }
            if (!failed && ok(c.sendRequest("[Send(\r)]")))
                ok(c.waitAcks(600000));
            c.terminate();
        }
        sent = true;
    });
    runUntil([&] { return sent.load(); }, 3600000);
    client.join();
    Arrival a;
    a.tookMs = ms(Steady::now() - start);
    runFor(300);
    a.gapMs = probe.stopAndTakeLongestGapMs();
    server.shutdown(std::chrono::milliseconds(0));
    if (failed)
        std::exit(1);
    return a;
}

} // namespace

int main(int argc, char* argv[]) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QTemporaryDir runtime;
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime.path()));
    QApplication app(argc, argv);
    if (argc == 5 && std::string(argv[1]) == "--viewers")
        return runViewers(std::atoi(argv[2]), std::atoi(argv[3]), std::atoi(argv[4]));
    const int characters = argc > 1 ? std::atoi(argv[1]) : 1000000;
    const std::string line = skiro::toSjis(longText(static_cast<std::size_t>(characters)));

    skiro::Settings settings;
    settings.Smooth = 1;
    settings.KeepUp = 1;
    for (const bool web : {false, true}) {
        bench::NoRecorder recorder;
        skiro::SystemClock clock;
        skiro::StringTable strings;
        skiro::CMarelView view(settings, recorder, clock, strings);
        view.resize(1280, 720);
        view.show();
        std::unique_ptr<skiro::WebService> service;
        std::unique_ptr<QProcess> child;
        if (web) {
            service = std::make_unique<skiro::WebService>(settings);
            quint16 port = 0;
            QObject::connect(service.get(), &skiro::WebService::listening,
                             [&port](quint16 p) { port = p; });
            // Every viewer here comes from the one loopback address.
            skiro::WebLimits limits;
            limits.viewersPerAddress = skiro::WebServer::kMaxViewers;
            limits.httpPerAddress = skiro::WebServer::kMaxHttpConnections;
            service->setLimits(limits);
            service->seed(view.intake());
            view.intake().setObserver(service.get());
            service->listen({0, false, {}, 0});
            runUntil([&] { return port != 0; }, 5000);
            child = std::make_unique<QProcess>();
            child->start(QCoreApplication::applicationFilePath(),
                         {QStringLiteral("--viewers"), QString::number(kViewers),
                          QString::number(port), QString::number(characters)});
            bool ready = false;
            runUntil(
                [&] {
                    while (child->canReadLine())
                        ready = ready || child->readLine().startsWith("ready ");
                    return ready;
                },
                60000);
        }
        const Arrival a = arrive(view, line);
        if (!web) {
            std::printf("web_off_ui_gap_max_ms: %.1f ms (%d characters in pieces of %zu bytes, "
                        "arrival took %.0f ms)\n",
                        a.gapMs, characters, kPiece, a.tookMs);
            std::fflush(stdout);
            continue;
        }
        runUntil([&] { return child->state() == QProcess::NotRunning; }, 1800000);
        qint64 most = 0, total = 0;
        int right = 0, whole = 0, counted = 0;
        for (const QByteArray& out : child->readAllStandardOutput().split('\n')) {
            const QList<QByteArray> f = out.split(' ');
            if (f.size() != 5 || f[0] != "viewer")
                continue;
            ++counted;
            most = std::max(most, f[1].toLongLong());
            total += f[1].toLongLong();
            right += f[2] == "1";
            whole += f[3] == "1";
        }
        const double lineBytes = static_cast<double>(longText(characters).toUtf8().size());
        std::printf("web_long_line_ui_gap_max_ms: %.1f ms (%d viewers, arrival took %.0f ms)\n",
                    a.gapMs, kViewers, a.tookMs);
        std::printf("web_long_line_bytes_per_viewer: %.1f MB at most (mean %.1f MB; the line is "
                    "%.1f MB of UTF-8; %d of %d viewers had the growing line right throughout, "
                    "%d got the finished line whole)\n",
                    static_cast<double>(most) / 1e6,
                    static_cast<double>(total) / 1e6 / std::max(1, counted), lineBytes / 1e6, right,
                    counted, whole);
        std::fflush(stdout);
        view.intake().setObserver(nullptr);
    }
    return 0;
}
