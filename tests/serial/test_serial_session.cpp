#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <gtest/gtest.h>
#include <mutex>
#include <random>
#include <signal.h>
#include <spawn.h>
#include <sstream>
#include <sys/wait.h>
#include <thread>

#include "core/Intake.h"
#include "core/Recorder.h"
#include "core/TextFormat.h"
#include "serial/PosixSerialPort.h"
#include "serial/SerialSession.h"
#include "serial/SystemError.h"
#include "tests/serial/PtyPair.h"

namespace skiro {
namespace {

using namespace std::chrono_literals;
using test::PtyPair;
using test::waitFor;

class FixedClock final : public Clock {
  public:
    LocalTime localTime() const override { return {2026, 3, 4, 5, 6, 7}; }
    std::uint32_t tickCount() const override { return 1000; }
};

class NoWindow final : public IntakeView {
  public:
    Rect clientRect() const override { return {0, 0, 640, 480}; }
    void invalidate(const Rect&, bool) override {}
    void scrollStep(int) override {}
};

// The view and the user-interface thread around a real intake: the watch thread's posts land
// in a queue that the test drains on its own thread, as the event loop would.
class FakeView final : public SessionView {
  public:
    FakeView(Intake& intake) : m_intake(intake) {}

    void attachPort(SerialPort* port, ReadyEvent* readyEvent) override {
        m_intake.setSession(port, readyEvent);
        attached = port != nullptr;
    }
    std::size_t readPort() override {
        const std::size_t count = m_intake.readPort();
        paint();
        return count;
    }
    void endLine() override {
        m_intake.endArrivingLine();
        paint();
    }
    void showFailure(const std::string& message) override { failures.push_back(message); }
    void linkWaiting(bool isWaiting, const std::string& device) override {
        waiting = isWaiting;
        waitingFor = device;
    }
    bool canPost() override { return true; }
    void postDataReady() override {
        post([this] {
            m_intake.onDataReady(false, false);
            paint();
        });
    }
    void postToUi(std::function<void()> task) override { post(std::move(task)); }

    // What waits for the user-interface thread's turn.
    std::size_t posted() {
        std::lock_guard lock(m_mutex);
        return m_queue.size();
    }
    // Runs what has been posted so far; the user-interface thread's turn.
    void pump() {
        for (;;) {
            std::function<void()> task;
            {
                std::lock_guard lock(m_mutex);
                if (m_queue.empty())
                    return;
                task = std::move(m_queue.front());
                m_queue.pop_front();
            }
            task();
        }
    }
    // Pumps until pred holds or the time-out passes.
    template <typename Pred> bool pumpUntil(Pred pred, int timeoutMs = 10000) {
        return waitFor(
            [&] {
                pump();
                return pred();
            },
            timeoutMs);
    }

    bool attached = false;
    std::vector<std::string> failures;
    bool waiting = false;
    std::string waitingFor;

  private:
    // A line is recorded once it is current; painting makes the next one current as soon as
    // the previous one is fully shown, here at once.
    void paint() {
        while (m_intake.lineComplete())
            m_intake.commitLine(0);
    }
    void post(std::function<void()> task) {
        std::lock_guard lock(m_mutex);
        m_queue.push_back(std::move(task));
    }
    Intake& m_intake;
    std::mutex m_mutex;
    std::deque<std::function<void()>> m_queue;
};

const std::string kStart = "2026/03/04 05:06:07 \x83X\x83^\x81[\x83g";
const std::string kStop = "2026/03/04 05:06:07 \x83X\x83g\x83"
                          "b\x83v";
const std::string kLost = "2026/03/04 05:06:07 \x90\xDA\x91\xB1\x90\xD8\x82\xEA"; // 接続切れ
const std::string kBack = "2026/03/04 05:06:07 \x8D\xC4\x90\xDA\x91\xB1";         // 再接続
const std::string kStartFailed =
    "2026/03/04 05:06:07 \x83X\x83^\x81[\x83g\x8E\xB8\x94s"; // スタート失敗

// Another program that holds `device` open: sleep, with the device as its standard input and,
// when given, a pty master of this process as its standard output. It inherits nothing else.
pid_t spawnHolder(const std::string& device, int master = -1) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, device.c_str(), O_RDWR | O_NOCTTY, 0);
    if (master >= 0)
        posix_spawn_file_actions_adddup2(&actions, master, 1);
    posix_spawn_file_actions_addclosefrom_np(&actions, 3);
    char sleep[] = "sleep";
    char seconds[] = "60";
    char* argv[] = {sleep, seconds, nullptr};
    pid_t pid = 0;
    const int failed = posix_spawnp(&pid, "sleep", &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    return failed ? 0 : pid;
}

void endProcess(pid_t pid) {
    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
}

// The pid of a process that has ended.
pid_t deadPid() {
    const pid_t pid = ::fork();
    if (pid == 0)
        ::_exit(0);
    ::waitpid(pid, nullptr, 0);
    return pid;
}

std::string readFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), {});
}

