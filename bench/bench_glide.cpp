// How the picture moves, as the audience sees it, for the gliding motion (Smooth=1) and for
// the whole steps per tick (Smooth=0) side by side. Meant to run under a real X server (Xvfb):
//
//   xvfb-run -a -s "-screen 0 1920x1080x24" build/bin/bench_glide [seconds]
//
// - motion: the defaults on 1600x900 at the default speed (keep-up off, so that the speed
//   stays at Step/Tick), each update of the picture as it is handed to the X server: updates
//   per second, the largest move from one update to the next, and the rms distance of what the
//   screen shows from uniform motion (the best straight line through position against time).
// - frame cost: 1920x1080, a 64-pixel font with a 10-dot outline, gliding with text entering:
//   the 99th percentile of a frame's work (moving, painting, handing the picture over).
// - cpu: the defaults on 1600x900 moving continuously (a line every 0.8 s); the process's CPU
//   time against the wall clock, and the X server's when SKIRO_XSERVER_PID names it.
// - lag: 72-point text on 1600x900 at 360 characters a minute, typed character by character
//   and again sent as whole lines: from a line's terminator to the moment the line starts to
//   enter (0 when it was entering already), and to the moment it lies entirely inside; p95
//   over each half of the run, to show whether it grows.
//
// SKIRO_FRAME_TRACE=<file> writes every update of the motion runs (time, position), which
// scripts/plot-motion turns into a picture.
#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QPaintEvent>
#include <QPixmap>
#include <QScreen>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <sys/resource.h>
#include <vector>

#include "core/Clock.h"
#include "core/Recorder.h"
#include "core/Settings.h"
#include "core/ShiftJis.h"
#include "core/StringTable.h"
#include "display/CMarelView.h"
#include "display/FrameClock.h"
#include "sjis/Sjis.h"

namespace {

double nowMs() {
    return skiro::FrameClock::nowMs();
}

double percentile(std::vector<double> v, double p) {
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    const auto i = static_cast<std::size_t>(std::ceil(p * static_cast<double>(v.size()))) - 1;
    return v[std::min(i, v.size() - 1)];
}

std::string toCp932(const std::string& utf8) {
    return skiro::toSjis(QString::fromUtf8(utf8));
}

// Caption sentences of a captioner's usual lengths, numbered so that every line is new.
std::string caption(int n) {
    static const char* const kText[] = {
        "ただいまより第%d回の定例会議を開催いたします。",
        "議題は%d件です。",
        "それでは、%d番の方からご意見をお願いします。本日は多くの方にお集まりいただきました。",
        "「字幕」の表示は%d秒ほど遅れることがあります。",
        "ありがとうございました。次の方どうぞ。%d",
        "資料の%dページをご覧ください。先月の結果をまとめてあります。",
    };
    char buffer[512];
    std::snprintf(buffer, sizeof buffer, kText[n % 6], n);
    return toCp932(buffer);
}

class LagRecorder : public skiro::LineRecorder {
  public:
    std::map<std::string, double> recorded;
    void recordLine(std::string_view line) override {
        recorded.emplace(std::string(line), nowMs());
    }
};

// The view with each displayed update noted: its time and the picture's position.
class WatchedView : public skiro::CMarelView {
  public:
    using CMarelView::CMarelView;
    std::vector<std::pair<double, double>> updates;
    std::map<std::string, double> shown; // when each line came entirely inside
    std::size_t lastStored = 0;
    std::string lastNewest;

  protected:
    void paintEvent(QPaintEvent* event) override {
        CMarelView::paintEvent(event);
        const double t = nowMs();
        // Where the picture is drawn: the position to the quarter pixel of the row copies.
        const double p = travelled();
        const double drawn = std::floor(p) + std::round((p - std::floor(p)) * 4) / 4;
        if (updates.empty() || updates.back().second != drawn)
            updates.emplace_back(t, drawn);
        if (intake().storedLineCount() > 0) {
            const std::string& newest = intake().storedLine(intake().storedLineCount() - 1).text;
            if (newest != lastNewest) {
                lastNewest = newest;
                shown.emplace(newest, t);
            }
        }
    }
};

struct Rig {
    skiro::Settings settings;
    skiro::SystemClock clock;
    skiro::StringTable strings;
    LagRecorder recorder;
    std::unique_ptr<WatchedView> view;

