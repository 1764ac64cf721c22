// Reliability of the serial road: numbered Shift-JIS lines pushed through a pseudo-terminal in
// random pieces, read through the port and the watch thread's handshake as the view reads
// them; then many Start/Stop/hang-up cycles of the session's parts.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <fstream>
#include <mutex>
#include <pty.h>
#include <random>
#include <string>
#include <sys/resource.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "serial/PortTable.h"
#include "serial/PosixReadyEvent.h"
#include "serial/PosixSerialPort.h"
#include "serial/WatchThread.h"

using namespace skiro;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int kLines = 300000;
constexpr int kCycles = 1000;

double rssMegabytes() {
    std::ifstream status("/proc/self/status");
    std::string key;
    while (status >> key) {
        if (key == "VmRSS:") {
            double kb = 0;
            status >> kb;
            return kb / 1024.0;
        }
        status.ignore(4096, '\n');
    }
    return 0;
}

double cpuSeconds() {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

struct Pty {
    int master = -1;
    int slave = -1;
    std::string path;
    Pty() {
        char name[256] = {};
        if (::openpty(&master, &slave, name, nullptr, nullptr) == 0)
            path = name;
        // Only the port keeps the slave open, as with a real device.
        ::close(slave);
    }
    ~Pty() { closeMaster(); }
    void closeMaster() {
        if (master >= 0)
            ::close(master);
        master = -1;
    }
    void send(std::string_view bytes) const {
        while (!bytes.empty()) {
            ssize_t n = ::write(master, bytes.data(), bytes.size());
            if (n > 0)
                bytes.remove_prefix(static_cast<std::size_t>(n));
            else if (n < 0 && errno != EINTR && errno != EAGAIN)
                return;
        }
    }
};

// The text of line i: its number, then a run of kanji, kana and 0x5C-trailing characters.
std::string lineText(int i) {
    static const char* const kPieces[] = {"\x96\x7B", "\x93\xFA", "\x82\xCD", "\x95\x5C",
                                          "\x83\x5C", "\x90\xB0", "\x93\x56", "\x81\x42"};
    char number[16];
    std::snprintf(number, sizeof number, "%06d:", i);
    std::string text = number;
    const int length = 5 + i % 37;
    for (int k = 0; k < length; ++k)
        text += kPieces[(i * 7 + k) % 8];
    return text;
}

// The view's side: handles each data-ready notification on its own thread by reading the port
// once (4096 bytes at most) and splitting lines on CR, LF dropped, then setting the ready event.
class SoakView {
  public:
    SoakView(PosixSerialPort& port, ReadyEvent& ready) : m_port(port), m_ready(ready) {
        m_thread = std::thread([this] { run(); });
    }
    ~SoakView() {
        {
            std::lock_guard lock(m_mutex);
            m_stop = true;
        }
        m_wake.notify_all();
        m_thread.join();
    }
    WatchCallbacks callbacks() {
        return {[this] {
                    std::lock_guard lock(m_mutex);
                    return m_queued == 0;
                },
                [this] {
                    {
                        std::lock_guard lock(m_mutex);
                        ++m_queued;
                    }
                    m_wake.notify_all();
                },
                {}};
    }

    std::atomic<int> matched{0};
    std::atomic<int> reordered{0};
    std::atomic<int> garbled{0};

  private:
    void run() {
        std::unique_lock lock(m_mutex);
        for (;;) {
            m_wake.wait(lock, [this] { return m_stop || m_queued > 0; });
            if (m_stop)
                return;
            lock.unlock();
            char buf[4096];
            IoResult r = m_port.read(buf, sizeof buf);
            for (std::size_t k = 0; k < r.count; ++k) {
                if (buf[k] == '\n')
                    continue;
                if (buf[k] == '\r')
                    completeLine();
                else
                    m_line += buf[k];
            }
            lock.lock();
            --m_queued;
            m_ready.set();
        }
    }
    void completeLine() {
        const int number = std::atoi(m_line.c_str());
        if (m_line != lineText(number))
            ++garbled;
        else {
            if (number <= m_last)
                ++reordered;
            else
                ++matched;
            m_last = std::max(m_last, number);
        }
        m_line.clear();
    }

    PosixSerialPort& m_port;
    ReadyEvent& m_ready;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    int m_queued = 0;
    bool m_stop = false;
    std::string m_line;
    int m_last = -1;
    std::thread m_thread;
};

Dcb soakDcb() {
    Dcb dcb;
    dcb.BaudRate = 38400;
    dcb.fOutxCtsFlow = false;
    dcb.fRtsControl = RtsControl::Enable;
    return dcb;
}

void soak() {
    std::string stream;
    for (int i = 0; i < kLines; ++i)
        stream += lineText(i) + "\r\n";
    Pty pty;
    PortTable table({}, {{1, pty.path}});
    PosixSerialPort port;
    if (!port.open(table.devicePath(0), soakDcb()).ok()) {
        std::printf("soak_open_failed: 1\n");
        return;
    }
    const double rssBefore = rssMegabytes();
    PosixReadyEvent ready;
    SoakView view(port, ready);
    WatchThread watch(port.fd(), ready, view.callbacks());
    watch.start();

    const auto began = Clock::now();
    std::mt19937 random(2024);
    for (std::size_t at = 0; at < stream.size();) {
        // Pieces cut anywhere: inside double-byte characters and between CR and LF.
        std::size_t piece = std::uniform_int_distribution<std::size_t>(1, 4096)(random);
        piece = std::min(piece, stream.size() - at);
        pty.send(std::string_view(stream).substr(at, piece));
        at += piece;
    }
    // Drained when every line is in, or when nothing has come for two seconds.
    int seen = -1;
    auto lastProgress = Clock::now();
    while (Clock::now() - lastProgress < std::chrono::seconds(2)) {
        const int now = view.matched + view.reordered + view.garbled;
        if (now >= kLines)
            break;
        if (now != seen) {
            seen = now;
            lastProgress = Clock::now();
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - began).count();
    watch.stop();
    const double rssAfter = rssMegabytes();

    std::printf("soak_lines: %d lines\n", kLines);
    std::printf("soak_seconds: %.2f s\n", seconds);
    // A garbled line counts as lost: its text never reached the reader intact.
    std::printf("soak_lines_lost: %d\n", kLines - view.matched.load());
    std::printf("soak_lines_garbled: %d\n", view.garbled.load());
    std::printf("soak_lines_reordered: %d\n", view.reordered.load());
    std::printf("soak_rss_growth: %.1f MB\n", std::max(0.0, rssAfter - rssBefore));
}

void cycles() {
    double stopMaxMs = 0;
    int completed = 0;
    int lostReports = 0;
    for (int i = 0; i < kCycles; ++i) {
        Pty pty;
        PosixSerialPort port;
        if (!port.open(pty.path, soakDcb()).ok())
            continue;
        PosixReadyEvent ready;
        std::atomic<int> lost{0};
        // No view answers: a notification stays outstanding and the thread waits for it.
        WatchThread watch(port.fd(), ready, {[] { return true; }, [] {}, [&] { ++lost; }});
        watch.start();
        switch (i % 3) {
        case 0: // Stop with data waiting and the thread waiting for the view
            pty.send(lineText(i) + "\r\n" + lineText(i + 1) + "\r\n");
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
            break;
        case 1: // Stop on a quiet line
            break;
        case 2: // the adapter pulled: the session then stops as the loss is reported
            pty.closeMaster();
            for (auto end = Clock::now() + std::chrono::seconds(1);
                 watch.running() && Clock::now() < end;)
                std::this_thread::sleep_for(std::chrono::microseconds(200));
            break;
        }
        const auto before = Clock::now();
        watch.stop();
        port.close();
        stopMaxMs = std::max(
            stopMaxMs, std::chrono::duration<double, std::milli>(Clock::now() - before).count());
        lostReports += lost;
        ++completed;
    }
    std::printf("session_cycles: %d\n", completed);
    std::printf("session_stop_max: %.1f ms\n", stopMaxMs);
    std::printf("session_lost_reports: %d of %d hang-ups\n", lostReports, kCycles / 3);

    // CPU of the whole process over a second after a hang-up, the session still open: the
    // watch thread must have ended rather than spin on a descriptor that reports hang-up.
    Pty pty;
    PosixSerialPort port;
    PosixReadyEvent ready;
    port.open(pty.path, soakDcb());
    WatchThread watch(port.fd(), ready, {[] { return true; }, [] {}, [] {}});
    watch.start();
    pty.send("unread\r\n");
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    pty.closeMaster();
    std::this_thread::sleep_for(std::chrono::milliseconds(600));
    const double cpuBefore = cpuSeconds();
    const auto wallBefore = Clock::now();
    std::this_thread::sleep_for(std::chrono::seconds(1));
    const double cpu = cpuSeconds() - cpuBefore;
    const double wall = std::chrono::duration<double>(Clock::now() - wallBefore).count();
    std::printf("session_cpu_after_hangup: %.1f %%\n", 100.0 * cpu / wall);
    watch.stop();
}

} // namespace

int main() {
    soak();
    cycles();
    return 0;
}
