// The view at full-HD size with a 64-pixel font and a 10-dot outline, offscreen: the cost of
// a scroll tick (step plus strip paint), of a full repaint with a full line store, how much is
// painted per tick, and how evenly each tick source paces its ticks (600 ticks of 50 ms each
// by default, the count as the first argument; the three sources take 90 s together). The
// pacing is also given without the 1 % of intervals farthest from the period: a machine that
// stalls the whole process now and then (a busy host) shows there, not in the source.
//
// A tick is timed from its handler (which has the window system move the picture) to the end
// of the strip's paint; the offscreen platform's own wait before it delivers the paint is not
// counted. Rows about to enter are rendered between ticks, as the view does while it waits.
#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QPaintEvent>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "core/Clock.h"
#include "core/Recorder.h"
#include "core/Settings.h"
#include "core/StringTable.h"
#include "display/CMarelView.h"
#include "display/TickSource.h"
#include "sjis/Sjis.h"

namespace {

using Steady = std::chrono::steady_clock;

double msSince(Steady::time_point start) {
    return std::chrono::duration<double, std::milli>(Steady::now() - start).count();
}

double percentile(std::vector<double> v, double p) {
    std::sort(v.begin(), v.end());
    const auto i = static_cast<std::size_t>(std::ceil(p * static_cast<double>(v.size()))) - 1;
    return v[std::min(i, v.size() - 1)];
}

double median(std::vector<double> v) {
    return percentile(std::move(v), 0.5);
}

std::string toCp932(const std::string& utf8) {
    return skiro::toSjis(QString::fromUtf8(utf8));
}

// Captions of one or two rows at 1920 pixels, each a little different, so that every row is
// new to the row cache.
std::string caption(int n) {
    static const char* const kText[] = {
        "ただいまより第%d回の定例会議を開催いたします。",
        "議題は%d件あります。資料をご覧ください。",
        "それでは、%d番の方からご意見をお願いします。本日は多くの方にお集まりいただきました。",
        "「字幕」の表示は%d秒ほど遅れることがあります。",
    };
    char buffer[512];
    std::snprintf(buffer, sizeof buffer, kText[n % 4], n);
    return toCp932(buffer) + "\r";
}

class NoRecorder : public skiro::LineRecorder {
  public:
    void recordLine(std::string_view) override {}
};

// The view with its paints timed.
class TimedView : public skiro::CMarelView {
  public:
    using CMarelView::CMarelView;
    std::vector<double> paints;

  protected:
    void paintEvent(QPaintEvent* event) override {
        const auto start = Steady::now();
        CMarelView::paintEvent(event);
        paints.push_back(msSince(start));
    }
};

void settle() {
    for (int i = 0; i < 3; ++i)
        QCoreApplication::processEvents();
}

// One tick and the paint it causes. Returns the time spent in the tick handler and in that
// paint; the wait for the window system's update timer is not counted.
double tickOnce(TimedView& view) {
    const std::size_t paints = view.paints.size();
    QEvent tick(skiro::CMarelView::kScrollTickEvent);
    const auto start = Steady::now();
    QCoreApplication::sendEvent(&view, &tick);
    double spent = msSince(start);
    if (view.paints.size() > paints || !view.state().scrolling)
        return spent; // painted within the handler, or nothing to paint
    QElapsedTimer waited;
    waited.start();
    while (view.paints.size() == paints && waited.elapsed() < 100)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
    for (std::size_t i = paints; i < view.paints.size(); ++i)
        spent += view.paints[i];
    // What the view does between ticks (rendering the rows about to enter) is not the tick's.
    QCoreApplication::processEvents();
    QCoreApplication::processEvents();
    return spent;
}

// Records when each tick reaches the user-interface thread.
class TickCatcher : public QObject {
  public:
    std::vector<Steady::time_point> arrivals;
    std::size_t wanted = 0;
    QEventLoop loop;
    bool event(QEvent* e) override {
        if (e->type() != skiro::CMarelView::kScrollTickEvent)
            return QObject::event(e);
        arrivals.push_back(Steady::now());
        if (arrivals.size() >= wanted)
            loop.quit();
        QCoreApplication::removePostedEvents(this, skiro::CMarelView::kScrollTickEvent);
        return true;
    }
};

struct Pacing {
    double sd = 0;
    double trimmedSd = 0; // without the 1 % of intervals farthest from the mean
};

double standardDeviation(const std::vector<double>& v) {
    double mean = 0;
    for (double x : v)
        mean += x;
    mean /= static_cast<double>(v.size());
    double var = 0;
    for (double x : v)
        var += (x - mean) * (x - mean);
    return std::sqrt(var / static_cast<double>(v.size()));
}

Pacing pacing(int method, int interval, int count) {
    TickCatcher catcher;
    skiro::TickSource source([&catcher] {
        QCoreApplication::postEvent(&catcher, new QEvent(skiro::CMarelView::kScrollTickEvent));
    });
    catcher.wanted = static_cast<std::size_t>(count) + 1;
    source.start(method, interval);
    catcher.loop.exec(); // sleeps between ticks, as the program's event loop does
    source.stop();
    std::vector<double> gaps;
    for (std::size_t i = 1; i < catcher.arrivals.size(); ++i)
        gaps.push_back(
            std::chrono::duration<double, std::milli>(catcher.arrivals[i] - catcher.arrivals[i - 1])
                .count());
    Pacing result;
    result.sd = standardDeviation(gaps);
    std::vector<double> trimmed = gaps;
    std::sort(trimmed.begin(), trimmed.end(), [interval](double a, double b) {
        return std::abs(a - interval) < std::abs(b - interval);
    });
    trimmed.resize(trimmed.size() - trimmed.size() / 100);
    result.trimmedSd = standardDeviation(trimmed);
    return result;
}

// The floor that the machine itself sets: a bare thread sleeping to a fixed grid of deadlines,
// with no event loop and no window system in between. A tick source cannot pace better.
double hostSleepSd(int interval, int count) {
    std::vector<double> gaps;
    auto previous = Steady::now();
    auto deadline = previous;
    for (int i = 0; i < count; ++i) {
        deadline += std::chrono::milliseconds(interval);
        std::this_thread::sleep_until(deadline);
        const auto now = Steady::now();
        gaps.push_back(std::chrono::duration<double, std::milli>(now - previous).count());
        previous = now;
    }
    return standardDeviation(gaps);
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);