class SerialSessionTest : public ::testing::Test {
  protected:
    SerialSessionTest() {
        char folder[] = "/tmp/skiro-session-XXXXXX";
        m_folder = ::mkdtemp(folder);
        m_recorder.setLogFolder(m_folder + "/");
        mapCom1(m_pty.slavePath);
        m_session.setView(&m_view);
        // Lock files go to a folder of the test's own; /proc is the system's.
        std::filesystem::create_directory(lockFolder());
        m_session.setGuards({{lockFolder()}, "/proc"});
        // The test keeps no slave descriptor of its own beyond PtyPair's, which the session's
        // exclusive open tolerates.
    }
    ~SerialSessionTest() override {
        m_session.stopSession();
        std::filesystem::remove_all(m_folder);
    }

    std::string lockFolder() const { return m_folder + "/lock"; }
    // The UUCP lock file of the pty the session opens.
    std::string lockFile(const PtyPair& pty) const {
        return lockFolder() + "/" + lockFileName(pty.slavePath);
    }
    std::string ownLock() const {
        char line[32];
        std::snprintf(line, sizeof line, "%10ld\n", static_cast<long>(::getpid()));
        return line;
    }

    void mapCom1(const std::string& path) {
        m_profile = Profile::fromBytes("[Serial]\r\nCOM1=" + path + "\r\n");
    }

    // The log as lines, without their CR LF.
    std::vector<std::string> logLines() const {
        std::ifstream file(m_recorder.logPath(m_clock.localTime()), std::ios::binary);
        std::vector<std::string> lines;
        std::string line;
        while (std::getline(file, line)) {
            if (!line.empty() && line.back() == '\r')
                line.pop_back();
            lines.push_back(line);
        }
        return lines;
    }

    // Writes the lines at the far end (the fixture's pty unless told) in pieces of random
    // length, CR LF after each.
    void sendInPieces(const std::vector<std::string>& lines, unsigned seed,
                      const PtyPair* to = nullptr) {
        const PtyPair& far = to ? *to : m_pty;
        std::string stream;
        for (const auto& line : lines)
            stream += line + "\r\n";
        std::mt19937 random(seed);
        for (std::size_t at = 0; at < stream.size();) {
            const std::size_t piece = std::uniform_int_distribution<std::size_t>(1, 300)(random);
            far.send(std::string_view(stream).substr(at, piece));
            at += piece;
            m_view.pump();
        }
    }

    static std::vector<std::string> numberedLines(int count) {
        std::vector<std::string> lines;
        for (int i = 0; i < count; ++i)
            lines.push_back(std::to_string(i) + ":\x95\x5C\x8E\xA6\x83\x5C\x93\xFA\x96\x7B");
        return lines;
    }

    PtyPair m_pty;
    std::string m_folder;
    Settings m_settings;
    FixedClock m_clock;
    StringTable m_strings;
    Recorder m_recorder{m_settings, m_clock, m_strings, ""};
    ViewState m_state;
    NoWindow m_window;
    Intake m_intake{m_settings, m_clock, m_strings, m_recorder, m_state, m_window};
    FakeView m_view{m_intake};
    Profile m_profile;
    SerialSession m_session{m_settings, m_profile, m_strings, m_recorder};
};

TEST_F(SerialSessionTest, LinesInRandomPiecesReachTheLogInOrderBetweenTheStamps) {
    ASSERT_TRUE(m_pty.ok());
    ASSERT_TRUE(m_session.startSession());
    EXPECT_TRUE(m_session.isOpen());
    EXPECT_TRUE(m_view.attached);

    const auto lines = numberedLines(500);
    sendInPieces(lines, 7);
    ASSERT_TRUE(m_view.pumpUntil([&] { return logLines().size() == lines.size() + 1; }));

    m_session.stopSession();
    EXPECT_FALSE(m_session.isOpen());
    EXPECT_FALSE(m_view.attached);
    std::vector<std::string> expected{kStart};
    expected.insert(expected.end(), lines.begin(), lines.end());
    expected.push_back(kStop);
    EXPECT_EQ(logLines(), expected);
    EXPECT_TRUE(m_view.failures.empty());
}