    Rig(int smooth, int keepUp, int width, int height) {
        settings.Smooth = smooth;
        settings.KeepUp = keepUp;
        skiro::Kinsoku.Type = 1;
        skiro::Kinsoku.Head = skiro::kDefaultKinsokuHead;
        skiro::Kinsoku.Tail = skiro::kDefaultKinsokuTail;
        view = std::make_unique<WatchedView>(settings, recorder, clock, strings);
        view->resize(width, height);
        view->show();
        run(300);
    }
    void apply() {
        view->updateView();
        view->startScrollTimer(settings.Tick);
        run(200);
    }
    static void run(int ms) {
        QEventLoop loop;
        QTimer::singleShot(ms, &loop, &QEventLoop::quit);
        loop.exec();
    }
};

double cpuSeconds() {
    rusage u{};
    ::getrusage(RUSAGE_SELF, &u);
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// The X server's CPU seconds, from /proc, when its process id is given.
double serverSeconds() {
    const QByteArray pid = qgetenv("SKIRO_XSERVER_PID");
    if (pid.isEmpty())
        return -1;
    std::ifstream stat("/proc/" + pid.toStdString() + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    const auto close = text.rfind(')');
    if (close == std::string::npos)
        return -1;
    std::istringstream fields(text.substr(close + 2));
    std::string field;
    double utime = 0, stime = 0;
    for (int i = 3; i <= 15 && fields >> field; ++i) {
        if (i == 14)
            utime = std::stod(field);
        if (i == 15)
            stime = std::stod(field);
    }
    return (utime + stime) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

// Feeds whole lines at an interval, so that the display keeps moving.
void feedLines(Rig& rig, int intervalMs, int seconds, int& next) {
    QTimer feeder;
    QObject::connect(&feeder, &QTimer::timeout,
                     [&] { rig.view->receiveText(caption(next++) + "\r"); });
    feeder.start(intervalMs);
    Rig::run(seconds * 1000);
}

struct Motion {
    double updatesPerSecond = 0;
    double maxStep = 0;
    double stepP99 = 0; // a busy machine's occasional missed frame shows in the largest step
    double rms = 0;
};

// The displayed position at each refresh of a 60 Hz screen (the last update before it),
// against the best straight line through them.
Motion motion(const std::vector<std::pair<double, double>>& updates, double from, double to) {
    Motion m;
    std::vector<std::pair<double, double>> within;
    for (const auto& u : updates)
        if (u.first >= from && u.first < to)
            within.push_back(u);
    if (within.size() < 3)
        return m;
    m.updatesPerSecond = static_cast<double>(within.size() - 1) /
                         (within.back().first - within.front().first) * 1000;
    // What the screen shows at each millisecond: a sample grid as fast as the updates would
    // fall in step with them and see only one side of each.
    std::vector<std::pair<double, double>> samples;
    std::size_t i = 0;
    for (double t = within.front().first; t < within.back().first; t += 1) {
        while (i + 1 < within.size() && within[i + 1].first <= t)
            ++i;
        samples.emplace_back(t, within[i].second);
    }
    double st = 0, sp = 0, stt = 0, stp = 0;
    const double n = static_cast<double>(samples.size());
    for (const auto& [t, p] : samples) {
        st += t;
        sp += p;
        stt += t * t;
        stp += t * p;
    }
    const double slope = (n * stp - st * sp) / (n * stt - st * st);
    const double icept = (sp - slope * st) / n;
    double sq = 0;
    for (std::size_t k = 0; k < samples.size(); ++k) {
        const double r = samples[k].second - (icept + slope * samples[k].first);
        sq += r * r;
    }
    std::vector<double> steps;
    for (std::size_t k = 1; k < within.size(); ++k)
        steps.push_back(within[k].second - within[k - 1].second);
    m.maxStep = percentile(steps, 1.0);
    m.stepP99 = percentile(steps, 0.99);
    m.rms = std::sqrt(sq / n);
    return m;
}

void writeTrace(const char* name, const std::vector<std::pair<double, double>>& updates) {
    const QByteArray folder = qgetenv("SKIRO_FRAME_TRACE");
    if (folder.isEmpty())
        return;
    std::ofstream out(folder.toStdString() + "/" + name + ".txt");
    const double t0 = updates.empty() ? 0 : updates.front().first;
    for (const auto& [t, p] : updates)
        out << (t - t0) << ' ' << p << '\n';
}

void runMotion(int smooth, int seconds) {
    Rig rig(smooth, 0, 1600, 900);
    int next = 0;
    // A backlog of lines keeps it moving at the default speed for the whole run.
    for (int i = 0; i < 40; ++i)
        rig.view->receiveText(caption(next++) + "\r");
    Rig::run(1000);
    rig.view->updates.clear();
    const double from = nowMs();
    Rig::run(seconds * 1000);
    const Motion m = motion(rig.view->updates, from, nowMs());
    const char* suffix = smooth ? "" : "_whole_steps";
    std::printf("motion_updates_per_s%s: %.1f\n", suffix, m.updatesPerSecond);
    std::printf("motion_max_step_px%s: %.3f px (p99 %.3f px)\n", suffix, m.maxStep, m.stepP99);
    std::printf("motion_rms_px%s: %.3f px\n", suffix, m.rms);
    std::fflush(stdout);
    writeTrace(smooth ? "motion-glide" : "motion-whole-steps", rig.view->updates);
}

// The picture as the X server holds it after each frame: a strip of the window read back,
// its light summed along each pixel row, and the shift from one frame to the next found to a
// thirty-second of a pixel. Tells whether the screen moves as the program says it does.
void runScreen(int seconds) {
    if (QGuiApplication::platformName() != QLatin1String("xcb")) {
        std::printf("screen: not measured, it reads the picture back from an X server\n");
        return;
    }
    Rig rig(1, 0, 1600, 900);
    int next = 0;
    for (int i = 0; i < 40; ++i)
        rig.view->receiveText(caption(next++) + "\r");
    Rig::run(1000);
    const QRgb back = qRgb(0, 0, 255);
    std::vector<std::vector<double>> profiles;
    std::vector<double> program;
    rig.view->setFrameObserver([&](double, double, double) {
        const QImage strip = rig.view->screen()
                                 ->grabWindow(rig.view->winId(), 0, 0, 600, 900)
                                 .toImage()
                                 .convertToFormat(QImage::Format_RGB32);
        std::vector<double> profile(static_cast<std::size_t>(strip.height()));
        for (int y = 0; y < strip.height(); ++y) {
            const auto* line = reinterpret_cast<const QRgb*>(strip.constScanLine(y));
            double light = 0;
            for (int x = 0; x < strip.width(); ++x)
                light +=
                    std::abs(qRed(line[x]) - qRed(back)) + std::abs(qGreen(line[x]) - qGreen(back));
            profile[static_cast<std::size_t>(y)] = light;
        }
        profiles.push_back(std::move(profile));
        program.push_back(rig.view->travelled());
    });
    Rig::run(seconds * 1000);
    rig.view->setFrameObserver({});
    // Content moving up by d: this frame's row y shows what the last frame had at y + d.
    const auto error = [](const std::vector<double>& before, const std::vector<double>& now,
                          double d) {
        double sum = 0;
        // All but the edges, where rows come in and go out.
        for (int y = 2; y < 890; ++y) {
            const double at = y + d;
            const int i = static_cast<int>(std::floor(at));
            const double f = at - i;
            const double was = before[std::size_t(i)] * (1 - f) + before[std::size_t(i + 1)] * f;
            sum += (now[std::size_t(y)] - was) * (now[std::size_t(y)] - was);
        }
        return sum;
    };
    // The program draws at the nearest quarter pixel of its position.
    const auto drawnAt = [](double p) {
        return std::floor(p) + std::round((p - std::floor(p)) * 4) / 4;
    };
    double sq = 0, sum = 0, largest = 0;
    int compared = 0;
    for (std::size_t k = 1; k < profiles.size(); ++k) {
        double best = 0, bestError = error(profiles[k - 1], profiles[k], 0);
        for (double d = -1; d <= 4; d += 1.0 / 32) {
            const double e = error(profiles[k - 1], profiles[k], d);
            if (e < bestError) {
                bestError = e;
                best = d;
            }
        }
        const double drawn = drawnAt(program[k]) - drawnAt(program[k - 1]);
        sq += (best - drawn) * (best - drawn);
        sum += best;
        largest = std::max(largest, best);
        ++compared;
    }
    std::printf("screen_frames_compared: %d\n", compared);
    std::printf("screen_step_mean_px: %.3f px (program %.3f px)\n", sum / std::max(1, compared),
                (program.back() - program.front()) / std::max(1, compared));
    std::printf("screen_step_max_px: %.3f px\n", largest);
    std::printf("screen_step_vs_program_rms_px: %.3f px\n", std::sqrt(sq / std::max(1, compared)));
    std::fflush(stdout);
}

// keepPhases false: every row resampled anew in every frame instead of drawn from the copies
// made once.
void runFrameCost(int seconds, bool keepPhases) {
    Rig rig(1, 1, 1920, 1080);
    rig.view->rowCache().setKeepPhases(keepPhases);
    rig.settings.Font.lfHeight = -64 * 1440 / rig.view->logicalDpiX();
    rig.settings.Outline = 1;
    rig.settings.LineCnt = 10;
    rig.settings.OutlineColor = skiro::rgb(0, 0, 0);
    rig.apply();
    int next = 0;
    // A full window first, brought in fast.
    for (int i = 0; i < 30; ++i)
        rig.view->receiveText(caption(next++) + "\r");
    Rig::run(8000);
    std::vector<double> costs, cpu;
    rig.view->setFrameObserver([&](double, double cost, double used) {
        costs.push_back(cost);
        cpu.push_back(used);
    });
    feedLines(rig, 1500, seconds, next);
    const char* suffix = keepPhases ? "" : "_resampled_each_frame";
    std::printf("frame_cost_p99%s: %.3f ms\n", suffix, percentile(costs, 0.99));
    std::printf("frame_cost_median%s: %.3f ms\n", suffix, percentile(costs, 0.5));
    // The processor time alone: what the frame costs without the waits a busy machine adds.
    std::printf("frame_cpu_p99%s: %.3f ms\n", suffix, percentile(cpu, 0.99));
    std::printf("frames_measured%s: %zu\n", suffix, costs.size());
    std::fflush(stdout);
}

void runCpu(int smooth, int seconds, bool keepPhases = true) {
    Rig rig(smooth, 1, 1600, 900);
    rig.view->rowCache().setKeepPhases(keepPhases);
    int next = 0;
    feedLines(rig, 800, 6, next); // fills the window
    const double cpu0 = cpuSeconds();
    const double server0 = serverSeconds();
    const double wall0 = nowMs();
    feedLines(rig, 800, seconds, next);
    const double wall = (nowMs() - wall0) / 1000;
    const char* suffix = !smooth ? "_whole_steps" : keepPhases ? "" : "_resampled_each_frame";
    std::printf("glide_cpu%s: %.2f %% of a core\n", suffix, (cpuSeconds() - cpu0) / wall * 100);
    if (server0 >= 0)
        std::printf("xserver_cpu%s: %.2f %% of a core\n", suffix,
                    (serverSeconds() - server0) / wall * 100);
    std::fflush(stdout);
}

// wholeLines: each line arrives at once when its last character would have been typed, as
// an input system that sends finished lines does; otherwise character by character.
void runLag(int smooth, int seconds, bool wholeLines) {
    Rig rig(smooth, 1, 1600, 900);
    rig.settings.Font.lfHeight = -72 * 20; // 72 points
    rig.apply();
    // 360 characters a minute, one character every 1/6 s, each line ended by CR.
    std::map<std::string, double> ended;
    std::vector<std::string> lines;
    int n = 0;
    std::string line = caption(n++);
    std::size_t at = 0;
    QTimer typist;
    const double start = nowMs();
    QObject::connect(&typist, &QTimer::timeout, [&] {
        if (at >= line.size()) {
            rig.view->receiveText(wholeLines ? line + "\r" : "\r");
            ended.emplace(line, nowMs());
            lines.push_back(line);
            line = caption(n++);
            at = 0;
            return;
        }
        const std::size_t length = skiro::sjis::charLength(line, at);
        if (!wholeLines)
            rig.view->receiveText(std::string_view(line).substr(at, length));
        at += length;
    });
    typist.start(1000 / 6);
    Rig::run(seconds * 1000);
    typist.stop();
    std::vector<double> firstHalf, secondHalf, full;
    for (const std::string& l : lines) {
        const double end = ended[l];
        const auto recorded = rig.recorder.recorded.find(l);
        const double lag = recorded == rig.recorder.recorded.end()
                               ? nowMs() - end
                               : std::max(0.0, recorded->second - end);
        (end - start < seconds * 500.0 ? firstHalf : secondHalf).push_back(lag / 1000);
        const auto shown = rig.view->shown.find(l);
        full.push_back(((shown == rig.view->shown.end() ? nowMs() : shown->second) - end) / 1000);
    }
    std::vector<double> all = firstHalf;
    all.insert(all.end(), secondHalf.begin(), secondHalf.end());
    const std::string suffix =
        std::string(wholeLines ? "_whole_lines" : "") + (smooth ? "" : "_whole_steps");
    std::printf("lag_p95%s: %.2f s (first half %.2f s, second half %.2f s, %zu lines)\n",
                suffix.c_str(), percentile(all, 0.95), percentile(firstHalf, 0.95),
                percentile(secondHalf, 0.95), lines.size());
    std::printf("fully_shown_p95%s: %.2f s (max %.2f s)\n", suffix.c_str(), percentile(full, 0.95),
                percentile(full, 1.0));
    std::fflush(stdout);
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    const int seconds = argc > 1 ? std::max(5, std::atoi(argv[1])) : 20;
    const std::string only = argc > 2 ? argv[2] : "";
    if (only.empty() || only == "motion") {
        runMotion(1, 10);
        runMotion(0, 10);
    }
    if (only.empty() || only == "screen")
        runScreen(5);
    if (only.empty() || only == "cost") {
        runFrameCost(seconds, true);
        runFrameCost(seconds, false);
    }
    if (only.empty() || only == "cpu") {
        runCpu(1, seconds);
        runCpu(1, seconds, false);
        runCpu(0, seconds);
    }
    if (only.empty() || only == "lag") {
        runLag(1, 6 * seconds, false);
        runLag(0, 6 * seconds, false);
        runLag(1, 6 * seconds, true);
        runLag(0, 6 * seconds, true);
    }
    return 0;
}
