#include <atomic>
#include <chrono>
#include <condition_variable>
#include <future>
#include <gtest/gtest.h>
#include <mutex>
#include <random>
#include <thread>

#include "serial/PosixReadyEvent.h"
#include "serial/PosixSerialPort.h"
#include "serial/WatchThread.h"
#include "tests/serial/PtyPair.h"

namespace skiro {
namespace {

using namespace std::chrono_literals;
using test::PtyPair;
using test::waitFor;

// The ready event of the handshake, counting the thread's waits for the view: those begun and
// those that ran out, so that a test can tell a thread that Stop woke from one that waited.
class CountedReadyEvent final : public ReadyEvent {
  public:
    void set() override { m_event.set(); }
    void reset() override { m_event.reset(); }
    bool wait(int timeoutMs) override {
        ++begun;
        const bool set = m_event.wait(timeoutMs);
        if (!set)
            ++ranOut;
        return set;
    }
    bool isSet() const { return m_event.isSet(); }

    std::atomic<int> begun{0};
    std::atomic<int> ranOut{0};

  private:
    PosixReadyEvent m_event;
};

// The view's side of the handshake: data-ready notifications land in its queue; handling one
// reads the port (at most 4096 bytes, as the view does) and sets the ready event. In automatic
// mode a thread of its own handles them as a user-interface thread would.
class FakeView {
  public:
    FakeView(PosixSerialPort& port, ReadyEvent& ready) : m_port(port), m_ready(ready) {}
    ~FakeView() { stopHandling(); }

    WatchCallbacks callbacks() {
        return {[this] {
                    ++canPostCalls;
                    std::lock_guard lock(m_mutex);
                    return !busy && m_queued == 0;
                },
                [this] {
                    ++posts;
                    {
                        std::lock_guard lock(m_mutex);
                        ++m_queued;
                    }
                    m_wake.notify_all();
                },
                [this] { ++lost; },
                {}};
    }

    void handleOne() {
        {
            std::lock_guard lock(m_mutex);
            if (m_queued > 0)
                --m_queued;
        }
        char buf[4096];
        IoResult r = m_port.read(buf, sizeof buf);
        {
            std::lock_guard lock(m_mutex);
            m_received.append(buf, r.count);
        }
        m_ready.set();
    }

    void handleAutomatically() {
        m_handler = std::thread([this] {
            std::unique_lock lock(m_mutex);
            while (!m_stop) {
                m_wake.wait(lock, [this] { return m_stop || m_queued > 0; });
                if (m_stop)
                    break;
                lock.unlock();
                handleOne();
                lock.lock();
            }
        });
    }

    void stopHandling() {
        {
            std::lock_guard lock(m_mutex);
            m_stop = true;
        }
        m_wake.notify_all();
        if (m_handler.joinable())
            m_handler.join();
    }

    std::string received() {
        std::lock_guard lock(m_mutex);
        return m_received;
    }

    std::atomic<int> posts{0};
    std::atomic<int> lost{0};
    std::atomic<int> canPostCalls{0};
    std::atomic<bool> busy{false};

  private:
    PosixSerialPort& m_port;
    ReadyEvent& m_ready;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    int m_queued = 0;
    bool m_stop = false;
    std::string m_received;
    std::thread m_handler;
};

class WatchThreadTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(m_pty.ok());
        Dcb dcb;
        dcb.BaudRate = 9600;
        ASSERT_TRUE(m_port.open(m_pty.slavePath, dcb).ok());
    }

    PtyPair m_pty;
    PosixSerialPort m_port;
    CountedReadyEvent m_ready;
    FakeView m_view{m_port, m_ready};
};

TEST_F(WatchThreadTest, OneNotificationOutstandingUntilTheViewHasHandledIt) {
    WatchThread watch(m_port.fd(), m_ready, m_view.callbacks());
    ASSERT_TRUE(watch.start());

    m_pty.send("a\r");
    ASSERT_TRUE(waitFor([&] { return m_view.posts == 1; }));
    EXPECT_FALSE(m_ready.isSet());

    // More text while the view has not handled the first notification: no second post, not
    // even after the thread's wait for the view has run out.
    m_pty.send("b\r");
    ASSERT_TRUE(waitFor([&] { return m_ready.ranOut > 0; }));
    EXPECT_EQ(m_view.posts, 1);

    m_view.handleOne();
    EXPECT_EQ(m_view.received(), "a\rb\r");
    // Everything was read with that notification: nothing more is posted for it.
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(m_view.posts, 1);

    m_pty.send("c\r");
    ASSERT_TRUE(waitFor([&] { return m_view.posts == 2; }));
    m_view.handleOne();
    EXPECT_EQ(m_view.received(), "a\rb\rc\r");
    EXPECT_EQ(m_view.lost, 0);
}

