// Clients that misbehave, on purpose or not, against the real server on loopback. They come
// from 127.0.0.2, a viewer who behaves from 127.0.0.1: while each hostile client holds what it
// can, that viewer still gets in and gets a new line, and the process's memory stays bounded.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QElapsedTimer>
#include <QHostInfo>

#include <cstring>
#include <fstream>
#include <functional>

#include "WebRig.h"

using namespace skiro;
using namespace skiro::testing;

namespace {

const QByteArray kCode = "Hall42x";

long residentMegabytes() {
    std::ifstream statm("/proc/self/statm");
    long size = 0, resident = 0;
    statm >> size >> resident;
    return resident * sysconf(_SC_PAGESIZE) / (1024 * 1024);
}

// A client on a plain socket from 127.0.0.2, written against the wire alone so that it can do
// what no browser does.
class RawClient {
  public:
    explicit RawClient(quint16 port, int receiveBuffer = 0, quint32 from = 0x7F000002)
        : m_port(port) {
        m_fd = ::socket(AF_INET, SOCK_STREAM, 0);
        if (receiveBuffer > 0)
            ::setsockopt(m_fd, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
        sockaddr_in self{};
        self.sin_family = AF_INET;
        self.sin_addr.s_addr = htonl(from);
        ::bind(m_fd, reinterpret_cast<sockaddr*>(&self), sizeof self);
        sockaddr_in server{};
        server.sin_family = AF_INET;
        server.sin_port = htons(port);
        server.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        m_connected = ::connect(m_fd, reinterpret_cast<sockaddr*>(&server), sizeof server) == 0;
    }
    ~RawClient() {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    RawClient(const RawClient&) = delete;
    RawClient& operator=(const RawClient&) = delete;

    bool connected() const { return m_connected; }
    // False once the server has closed the connection (or reset it).
    bool send(const QByteArray& bytes) {
        qsizetype done = 0;
        while (done < bytes.size()) {
            pollfd p{m_fd, POLLOUT, 0};
            if (::poll(&p, 1, 5000) <= 0)
                return false;
            const ssize_t n = ::send(m_fd, bytes.constData() + done,
                                     static_cast<std::size_t>(bytes.size() - done), MSG_NOSIGNAL);
            if (n <= 0)
                return false;
            done += n;
        }
        return true;
    }
    // The next bytes that arrive within `ms`, if any.
    QByteArray read(int ms) {
        pollfd p{m_fd, POLLIN, 0};
        if (m_closed || ::poll(&p, 1, ms) <= 0)
            return {};
        char buffer[65536];
        const ssize_t n = ::recv(m_fd, buffer, sizeof buffer, 0);
        if (n <= 0) {
            m_closed = true;
            return {};
        }
        return QByteArray(buffer, n);
    }
    // Everything up to the server's close, or what came within `ms`.
    QByteArray readToClose(int ms = 15000) {
        QByteArray got;
        QElapsedTimer timer;
        timer.start();
        while (!m_closed && timer.elapsed() < ms)
            got += read(static_cast<int>(ms - timer.elapsed()));
        return got;
    }
    bool closedByServer() const { return m_closed; }

    // The stream's handshake; returns the status line's code ("101", "403", ...).
    // `behind`: bytes sent together with the head, in the same piece; `host`: the Host field,
    // the server's own address by default.
    QByteArray handshake(const QByteArray& extra = {}, const QByteArray& query = "code=" + kCode,
                         const QByteArray& behind = {}, const QByteArray& host = {}) {
        send("GET /stream?" + query + " HTTP/1.1\r\nHost: " +
             (host.isEmpty() ? "127.0.0.1:" + QByteArray::number(m_port) : host) +
             "\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
             "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\nSec-WebSocket-Version: 13\r\n" +
             extra + "\r\n" + behind);
        m_head.clear();
        QElapsedTimer timer;
        timer.start();
        while (!m_head.contains("\r\n\r\n") && !m_closed && timer.elapsed() < 10000)
            m_head += read(10000);
        return m_head.mid(9, 3);
    }
    const QByteArray& head() const { return m_head; }

    // A frame as a browser would send it (masked), or not.
    static QByteArray frame(int opcode, const QByteArray& payload, bool final = true,
                            bool masked = true) {
        QByteArray out;
        out.append(static_cast<char>((final ? 0x80 : 0) | opcode));
        const char maskBit = masked ? static_cast<char>(0x80) : 0;
        if (payload.size() < 126) {
            out.append(static_cast<char>(maskBit | payload.size()));
        } else {
            out.append(static_cast<char>(maskBit | 126));
            out.append(static_cast<char>(payload.size() >> 8));
            out.append(static_cast<char>(payload.size() & 0xFF));
        }
        const QByteArray mask = "\x12\x34\x56\x78";
        if (masked)
            out.append(mask);
        for (qsizetype i = 0; i < payload.size(); ++i)
            out.append(masked ? static_cast<char>(payload[i] ^ mask[i % 4]) : payload[i]);
        return out;
    }

    // The code of the server's closing frame among what it sent after the handshake, or -1:
    // waiting up to `ms` for it, or, with 0, from what has come so far.
    int closeCode(int ms = 15000) {
        if (m_after.isEmpty() && m_head.contains("\r\n\r\n"))
            m_after = m_head.mid(m_head.indexOf("\r\n\r\n") + 4);
        if (ms > 0) {
            m_after += readToClose(ms);
        } else {
            for (QByteArray more; !(more = read(0)).isEmpty();)
                m_after += more;
        }
        QByteArray bytes = m_after;
        while (bytes.size() >= 2) {
            const int opcode = bytes[0] & 0x0F;
            qsizetype length = bytes[1] & 0x7F;
            qsizetype at = 2;
            if (length == 126) {
                length = (static_cast<unsigned char>(bytes[2]) << 8) |
                         static_cast<unsigned char>(bytes[3]);
                at = 4;
            } else if (length == 127) {
                return -1;
            }
            if (bytes.size() < at + length)
                return -1;
            if (opcode == 0x8)
                return length >= 2 ? (static_cast<unsigned char>(bytes[at]) << 8) |
                                         static_cast<unsigned char>(bytes[at + 1])
                                   : 1005;
            bytes.remove(0, at + length);
        }
        return -1;
    }

  private:
    quint16 m_port;
    int m_fd = -1;
    bool m_connected = false;
    bool m_closed = false;
    QByteArray m_head;
    QByteArray m_after; // what came after the handshake's answer
};

QByteArray statusOf(const QByteArray& response) {
    return response.mid(9, 3);
}

class HostileRig : public WebRig {
  protected:
    void SetUp() override {
        limits.headDeadline = std::chrono::milliseconds(3000);
        limits.stallLimit = std::chrono::milliseconds(3000);
        start(kCode);
    }

    // A viewer who behaves, from another address, gets in and gets a new line.
    void viewerStillServed(const std::string& line) {
        StreamClient viewer(streamUrl(QStringLiteral("code=") + QString::fromLatin1(kCode)));
        ASSERT_TRUE(viewer.waitForHello(10000)) << "the viewer was not let in";
        const std::size_t before = viewer.of(QStringLiteral("line")).size();
        show(line);
        ASSERT_TRUE(viewer.waitForLines(before + 1, 10000)) << "no line reached the viewer";
        EXPECT_EQ(viewer.of(QStringLiteral("line")).back().value("text").toString().toStdString(),
                  line);
    }

    void waitUntilIdle() {
        EXPECT_TRUE(QTest::qWaitFor(
            [&] {
                return service->server().httpCount() == 0 && service->server().viewerCount() == 0;
            },
            15000))
            << "http " << service->server().httpCount() << ", viewers "
            << service->server().viewerCount();
    }
};

} // namespace

TEST_F(HostileRig, EachHostileClientLeavesRoomForAViewerAndMemoryBounded) {
    const long rssAtStart = residentMegabytes();
    struct Case {
        const char* name;
        // Does what the client does and checks what it was answered; what it leaves open
        // stays open while a viewer who behaves comes in.
        std::function<void(std::vector<std::unique_ptr<RawClient>>&)> run;
    };
    const auto single = [this](const QByteArray& request, const QByteArray& status) {
        return [this, request, status](std::vector<std::unique_ptr<RawClient>>&) {
            RawClient client(port);
            ASSERT_TRUE(client.send(request));
            const QByteArray response = client.readToClose();
            EXPECT_EQ(statusOf(response), status) << response.left(200).data();
            EXPECT_TRUE(client.closedByServer());
        };
    };
    const auto fields = [](int count) {
        QByteArray head = "GET /?code=" + kCode + " HTTP/1.1\r\nHost: 127.0.0.1\r\n";
        for (int i = 0; i < count; ++i)
            head += "X-Field-" + QByteArray::number(i) + ": " + QByteArray::number(i) + "\r\n";
        return head + "\r\n";
    };
    const std::vector<Case> cases = {
        {"the stream's address without Connection: Upgrade is answered 426 and closed",
         [this](auto&) {
             for (int i = 0; i < 50; ++i) {
                 RawClient client(port);
                 client.send("GET /stream?code=" + kCode +
                             " HTTP/1.1\r\nHost: 127.0.0.1\r\nUpgrade: websocket\r\n\r\n");
                 const QByteArray response = client.readToClose();
                 ASSERT_EQ(statusOf(response), "426") << i << ' ' << response.left(100).data();
                 ASSERT_TRUE(client.closedByServer());
             }
         }},
        {"HTTP/9.9", single("GET / HTTP/9.9\r\nHost: 127.0.0.1\r\n\r\n", "505")},
        {"not HTTP at all", single("HELLO\r\n\r\n", "400")},
        {"Content-Length together with chunked",
         single("GET / HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Length: 5\r\n"
                "Transfer-Encoding: chunked\r\n\r\n0\r\n\r\n",
                "400")},
        {"64 header fields are served", single(fields(63), "200")},
        {"65 header fields", single(fields(64), "431")},
        {"101 header fields, which Qt would drop without a word", single(fields(100), "431")},
        {"slow heads from one address: 32 wait for their deadline, the rest are told 503",
         [this](auto& held) {
             for (int i = 0; i < 40; ++i) {
                 held.push_back(std::make_unique<RawClient>(port));
                 held.back()->send("GET / HTTP/1.1\r\nHost: 127.0.0.1\r\nX-Slow: ");
             }
             viewerStillServed("while 40 slow heads wait");
             int full = 0, late = 0;
             for (auto& client : held) {
                 const QByteArray status = statusOf(client->readToClose());
                 full += status == "503";
                 late += status == "408";
                 EXPECT_TRUE(client->closedByServer());
             }
             EXPECT_EQ(full, 8);
             EXPECT_EQ(late, 32);
         }},
        {"viewers that never read: 32 get in from one address, the rest are told to come back",
         [this](auto& held) {
             for (int i = 0; i < 40; ++i) {
                 held.push_back(std::make_unique<RawClient>(port, 4096));
                 ASSERT_EQ(held.back()->handshake(), "101");
             }
             // A page learns of a full server only from its stream's close: 1013, "try again
             // later".
             EXPECT_TRUE(QTest::qWaitFor(
                 [&] {
                     int full = 0;
                     for (auto& client : held)
                         full += client->closeCode(0) == 1013;
                     return full == 8;
                 },
                 5000));
             EXPECT_EQ(service->server().viewerCount(), 32);
         }},
        {"a ping flood that never reads is cut off",
         [this](auto&) {
             RawClient client(port, 4096);
             ASSERT_EQ(client.handshake(), "101");
             const QByteArray ping = RawClient::frame(0x9, QByteArray(125, 'p'));
             qint64 sent = 0;
             while (sent < 64 * 1024 * 1024 && client.send(ping))
                 sent += ping.size();
             EXPECT_LT(sent, 64 * 1024 * 1024) << "the server took the whole flood";
         }},
        {"an endless fragmented message is refused at its first frame with 1003",
         [this](auto&) {
             RawClient client(port);
             ASSERT_EQ(client.handshake(), "101");
             client.send(RawClient::frame(0x1, "never", false));
             int more = 0;
             while (more < 10000 && client.send(RawClient::frame(0x0, "ending", false)))
                 ++more;
             EXPECT_EQ(client.closeCode(), 1003);
         }},
        {"an unmasked frame is a protocol error: 1002",
         [this](auto&) {
             RawClient client(port);
             ASSERT_EQ(client.handshake(), "101");
             client.send(RawClient::frame(0x9, "ping", true, false));
             EXPECT_EQ(client.closeCode(), 1002);
         }},
        {"a message from a viewer closes it with 1003",
         [this](auto&) {
             RawClient client(port);
             ASSERT_EQ(client.handshake(), "101");
             client.send(RawClient::frame(0x1, "hello"));
             EXPECT_EQ(client.closeCode(), 1003);
         }},
        {"bare-LF handshakes from four addresses are refused at once and hold no place",
         [this](auto& held) {
             const QByteArray head = "GET /stream?code=" + kCode +
                                     " HTTP/1.1\nHost: 127.0.0.1\nUpgrade: websocket\n"
                                     "Connection: Upgrade\nSec-WebSocket-Key: "
                                     "dGhlIHNhbXBsZSBub25jZQ==\nSec-WebSocket-Version: 13\n\n";
             // One alone is judged as soon as its head is in.
             {
                 RawClient alone(port, 0, 0x7F000002);
                 alone.send(head);
                 EXPECT_EQ(statusOf(alone.readToClose()), "400");
             }
             for (quint32 from = 0x7F000002; from <= 0x7F000005; ++from) {
                 for (int i = 0; i < 32; ++i) {
                     held.push_back(std::make_unique<RawClient>(port, 0, from));
                     held.back()->send(head);
                 }
             }
             viewerStillServed("while 128 bare-LF handshakes came");
             // A burst this large may reach the server's reader only after a head's deadline on
             // a busy machine: then it is let go by the deadline, which is held to all the same.
             for (auto& client : held) {
                 const QByteArray status = statusOf(client->readToClose());
                 EXPECT_TRUE(status == "400" || status == "408") << status.toStdString();
                 EXPECT_TRUE(client->closedByServer());
             }
         }},
        {"a close with a code no endpoint may send, or a reason that is not UTF-8: 1002",
         [this](auto&) {
             const auto close = [](int code, const QByteArray& reason) {
                 QByteArray payload;
                 payload.append(static_cast<char>(code >> 8));
                 payload.append(static_cast<char>(code & 0xFF));
                 return RawClient::frame(0x8, payload + reason);
             };
             const struct {
                 int code;
                 QByteArray reason;
                 int answer;
             } closes[] = {
                 {999, {}, 1002},  {1004, {}, 1002},           {1005, {}, 1002},
                 {1006, {}, 1002}, {1015, {}, 1002},           {2999, {}, 1002},
                 {5000, {}, 1002}, {1000, "\xC3\x28", 1002},   {1000, "\xED\xA0\x80", 1002},
                 {1000, {}, 1000}, {1001, "さようなら", 1000}, {4000, "bye", 1000}};
             for (const auto& c : closes) {
                 RawClient client(port);
                 ASSERT_EQ(client.handshake(), "101");
                 client.send(close(c.code, c.reason));
                 EXPECT_EQ(client.closeCode(), c.answer)
                     << c.code << ' ' << c.reason.toHex().data();
             }
         }},
        {"frames right behind the handshake are read by the server's own reader",
         [this](auto&) {
             RawClient pinging(port);
             ASSERT_EQ(pinging.handshake({}, "code=" + kCode, RawClient::frame(0x9, "behind")),
                       "101");
             // The answer is a pong with the same payload, unmasked as a server's frames are.
             const QByteArray pong = QByteArray("\x8A\x06", 2) + "behind";
             QByteArray after = pinging.head().mid(pinging.head().indexOf("\r\n\r\n") + 4);
             QElapsedTimer waited;
             waited.start();
             while (!after.contains(pong) && waited.elapsed() < 10000 && !pinging.closedByServer())
                 after += pinging.read(1000);
             EXPECT_TRUE(after.contains(pong)) << after.toHex().data();
             RawClient talking(port);
             ASSERT_EQ(talking.handshake({}, "code=" + kCode, RawClient::frame(0x1, "hello")),
                       "101");
             EXPECT_EQ(talking.closeCode(), 1003);
         }},
        {"a stream opened by another site's page is refused; the page's own origin gets in",
         [this](auto&) {
             RawClient other(port);
             EXPECT_EQ(other.handshake("Origin: http://evil.example\r\n"), "403");
             RawClient own(port);
             EXPECT_EQ(
                 own.handshake("Origin: http://127.0.0.1:" + QByteArray::number(port) + "\r\n"),
                 "101");
         }},
        {"guessing the code: ten wrong ones a minute, then 429 even for the right one",
         [this](auto&) {
             for (int i = 0; i < 10; ++i) {
                 RawClient client(port);
                 client.send("GET /?code=guess" + QByteArray::number(i) +
                             " HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n");
                 ASSERT_EQ(statusOf(client.readToClose()), "403") << i;
             }
             for (const QByteArray& code : {QByteArray("guess10"), kCode}) {
                 RawClient client(port);
                 client.send("GET /?code=" + code + " HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n");
                 const QByteArray response = client.readToClose();
                 EXPECT_EQ(statusOf(response), "429");
                 EXPECT_TRUE(response.contains("Retry-After: "));
                 EXPECT_TRUE(response.contains(QStringLiteral("しばらく受け付けません").toUtf8()));
             }
             RawClient stream(port);
             EXPECT_EQ(stream.handshake(), "429");
         }},
    };
    long rssPeak = rssAtStart;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::unique_ptr<RawClient>> held;
        c.run(held);
        viewerStillServed(std::string("after: ") + c.name);
        rssPeak = std::max(rssPeak, residentMegabytes());
        held.clear();
        waitUntilIdle();
    }
    EXPECT_LT(rssPeak - rssAtStart, 100) << "resident memory grew from " << rssAtStart << " MB";
}

// Clients from many addresses can fill every place without any one address reaching its
// limit. Newcomers then take the places of those that do nothing with them: the connection
// that has waited longest for the rest of its request, the viewer that has left a ping
// unanswered longest. A viewer that reads keeps its place.
TEST_F(HostileRig, NewcomersTakeThePlacesOfConnectionsThatDoNothingWithThem) {
    service.reset();
    port = 0;
    limits.httpPerAddress = 1000; // one address stands for many here
    limits.viewersPerAddress = 4;
    limits.unansweredPing = std::chrono::milliseconds(1500);
    limits.stallLimit = std::chrono::milliseconds(60000); // they stay until a newcomer comes
    start(kCode);

    std::vector<std::unique_ptr<RawClient>> slow;
    for (int i = 0; i < WebServer::kMaxHttpConnections; ++i) {
        slow.push_back(std::make_unique<RawClient>(port));
        slow.back()->send("GET / HTTP/1.1\r\nHost: 127.0.0.1\r\nX-Slow: ");
    }
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return service->server().httpCount() == WebServer::kMaxHttpConnections; }, 10000));
    viewerStillServed("in place of the slowest head");
    // The oldest slow head made room, and was closed.
    EXPECT_EQ(statusOf(slow.front()->readToClose(5000)), "");
    EXPECT_TRUE(slow.front()->closedByServer());
    slow.clear();
    waitUntilIdle();

    // Four viewers from one address that never read; a fifth from there that does.
    std::vector<std::unique_ptr<RawClient>> silent;
    for (int i = 0; i < 4; ++i) {
        silent.push_back(std::make_unique<RawClient>(port, 4096, 0x7F000003));
        ASSERT_EQ(silent.back()->handshake(), "101");
    }
    RawClient early(port, 0, 0x7F000003);
    ASSERT_EQ(early.handshake(), "101");
    EXPECT_EQ(early.closeCode(5000), 1013) << "a place was taken before any ping went unanswered";
    QTest::qWait(2 * static_cast<int>(limits.unansweredPing.count()));
    RawClient reader(port, 0, 0x7F000003);
    EXPECT_EQ(reader.handshake(), "101");
    EXPECT_EQ(service->server().viewerCount(), 4);
}

