// A caption line of a million characters without a line end, as a speech recogniser piping
// into `skiro-send -n` gives it: what laying it out costs on the real Qt surface, and how long
// the user-interface thread is ever held up while it arrives through the local "Send" service
// into a shown, gliding view (the longest gap between two turns of a 5 ms probe timer), once
// broken into rows and once as the single row that runs past the window's edge (NoWrap). The
// line is ended at last, and the figures say whether it was recorded whole.
//
// Arguments: the line's length in characters (default 1000000) and the outline's width in dots
// (default 0, no outline).
#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "bench/BenchLoop.h"
#include "core/DisplayLine.h"
#include "core/LayoutParams.h"
#include "core/Recorder.h"
#include "core/Settings.h"
#include "core/StringTable.h"
#include "display/CMarelView.h"
#include "display/QtTextSurface.h"
#include "feed/FeedClient.h"
#include "feed/FeedServer.h"
#include "sjis/Sjis.h"

namespace {

using bench::ms;
using bench::Steady;

// Keeps the lines it is given, so that the end of the run can say what was recorded.
class KeptRecorder : public skiro::LineRecorder {
  public:
    void recordLine(std::string_view line) override { lines.emplace_back(line); }
    std::vector<std::string> lines;
};

// Caption text, punctuation and brackets included, repeated to `characters` characters.
std::string longLine(std::size_t characters) {
    const QString sentence = QStringLiteral(
        "本日は「字幕表示システム」の説明会にお越しいただき、誠にありがとうございます。"
        "これから約三十分間、画面の使い方と設定の変え方について順番にご案内いたします。");
    QString text;
    text.reserve(static_cast<qsizetype>(characters));
    while (static_cast<std::size_t>(text.size()) < characters)
        text += sentence;
    text.truncate(static_cast<qsizetype>(characters));
    return skiro::toSjis(text);
}

class PaintCountingView : public skiro::CMarelView {
  public:
    using CMarelView::CMarelView;
    int paints = 0;

  protected:
    void paintEvent(QPaintEvent* event) override {
        ++paints;
        CMarelView::paintEvent(event);
    }
};

void fail(const skiro::FeedClient::Result& r) {
    if (!r.ok()) {
        std::fprintf(stderr, "bench_long_line: %s\n", qPrintable(r.message));
        std::exit(1);
    }
}

struct Arrival {
    double gapMs = 0;
    double tookMs = 0;
    int paints = 0;
    bool recorded = false;
};

// Sends `line` in 4 KiB requests through the service into a shown view, then its end, and
// watches the user-interface thread's turns meanwhile.
Arrival arrive(skiro::Settings settings, const std::string& line) {
    KeptRecorder recorder;
    skiro::SystemClock clock;
    skiro::StringTable strings;
    PaintCountingView view(settings, recorder, clock, strings);
    view.resize(1280, 720);
    view.show();
    skiro::FeedServer server("skiro", [&](std::string_view text) { view.receiveText(text); });
    if (!server.listen()) {
        std::fprintf(stderr, "bench_long_line: %s\n", qPrintable(server.error()));
        std::exit(1);
    }

    bench::TurnProbe probe;

    std::atomic<bool> sent{false};
    const auto start = Steady::now();
    std::thread client([&] {
        skiro::FeedClient c("skiro");
        fail(c.open());
        constexpr std::size_t kPiece = 4096;
        for (std::size_t at = 0; at < line.size();) {
            std::size_t end = std::min(at + kPiece, line.size());
            if (end < line.size() && (static_cast<unsigned char>(line[end - 1]) & 0x80) &&
                end - at > 1) {
                // Cut between characters: every character of this text is two bytes.
                end -= (end - at) % 2;
            }
            fail(c.sendRequest("[Send(" + line.substr(at, end - at) + ")]"));
            // Piece by piece, so that the view paints between them as the line grows.
            fail(c.waitAcks(600000));
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
            at = end;
        }
        fail(c.sendRequest("[Send(\r)]"));
        fail(c.waitAcks(600000));
        c.terminate();
        sent = true;
    });
    QEventLoop loop;
    QTimer done;
    QObject::connect(&done, &QTimer::timeout, &loop, [&] {
        if (sent)
            loop.quit();
    });
    done.start(10);
    loop.exec();
    client.join();
    Arrival a;
    a.tookMs = ms(Steady::now() - start);
    // A few more turns after the last request, so that the paint it caused is counted.
    QElapsedTimer settle;
    settle.start();
    while (settle.elapsed() < 300)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 10);
    a.gapMs = probe.stopAndTakeLongestGapMs();
    a.recorded = !recorder.lines.empty() && recorder.lines.back() == line;
    a.paints = view.paints;
    server.shutdown(std::chrono::milliseconds(0));
    return a;
}

} // namespace