TEST_F(WatchThreadTest, BusyViewGetsNothingAndTheThreadStaysIdleUntilItIsFree) {
    m_view.busy = true;
    WatchThread watch(m_port.fd(), m_ready, m_view.callbacks());
    m_view.handleAutomatically();
    ASSERT_TRUE(watch.start());

    m_pty.send("waiting\r");
    const auto before = std::chrono::steady_clock::now();
    std::this_thread::sleep_for(500ms);
    EXPECT_EQ(m_view.posts, 0);
    // Unread data keeps poll() ready; asking once per pause is idle, a spin asks millions. A
    // busy machine may sleep longer than asked, so the pauses are counted over the real time.
    const auto waited = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now() - before);
    EXPECT_LT(m_view.canPostCalls, waited.count() / WatchThread::kRetryMs + 5);

    m_view.busy = false;
    ASSERT_TRUE(waitFor([&] { return m_view.received() == "waiting\r"; }));
}

TEST_F(WatchThreadTest, StopReturnsAtOnceWhileTheFarEndKeepsWriting) {
    WatchThread watch(m_port.fd(), m_ready, m_view.callbacks());
    m_view.handleAutomatically();
    ASSERT_TRUE(watch.start());

    std::atomic<bool> sending{true};
    std::thread sender([&] {
        while (sending) {
            m_pty.send("\x96\x7B\x93\xFA\r\n");
            std::this_thread::sleep_for(1ms);
        }
    });
    ASSERT_TRUE(waitFor([&] { return m_view.posts > 10; }));

    // Stop ends while the far end is still writing: it does not wait for the line to fall
    // quiet. (How long it takes is the session cycler's session_stop_max.)
    auto stopping = std::async(std::launch::async, [&] { watch.stop(); });
    const bool endedWhileSending = stopping.wait_for(10s) == std::future_status::ready;
    sending = false;
    sender.join();
    stopping.get();
    EXPECT_TRUE(endedWhileSending);
    EXPECT_FALSE(watch.running());
}

TEST_F(WatchThreadTest, StopReturnsAtOnceWhileWaitingForAViewThatNeverAnswers) {
    WatchThread watch(m_port.fd(), m_ready, m_view.callbacks());
    ASSERT_TRUE(watch.start());
    m_pty.send("x");
    ASSERT_TRUE(waitFor([&] { return m_view.posts == 1; }));
    m_pty.send("y"); // the thread now waits for the ready event

    // Its first wait found the event set (before "x" was posted); the second is for "y".
    ASSERT_TRUE(waitFor([&] { return m_ready.begun == 2; }));
    const int ranOutBefore = m_ready.ranOut;
    watch.stop();
    // Stop woke the thread: its wait for the view ended by the event, not by running out.
    EXPECT_EQ(m_ready.ranOut, ranOutBefore);
    EXPECT_EQ(m_view.posts, 1) << "nothing is posted once Stop has begun";
}

TEST_F(WatchThreadTest, HangUpReportsTheDeviceLostOnceAfterEveryLineWasRead) {
    WatchThread watch(m_port.fd(), m_ready, m_view.callbacks());
    m_view.handleAutomatically();
    ASSERT_TRUE(watch.start());

    std::string stream;
    for (int i = 0; i < 2000; ++i)
        stream += std::to_string(i) + ":\x95\x5C\x8E\xA6\x83\x5C\r\n";
    std::mt19937 random(3);
    for (std::size_t at = 0; at < stream.size();) {
        std::size_t piece = std::uniform_int_distribution<std::size_t>(1, 700)(random);
        m_pty.send(std::string_view(stream).substr(at, piece));
        at += piece;
    }
    ASSERT_TRUE(waitFor([&] { return m_view.received().size() >= stream.size(); }));
    EXPECT_EQ(m_view.received(), stream);

    m_pty.closeMaster();
    ASSERT_TRUE(waitFor([&] { return m_view.lost == 1; }));
    ASSERT_TRUE(waitFor([&] { return !watch.running(); }));
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(m_view.lost, 1);
    watch.stop(); // the session's Stop after the loss: returns at once
}

TEST_F(WatchThreadTest, HangUpWhileTheViewIsBusyIsStillReported) {
    m_view.busy = true;
    WatchThread watch(m_port.fd(), m_ready, m_view.callbacks());
    ASSERT_TRUE(watch.start());
    m_pty.send("unread");
    std::this_thread::sleep_for(100ms);
    m_pty.closeMaster();
    ASSERT_TRUE(waitFor([&] { return !watch.running(); }));
    EXPECT_EQ(m_view.lost, 1);
    EXPECT_EQ(m_view.posts, 0);
}

} // namespace
} // namespace skiro