// A line of a million characters (a recogniser that sends no line breaks) reaches a viewer
// whole, in pieces, while 32 viewers that never read hold it: the line is shared, not copied
// into each of their buffers (3 MB each would be about 100 MB).
TEST_F(HostileRig, AMillionCharacterLineReachesViewersWithoutACopyForEach) {
    StreamClient reader(streamUrl(QStringLiteral("code=") + QString::fromLatin1(kCode)));
    ASSERT_TRUE(reader.waitForHello());
    std::vector<std::unique_ptr<RawClient>> silent;
    for (int i = 0; i < 32; ++i) {
        silent.push_back(std::make_unique<RawClient>(port, 4096));
        ASSERT_EQ(silent.back()->handshake(), "101");
    }
    std::string line;
    line.reserve(2'000'000);
    for (int i = 0; i < 1'000'000; ++i)
        line += "\x82\xA0"; // あ
    const long before = residentMegabytes();
    long peak = before;
    show(line);
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            peak = std::max(peak, residentMegabytes());
            return !reader.of(QStringLiteral("line")).empty();
        },
        30000));
    const QString text = reader.of(QStringLiteral("line")).back().value("text").toString();
    EXPECT_EQ(text.size(), 1'000'000);
    EXPECT_TRUE(text.startsWith(QStringLiteral("ああ")) && text.endsWith(QStringLiteral("ああ")));
    EXPECT_LT(peak - before, 60) << "resident memory grew from " << before << " MB";
}