int main(int argc, char* argv[]) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QTemporaryDir runtime;
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime.path()));
    QApplication app(argc, argv);
    const std::size_t characters = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 1000000;
    const std::string line = longLine(characters);
    const int outline = argc > 2 ? std::atoi(argv[2]) : 0;

    skiro::Settings settings;
    settings.Outline = outline > 0;
    settings.LineCnt = std::max(1, outline);
    skiro::Kinsoku = {2, skiro::kDefaultKinsokuHead, skiro::kDefaultKinsokuTail};

    // The whole line broken into rows at once, as after a change of font or window size.
    {
        skiro::QtTextSurface surface(settings.Font, 0, 96.0);
        skiro::LayoutParams p;
        p.dc = &surface;
        p.extentLimit = 1280;
        p.pitchPercent = 100;
        p.emptyThickness = surface.fontHeight();
        skiro::CDisplayLine breaker;
        const auto start = Steady::now();
        const int thickness = breaker.measureLine(line, p);
        std::printf("long_line_1m_layout_ms: %.1f ms (%zu characters, %d rows)\n",
                    ms(Steady::now() - start), characters, thickness / p.emptyThickness);
        std::fflush(stdout);
    }

    // The whole line as one row past the window's edge: the first paint of a fresh view
    // (as after a change of font or window), then a repaint with its rows kept, the cost of a
    // gliding frame that repaints the whole window.
    for (const int direction : {0, 1}) {
        skiro::Settings s = settings;
        s.NoWrap = 1;
        s.Direction = direction;
        KeptRecorder none;
        skiro::SystemClock clock;
        skiro::StringTable strings;
        PaintCountingView view(s, none, clock, strings);
        view.resize(1280, 720);
        view.show();
        QElapsedTimer shown;
        shown.start();
        while (view.paints == 0 && shown.elapsed() < 5000)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 10);
        view.receiveText(line);
        const int before = view.paints;
        const auto first = Steady::now();
        view.repaint();
        const double firstMs = ms(Steady::now() - first);
        if (view.paints == before) {
            std::fprintf(stderr, "bench_long_line: the view did not paint\n");
            return 1;
        }
        constexpr int kRepaints = 10;
        const auto again = Steady::now();
        for (int i = 0; i < kRepaints; ++i)
            view.repaint();
        const double repaintMs = ms(Steady::now() - again) / kRepaints;
        std::printf("nowrap_1m_layout_ms%s: %.1f ms (first paint; a repaint %.2f ms, %s)\n",
                    direction ? "_vertical" : "", firstMs, repaintMs,
                    direction ? "vertical" : "horizontal");
        std::fflush(stdout);
    }

    // The line arriving in requests of the service into a shown view that glides and keeps up.
    settings.Smooth = 1;
    settings.KeepUp = 1;
    for (const int noWrap : {0, 1}) {
        settings.NoWrap = noWrap;
        const Arrival a = arrive(settings, line);
        const char* prefix = noWrap ? "nowrap_" : "";
        std::printf("%sui_gap_max_ms: %.1f ms (arrival took %.0f ms, %d paints, outline %d)\n",
                    prefix, a.gapMs, a.tookMs, a.paints, outline);
        std::printf("%slong_line_recorded: %s\n", prefix, a.recorded ? "yes" : "no");
        std::fflush(stdout);
    }
    return 0;
}
