// The audience web view under clients that misbehave, on loopback: for each kind, a child
// process (this program with --hostile) keeps up the attack from 40 addresses (127.0.0.2 to
// 127.0.0.41) for ten seconds, reopening whatever the server closes, while this process runs
// the server and, seven seconds in, a viewer who behaves joins from 127.0.0.1 and waits for a
// new line. Prints, for each kind, the server process's peak resident memory
// (web_hostile_rss_mb) and whether the viewer got the line within 1 s of
// it being shown (web_viewer_ok).
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTimer>
#include <QWebSocket>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
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

namespace {

constexpr int kAttackMs = 10000;
// When the viewer who behaves comes: late enough for the attack to hold all it can, and for
// viewers that do not read to have left their first ping unanswered for a while.
constexpr int kViewerJoinsMs = 7000;
constexpr int kAddresses = 40;
const QByteArray kCode = "BenchCode9";

double residentMegabytes() {
    std::ifstream statm("/proc/self/statm");
    long size = 0, resident = 0;
    statm >> size >> resident;
    return static_cast<double>(resident * sysconf(_SC_PAGESIZE)) / (1024.0 * 1024.0);
}

QByteArray frame(int opcode, const QByteArray& payload, bool final, bool masked) {
    QByteArray out;
    out.append(static_cast<char>((final ? 0x80 : 0) | opcode));
    const char maskBit = masked ? static_cast<char>(0x80) : 0;
    out.append(static_cast<char>(maskBit | payload.size())); // payloads here are < 126
    const QByteArray mask = "\x01\x02\x03\x04";
    if (masked)
        out.append(mask);
    for (qsizetype i = 0; i < payload.size(); ++i)
        out.append(masked ? static_cast<char>(payload[i] ^ mask[i % 4]) : payload[i]);
    return out;
}

QByteArray handshake(quint16 port, const QByteArray& extra = {}) {
    return "GET /stream?code=" + kCode +
           " HTTP/1.1\r\nHost: 127.0.0.1:" + QByteArray::number(port) +
           "\r\nUpgrade: websocket\r\nConnection: Upgrade\r\nSec-WebSocket-Key: "
           "dGhlIHNhbXBsZSBub25jZQ==\r\nSec-WebSocket-Version: 13\r\n" +
           extra + "\r\n";
}

// One kind of misbehaving client, as the child keeps it up.
struct Hostile {
    const char* name;
    int connections;                 // kept open at once, reopened when the server closes one
    std::vector<QByteArray> opening; // sent after connecting, one per connection in turn
    bool upgrade = false;            // the opening is a handshake: wait for 101, then `then`
    QByteArray then = {};            // sent over and over once open
    int trickleMs = 0;               // the opening one byte at a time, this far apart
    bool reads = false;              // reads what the server sends (else never reads)
    int longLines = 0;               // lines of 20 KB the display shows before the attack
};

std::vector<Hostile> hostiles(quint16 port) {
    QByteArray manyFields = "GET / HTTP/1.1\r\nHost: 127.0.0.1\r\n";
    for (int i = 0; i < 101; ++i)
        manyFields += "X-" + QByteArray::number(i) + ": x\r\n";
    return {
        {.name = "the stream without Connection: Upgrade",
         .connections = 1100,
         .opening = {"GET /stream HTTP/1.1\r\nHost: 127.0.0.1\r\nUpgrade: websocket\r\n\r\n"}},
        {.name = "slow heads",
         .connections = 200,
         .opening = {"GET / HTTP/1.1\r\nHost: 127.0.0.1\r\nX-Slow: " + QByteArray(4000, 'a')},
         .trickleMs = 500},
        {.name = "ping flood without reading",
         .connections = 40,
         .opening = {handshake(port)},
         .upgrade = true,
         .then = frame(0x9, QByteArray(125, 'p'), true, true)},
        {.name = "viewers that never read",
         .connections = 600,
         .opening = {handshake(port)},
         .upgrade = true},
        {.name = "endless fragmented messages",
         .connections = 40,
         .opening = {handshake(port)},
         .upgrade = true,
         .then = frame(0x1, QByteArray(100, 'f'), false, true)},
        {.name = "unmasked frames",
         .connections = 40,
         .opening = {handshake(port)},
         .upgrade = true,
         .then = frame(0x9, "x", true, false)},
        {.name = "data frames",
         .connections = 40,
         .opening = {handshake(port)},
         .upgrade = true,
         .then = frame(0x1, "hello", true, true)},
        {.name = "bad requests",
         .connections = 40,
         .opening = {"GET / HTTP/9.9\r\nHost: 127.0.0.1\r\n\r\n",
                     "GET / HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Length: 5\r\n"
                     "Transfer-Encoding: chunked\r\n\r\n",
                     manyFields, handshake(port, "Origin: http://evil.example\r\n")},
         .reads = true},
        {.name = "guessing the code",
         .connections = 40,
         .opening = {"GET /?code=guess1 HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n",
                     "GET /?code=guess2 HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n"},
         .reads = true},
        {.name = "viewers that never read, after 100 long lines",
         .connections = 600,
         .opening = {handshake(port)},
         .upgrade = true,
         .longLines = 100},
    };
}

// The child: keeps the attack up for kAttackMs.
int runHostile(int index, quint16 port) {
    const Hostile hostile = hostiles(port).at(static_cast<std::size_t>(index));
    struct Connection {
        int fd = -1;
        QByteArray out;
        qsizetype sent = 0;
        bool open = false; // the handshake answered 101, or no handshake asked
        QByteArray head;
        std::int64_t nextTrickle = 0;
    };
    std::vector<Connection> connections(static_cast<std::size_t>(hostile.connections));
    QElapsedTimer clock;
    clock.start();
    int opened = 0;
    const auto reopen = [&](Connection& c) {
        if (c.fd >= 0)
            ::close(c.fd);
        c = Connection{};
        c.fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
        const int small = 4096;
        ::setsockopt(c.fd, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
        sockaddr_in self{};
        self.sin_family = AF_INET;
        self.sin_addr.s_addr = htonl(0x7F000002 + static_cast<uint32_t>(opened % kAddresses));
        ::bind(c.fd, reinterpret_cast<sockaddr*>(&self), sizeof self);
        sockaddr_in server{};
        server.sin_family = AF_INET;
        server.sin_port = htons(port);
        server.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::connect(c.fd, reinterpret_cast<sockaddr*>(&server), sizeof server);
        c.out = hostile.opening[static_cast<std::size_t>(opened) % hostile.opening.size()];
        c.open = !hostile.upgrade;
        ++opened;
    };
    for (Connection& c : connections)
        reopen(c);
    std::vector<pollfd> polls(connections.size());
    while (clock.elapsed() < kAttackMs) {
        for (std::size_t i = 0; i < connections.size(); ++i) {
            const Connection& c = connections[i];
            short events = POLLRDHUP;
            if (c.sent < c.out.size() || (c.open && !hostile.then.isEmpty()))
                events |= POLLOUT;
            if (hostile.reads || !c.open)
                events |= POLLIN;
            polls[i] = {c.fd, events, 0};
        }
        ::poll(polls.data(), polls.size(), 50);
        const std::int64_t now = clock.elapsed();
        for (std::size_t i = 0; i < connections.size(); ++i) {
            Connection& c = connections[i];
            const short got = polls[i].revents;
            if (got & (POLLERR | POLLHUP | POLLRDHUP)) {
                reopen(c);
                continue;
            }
            if (got & POLLIN) {
                char buffer[16384];
                const ssize_t n = ::recv(c.fd, buffer, sizeof buffer, 0);
                if (n <= 0) {
                    reopen(c);
                    continue;
                }
                if (!c.open) {
                    c.head.append(buffer, n);
                    if (c.head.contains("\r\n\r\n")) {
                        if (!c.head.startsWith("HTTP/1.1 101")) {
                            reopen(c);
                            continue;
                        }
                        c.open = true;
                    }
                }
            }
            if (got & POLLOUT) {
                if (c.sent < c.out.size()) {
                    if (hostile.trickleMs > 0 && now < c.nextTrickle)
                        continue;
                    const qsizetype step = hostile.trickleMs > 0 ? 1 : c.out.size() - c.sent;
                    const ssize_t n = ::send(c.fd, c.out.constData() + c.sent,
                                             static_cast<std::size_t>(step), MSG_NOSIGNAL);
                    if (n < 0 && errno != EAGAIN) {
                        reopen(c);
                        continue;
                    }
                    c.sent += std::max<ssize_t>(n, 0);
                    c.nextTrickle = now + hostile.trickleMs;
                } else if (c.open && !hostile.then.isEmpty()) {
                    if (::send(c.fd, hostile.then.constData(),
                               static_cast<std::size_t>(hostile.then.size()), MSG_NOSIGNAL) < 0 &&
                        errno != EAGAIN)
                        reopen(c);
                }
            }
        }
    }
    std::printf("opened %d\n", opened);
    return 0;
}

struct Server : bench::WebBenchServer {
    Server() : WebBenchServer(kCode) {}
};

} // namespace

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    if (argc == 4 && std::string(argv[1]) == "--hostile")
        return runHostile(std::atoi(argv[2]), static_cast<quint16>(std::atoi(argv[3])));

