// Breaking one long caption line into rows on the real Qt surface: the one-pass breaker against
// the per-prefix reference, which measures every growing prefix on its own.
#include <QGuiApplication>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "core/DisplayLine.h"
#include "core/LayoutParams.h"
#include "core/ReferenceRowBreaker.h"
#include "core/Settings.h"
#include "display/QtTextSurface.h"
#include "sjis/Sjis.h"

namespace {

using namespace skiro;
using Clock = std::chrono::steady_clock;

// Median microseconds of one call of work over several rounds.
template <class Work> double medianMicros(int rounds, int perRound, Work work) {
    std::vector<double> samples;
    for (int r = 0; r < rounds; ++r) {
        const auto start = Clock::now();
        for (int i = 0; i < perRound; ++i)
            work();
        const std::chrono::duration<double, std::micro> spent = Clock::now() - start;
        samples.push_back(spent.count() / perRound);
    }
    std::sort(samples.begin(), samples.end());
    return samples[samples.size() / 2];
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);

    // Two captions of 100 characters, punctuation and brackets included. Breaking them in
    // turn keeps the surface from reusing the layout of the line it broke last, so each break
    // starts cold.
    const QString captions[] = {
        QStringLiteral(
            "本日は「字幕表示システム」の説明会にお越しいただき、誠にありがとうございます。"
            "これから約三十分間、画面の使い方と設定の変え方について順番にご案内いたします。"
            "質問は最後にまとめて受け付けます。どうぞ"),
        QStringLiteral(
            "次の議題は、来年度の予算案についてです。担当者から（資料の三ページ目を"
            "ご覧ください）説明があります。なお、「補足資料」は後ほど配布いたしますので、"
            "会議の終了後に受付でお受け取りください。")};
    std::vector<std::string> lines;
    for (const QString& c : captions)
        lines.push_back(toSjis(c.left(100)));

    Font record;
    record.lfHeight = -960; // 64 px at 96 dpi
    QtTextSurface surface(record, 0, 96.0);
    Kinsoku = {2, kDefaultKinsokuHead, kDefaultKinsokuTail};

    LayoutParams p;
    p.dc = &surface;
    p.extentLimit = 1280;
    p.pitchPercent = 100;
    p.emptyThickness = surface.fontHeight();

    CDisplayLine fast;
    ReferenceRowBreaker reference;
    bool identical = true;
    std::size_t rows = 0;
    for (const std::string& line : lines) {
        const std::vector<BrokenRow> fastRows = breakIntoRows(fast, line, p);
        identical = identical && fastRows == breakIntoRows(reference, line, p);
        rows = fastRows.size();
    }

    std::size_t turn = 0;
    const double fastUs =
        medianMicros(15, 200, [&] { breakIntoRows(fast, lines[++turn % lines.size()], p); });
    // Warm: the same line broken again, as painting does after measuring it; its layout is
    // the surface's last.
    const double warmUs = medianMicros(15, 200, [&] { breakIntoRows(fast, lines[0], p); });
    // Shaping a whole line once, the floor of a cold break.
    const double shapeUs =
        medianMicros(15, 200, [&] { surface.textExtent(lines[++turn % lines.size()]); });
    const double referenceUs =
        medianMicros(7, 10, [&] { breakIntoRows(reference, lines[++turn % lines.size()], p); });

    std::printf("row_break_rows: %zu rows\n", rows);
    std::printf("row_break_100char: %.1f us\n", fastUs);
    std::printf("row_break_100char_warm: %.1f us\n", warmUs);
    std::printf("row_break_shape_100char: %.1f us\n", shapeUs);
    std::printf("row_break_reference_100char: %.1f us\n", referenceUs);
    std::printf("row_break_speedup: %.1f x\n", referenceUs / fastUs);
    std::printf("row_break_rows_identical: %d\n", identical ? 1 : 0);
    return identical ? 0 : 1;
}
