#include <QDir>
#include <QFile>
#include <QLocalServer>
#include <QLocalSocket>
#include <QMessageBox>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <fstream>
#include <memory>
#include <optional>
#include <poll.h>
#include <sstream>
#include <string>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "app/CMainFrame.h"
#include "app/CMarelApp.h"
#include "core/FeedProtocol.h"
#include "feed/FeedPlace.h"
#include "feed/FeedServer.h"
#include "sjis/Sjis.h"

namespace {

using namespace skiro;
using feed::FrameType;

std::string sj(const char* utf8) {
    return toSjis(QString::fromUtf8(utf8));
}

// A client written against the wire format alone, driven from the test's own event loop, so
// that it can also misbehave.
class Peer {
  public:
    explicit Peer(const QString& path, bool answerTerminate = true) {
        QObject::connect(&m_socket, &QLocalSocket::readyRead, [this, answerTerminate] {
            const QByteArray bytes = m_socket.readAll();
            m_reader.append(std::string_view(bytes.constData(), bytes.size()));
            feed::Frame f;
            while (m_reader.next(f) == feed::FrameReader::Status::Frame) {
                if (f.type == FrameType::Terminate && answerTerminate)
                    write(feed::encodeFrame(FrameType::Terminate));
                frames.push_back(f);
            }
        });
        m_socket.connectToServer(path);
        m_socket.waitForConnected(10000);
    }
    void write(const std::string& bytes) {
        m_socket.write(bytes.data(), static_cast<qint64>(bytes.size()));
        m_socket.flush();
    }
    bool open(const std::string& service = "skiro", std::string_view topic = feed::kTopic) {
        write(feed::encodeInitiate(service, topic));
        return waitFrames(1) && frames.back().type == FrameType::InitiateAck;
    }
    void execute(std::string_view request) {
        write(feed::encodeFrame(FrameType::Execute, request));
    }
    bool waitFrames(std::size_t n, int ms = 10000) {
        return QTest::qWaitFor([&] { return frames.size() >= n; }, ms);
    }
    bool waitClosed(int ms = 10000) {
        return QTest::qWaitFor([&] { return m_socket.state() == QLocalSocket::UnconnectedState; },
                               ms);
    }
    std::size_t acks(std::uint16_t status) const {
        std::size_t n = 0;
        for (const auto& f : frames)
            n += f.type == FrameType::ExecuteAck && feed::parseAck(f.payload) == status;
        return n;
    }
    bool received(FrameType type) const {
        for (const auto& f : frames)
            if (f.type == type)
                return true;
        return false;
    }
    std::vector<feed::Frame> frames;