    const std::size_t kinds = hostiles(0).size();
    for (std::size_t kind = 0; kind < kinds; ++kind) {
        Server server;
        const Hostile hostile = hostiles(server.port).at(kind);
        for (int i = 0; i < hostile.longLines; ++i)
            server.show("long line " + std::to_string(i) + ' ' + std::string(20000, 'x'));
        runFor(300);
        const double rssAtStart = residentMegabytes();
        double rssPeak = rssAtStart;
        QTimer sampler;
        QObject::connect(&sampler, &QTimer::timeout,
                         [&] { rssPeak = std::max(rssPeak, residentMegabytes()); });
        sampler.start(50);

        QProcess child;
        child.start(
            QCoreApplication::applicationFilePath(),
            {QStringLiteral("--hostile"), QString::number(kind), QString::number(server.port)});
        child.waitForStarted(10000);
        runFor(kViewerJoinsMs);

        // A viewer who behaves joins in the middle of it and waits for a new line.
        QWebSocket viewer;
        bool greeted = false;
        std::int64_t arrivedAt = -1;
        QElapsedTimer since;
        QObject::connect(&viewer, &QWebSocket::textMessageReceived, [&](const QString& text) {
            const QJsonObject m = QJsonDocument::fromJson(text.toUtf8()).object();
            if (m.value(QStringLiteral("t")).toString() == QLatin1String("hello"))
                greeted = true;
            if (m.value(QStringLiteral("text")).toString() == QLatin1String("the new line"))
                arrivedAt = since.elapsed();
        });
        // Refused, it tries again as the page does: after half a second, then a second.
        const QUrl url(QStringLiteral("ws://127.0.0.1:%1/stream?code=%2")
                           .arg(server.port)
                           .arg(QString::fromLatin1(kCode)));
        int attempts = 1;
        QObject::connect(&viewer, &QWebSocket::disconnected, [&] {
            if (greeted)
                return;
            QTimer::singleShot(500 * attempts, [&] { viewer.open(url); });
            ++attempts;
        });
        viewer.open(url);
        QElapsedTimer joining;
        joining.start();
        while (!greeted && joining.elapsed() < 5000)
            runFor(5);
        const std::int64_t joinMs = joining.elapsed();
        since.start();
        server.show("the new line");
        while (greeted && arrivedAt < 0 && since.elapsed() < 5000)
            runFor(2);
        child.waitForFinished(kAttackMs + 10000);
        sampler.stop();
        const QByteArray childSays = child.readAllStandardOutput().trimmed();

        std::printf("web_hostile_rss_mb: %.1f MB (%s; %+.1f over the start; %s)\n", rssPeak,
                    hostile.name, rssPeak - rssAtStart, childSays.constData());
        if (greeted && arrivedAt >= 0)
            std::printf("web_viewer_ok: %s (%s; joined in %lld ms at attempt %d, the line came "
                        "%lld ms after it was shown)\n",
                        arrivedAt <= 1000 ? "yes" : "no", hostile.name,
                        static_cast<long long>(joinMs), attempts,
                        static_cast<long long>(arrivedAt));
        else
            std::printf("web_viewer_ok: no (%s; %s)\n", hostile.name,
                        greeted ? "the line did not come" : "the viewer was not let in");
        std::fflush(stdout);
    }
    return 0;
}