// With no access code and listening on this machine only, a page of another site whose name
// was pointed at 127.0.0.1 would read the captions through the viewer's own browser: only this
// machine's names and addresses, and the names the operator adds, are served.
TEST_F(WebRig, OnlyTheMachinesOwnHostNamesAndTheOperatorsAreServed) {
    settings.Web.Hosts = "Captions.Hall.example, other.example";
    start();
    const QByteArray at = ':' + QByteArray::number(port);
    const struct {
        QByteArray host;
        bool served;
    } cases[] = {
        {"evil.example" + at, false},
        {"evil.example", false},
        // Nothing of the field reaches the answer, let alone a page's policy.
        {"evil.example; script-src *", false},
        {"127.0.0.1.evil.example" + at, false},
        {"192.0.2.1" + at, false},
        {"127.0.0.1" + at, true},
        {"[::1]" + at, true},
        {"localhost" + at, true},
        {"LOCALHOST.", true},
        {QHostInfo::localHostName().toUtf8() + at, true},
        {"captions.hall.example" + at, true},
        {"Other.Example", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.host.data());
        const QByteArray page = exchange("GET / HTTP/1.1\r\nHost: " + c.host + "\r\n\r\n");
        EXPECT_EQ(statusOf(page), c.served ? "200" : "421");
        EXPECT_FALSE(page.contains("evil"));
        RawClient stream(port, 0, 0x7F000001);
        EXPECT_EQ(stream.handshake({}, {}, {}, c.host), c.served ? "101" : "421");
    }
    // A request of HTTP/1.0 names no host: it comes from no browser's page.
    EXPECT_EQ(statusOf(exchange("GET / HTTP/1.0\r\n\r\n")), "200");
}