  private:
    QLocalSocket m_socket;
    feed::FrameReader m_reader;
};

// A server whose delivered texts are kept, for the conversation rules.
struct Served {
    std::vector<std::string> texts;
    FeedServer server{"skiro", [this](std::string_view t) { texts.emplace_back(t); }};
};

std::vector<std::string> logLines(const QString& folder) {
    std::vector<std::string> lines;
    for (const QString& name : QDir(folder).entryList({"*.log"}, QDir::Files, QDir::Name)) {
        std::ifstream in(QDir(folder).filePath(name).toStdString(), std::ios::binary);
        std::string line;
        while (std::getline(in, line)) {
            if (!line.empty() && line.back() == '\r')
                line.pop_back();
            lines.push_back(line);
        }
    }
    return lines;
}

// Requests through the display's own service into its intake, each followed by a marker line
// so that the log shows exactly what each one delivered.
TEST(FeedService, RequestsReachIntakeExactlyAsTheirArgument) {
    struct Case {
        const char* name;
        std::string request;
        std::vector<std::string> lines; // log lines up to and including this row's marker
    } cases[] = {
        {"text stays in the current line", "[Send(abc)]", {"abc#"}},
        {"CR completes the line", "[Send(abc\r)]", {"abc", "#"}},
        {"empty argument", "[Send()]", {"#"}},
        {"parentheses inside", "[Send(a(b)c)]", {"a(b)c#"}},
        {"two commands are one argument", "[Send(x)][Send(y)]", {"x)][Send(y#"}},
        {"lower-case name ignored", "[send(abc)]", {"#"}},
        {"no closing bracket ignored", "[Send(abc)", {"#"}},
        {"no brackets ignored", "Send(abc)", {"#"}},
        {"empty name ignored", "[(abc)]", {"#"}},
        {"no parenthesis ignored", "[Send abc]", {"#"}},
        {"blank before the bracket ignored", "[Send(abc) ]", {"#"}},
        {"text ends at the first NUL", std::string("[Send(ab)]\0junk", 15), {"ab#"}},
        {"NUL inside cuts the command", std::string("[Send(a\0b)]", 11), {"#"}},
        {"LF dropped, CR LF one end", "[Send(x\r\ny)]", {"x", "y#"}},
        {"Shift-JIS with 5C and 7C trail bytes",
         "[Send(" + sj("ソ表ポ") + ")]",
         {sj("ソ表ポ") + "#"}},
        {"brackets inside the text", "[Send(a]b[c)]", {"a]b[c#"}},
    };
    QTemporaryDir folder;
    std::vector<std::string> expected;
    {
        CMarelApp app(folder.path(), "skiro");
        ASSERT_TRUE(app.initInstance());
        ASSERT_NE(app.feedServer(), nullptr);
        Peer peer(app.feedServer()->socketPath());
        ASSERT_TRUE(peer.open());
        std::size_t requests = 0;
        for (const Case& c : cases) {
            SCOPED_TRACE(c.name);
            peer.execute(c.request);
            peer.execute("[Send(#\r)]");
            requests += 2;
            expected.insert(expected.end(), c.lines.begin(), c.lines.end());
        }
        // Every request is acknowledged positively, whatever it says.
        ASSERT_TRUE(peer.waitFrames(1 + requests));
        EXPECT_EQ(peer.acks(feed::kAckPositive), requests);
        app.frame()->close();
    }
    // The lines still waiting to be shown when the window closed come after a stamp saying so.
    std::vector<std::string> lines = logLines(folder.path());
    const auto stamps = std::erase_if(lines, [](const std::string& line) {
        return line.ends_with(sj("以下、表示しきれないまま終了"));
    });
    EXPECT_LE(stamps, 1u);
    EXPECT_EQ(lines, expected);
}

TEST(FeedService, ConversationRules) {
    Served s;
    ASSERT_TRUE(s.server.listen()) << s.server.error().toStdString();
    const QString path = s.server.socketPath();

    // Another service, another topic, a wildcard: no answer; nor for a request without one.
    for (const auto& [service, topic] : std::vector<std::pair<std::string, std::string>>{
             {"viewer", "Command"}, {"skiro", "command"}, {"", ""}, {"skiro", ""}}) {
        SCOPED_TRACE(service + "/" + topic);
        Peer stranger(path);
        stranger.write(feed::encodeInitiate(service, topic));
        stranger.execute("[Send(no)]");
        EXPECT_FALSE(stranger.waitFrames(1, 300));
    }

    Peer first(path), second(path);
    ASSERT_TRUE(first.open());
    ASSERT_TRUE(second.open());
    // A second open on a live conversation is not answered.
    first.write(feed::encodeInitiate("skiro", feed::kTopic));
    first.execute("[Send(1)]");
    ASSERT_TRUE(first.waitFrames(2));
    EXPECT_EQ(first.frames[1].type, FrameType::ExecuteAck);

    // The first terminates: it gets the display's answer and its connection ends; the second
    // still sends.
    first.write(feed::encodeFrame(FrameType::Terminate));
    EXPECT_TRUE(first.waitClosed());
    EXPECT_TRUE(first.received(FrameType::Terminate));
    second.execute("[Send(2)]");
    ASSERT_TRUE(second.waitFrames(2));

    // A malformed frame (unknown type) closes that connection only.
    Peer broken(path);
    ASSERT_TRUE(broken.open());
    broken.write(std::string("\x09\0\0\0\0", 5));
    EXPECT_TRUE(broken.waitClosed());

    // A request over the size limit is refused and its connection closed; nothing is shown.
    Peer large(path);
    ASSERT_TRUE(large.open());
    large.execute("[Send(" + std::string(feed::kMaxRequest, 'x') + ")]");
    EXPECT_TRUE(large.waitClosed());
    EXPECT_EQ(large.acks(feed::kAckRefused), 1u);

    second.execute("[Send(3)]");
    ASSERT_TRUE(second.waitFrames(3));
    EXPECT_EQ(s.texts, (std::vector<std::string>{"1", "2", "3"}));

    // At most 64 connections at once; the next one is closed unanswered.
    std::vector<std::unique_ptr<Peer>> crowd;
    while (s.server.connectionCount() < feed::kMaxConversations) {
        crowd.push_back(std::make_unique<Peer>(path));
        ASSERT_TRUE(
            QTest::qWaitFor([&] { return s.server.connectionCount() >= crowd.size() + 1; }));
    }
    Peer extra(path);
    EXPECT_TRUE(extra.waitClosed());
    EXPECT_FALSE(extra.received(FrameType::InitiateAck));
}

// A client on a bare socket, for what a well-behaved client never does: writing and closing
// at once, stopping halfway through a frame, never reading. Its writes let the display's event
// loop run while the socket is full.
class RawClient {
  public:
    explicit RawClient(const QString& path) {
        m_fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        const QByteArray bytes = QFile::encodeName(path);
        std::strncpy(addr.sun_path, bytes.constData(), sizeof(addr.sun_path) - 1);
        connected = ::connect(m_fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) == 0;
    }
    ~RawClient() { close(); }
    // False once the display has closed the connection.
    bool write(std::string_view bytes) {
        while (!bytes.empty()) {
            const ssize_t n = ::send(m_fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
            if (n > 0) {
                bytes.remove_prefix(static_cast<std::size_t>(n));
            } else if (n < 0 && errno == EAGAIN) {
                QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
            } else {
                return false;
            }
        }
        return true;
    }
    // Whether the display has closed the connection; what it answered is read and dropped.
    bool closedByDisplay() {
        char buffer[4096];
        for (;;) {
            const ssize_t n = ::recv(m_fd, buffer, sizeof buffer, MSG_DONTWAIT);
            if (n > 0)
                continue;
            return n == 0 || errno != EAGAIN;
        }
    }
    void close() {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = -1;
    }
    bool connected = false;

  private:
    int m_fd = -1;
};

std::string requests(int first, int count) {
    std::string bytes;
    for (int i = first; i < first + count; ++i)
        bytes += feed::encodeFrame(FrameType::Execute, "[Send(" + std::to_string(i) + ")]");
    return bytes;
}

std::vector<std::string> numbers(int first, int count) {
    std::vector<std::string> texts;
    for (int i = first; i < first + count; ++i)
        texts.push_back(std::to_string(i));
    return texts;
}

// Clients that misbehave, carelessly or not. What the display has read it carries out, in
// order; a connection that stalls or never reads loses its place; and a well-behaved client
// is served afterwards.
TEST(FeedService, CarelessAndHostileClients) {
    struct Case {
        const char* name;
        // Plays the client; returns what it expects delivered, or nullopt when only a prefix
        // of the numbers from 0 is expected (the display stopped reading it).
        std::function<std::optional<std::vector<std::string>>(const QString& path)> play;
    } cases[] = {
        {"open, requests and end in one write, then closed",
         [](const QString& path) -> std::optional<std::vector<std::string>> {
             RawClient raw(path);
             EXPECT_TRUE(raw.write(feed::encodeInitiate("skiro", feed::kTopic) + requests(0, 20) +
                                   feed::encodeFrame(FrameType::Terminate)));
             return numbers(0, 20);
         }},
        {"thousands of requests written, then closed without a word",
         [](const QString& path) -> std::optional<std::vector<std::string>> {
             RawClient raw(path);
             EXPECT_TRUE(raw.write(feed::encodeInitiate("skiro", feed::kTopic)));
             for (int i = 0; i < 5000; i += 100)
                 EXPECT_TRUE(raw.write(requests(i, 100)));
             return numbers(0, 5000);
         }},
        {"a frame that stops halfway",
         [](const QString& path) -> std::optional<std::vector<std::string>> {
             RawClient raw(path);
             const std::string request = requests(0, 1);
             EXPECT_TRUE(raw.write(feed::encodeInitiate("skiro", feed::kTopic) +
                                   request.substr(0, request.size() - 2)));
             EXPECT_TRUE(QTest::qWaitFor([&] { return raw.closedByDisplay(); }, 10000));
             return std::vector<std::string>{};
         }},
        {"a connection that says nothing",
         [](const QString& path) -> std::optional<std::vector<std::string>> {
             RawClient raw(path);
             EXPECT_TRUE(QTest::qWaitFor([&] { return raw.closedByDisplay(); }, 10000));
             return std::vector<std::string>{};
         }},
        {"a client that never reads the answers",
         [](const QString& path) -> std::optional<std::vector<std::string>> {
             RawClient raw(path);
             EXPECT_TRUE(raw.write(feed::encodeInitiate("skiro", feed::kTopic)));
             // Far more answers than the display keeps unread for it.
             const int most = static_cast<int>(4 * feed::kMaxUnread / 7);
             int sent = 0;
             while (sent < most && raw.write(requests(sent, 1000)))
                 sent += 1000;
             EXPECT_LT(sent, most) << "the display never closed the connection";
             return std::nullopt;
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Served s;
        s.server.setOpenWithin(std::chrono::milliseconds(300));
        s.server.setFrameWithin(std::chrono::milliseconds(300));
        ASSERT_TRUE(s.server.listen());
        const auto expected = c.play(s.server.socketPath());
        if (expected) {
            EXPECT_TRUE(QTest::qWaitFor([&] { return s.texts.size() >= expected->size(); }, 10000));
        }
        ASSERT_TRUE(QTest::qWaitFor([&] { return s.server.connectionCount() == 0; }, 10000));
        if (expected) {
            EXPECT_EQ(s.texts, *expected);
        } else {
            EXPECT_FALSE(s.texts.empty());
            EXPECT_EQ(s.texts, numbers(0, static_cast<int>(s.texts.size())));
        }
        s.texts.clear();
        Peer well(s.server.socketPath());
        ASSERT_TRUE(well.open());
        well.execute("[Send(served)]");
        ASSERT_TRUE(well.waitFrames(2));
        EXPECT_EQ(s.texts, std::vector<std::string>{"served"});
    }
}

// A connection that never opens a conversation, or asks for another service, gives its place
// back after a while; an open conversation keeps its place however quiet it is.
TEST(FeedService, ConnectionWithoutConversationGivesItsPlaceBack) {
    Served s;
    s.server.setOpenWithin(std::chrono::milliseconds(200));
    ASSERT_TRUE(s.server.listen()) << s.server.error().toStdString();
    Peer silent(s.server.socketPath()), stranger(s.server.socketPath()),
        open(s.server.socketPath());
    stranger.write(feed::encodeInitiate("viewer", feed::kTopic));
    ASSERT_TRUE(open.open());
    EXPECT_TRUE(silent.waitClosed());
    EXPECT_TRUE(stranger.waitClosed());
    EXPECT_EQ(s.server.connectionCount(), 1u);
    open.execute("[Send(still here)]");
    ASSERT_TRUE(open.waitFrames(2));
    EXPECT_EQ(s.texts, std::vector<std::string>{"still here"});
}

// The close ends every conversation and waits for the answers, also for one that comes late,
// but a client that never answers holds it up for the bound only.
TEST(FeedService, CloseWaitsForAnswersWithinItsBound) {
    const struct {
        const char* name;
        bool withSilentClient;
        std::chrono::milliseconds bound;
    } cases[] = {
        // Only a close that goes on waiting once every answer is in runs into the watchdog.
        {"every client answers", false, std::chrono::minutes(2)},
        {"one client never answers", true, std::chrono::seconds(2)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Served s;
        ASSERT_TRUE(s.server.listen());
        Peer answering(s.server.socketPath(), true);
        Peer late(s.server.socketPath(), false);
        Peer silent(s.server.socketPath(), false);
        ASSERT_TRUE(answering.open());
        ASSERT_TRUE(late.open());
        if (c.withSilentClient) {
            ASSERT_TRUE(silent.open());
        }
        // The late client answers only once the test has seen its end frame arrive, which
        // happens while the close waits.
        bool lateAnswered = false;
        QTimer answerLate;
        QObject::connect(&answerLate, &QTimer::timeout, [&] {
            if (!lateAnswered && late.received(FrameType::Terminate)) {
                late.write(feed::encodeFrame(FrameType::Terminate));
                lateAnswered = true;
            }
        });
        answerLate.start(10);
        // A generous bound on the close itself: a close that goes on waiting for what has
        // answered, or past its own bound, runs into it (and the silent client then answers,
        // so that the test ends).
        bool watchdogFired = false;
        QTimer watchdog;
        watchdog.setSingleShot(true);
        QObject::connect(&watchdog, &QTimer::timeout, [&] {
            watchdogFired = true;
            silent.write(feed::encodeFrame(FrameType::Terminate));
        });
        watchdog.start(std::chrono::seconds(60));
        s.server.shutdown(c.bound);
        EXPECT_FALSE(watchdogFired);
        EXPECT_TRUE(lateAnswered) << "the close did not wait for the answers";
        EXPECT_TRUE(answering.received(FrameType::Terminate));
        EXPECT_EQ(s.server.connectionCount(), 0u);
        EXPECT_TRUE(late.waitClosed());
        if (c.withSilentClient) {
            EXPECT_TRUE(silent.waitClosed()) << "the silent client's connection is dropped";
        }
    }
}

// A second display of the same name leaves the first one's socket alone; a socket left
// behind by a display that is gone is replaced.
TEST(FeedService, SecondDisplayDoesNotStealTheSocket) {
    Served first;
    ASSERT_TRUE(first.server.listen());
    Served second;
    EXPECT_FALSE(second.server.listen());
    EXPECT_NE(second.server.error().indexOf("another SKIRO already serves"), -1);
    Peer peer(first.server.socketPath());
    EXPECT_TRUE(peer.open());

    first.server.shutdown(std::chrono::milliseconds(0));
    // A crashed display's socket: bound, never removed.
    const QByteArray path = QFile::encodeName(first.server.socketPath());
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::strncpy(addr.sun_path, path.constData(), sizeof(addr.sun_path) - 1);
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)), 0);
    ::close(fd);
    Served third;
    EXPECT_TRUE(third.server.listen()) << third.server.error().toStdString();
    Peer again(third.server.socketPath());
    EXPECT_TRUE(again.open());
}

// Restores XDG_RUNTIME_DIR when a case is done with its own.
struct RuntimeDir {
    explicit RuntimeDir(const QString& dir) : m_saved(qgetenv("XDG_RUNTIME_DIR")) {
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(dir));
    }
    ~RuntimeDir() { qputenv("XDG_RUNTIME_DIR", m_saved); }
    QByteArray m_saved;
};

TEST(FeedService, RuntimeFolderThatIsNotTheUsersOwnIsRefused) {
    struct Case {
        const char* name;
        std::function<void(const QString& base)> prepare;
        const char* reason;
        bool needsRoot;
    } cases[] = {
        {"service folder is a symbolic link",
         [](const QString& base) {
             QDir(base).mkdir("elsewhere");
             QFile::link(base + "/elsewhere", base + "/skiro");
         },
         "symbolic link", false},
        {"service folder open to others",
         [](const QString& base) {
             QDir(base).mkdir("skiro");
             ::chmod(QFile::encodeName(base + "/skiro").constData(), 0755);
         },
         "open to other users", false},
        {"service folder owned by another user",
         [](const QString& base) {
             QDir(base).mkdir("skiro");
             [[maybe_unused]] int r =
                 ::chown(QFile::encodeName(base + "/skiro").constData(), 65534, 65534);
         },
         "belongs to another user", true},
        {"runtime folder itself a symbolic link",
         [](const QString& base) {
             QDir(base).mkdir("real");
             QFile::link(base + "/real", base + "/link");
         },
         "symbolic link", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.needsRoot && ::geteuid() != 0)
            continue; // only root can give a folder away
        QTemporaryDir top;
        c.prepare(top.path());
        const QString base =
            QFile::exists(top.path() + "/link") ? top.path() + "/link" : top.path();
        RuntimeDir runtime(base);
        Served s;
        EXPECT_FALSE(s.server.listen());
        EXPECT_NE(s.server.error().indexOf(c.reason), -1) << s.server.error().toStdString();
        // A client will not hand text to whatever sits there either.
        EXPECT_FALSE(feedPlace("skiro", false).ok());
    }
}

// Only the user's own programs are served: a peer of another uid is dropped unanswered, even
// where the folder's permissions let it reach the socket.
TEST(FeedService, PeerOfAnotherUserIsDropped) {
    if (::geteuid() != 0)
        GTEST_SKIP() << "running a client under another uid needs root";
    // A runtime folder of this case's own, whose permissions can be loosened.
    QTemporaryDir top;
    ::chmod(QFile::encodeName(top.path()).constData(), 0711);
    RuntimeDir runtime(top.path());
    Served s;
    ASSERT_TRUE(s.server.listen());
    const QByteArray path = QFile::encodeName(s.server.socketPath());
    ::chmod(QFile::encodeName(QFileInfo(s.server.socketPath()).path()).constData(), 0711);
    ::chmod(path.constData(), 0777);

    const pid_t child = ::fork();
    if (child == 0) {
        // Only system calls from here on: the child of a threaded process.
        if (::setgid(65534) != 0 || ::setuid(65534) != 0)
            ::_exit(10);
        const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        std::strncpy(addr.sun_path, path.constData(), sizeof(addr.sun_path) - 1);
        if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) != 0)
            ::_exit(11);
        const std::string open = feed::encodeInitiate("skiro", feed::kTopic);
        [[maybe_unused]] ssize_t w = ::write(fd, open.data(), open.size());
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 3000) != 1)
            ::_exit(12); // neither an answer nor a close
        char byte;
        // Closed (or reset) without an answer.
        ::_exit(::read(fd, &byte, 1) <= 0 ? 0 : 13);
    }
    ASSERT_GT(child, 0);
    int status = -1;
    ASSERT_TRUE(QTest::qWaitFor([&] { return ::waitpid(child, &status, WNOHANG) == child; }, 5000));
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_TRUE(s.texts.empty());
    Peer own(s.server.socketPath());
    EXPECT_TRUE(own.open());
}

