// Intake and recording throughput: received text in small chunks through the line store as the
// display drains it, and the cost of one logged line (open, lock, write, close).
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>

#include "core/Intake.h"
#include "core/Recorder.h"

namespace {

using namespace skiro;
using Seconds = std::chrono::duration<double>;

class BenchView final : public IntakeView {
  public:
    Rect clientRect() const override { return {0, 0, 1280, 720}; }
    void invalidate(const Rect&, bool) override {}
    void scrollStep(int) override {}
};

// The size of the status field `key` ("VmHWM:", "VmRSS:") in MB.
double statusMegabytes(const char* key) {
    std::ifstream status("/proc/self/status");
    std::string word;
    while (status >> word) {
        if (word == key) {
            double kilobytes = 0;
            status >> kilobytes;
            return kilobytes / 1024.0;
        }
    }
    return 0;
}

// Shift-JIS caption lines of 20 to 60 characters (kana, kanji, ASCII), each ending in CR LF.
std::string captionStream(std::size_t bytes) {
    const char* pieces[] = {"\x96{\x93\xFA\x82\xCD",
                            "\x82\xB1\x82\xF1\x82\xC9\x82\xBF\x82\xCD",
                            "\x81"
                            "A",
                            "#1:",
                            "SKIRO ",
                            "\x83J\x83^\x83J\x83i"};
    std::string stream;
    stream.reserve(bytes + 256);
    unsigned seed = 1;
    while (stream.size() < bytes) {
        seed = seed * 1103515245u + 12345u;
        const unsigned length = 4 + (seed >> 16) % 10;
        for (unsigned i = 0; i < length; ++i)
            stream += pieces[(seed >> (i % 16)) % 6];
        stream += "\r\n";
    }
    return stream;
}

struct Run {
    double seconds;
    std::size_t lines;
};

// Feeds `stream` in chunks of `chunk` bytes; painting commits after every chunk (drainEachChunk)
// or only once everything has arrived (the display far behind the input).
Run feed(const std::string& stream, std::size_t chunk, bool drainEachChunk) {
    Settings settings;
    settings.Log = 0;
    SystemClock clock;
    StringTable strings;
    Recorder recorder(settings, clock, strings, "");
    ViewState state;
    BenchView view;
    Intake intake(settings, clock, strings, recorder, state, view);
    std::size_t lines = 0;
    const auto start = std::chrono::steady_clock::now();
    for (std::size_t at = 0; at < stream.size(); at += chunk) {
        intake.receiveText(std::string_view(stream).substr(at, chunk));
        if (drainEachChunk) {
            while (intake.lineComplete()) {
                intake.commitLine(0);
                ++lines;
            }
        }
    }
    while (intake.lineComplete()) {
        intake.commitLine(0);
        ++lines;
    }
    return {Seconds(std::chrono::steady_clock::now() - start).count(), lines};
}

} // namespace

int main() {
    constexpr double kMegabyte = 1024.0 * 1024.0;
    const std::string stream = captionStream(10 * 1024 * 1024);
    const double megabytes = static_cast<double>(stream.size()) / kMegabyte;

    const Run drained = feed(stream, 64, true);
    std::printf("intake_throughput: %.1f MB/s\n", megabytes / drained.seconds);
    std::printf("intake_lines: %zu lines\n", drained.lines);

    // The display behind by the whole stream: every line waits in the backlog first.
    const Run behind = feed(stream, 64, false);
    std::printf("intake_backlog_throughput: %.1f MB/s\n", megabytes / behind.seconds);

    // One line of 1 MB without a terminator, then its CR.
    const std::string longLine = std::string(1024 * 1024, 'a') + "\r";
    const Run longRun = feed(longLine, 64, true);
    std::printf("intake_long_line_throughput: %.1f MB/s\n",
                static_cast<double>(longLine.size()) / kMegabyte / longRun.seconds);

    std::printf("intake_peak_rss: %.1f MB\n", statusMegabytes("VmHWM:"));
    std::printf("intake_rss_after: %.1f MB\n", statusMegabytes("VmRSS:"));

    char folder[] = "/tmp/skiro-bench-XXXXXX";
    if (!mkdtemp(folder))
        return 1;
    Settings settings;
    SystemClock clock;
    StringTable strings;
    Recorder recorder(settings, clock, strings, folder);
    const std::string line = "#1:\x96{\x93\xFA\x82\xCD\x82\xB1\x82\xF1\x82\xC9\x82\xBF\x82\xCD";
    constexpr int kRecords = 100000;
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < kRecords; ++i)
        recorder.recordLine(line);
    const double seconds = Seconds(std::chrono::steady_clock::now() - start).count();
    std::printf("record_lines_per_s: %.0f lines/s\n", kRecords / seconds);
    std::filesystem::remove_all(folder);
    return 0;
}
