// The serial link pulled and plugged in again: a pty pair torn down and made again under the
// same link name (as an adapter comes back under its by-id name), with the session waiting for
// it. Prints how long after the device's return its first line is shown (reconnect_s), how
// long the loss takes to be noticed, and the processor time the program takes while it waits,
// beside the time it takes at rest with the port open and nothing arriving.
#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <filesystem>
#include <functional>
#include <mutex>
#include <pty.h>
#include <string>
#include <sys/resource.h>
#include <termios.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "core/Intake.h"
#include "core/Recorder.h"
#include "serial/PortLock.h"
#include "serial/SerialSession.h"

using namespace skiro;
using SteadyClock = std::chrono::steady_clock;

namespace {

constexpr int kRounds = 20;
constexpr auto kIdleWindow = std::chrono::seconds(3);

double cpuSeconds() {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

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

// The user-interface thread as an event loop: it sleeps until something is posted.
class LoopView final : public SessionView {
  public:
    explicit LoopView(Intake& intake) : m_intake(intake) {}
    void attachPort(SerialPort* port, ReadyEvent* ready) override {
        m_intake.setSession(port, ready);
    }
    std::size_t readPort() override {
        const std::size_t n = m_intake.readPort();
        paint();
        return n;
    }
    void endLine() override {
        m_intake.endArrivingLine();
        paint();
    }
    void showFailure(const std::string& message) override {
        std::fprintf(stderr, "failure shown: %zu bytes\n", message.size());
    }
    void linkWaiting(bool, const std::string&) override {}
    bool canPost() override { return true; }
    void postDataReady() override {
        post([this] {
            m_intake.onDataReady(false, false);
            paint();
        });
    }
    void postToUi(std::function<void()> task) override { post(std::move(task)); }

    // Runs posted tasks until `done` holds, sleeping between them; false after `limit`.
    bool runUntil(const std::function<bool()>& done,
                  std::chrono::milliseconds limit = std::chrono::milliseconds(10000)) {
        const auto end = SteadyClock::now() + limit;
        std::unique_lock lock(m_mutex);
        while (!done()) {
            if (m_queue.empty() &&
                !m_posted.wait_until(lock, end, [&] { return !m_queue.empty(); }))
                return done();
            auto task = std::move(m_queue.front());
            m_queue.pop_front();
            lock.unlock();
            task();
            lock.lock();
        }
        return true;
    }
    // Sleeps for `span`, running whatever is posted meanwhile.
    void idle(std::chrono::milliseconds span) {
        const auto end = SteadyClock::now() + span;
        runUntil([&] { return SteadyClock::now() >= end; }, span + std::chrono::seconds(1));
    }
    std::uint64_t committed = 0;

  private:
    void paint() {
        while (m_intake.lineComplete()) {
            m_intake.commitLine(0);
            ++committed;
        }
    }
    void post(std::function<void()> task) {
        {
            std::lock_guard lock(m_mutex);
            m_queue.push_back(std::move(task));
        }
        m_posted.notify_one();
    }
    Intake& m_intake;
    std::mutex m_mutex;
    std::condition_variable m_posted;
    std::deque<std::function<void()>> m_queue;
};

// The far end: a pty whose slave only the program opens, in raw mode as an adapter's line is.
struct Far {
    int master = -1;
    std::string slave;
    Far() {
        int s = -1;
        char name[256] = {};
        termios raw{};
        ::cfmakeraw(&raw);
        if (::openpty(&master, &s, name, &raw, nullptr) == 0) {
            slave = name;
            ::close(s);
        }
    }
    ~Far() {
        if (master >= 0)
            ::close(master);
    }
    void send(const std::string& bytes) const {
        (void)!::write(master, bytes.data(), bytes.size());
    }
};

void pointLink(const std::string& link, const std::string& device) {
    const std::string made = link + ".new";
    std::filesystem::remove(made);
    std::filesystem::create_symlink(device, made);
    std::filesystem::rename(made, link);
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

} // namespace

int main() {
    char pattern[] = "/tmp/skiro-reconnect-XXXXXX";
    const std::string folder = ::mkdtemp(pattern);
    const std::string link = folder + "/ttyLINK";
    std::filesystem::create_directory(folder + "/lock");

    Settings settings;
    settings.Log = 0;
    FixedClock clock;
    StringTable strings;
    Recorder recorder(settings, clock, strings, folder + "/");
    ViewState state;
    NoWindow window;
    Intake intake(settings, clock, strings, recorder, state, window);
    LoopView view(intake);
    Profile profile = Profile::fromBytes("[Serial]\r\nCOM1=" + link + "\r\n");
    SerialSession session(settings, profile, strings, recorder);
    session.setView(&view);
    session.setGuards({{folder + "/lock"}, "/proc"});

    auto far = std::make_unique<Far>();
    pointLink(link, far->slave);
    if (!session.startSession()) {
        std::fprintf(stderr, "the session did not start\n");
        return 1;
    }

    // At rest: the port open, nothing arriving.
    double before = cpuSeconds();
    view.idle(std::chrono::duration_cast<std::chrono::milliseconds>(kIdleWindow));
    const double restCpu =
        (cpuSeconds() - before) / std::chrono::duration<double>(kIdleWindow).count();

    std::vector<double> reconnect;
    std::vector<double> noticed;
    std::vector<double> waitingCpu;
    for (int round = 0; round < kRounds; ++round) {
        const auto pulled = SteadyClock::now();
        far.reset();
        if (!view.runUntil([&] { return session.isWaiting(); })) {
            std::fprintf(stderr, "round %d: the loss was not noticed\n", round);
            return 1;
        }
        noticed.push_back(std::chrono::duration<double>(SteadyClock::now() - pulled).count());
        if (round < 3) {
            before = cpuSeconds();
            view.idle(std::chrono::duration_cast<std::chrono::milliseconds>(kIdleWindow));
            waitingCpu.push_back((cpuSeconds() - before) /
                                 std::chrono::duration<double>(kIdleWindow).count());
        }

        far = std::make_unique<Far>();
        const std::uint64_t shown = view.committed;
        const auto back = SteadyClock::now();
        pointLink(link, far->slave);
        // The sender goes on as soon as the line is there again.
        far->send("\x93\xFA\x96\x7B\r\n");
        if (!view.runUntil([&] { return view.committed > shown; })) {
            std::fprintf(stderr, "round %d: no line after the return\n", round);
            return 1;
        }
        reconnect.push_back(std::chrono::duration<double>(SteadyClock::now() - back).count());
    }
    session.stopSession();
    std::filesystem::remove_all(folder);

    // What each open costs to find another program holding the device: every descriptor of
    // every process in /proc looked at once.
    constexpr int kScans = 20;
    const auto scanStart = SteadyClock::now();
    for (int i = 0; i < kScans; ++i)
        (void)findPortHolder(static_cast<dev_t>(-1));
    const double scanMs =
        std::chrono::duration<double, std::milli>(SteadyClock::now() - scanStart).count() / kScans;

    std::printf("reconnect_s: %.4f s (median of %d; max %.4f s)\n", median(reconnect),
                kRounds, *std::max_element(reconnect.begin(), reconnect.end()));
    std::printf("reconnect_loss_noticed_s: %.4f s (median)\n", median(noticed));
    std::printf("reconnect_waiting_cpu: %.5f cpu-s/s (at rest with the port open: %.5f)\n",
                median(waitingCpu), restCpu);
    std::printf("port_holder_scan_ms: %.2f ms\n", scanMs);
    return 0;
}