TEST(SkiroSend, ExitStatusesAndWhatArrives) {
    struct Case {
        const char* name;
        QStringList args;
        QByteArray input; // standard input; closed after it
        int exitCode;
        std::vector<std::string> texts;
        const char* stderrHas;
    } cases[] = {
        {"each argument one line",
         {"本日は", "晴天なり"},
         {},
         0,
         {sj("本日は") + "\r", sj("晴天なり") + "\r"},
         ""},
        {"standard input line by line", {}, "a\nb\r\n", 0, {"a\r", "b\r"}, ""},
        {"-n leaves the line open", {"-n", "abc"}, {}, 0, {"abc"}, ""},
        {"line breaks inside an argument end lines",
         {"a\nb\r\nc\n"},
         {},
         0,
         {"a\r", "b\r", "c\r"},
         ""},
        {"-n leaves only the last line open", {"-n", "a\nb"}, {}, 0, {"a\r", "b"}, ""},
        {"--raw sends the request as it is",
         {"--raw", "[Send(r)]", "[Other(x)]"},
         {},
         0,
         {"r"},
         ""},
        {"wave dash lands on 81 60", {"〜"}, {}, 0, {"\x81\x60\r"}, ""},
        {"a line command keeps its FS",
         {},
         "\x1C"
         "TCff0000:red\n",
         0,
         {"\x1CTCff0000:red\r"},
         ""},
        {"near characters as Windows gives them",
         {"Café «x»"},
         {},
         0,
         {"Cafe \x81\xE1x\x81\xE2\r"},
         ""},
        {"characters Shift-JIS cannot hold", {"a한b😀"}, {}, 0, {"a?b?\r"}, "2 characters"},
        {"unknown option", {"--loud"}, {}, 2, {}, "unknown option"},
        {"--service without a name", {"--service"}, {}, 2, {}, "needs a NAME"},
        {"no display of that name", {"--service", "viewer", "x"}, {}, 1, {}, "skiro/viewer"},
        {"no display of that name comes within --wait",
         {"--service", "viewer", "--wait=1", "x"},
         {},
         1,
         {},
         "no SKIRO display is running"},
        {"--wait with no number", {"--wait=soon", "x"}, {}, 2, {}, "whole number of seconds"},
        {"input that is not UTF-8 has its own warning",
         {},
         "a\xff\xfe b\n",
         0,
         {"a?? b\r"},
         "2 byte sequences that are not UTF-8"},
        {"a replacement character in the input is a character without Shift-JIS form",
         {"a\xEF\xBF\xBD"
          "b"},
         {},
         0,
         {"a?b\r"},
         "1 character with no Shift-JIS form"},
        {"--help", {"--help"}, {}, 0, {}, ""},
    };
    const QString exe = QCoreApplication::applicationDirPath() + "/skiro-send";
    ASSERT_TRUE(QFileInfo(exe).isExecutable()) << exe.toStdString();
    Served s;
    ASSERT_TRUE(s.server.listen());
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        s.texts.clear();
        QProcess send;
        send.start(exe, c.args);
        ASSERT_TRUE(send.waitForStarted());
        send.write(c.input);
        send.closeWriteChannel();
        ASSERT_TRUE(QTest::qWaitFor([&] { return send.state() == QProcess::NotRunning; }, 10000));
        EXPECT_EQ(send.exitCode(), c.exitCode);
        const QString err = QString::fromUtf8(send.readAllStandardError());
        if (*c.stderrHas) {
            EXPECT_TRUE(err.contains(c.stderrHas)) << err.toStdString();
        }
        EXPECT_EQ(s.texts, c.texts);
    }
    // Shift-JIS bytes of any value on standard input (arguments would go through UTF-8).
    s.texts.clear();
    QProcess send;
    send.start(exe, {"--sjis"});
    send.write(QByteArray::fromStdString(sj("ソ表") + "\n"));
    send.closeWriteChannel();
    ASSERT_TRUE(QTest::qWaitFor([&] { return send.state() == QProcess::NotRunning; }, 10000));
    EXPECT_EQ(send.exitCode(), 0);
    EXPECT_EQ(s.texts, std::vector<std::string>{sj("ソ表") + "\r"});

    // A line of 1 MiB goes in one request, so that no other sender's text can come inside it;
    // a longer one goes in pieces of 1 MiB, each cut between two characters (the limit, 1 MiB
    // and a CR, lies inside a double-byte character).
    struct Long {
        const char* name;
        int characters;
        std::vector<std::size_t> requests; // bytes of each delivered text
    } longLines[] = {
        {"1 MiB and its CR in one request", 524288, {feed::kMaxLine + 1}},
        {"a character more in a second request", 524289, {feed::kMaxLine, 3}},
    };
    for (const Long& c : longLines) {
        SCOPED_TRACE(c.name);
        s.texts.clear();
        const QByteArray line = QString(c.characters, QChar(u'あ')).toUtf8() + "\n";
        QProcess longLine;
        longLine.start(exe, {});
        longLine.write(line);
        longLine.closeWriteChannel();
        ASSERT_TRUE(
            QTest::qWaitFor([&] { return longLine.state() == QProcess::NotRunning; }, 30000));
        EXPECT_EQ(longLine.exitCode(), 0);
        std::vector<std::size_t> sizes;
        std::string joined;
        for (const std::string& t : s.texts) {
            sizes.push_back(t.size());
            joined += t;
            EXPECT_FALSE(fromSjis(t).contains(QChar::ReplacementCharacter));
        }
        EXPECT_EQ(sizes, c.requests);
        EXPECT_EQ(joined, sj(line.chopped(1).constData()) + "\r");
    }
}

