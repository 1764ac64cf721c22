#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QPainter>
#include <QTemporaryDir>

#include <cmath>
#include <memory>
#include <string>

#include "core/Clock.h"
#include "core/Recorder.h"
#include "core/Settings.h"
#include "core/StringTable.h"
#include "display/CMarelView.h"
#include "display/OutlineRowCache.h"
#include "display/QtTextSurface.h"

namespace skiro {
namespace {

// "日本語、「Ab」" in code page 932.
const std::string kRow = "\x93\xfa\x96\x7b\x8c\xea\x81\x41\x81\x75"
                         "Ab\x81\x76";

Font fontOfTwips(int twips) {
    Font f;
    f.lfHeight = twips;
    return f;
}

// One row drawn by the cache on a black canvas, gliding at `phase` or not.
QImage drawn(QtTextSurface& surface, bool glide, double phase, int dots, bool vertical) {
    QImage canvas(vertical ? QSize(160, 480) : QSize(480, 160), QImage::Format_RGB32);
    canvas.fill(qRgb(0, 0, 0));
    OutlineRowCache cache;
    cache.setGlide(glide);
    cache.setPhase(phase);
    QPainter p(&canvas);
    surface.setPainter(&p);
    cache.begin(surface, p);
    cache.drawRow(surface, vertical ? 120 : 20, 40, kRow, dots, rgb(255, 255, 255), rgb(0, 0, 255),
                  vertical);
    cache.end();
    surface.setPainter(nullptr);
    return canvas;
}

// Where the ink lies along the scroll axis: its light, weighted by position.
double inkCentre(const QImage& image, bool vertical) {
    double sum = 0, weighted = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            const QRgb c = image.pixel(x, y);
            const double light = qRed(c) + qGreen(c) + qBlue(c);
            sum += light;
            weighted += light * (vertical ? x : y);
        }
    return weighted / sum;
}

// A gliding row lies a fraction of a pixel further on, to the nearest quarter: upward in
// horizontal writing, to the right in vertical writing, outlined or not; at phase 0 it is
// exactly the row as drawn at rest, so outlined text stays sharp.
TEST(GlidingRows, DrawnAtTheFractionOfAPixelTheTimePutsThem) {
    struct Case {
        const char* name;
        int dots;
        int direction;
    } cases[] = {
        {"no outline, horizontal", 0, 0},
        {"3 dots, horizontal", 3, 0},
        {"no outline, vertical", 0, 1},
        {"10 dots, vertical", 10, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const bool vertical = c.direction == 1;
        QtTextSurface surface(fontOfTwips(-480), c.direction, 96);
        const QImage still = drawn(surface, false, 0, c.dots, vertical);
        const QImage phase0 = drawn(surface, true, 0, c.dots, vertical);
        EXPECT_EQ(phase0, still) << "phase 0 is the row itself";
        const double centre = inkCentre(phase0, vertical);
        const double sign = vertical ? 1 : -1;
        for (const auto& [phase, expected] :
             {std::pair{0.25, 0.25}, {0.5, 0.5}, {0.75, 0.75}, {0.3, 0.25}, {0.9, 1.0}}) {
            SCOPED_TRACE(phase);
            EXPECT_NEAR(inkCentre(drawn(surface, true, phase, c.dots, vertical), vertical) - centre,
                        sign * expected, 0.01);
        }
    }
}

class NoRecorder : public LineRecorder {
  public:
    void recordLine(std::string_view) override {}
};

// Gliding, the program is woken by the frame clock while the line moves and by nothing once it
// is in: no tick source runs, and the moves are fractions of a pixel.
TEST(GlidingView, MovesEveryFrameByTheTimeAndRestsWhenTheLineIsIn) {
    for (int direction : {0, 1}) {
        SCOPED_TRACE(direction);
        Settings settings;
        settings.Direction = direction;
        settings.KeepUp = 0;
        settings.Step = 4; // 80 px/s: a line enters in well under a second, in many frames
        settings.Font.lfHeight = -480;
        SystemClock clock;
        StringTable strings;
        NoRecorder recorder;
        // The motion trace, which can be read while the view lives.
        QTemporaryDir folder;
        const QString tracePath = folder.filePath(QStringLiteral("trace.txt"));
        qputenv("SKIRO_FRAME_TRACE", tracePath.toLocal8Bit());
        CMarelView view(settings, recorder, clock, strings);
        qunsetenv("SKIRO_FRAME_TRACE");
        view.resize(400, 300);
        view.show();
        QCoreApplication::processEvents();
        EXPECT_EQ(view.tickSource().running(), TickSource::Kind::None);

        std::vector<double> moves;
        double last = view.travelled();
        view.setFrameObserver([&](double, double, double) {
            moves.push_back(view.travelled() - last);
            last = view.travelled();
        });
        view.receiveText(kRow + "\r");
        EXPECT_TRUE(view.frameClock().running());
        QElapsedTimer waited;
        waited.start();
        while (view.state().scrolling && waited.elapsed() < 20000)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QCoreApplication::processEvents();
        EXPECT_FALSE(view.state().scrolling);
        EXPECT_FALSE(view.frameClock().running()) << "at rest nothing but the clock wakes it";
        EXPECT_EQ(view.ticksPosted(), 0u);
        EXPECT_EQ(view.intake().storedLineCount(), 1u);
        ASSERT_GT(moves.size(), 2u);
        EXPECT_TRUE(
            std::any_of(moves.begin(), moves.end(), [](double m) { return m != std::floor(m); }));
        // One whole line per frame (time, position, speed, moving), the last one at rest.
        QFile trace(tracePath);
        ASSERT_TRUE(trace.open(QIODevice::ReadOnly));
        const QList<QByteArray> lines = trace.readAll().split('\n');
        ASSERT_GE(lines.size(), 2);
        EXPECT_TRUE(lines.back().isEmpty()) << "the last line is whole";
        EXPECT_EQ(static_cast<std::size_t>(lines.size() - 1), moves.size());
        for (const QByteArray& line : lines.mid(0, lines.size() - 1))
            EXPECT_EQ(line.split(' ').size(), 4) << line.constData();
        EXPECT_TRUE(lines[lines.size() - 2].endsWith(" 0"));

        // The line lies against the incoming edge, drawn where it came to rest.
        const QImage picture = view.grab().toImage();
        const QRect edge = direction == 1 ? QRect(0, 0, 40, 300) : QRect(0, 260, 400, 40);
        bool ink = false;
        for (int y = edge.top(); y <= edge.bottom(); ++y)
            for (int x = edge.left(); x <= edge.right(); ++x)
                ink = ink || picture.pixel(x, y) == qRgb(255, 255, 255);
        EXPECT_TRUE(ink);
    }
}

// A window that cannot be painted stops the frame clock; the stall watchdog moves its lines
// on, each recorded once and in order.
TEST(GlidingView, AHiddenWindowLeavesItsLinesToTheWatchdog) {
    struct Lines : LineRecorder {
        std::vector<std::string> lines;
        void recordLine(std::string_view line) override { lines.emplace_back(line); }
    } recorder;
    Settings settings;
    settings.Font.lfHeight = -480;
    SystemClock clock;
    StringTable strings;
    CMarelView view(settings, recorder, clock, strings);
    view.resize(400, 300);
    view.show();
    QCoreApplication::processEvents();
    view.hide();
    view.receiveText("ONE\rTWO\rTHREE\r");
    EXPECT_FALSE(view.frameClock().running());
    QElapsedTimer waited;
    waited.start();
    while (view.intake().storedLineCount() < 3 && waited.elapsed() < 30000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    EXPECT_EQ(view.intake().storedLineCount(), 3u);
    EXPECT_EQ(recorder.lines, (std::vector<std::string>{"ONE", "TWO", "THREE"}));
    EXPECT_FALSE(view.frameClock().running());
}

} // namespace
} // namespace skiro