// Guessers spread over many addresses, each below its own bound, meet the overall one: then
// every code is refused for a while, the right one from a new address too. A page that was
// opened before comes back with its cookie all the same.
TEST_F(HostileRig, WrongCodesFromManyAddressesLockEveryoneOutForAWhile) {
    service.reset();
    port = 0;
    limits.codeFailuresOverall = 30;
    limits.codeLockout = std::chrono::milliseconds(60000);
    start(kCode);
    const auto ask = [this](quint32 from, const QByteArray& code, const QByteArray& extra = {}) {
        RawClient client(port, 0, from);
        client.send("GET /?code=" + code + " HTTP/1.1\r\nHost: 127.0.0.1\r\n" + extra + "\r\n");
        return client.readToClose();
    };
    const QByteArray opened = ask(0x7F000001, kCode);
    const qsizetype at = opened.indexOf("Set-Cookie: ");
    ASSERT_GE(at, 0);
    const QByteArray cookie = opened.mid(at + 12, opened.indexOf(';', at) - at - 12);
    for (int i = 0; i < 30; ++i)
        ASSERT_EQ(statusOf(ask(0x7F000010 + i / 3, "guess" + QByteArray::number(i))), "403") << i;
    EXPECT_EQ(statusOf(ask(0x7F000030, "guess30")), "429");
    EXPECT_EQ(statusOf(ask(0x7F000031, kCode)), "429");
    RawClient stream(port, 0, 0x7F000032);
    EXPECT_EQ(stream.handshake(), "429");
    RawClient back(port, 0, 0x7F000001);
    EXPECT_EQ(back.handshake("Cookie: " + cookie + "\r\n", "run=x"), "101");
}