QString skiroSend() {
    return QCoreApplication::applicationDirPath() + "/skiro-send";
}

bool finished(QProcess& process, int ms = 30000) {
    return QTest::qWaitFor([&] { return process.state() == QProcess::NotRunning; }, ms);
}

// Whether `process` is in the pause between two looks for a display (a sleep of its main
// thread): it has looked at least once and found none.
bool pausesBetweenLooks(const QProcess& process) {
    QFile wchan(QStringLiteral("/proc/%1/wchan").arg(process.processId()));
    return wchan.open(QIODevice::ReadOnly) && wchan.readAll().contains("nanosleep");
}

// Started before any display: it waits for one and delivers.
TEST(SkiroSend, WaitsForADisplayToStart) {
    QProcess send;
    send.start(skiroSend(), {"--wait", "hello"});
    ASSERT_TRUE(send.waitForStarted());
    // Its first look finds nothing.
    ASSERT_TRUE(QTest::qWaitFor([&] { return pausesBetweenLooks(send); }, 10000));
    Served s;
    ASSERT_TRUE(s.server.listen());
    ASSERT_TRUE(finished(send));
    EXPECT_EQ(send.exitCode(), 0) << send.readAllStandardError().toStdString();
    EXPECT_EQ(s.texts, std::vector<std::string>{"hello\r"});
}

