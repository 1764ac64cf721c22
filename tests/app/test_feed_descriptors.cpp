// The "Send" service when the process has no file descriptors left: the service keeps its
// socket and serves every client that waited, once descriptors are free again.
#include <QFileInfo>
#include <QTest>
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <string>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "core/FeedProtocol.h"
#include "feed/FeedServer.h"
#include "feed/PosixFeedListener.h"

using namespace skiro;

namespace {

// A client in a process of its own (so that it has descriptors when this one has none),
// started before this process runs out and waiting for go(): it then opens a conversation,
// sends its request, ends the conversation and reads until the display closes. Only system
// calls between fork and exit.
class ForkedClient {
  public:
    ForkedClient(const std::string& path, const std::string& bytes) {
        int go[2];
        if (::pipe(go) != 0)
            return;
        m_pid = ::fork();
        if (m_pid != 0) {
            ::close(go[0]);
            m_go = go[1];
            return;
        }
        // Nothing of this process's is kept (its listening socket would hold a connection
        // open after the display is gone), and a client that hangs does not outlive the test.
        ::alarm(30);
        if (go[0] > 3)
            ::close_range(3, static_cast<unsigned>(go[0]) - 1, 0);
        ::close_range(static_cast<unsigned>(go[0]) + 1, ~0U, 0);
        char start = 0;
        if (::read(go[0], &start, 1) != 1)
            ::_exit(1);
        const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::memcpy(address.sun_path, path.data(), path.size());
        if (fd < 0 || ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
            ::_exit(2);
        if (::write(fd, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size()))
            ::_exit(3);
        char buffer[256];
        ssize_t got = 0, total = 0;
        while ((got = ::read(fd, buffer, sizeof buffer)) > 0)
            total += got;
        ::_exit(total > 0 ? 0 : 4);
    }
    ~ForkedClient() {
        if (m_go >= 0)
            ::close(m_go);
    }
    void go() {
        const char start = 1;
        EXPECT_EQ(::write(m_go, &start, 1), 1);
    }
    // The client's exit status once it has ended, -1 before.
    int status() {
        int status = 0;
        if (m_status < 0 && m_pid > 0 && ::waitpid(m_pid, &status, WNOHANG) == m_pid)
            m_status = WIFEXITED(status) ? WEXITSTATUS(status) : 128;
        return m_status;
    }

  private:
    pid_t m_pid = -1;
    int m_go = -1;
    int m_status = -1;
};

// Uses up every descriptor the process may open, and gives them back.
class Exhaustion {
  public:
    Exhaustion() {
        ::getrlimit(RLIMIT_NOFILE, &m_saved);
        // A low limit, so that using it up is quick.
        rlimit low = m_saved;
        low.rlim_cur = std::min<rlim_t>(m_saved.rlim_cur, 4096);
        ::setrlimit(RLIMIT_NOFILE, &low);
        for (;;) {
            const int fd = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
            if (fd < 0) {
                m_exhausted = errno == EMFILE;
                break;
            }
            m_held.push_back(fd);
        }
    }
    ~Exhaustion() { release(); }
    void release() {
        for (const int fd : m_held)
            ::close(fd);
        m_held.clear();
        ::setrlimit(RLIMIT_NOFILE, &m_saved);
    }
    bool exhausted() const { return m_exhausted; }

  private:
    rlimit m_saved{};
    bool m_exhausted = false;
    std::vector<int> m_held;
};

} // namespace

TEST(FeedService, RunningOutOfDescriptorsNeverClosesTheService) {
    std::vector<std::string> texts;
    FeedServer server{"skiro-descriptors", [&](std::string_view t) { texts.emplace_back(t); }};
    ASSERT_TRUE(server.listen()) << server.error().toStdString();
    const std::string path = QFile::encodeName(server.socketPath()).toStdString();
    const auto conversation = [](const std::string& text) {
        return feed::encodeInitiate("skiro-descriptors", feed::kTopic) +
               feed::encodeFrame(feed::FrameType::Execute, "[Send(" + text + ")]") +
               feed::encodeFrame(feed::FrameType::Terminate);
    };

    std::vector<std::unique_ptr<ForkedClient>> clients;
    for (const char* text : {"first", "second", "third", "later"})
        clients.push_back(std::make_unique<ForkedClient>(path, conversation(text)));
    {
        Exhaustion exhaustion;
        ASSERT_TRUE(exhaustion.exhausted());
        for (int i = 0; i < 3; ++i)
            clients[i]->go();
        // The display takes them in while it has no descriptor to give them: one gets the
        // descriptor held back, the others wait; the service stays where it is.
        ASSERT_TRUE(QTest::qWaitFor([&] { return !texts.empty(); }, 10000));
        QTest::qWait(3 * PosixFeedListener::kRetryMs);
        EXPECT_TRUE(QFileInfo::exists(server.socketPath()));
    }
    // Descriptors free again: every client that waited is served, and later clients too.
    EXPECT_TRUE(QTest::qWaitFor([&] { return texts.size() == 3; }, 10000)) << texts.size();
    clients[3]->go();
    EXPECT_TRUE(QTest::qWaitFor([&] { return texts.size() == 4; }, 10000)) << texts.size();
    for (const auto& client : clients) {
        EXPECT_TRUE(QTest::qWaitFor([&] { return client->status() >= 0; }, 10000));
        EXPECT_EQ(client->status(), 0);
    }
    std::sort(texts.begin(), texts.end());
    EXPECT_EQ(texts, (std::vector<std::string>{"first", "later", "second", "third"}));
}