// With no file descriptors left the system refuses the connections waiting to be taken in, and
// Qt stops accepting altogether. The server listens again: a viewer that waited is answered
// once descriptors are free. The viewer runs in a process of its own, started before this one
// runs out, so that it has a socket to connect with.
TEST_F(WebRig, RunningOutOfDescriptorsOnlyPausesTheWebView) {
    start();
    int go[2];
    ASSERT_EQ(::pipe(go), 0);
    const pid_t child = ::fork();
    if (child == 0) {
        ::alarm(30);
        char start = 0;
        if (::read(go[0], &start, 1) != 1)
            ::_exit(1);
        const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in server{};
        server.sin_family = AF_INET;
        server.sin_port = htons(port);
        server.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (::connect(fd, reinterpret_cast<sockaddr*>(&server), sizeof server) != 0)
            ::_exit(2);
        const char request[] = "GET / HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
        if (::write(fd, request, sizeof request - 1) != static_cast<ssize_t>(sizeof request - 1))
            ::_exit(3);
        char answer[12] = {};
        ssize_t got = 0, total = 0;
        while (total < 12 && (got = ::read(fd, answer + total, 12 - total)) > 0)
            total += got;
        ::_exit(total == 12 && std::memcmp(answer, "HTTP/1.1 200", 12) == 0 ? 0 : 4);
    }
    ::close(go[0]);

    rlimit saved{};
    ::getrlimit(RLIMIT_NOFILE, &saved);
    rlimit low = saved;
    low.rlim_cur = std::min<rlim_t>(saved.rlim_cur, 4096);
    ::setrlimit(RLIMIT_NOFILE, &low);
    std::vector<int> held;
    for (int fd; (fd = ::open("/dev/null", O_RDONLY | O_CLOEXEC)) >= 0;)
        held.push_back(fd);
    const char start = 1;
    EXPECT_EQ(::write(go[1], &start, 1), 1);
    // Long enough for the server to meet the refusal more than once.
    QTest::qWait(1500);
    for (const int fd : held)
        ::close(fd);
    ::setrlimit(RLIMIT_NOFILE, &saved);
    ::close(go[1]);

    int status = -1;
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return ::waitpid(child, &status, WNOHANG) == child; }, 20000));
    EXPECT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "the waiting viewer was not answered";
}