// `tail -f | skiro-send --reconnect` across a restart of the display: what was acknowledged is
// not sent again, what was not goes to the next display, each line exactly once.
TEST(SkiroSend, ReconnectCarriesAStreamAcrossARestartExactlyOnce) {
    for (const bool waitsForTheAnswer : {true, false}) {
        SCOPED_TRACE(waitsForTheAnswer ? "the display waits for the answer to its close"
                                       : "the display closes without waiting for an answer");
        QProcess send;
        std::vector<std::string> before;
        std::vector<std::string> after;
        {
            Served first;
            ASSERT_TRUE(first.server.listen());
            send.start(skiroSend(), {"--reconnect"});
            ASSERT_TRUE(send.waitForStarted());
            send.write("one\ntwo\n");
            ASSERT_TRUE(QTest::qWaitFor([&] { return first.texts.size() == 2; }, 10000));
            first.server.shutdown(std::chrono::milliseconds(waitsForTheAnswer ? 2000 : 0));
            before = first.texts;
        }
        // Lines written while no display runs wait in the sender, which has found the display
        // gone.
        send.write("three\nfour\n");
        QByteArray told;
        ASSERT_TRUE(QTest::qWaitFor(
            [&] {
                told += send.readAllStandardError();
                return told.contains("waiting for it to start again");
            },
            10000))
            << told.toStdString();
        Served second;
        ASSERT_TRUE(second.server.listen());
        send.write("five\n");
        send.closeWriteChannel();
        ASSERT_TRUE(finished(send));
        EXPECT_EQ(send.exitCode(), 0) << send.readAllStandardError().toStdString();
        EXPECT_EQ(before, (std::vector<std::string>{"one\r", "two\r"}));
        EXPECT_EQ(second.texts, (std::vector<std::string>{"three\r", "four\r", "five\r"}));
    }
}