TEST_F(SerialSessionTest, StartWhileOpenAndStopWhileClosedDoNothing) {
    m_session.stopSession();
    EXPECT_TRUE(logLines().empty()) << "no stop stamp without a session";

    ASSERT_TRUE(m_session.startSession());
    EXPECT_TRUE(m_session.startSession());
    m_session.stopSession();
    m_session.stopSession();
    EXPECT_EQ(logLines(), (std::vector<std::string>{kStart, kStop}));

    // A later Start opens the port again.
    ASSERT_TRUE(m_session.startSession());
    m_session.stopSession();
    EXPECT_EQ(logLines().size(), 4u);
}

TEST_F(SerialSessionTest, ADeviceThatCannotBeOpenedIsReportedOnceAndLeavesTheSessionClosed) {
    const std::string openFailed = m_strings.text(IDS_OPEN_FAILED);
    const std::string regularFile = m_folder + "/not-a-port";
    std::ofstream(regularFile) << "x";
    struct Case {
        const char* name;
        std::function<std::string()> mapPort; // maps COM1, returns what to undo afterwards
        std::string message;
    };
    PosixSerialPort holder({{lockFolder()}, "/proc"});
    // Each message: the failure's own text, the device, and the system's explanation.
    const Case cases[] = {
        {"no such device", [&] { return std::string("/nonexistent/ttyUSB9"); },
         openFailed + m_strings.text(IDS_NO_DEVICE) + "\n/nonexistent/ttyUSB9\n" +
             systemErrorText(ENOENT)},
        {"a COM number the machine does not have",
         [&] {
             m_settings.ComPort = 999; // COM1000: no key, and no machine has that many
             return std::string();
         },
         openFailed + m_strings.text(IDS_NO_DEVICE) + "\nCOM1000\n" + systemErrorText(ENOENT)},
        {"a file that is no serial port", [&] { return regularFile; },
         openFailed + "\x83\x47\x83\x89\x81\x5B\x83\x52\x81\x5B\x83\x68:25\n" + regularFile + "\n" +
             m_strings.text(IDS_NOT_A_SERIAL_PORT)},
        // Every process holds /dev/null; none of them is to blame.
        {"a device that is no terminal, held by another program",
         [&] { return std::string("/dev/null"); },
         openFailed + "\x83\x47\x83\x89\x81\x5B\x83\x52\x81\x5B\x83\x68:25\n/dev/null\n" +
             m_strings.text(IDS_NOT_A_SERIAL_PORT)},
        {"the device held by another session of this program",
         [&] {
             EXPECT_TRUE(holder.open(m_pty.slavePath, m_settings.Dcb).ok());
             return m_pty.slavePath;
         },
         openFailed + m_strings.text(IDS_ACCESS_DENIED) + "\n" + m_pty.slavePath + "\n" +
             systemErrorText(EBUSY)},
    };
    const pid_t nullHolder = spawnHolder("/dev/null");
    ASSERT_GT(nullHolder, 0);
    // Each failure on one line of the log, for the operator who looks back later.
    std::vector<std::string> logged;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        m_settings.ComPort = 0;
        m_view.failures.clear();
        const std::string path = c.mapPort();
        if (!path.empty())
            mapCom1(path);
        EXPECT_FALSE(m_session.startSession());
        EXPECT_FALSE(m_session.isRunning());
        EXPECT_FALSE(m_view.attached);
        EXPECT_EQ(m_view.failures, std::vector<std::string>{c.message});
        std::string line = c.message;
        std::replace(line.begin(), line.end(), '\n', ' ');
        logged.push_back(kStartFailed + " " + line);
        EXPECT_EQ(logLines(), logged);
    }
    endProcess(nullHolder);

    // Once the device is free again, Start works.
    holder.close();
    m_settings.ComPort = 0;
    mapCom1(m_pty.slavePath);
    EXPECT_TRUE(m_session.startSession());
    logged.push_back(kStart);
    EXPECT_EQ(logLines(), logged);
}