    const int pacingTicks = argc > 1 ? std::atoi(argv[1]) : 600;
    std::printf("tick_interval_sd_host_sleep: %.3f ms\n", hostSleepSd(50, pacingTicks));
    const char* const names[] = {"coarse_timer", "precise_timer", "tick_thread"};
    for (int method = 0; method < 3; ++method) {
        const Pacing p = pacing(method, 50, pacingTicks);
        std::printf("tick_interval_sd_%s: %.3f ms\n", names[method], p.sd);
        std::printf("tick_interval_sd_trimmed_%s: %.3f ms\n", names[method], p.trimmedSd);
        std::fflush(stdout);
    }

    skiro::Settings settings;
    settings.Smooth = 0; // the whole steps per tick; bench_glide measures the glide
    settings.Step = 2;
    settings.Outline = 1;
    settings.LineCnt = 10;
    settings.OutlineColor = skiro::rgb(0, 0, 0);
    skiro::SystemClock clock;
    skiro::StringTable strings;
    NoRecorder recorder;

    TimedView view(settings, recorder, clock, strings);
    view.stopScrollTimer();
    // A 64-pixel character height at the view's resolution.
    settings.Font.lfHeight = -64 * 1440 / view.logicalDpiX();
    view.updateView();
    view.resize(1920, 1080);
    view.show();
    settle();

    // A full store: 100 lines brought in quickly with large steps.
    settings.Step = 200;
    for (int n = 0; n < 100; ++n) {
        view.receiveText(caption(n));
        for (int i = 0; i < 50 && view.state().scrolling; ++i)
            tickOnce(view);
    }
    settings.Step = 2;
    // Ticks at rest close the gap that the large steps left.
    tickOnce(view);
    tickOnce(view);
    settle();

    // Whole window, warm.
    std::vector<double> full;
    for (int i = 0; i < 20; ++i) {
        const auto start = Steady::now();
        view.repaint();
        full.push_back(msSince(start));
    }
    view.useRowCache(false);
    std::vector<double> fullRepeated;
    for (int i = 0; i < 5; ++i) {
        const auto start = Steady::now();
        view.repaint();
        fullRepeated.push_back(msSince(start));
    }
    view.useRowCache(true);
    settle();

    // 2000 ticks of continuous scrolling with new captions entering.
    for (int n = 100; n < 170; ++n)
        view.receiveText(caption(n));
    settle();
    std::vector<double> ticks;
    view.paints.clear();
    const std::uint64_t paintedBefore = view.paintedPixels();
    int moving = 0;
    for (int i = 0; i < 2000; ++i) {
        ticks.push_back(tickOnce(view));
        moving += view.state().scrolling;
    }
    const double pixelsPerTick = static_cast<double>(view.paintedPixels() - paintedBefore) /
                                 static_cast<double>(ticks.size());

    std::printf("tick_p99: %.3f ms\n", percentile(ticks, 0.99));
    std::printf("tick_median: %.3f ms\n", median(ticks));
    std::printf("strip_paint_p99: %.3f ms\n", percentile(view.paints, 0.99));
    std::printf("full_repaint: %.3f ms\n", median(full));
    std::printf("pixels_painted_per_tick: %.0f\n", pixelsPerTick);
    std::printf("full_repaint_repeated_text: %.3f ms\n", median(fullRepeated));
    std::printf("ticks_while_scrolling: %d of %zu\n", moving, ticks.size());
    std::fflush(stdout);

    return 0;
}