// Other senders keep sending while a line of 1 MiB goes over: none of their text lands inside
// it, and the log holds it as one line.
TEST(SkiroSend, MegabyteLineArrivesWholeAmongOtherSenders) {
    const QString big(524288 - 1, QChar(u'あ'));
    QTemporaryDir folder;
    int sentByOthers = 0;
    {
        CMarelApp app(folder.path(), "skiro");
        ASSERT_TRUE(app.initInstance());
        ASSERT_NE(app.feedServer(), nullptr);
        std::vector<std::unique_ptr<Peer>> others;
        for (int i = 0; i < 3; ++i) {
            others.push_back(std::make_unique<Peer>(app.feedServer()->socketPath()));
            ASSERT_TRUE(others.back()->open());
        }
        QProcess send;
        send.start(skiroSend(), {});
        send.write(big.toUtf8() + "\n");
        send.closeWriteChannel();
        while (send.state() != QProcess::NotRunning || sentByOthers < 30) {
            for (auto& other : others)
                other->execute("[Send(other " + std::to_string(sentByOthers++) + "\r)]");
            QTest::qWait(2);
        }
        EXPECT_EQ(send.exitCode(), 0) << send.readAllStandardError().toStdString();
        for (auto& other : others)
            EXPECT_TRUE(other->waitFrames(1 + sentByOthers / 3));
        app.frame()->close();
    }
    const std::string line = sj(big.toUtf8().constData());
    int whole = 0;
    int short_ = 0;
    for (const std::string& logged : logLines(folder.path())) {
        whole += logged == line;
        short_ += logged.rfind("other ", 0) == 0 && logged.size() < 16;
    }
    EXPECT_EQ(whole, 1);
    EXPECT_EQ(short_, sentByOthers);
}