// The device in use by another program, seen by its descriptor or by its lock file: Start is
// refused with the program's name and pid, and works once the program has gone.
TEST_F(SerialSessionTest, ASecondReaderIsRefusedAndNamed) {
    ASSERT_TRUE(m_pty.ok());
    const std::string refused = m_strings.text(IDS_OPEN_FAILED) +
                                m_strings.text(IDS_ACCESS_DENIED) + "\n" + m_pty.slavePath;
    const struct {
        const char* name;
        bool viaLockFile;
    } cases[] = {{"it holds the device open", false}, {"its lock file names it", true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        m_view.failures.clear();
        // The lock-file case needs a live process that does not hold the device itself.
        const pid_t other = spawnHolder(c.viaLockFile ? "/dev/null" : m_pty.slavePath);
        ASSERT_GT(other, 0);
        if (c.viaLockFile) {
            char line[32];
            std::snprintf(line, sizeof line, "%10ld\n", static_cast<long>(other));
            std::ofstream(lockFile(m_pty)) << line;
        }
        // The child has its device open once /proc shows its program as sleep.
        ASSERT_TRUE(waitFor([&] { return programName(other) == "sleep"; }));
        EXPECT_FALSE(m_session.startSession());
        EXPECT_FALSE(m_session.isRunning());
        const std::string holderLine =
            "\x8Eg\x97p\x92\x86\x82\xCC\x83v\x83\x8D\x83O\x83\x89\x83\x80: sleep (PID " +
            std::to_string(other) + ")";
        EXPECT_EQ(m_view.failures, std::vector<std::string>{refused + "\n" + holderLine + "\n" +
                                                            systemErrorText(EBUSY)});
        endProcess(other);

        // Its lock file left behind names a dead process now, and is cleared away.
        EXPECT_TRUE(m_session.startSession());
        EXPECT_EQ(readFile(lockFile(m_pty)), ownLock());
        m_session.stopSession();
        EXPECT_FALSE(std::filesystem::exists(lockFile(m_pty)));
    }
}

// socat and the like keep a pty's slave open beside its master so that the line stays up: the
// program at the far end of the line is no second reader, another pty's far end is.
TEST_F(SerialSessionTest, TheFarEndOfAPseudoTerminalIsNoSecondReader) {
    ASSERT_TRUE(m_pty.ok());
    PtyPair other;
    ASSERT_TRUE(other.ok());
    for (const bool ownMaster : {true, false}) {
        SCOPED_TRACE(ownMaster ? "the master of this pty" : "the master of another pty");
        m_view.failures.clear();
        const pid_t far = spawnHolder(m_pty.slavePath, ownMaster ? m_pty.master : other.master);
        ASSERT_GT(far, 0);
        ASSERT_TRUE(waitFor([&] { return programName(far) == "sleep"; }));
        EXPECT_EQ(m_session.startSession(), ownMaster);
        EXPECT_EQ(m_view.failures.size(), ownMaster ? 0u : 1u);
        m_session.stopSession();
        endProcess(far);
    }
}

TEST_F(SerialSessionTest, ALockFileOfAProcessThatHasEndedIsRemoved) {
    char line[32];
    std::snprintf(line, sizeof line, "%10ld\n", static_cast<long>(deadPid()));
    std::ofstream(lockFile(m_pty)) << line;
    ASSERT_TRUE(m_session.startSession());
    EXPECT_EQ(readFile(lockFile(m_pty)), ownLock()) << "the port's own lock in its place";
    // A hang-up releases it too.
    m_settings.Reconnect = 0;
    m_pty.closeMaster();
    ASSERT_TRUE(m_view.pumpUntil([&] { return !m_session.isRunning(); }));
    EXPECT_FALSE(std::filesystem::exists(lockFile(m_pty)));
}

TEST_F(SerialSessionTest, HangUpEndsTheSessionOnceWithEveryLineLogged) {
    m_settings.Reconnect = 0;
    ASSERT_TRUE(m_session.startSession());
    const auto lines = numberedLines(300);
    sendInPieces(lines, 11);
    // A pty's hang-up discards what the near end has not read yet, so the far end hangs up
    // only once everything has arrived; an adapter pulled mid-line loses the rest of it anyway.
    ASSERT_TRUE(m_view.pumpUntil([&] { return logLines().size() == lines.size() + 1; }));
    m_pty.send("partial line");
    ASSERT_TRUE(m_view.pumpUntil([&] { return m_intake.backlog().size() > 0; }));
    m_pty.closeMaster();

    ASSERT_TRUE(m_view.pumpUntil([&] { return !m_session.isOpen(); }));
    std::this_thread::sleep_for(100ms);
    m_view.pump();
    EXPECT_FALSE(m_session.isRunning());
    EXPECT_FALSE(m_view.waiting);
    // One message: the loss, then the code of the failed read (EIO or ENODEV on a pty), then
    // the device and the system's explanation of the code.
    ASSERT_EQ(m_view.failures.size(), 1u);
    const std::string& codeFormat = m_strings.text(IDS_ERROR_CODE);
    const std::string lossText = m_strings.text(IDS_DEVICE_LOST);
    const std::string device = "\n" + m_pty.slavePath + "\n";
    bool matched = false;
    for (int code : {EIO, ENODEV, ENXIO})
        matched = matched || m_view.failures[0] == lossText + formatNumbers(codeFormat, {code}) +
                                                       device + systemErrorText(code);
    EXPECT_TRUE(matched) << m_view.failures[0];
    EXPECT_FALSE(m_view.attached);
    // The line the loss cut is logged as far as it came.
    const auto logged = logLines();
    ASSERT_EQ(logged.size(), lines.size() + 3);
    EXPECT_EQ(logged.front(), kStart);
    EXPECT_TRUE(std::equal(lines.begin(), lines.end(), logged.begin() + 1));
    EXPECT_EQ(logged[lines.size() + 1], "partial line");
    EXPECT_EQ(logged.back(), kStop);

    // Stop after the loss finds the session closed: no second stamp.
    m_session.stopSession();
    EXPECT_EQ(logLines().size(), lines.size() + 3);
}

// The far end is torn down and made again under the same link name, as an adapter pulled and
// plugged in again comes back under the same by-id name: no box, the session waits, opens the
// device again by itself, and every line arrives once and in order. A line cut by the loss
// ends there: the text after the return starts a line of its own.
TEST_F(SerialSessionTest, UnplugAndReturnGoesOnWithNothingLostOrDoubled) {
    const std::string link = m_folder + "/ttyLINK";
    auto pointLink = [&](const std::string& device) {
        // Made beside and renamed into place, as udev replaces its links.
        const std::string made = link + ".new";
        std::filesystem::remove(made);
        std::filesystem::create_symlink(device, made);
        std::filesystem::rename(made, link);
    };
    auto first = std::make_unique<PtyPair>();
    pointLink(first->slavePath);
    mapCom1(link);
    ASSERT_TRUE(m_session.startSession());

    const auto lines = numberedLines(40);
    const std::vector<std::string> before(lines.begin(), lines.begin() + 20);
    const std::vector<std::string> after(lines.begin() + 20, lines.end());
    sendInPieces(before, 3, first.get());
    first->send("cut ");
    ASSERT_TRUE(m_view.pumpUntil(
        [&] { return logLines().size() == before.size() + 1 && m_intake.backlog().size() > 0; }));

    first->closeMaster();
    ASSERT_TRUE(m_view.pumpUntil([&] { return m_session.isWaiting(); }));
    EXPECT_TRUE(m_session.isRunning());
    EXPECT_TRUE(m_view.waiting);
    EXPECT_EQ(m_view.waitingFor, link);
    EXPECT_FALSE(std::filesystem::exists(lockFile(*first))) << "released while away";
    first.reset();

    auto second = std::make_unique<PtyPair>();
    pointLink(second->slavePath);
    ASSERT_TRUE(m_view.pumpUntil([&] { return m_session.isOpen(); }));
    EXPECT_FALSE(m_view.waiting);
    EXPECT_TRUE(m_view.failures.empty()) << "no box over the captions";

    second->send("short\r\n");
    sendInPieces(after, 5, second.get());
    ASSERT_TRUE(m_view.pumpUntil([&] { return logLines().size() == lines.size() + 5; }));
    m_session.stopSession();

    std::vector<std::string> expected{kStart};
    expected.insert(expected.end(), before.begin(), before.end());
    expected.push_back("cut ");
    expected.push_back(kLost);
    expected.push_back(kBack);
    expected.push_back("short");
    expected.insert(expected.end(), after.begin(), after.end());
    expected.push_back(kStop);
    EXPECT_EQ(logLines(), expected);
}

// Stop while the session waits for its device ends the wait: the stop stamp, the view told,
// and no port opened when the device comes back afterwards.
TEST_F(SerialSessionTest, StopWhileWaitingEndsTheWait) {
    ASSERT_TRUE(m_session.startSession());
    m_pty.closeMaster();
    ASSERT_TRUE(m_view.pumpUntil([&] { return m_session.isWaiting(); }));
    m_session.stopSession();
    EXPECT_FALSE(m_session.isRunning());
    EXPECT_FALSE(m_view.waiting);
    EXPECT_EQ(logLines(), (std::vector<std::string>{kStart, kLost, kStop}));
}

TEST_F(SerialSessionTest, ALossReportedForAnEarlierSessionDoesNotEndTheNextOne) {
    ASSERT_TRUE(m_session.startSession());
    const std::size_t postedBefore = m_view.posted();
    m_pty.closeMaster();
    // The loss is posted but not yet handled when the user chooses Stop and Start again on
    // another device.
    ASSERT_TRUE(waitFor([&] { return m_view.posted() > postedBefore; }));
    m_session.stopSession();
    PtyPair other;
    mapCom1(other.slavePath);
    ASSERT_TRUE(m_session.startSession());
    m_view.pump();
    EXPECT_TRUE(m_session.isOpen());
    EXPECT_TRUE(m_view.failures.empty());
}

TEST_F(SerialSessionTest, StopWhileDataFlowsEndsAtOnce) {
    ASSERT_TRUE(m_session.startSession());
    std::atomic<bool> sending{true};
    std::thread farEnd([&] {
        const std::string line = "\x8E\x9A\x96\x8B\x82\xCC\x8D\x73\r\n";
        while (sending) {
            pollfd p{m_pty.master, POLLOUT, 0};
            if (::poll(&p, 1, 10) > 0)
                (void)!::write(m_pty.master, line.data(), line.size());
        }
    });
    m_view.pumpUntil([&] { return logLines().size() > 20; });
    // Stop ends while the far end is still writing: it does not wait for the line to fall
    // quiet. That it wakes the watch thread rather than waiting for it is checked on the
    // thread itself; how long it takes is the session cycler's session_stop_max.
    auto stopping = std::async(std::launch::async, [&] { m_session.stopSession(); });
    const bool endedWhileSending = stopping.wait_for(10s) == std::future_status::ready;
    sending = false;
    farEnd.join();
    stopping.get();
    EXPECT_TRUE(endedWhileSending);
    EXPECT_FALSE(m_session.isOpen());
    // A notification that slipped in before Stop finds the port gone and reads nothing.
    m_view.pump();
    EXPECT_EQ(logLines().back(), kStop);
}

TEST_F(SerialSessionTest, EchoBackReachesTheFarEndWithOrWithoutLineFeeds) {
    struct Case {
        const char* name;
        int txCrConv;
        std::string echoed;
    };
    const Case cases[] = {
        {"CR followed by LF", 1, "\x93\xFA\x96\x7B\r\nab\r\n"},
        {"CR alone", 0, "\x93\xFA\x96\x7B\rab\r"},
    };
    m_settings.EchoBack = 1;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        m_settings.TxCrConv = c.txCrConv;
        ASSERT_TRUE(m_session.startSession());
        m_pty.send("\x93\xFA\x96\x7B\r\nab\r\n");
        std::string echoed;
        m_view.pumpUntil([&] {
            echoed += m_pty.receive(c.echoed.size() - echoed.size(), 5);
            return echoed.size() >= c.echoed.size();
        });
        EXPECT_EQ(echoed, c.echoed);
        EXPECT_EQ(m_intake.takeEchoFailure(), std::nullopt);
        m_session.stopSession();
    }
}

TEST_F(SerialSessionTest, StartTakesThePortMappingFromTheFileAsItIsThen) {
    ASSERT_TRUE(m_pty.ok());
    const std::string ini = m_folder + "/skiro.ini";
    std::ofstream(ini, std::ios::binary) << "[Serial]\r\nCOM1=" << m_folder << "/gone\r\n";
    m_profile = Profile::load(ini);
    EXPECT_FALSE(m_session.startSession());

    // The user maps the port in the file while the program runs.
    std::ofstream(ini, std::ios::binary) << "[Serial]\r\nCOM1=" << m_pty.slavePath << "\r\n";
    EXPECT_TRUE(m_session.startSession());
    EXPECT_TRUE(m_session.isOpen());
}

} // namespace
} // namespace skiro