// The exit status tells a script whether sending again is safe: 1 only when nothing can have
// arrived, 3 when part arrived or may have.
TEST(SkiroSend, ExitStatusSaysWhetherAnythingMayHaveArrived) {
    struct Case {
        const char* name;
        // Runs skiro-send against a display of its making; returns the process.
        std::function<void(QProcess& send)> run;
        int exitCode;
        const char* stderrHas;
    } cases[] = {
        {"the display closes after the first line",
         [](QProcess& send) {
             Served s;
             ASSERT_TRUE(s.server.listen());
             send.start(skiroSend(), {});
             send.write("one\n");
             ASSERT_TRUE(QTest::qWaitFor([&] { return s.texts.size() == 1; }, 10000));
             s.server.shutdown(std::chrono::milliseconds(0));
             send.write("two\n");
             send.closeWriteChannel();
             ASSERT_TRUE(finished(send));
         },
         3, "1 of 2 requests were acknowledged; the rest did not arrive"},
        {"the display reads a request and goes away without answering",
         [](QProcess& send) {
             // A display of the wire format alone that answers the open and nothing else.
             const FeedPlace place = feedPlace("silent", true);
             ASSERT_TRUE(place.ok());
             QLocalServer server;
             ASSERT_TRUE(server.listen(place.socket));
             QLocalSocket* display = nullptr;
             QObject::connect(&server, &QLocalServer::newConnection, [&] {
                 display = server.nextPendingConnection();
                 QObject::connect(display, &QLocalSocket::readyRead, [&] {
                     const QByteArray bytes = display->readAll();
                     if (bytes.startsWith(char(FrameType::Initiate))) {
                         const std::string ack = feed::encodeFrame(
                             FrameType::InitiateAck, std::string("silent\0Command", 14));
                         display->write(ack.data(), static_cast<qint64>(ack.size()));
                     } else {
                         display->abort();
                     }
                 });
             });
             send.start(skiroSend(), {"--service", "silent", "hello"});
             ASSERT_TRUE(finished(send));
         },
         3, "whether the rest arrived is not known"},
        {"the display already serves as many senders as it can",
         [](QProcess& send) {
             Served s;
             ASSERT_TRUE(s.server.listen());
             std::vector<std::unique_ptr<Peer>> crowd;
             for (std::size_t i = 0; i < feed::kMaxConversations; ++i) {
                 crowd.push_back(std::make_unique<Peer>(s.server.socketPath()));
                 ASSERT_TRUE(crowd.back()->open());
             }
             send.start(skiroSend(), {"hello"});
             ASSERT_TRUE(finished(send));
             EXPECT_TRUE(s.texts.empty());
         },
         1, "serves at most 64 senders at once"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QProcess send;
        c.run(send);
        ASSERT_EQ(send.state(), QProcess::NotRunning);
        EXPECT_EQ(send.exitCode(), c.exitCode);
        const QString err = QString::fromUtf8(send.readAllStandardError());
        EXPECT_TRUE(err.contains(c.stderrHas)) << err.toStdString();
    }
}

TEST(SkiroSend, NoDisplayRunningExitsOneNamingTheSocket) {
    QProcess send;
    send.start(QCoreApplication::applicationDirPath() + "/skiro-send", {"hello"});
    ASSERT_TRUE(send.waitForFinished(10000));
    EXPECT_EQ(send.exitCode(), 1);
    const QString err = QString::fromUtf8(send.readAllStandardError());
    EXPECT_TRUE(err.contains("no SKIRO display is running")) << err.toStdString();
    EXPECT_TRUE(err.contains(feedPlace("skiro", false).socket)) << err.toStdString();
}

// Without XDG_RUNTIME_DIR (cron, su, ssh without a session) the per-user fallback is used
// quietly: the one line on standard error is the program's own.
TEST(SkiroSend, NoRuntimeFolderVariableGivesOnlyItsOwnMessage) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove("XDG_RUNTIME_DIR");
    QProcess send;
    send.setProcessEnvironment(env);
    const QString service = QStringLiteral("nobody-%1").arg(::getpid());
    send.start(QCoreApplication::applicationDirPath() + "/skiro-send",
               {"--service", service, "hello"});
    ASSERT_TRUE(send.waitForFinished(10000));
    EXPECT_EQ(send.exitCode(), 1);
    const QString err = QString::fromUtf8(send.readAllStandardError());
    EXPECT_TRUE(err.startsWith("skiro-send: no SKIRO display is running")) << err.toStdString();
    EXPECT_EQ(err.count(QLatin1Char('\n')), 1) << err.toStdString();
}

// 秀Term exists only on Windows: the link fails with its message and the box stays off.
TEST(TermLink, FailsWithItsMessage) {
    QTemporaryDir folder;
    CMarelApp app(folder.path(), "skiro");
    ASSERT_TRUE(app.initInstance());
    QString text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QString caption;
    QTimer::singleShot(0, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box)
            return;
        text = box->text();
        icon = box->icon();
        caption = box->windowTitle();
        box->accept();
    });
    EXPECT_FALSE(app.frame()->linkTerm());
    EXPECT_EQ(text, QString("秀Termが見つからないか通信に失敗しました。"));
    EXPECT_EQ(icon, QMessageBox::Critical);
    EXPECT_EQ(caption, QString("SKIRO"));
    EXPECT_TRUE(app.frame()->unlinkTerm());
    app.frame()->close();
}

} // namespace
