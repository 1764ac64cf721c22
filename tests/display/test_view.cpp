#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QImage>
#include <QPainter>

#include <memory>
#include <string>

#include "core/Clock.h"
#include "core/DisplayLine.h"
#include "core/LayoutParams.h"
#include "core/Recorder.h"
#include "core/Settings.h"
#include "core/StringTable.h"
#include "display/CMarelView.h"
#include "display/OutlineRowCache.h"
#include "display/QtTextSurface.h"
#include "display/TickSource.h"
#include "sjis/Sjis.h"
#include "tests/core/ViewRig.h"

namespace skiro {
namespace {

// "日本語、「Ab」" in code page 932: kanji, a comma and brackets that turn in vertical writing,
// Latin that lies on its side.
const std::string kRow = "\x93\xfa\x96\x7b\x8c\xea\x81\x41\x81\x75"
                         "Ab\x81\x76";

// Text output with two-level glyphs: each call draws the glyphs of the row, all or nothing,
// over what is there, as the repeated outputs of the outline pattern expect.
class TwoLevelSurface : public TextSurface {
  public:
    TwoLevelSurface(QtTextSurface& font, QImage& canvas) : m_font(font), m_canvas(canvas) {}
    TextExtent textExtent(std::string_view text) const override { return m_font.textExtent(text); }
    int fontHeight() const override { return m_font.fontHeight(); }
    std::uint8_t pitchAndFamily() const override { return m_font.pitchAndFamily(); }
    void fillRect(const Rect&, Colour) override {}
    void drawText(int x, int y, std::string_view row, Colour colour) override {
        QImage glyphs(m_canvas.size(), QImage::Format_MonoLSB);
        glyphs.setColorTable({qRgb(0, 0, 0), qRgb(255, 255, 255)});
        glyphs.fill(0);
        {
            QPainter p(&glyphs);
            m_font.setPainter(&p);
            m_font.drawText(x, y, row, rgb(255, 255, 255));
            m_font.setPainter(nullptr);
        }
        for (int py = 0; py < glyphs.height(); ++py)
            for (int px = 0; px < glyphs.width(); ++px)
                if (glyphs.pixelIndex(px, py))
                    m_canvas.setPixel(px, py, qRgb(redOf(colour), greenOf(colour), blueOf(colour)));
    }

  private:
    QtTextSurface& m_font;
    QImage& m_canvas;
};

Font fontOfTwips(int twips) {
    Font f;
    f.lfHeight = twips;
    return f;
}

TEST(OutlineRowCache, CachedRowEqualsTheRepeatedTextOutputsPixelForPixel) {
    struct Case {
        const char* name;
        int dots;
        int direction;
    } cases[] = {
        {"1 dot, horizontal", 1, 0}, {"3 dots, horizontal", 3, 0},   {"1 dot, vertical", 1, 1},
        {"3 dots, vertical", 3, 1},  {"10 dots, horizontal", 10, 0},
    };
    const Colour text = rgb(255, 255, 0);
    const Colour outline = rgb(200, 0, 0);
    const QRgb back = qRgb(0, 0, 255);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QtTextSurface surface(fontOfTwips(-480), c.direction, 96);
        const bool vertical = c.direction == 1;
        const QSize size = vertical ? QSize(160, 480) : QSize(480, 160);
        const int x = vertical ? 120 : 20;
        const int y = 20;

        QImage reference(size, QImage::Format_RGB32);
        reference.fill(back);
        TwoLevelSurface impressions(surface, reference);
        drawRowImpressions(impressions, x, y, kRow, c.dots, text, outline, vertical);

        QImage cached(size, QImage::Format_RGB32);
        cached.fill(back);
        OutlineRowCache cache;
        {
            QPainter p(&cached);
            surface.setPainter(&p);
            cache.begin(surface, p);
            cache.drawRow(surface, x, y, kRow, c.dots, text, outline, vertical);
            cache.drawRow(surface, x, y, kRow, c.dots, text, outline, vertical); // from cache
            cache.end();
            surface.setPainter(nullptr);
        }
        EXPECT_EQ(cache.renderedRows(), 1u);

        int outlinePixels = 0;
        int differing = 0;
        for (int py = 0; py < size.height(); ++py)
            for (int px = 0; px < size.width(); ++px) {
                outlinePixels += reference.pixel(px, py) == qRgb(200, 0, 0);
                differing += reference.pixel(px, py) != cached.pixel(px, py);
            }
        EXPECT_GT(outlinePixels, 100) << "the row was drawn at all";
        EXPECT_EQ(differing, 0);
    }
}

// Without wrapping, a row longer than the window is drawn only as far as the window shows it.
// The picture is the one drawing the whole row gives, in a font that kerns Latin pairs, in
// both directions, outlined or not, drawn directly or from the gliding rows' images.
TEST(NoWrapRow, ShowsWhatDrawingTheWholeRowShows) {
    const struct Case {
        const char* name;
        int direction;
        int dots;
        bool glide;
    } cases[] = {
        {"horizontal", 0, 0, false},           {"vertical", 1, 0, false},
        {"horizontal, outlined", 0, 2, false}, {"vertical, outlined", 1, 2, false},
        {"horizontal, gliding", 0, 0, true},   {"vertical, outlined, gliding", 1, 2, true},
    };
    const QString words = QStringLiteral("AVAT To, Yo. WAVE あア漢「字幕」ー1 Ta.V ");
    QString text;
    while (text.size() < 3000)
        text += words;
    const std::string line = toSjis(text);
    Font font;
    font.lfHeight = -360; // 24 px
    font.lfFaceName = toSjis(QStringLiteral("DejaVu Sans"));
    const QRgb back = qRgb(0, 0, 0);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const bool vertical = c.direction == 1;
        testing::ViewRig rig;
        rig.settings.NoWrap = 1;
        rig.settings.Direction = c.direction;
        rig.settings.Outline = c.dots > 0;
        rig.settings.LineCnt = std::max(1, c.dots);
        rig.settings.Color.Text = rgb(255, 255, 255);
        rig.settings.OutlineColor = rgb(0, 0, 255);
        rig.window.glide = true; // the picture stays put as text arrives
        rig.window.client = vertical ? Rect{0, 0, 120, 400} : Rect{0, 0, 400, 120};
        const Rect client = rig.window.client;
        rig.state.entryOffset = 60;
        QtTextSurface surface(font, c.direction, 96);
        OutlineRowCache cache, wholeRows;
        for (OutlineRowCache* rows : {&cache, &wholeRows}) {
            rows->setGlide(c.glide);
            rows->setPhase(0.5);
        }
        rig.painter.setRowDrawer(c.glide ? &cache : nullptr);

        // Painted as it grows, then whole.
        const auto paint = [&](auto draw) {
            QImage image(client.width(), client.height(), QImage::Format_RGB32);
            image.fill(back);
            QPainter p(&image);
            surface.setPainter(&p);
            cache.begin(surface, p);
            wholeRows.begin(surface, p);
            draw();
            cache.end();
            wholeRows.end();
            surface.setPainter(nullptr);
            return image;
        };
        rig.intake.receiveText(std::string_view(line).substr(0, 1001));
        paint([&] { rig.painter.paintLines(surface, client, client); });
        rig.intake.receiveText(std::string_view(line).substr(1001));
        const QImage cut = paint([&] { rig.painter.paintLines(surface, client, client); });

        const int x = vertical ? client.left + 60 : client.left;
        const int y = vertical ? client.top : client.bottom - 60;
        const Colour textColour = rgb(255, 255, 255);
        const Colour outlineColour = rgb(0, 0, 255);
        const QImage whole = paint([&] {
            if (c.glide)
                wholeRows.drawRow(surface, x, y, line, c.dots, textColour, outlineColour, vertical);
            else
                drawRowImpressions(surface, x, y, line, c.dots, textColour, outlineColour,
                                   vertical);
        });
        EXPECT_EQ(cut, whole);
        // Drawn only so far: the row's start, past the far edge by a little.
        LayoutParams p;
        p.dc = &surface;
        p.extentLimit = vertical ? client.height() : client.width();
        p.outlineWidth = c.dots;
        p.noWrap = 1;
        p.emptyThickness = surface.fontHeight();
        EXPECT_LT(CDisplayLine().drawnLength(line, 0, line.size(), p), 200u);
        // The row reaches the far edge.
        int inkAtTheEdge = 0;
        for (int along = 0; along < 48; ++along)
            for (int across = 0; across < 120; ++across)
                inkAtTheEdge += (vertical ? cut.pixel(across, cut.height() - 1 - along)
                                          : cut.pixel(cut.width() - 1 - along, across)) != back;
        EXPECT_GT(inkAtTheEdge, 0);
    }
}

class NoRecorder : public LineRecorder {
  public:
    void recordLine(std::string_view) override {}
};

// A view that moves only when the test posts ticks: the whole-step motion.
struct ViewFixture {
    Settings settings;
    SystemClock clock;
    StringTable strings;
    NoRecorder recorder;
    std::unique_ptr<CMarelView> view;

    explicit ViewFixture(int direction = 0) {
        settings.Direction = direction;
        settings.Smooth = 0;           // whole steps, one per posted tick
        settings.Font.lfHeight = -480; // 32 pixels
        settings.Color.Back = rgb(0, 0, 0);
        settings.Color.Text = rgb(255, 255, 255);
        view = std::make_unique<CMarelView>(settings, recorder, clock, strings);
        view->stopScrollTimer();
        view->resize(400, 300);
        view->show();
        settle();
    }
    void settle() {
        for (int i = 0; i < 5; ++i)
            QCoreApplication::processEvents();
    }
    void ticks(int count) {
        for (int i = 0; i < count; ++i)
            QCoreApplication::postEvent(view.get(), new QEvent(CMarelView::kScrollTickEvent));
        settle();
    }
    void untilRest() {
        for (int i = 0; i < 500 && view->state().scrolling; ++i)
            ticks(1);
    }
    // Columns (or rows) of the current picture that hold a pixel of the given colour.
    QImage picture() { return view->grab().toImage().convertToFormat(QImage::Format_RGB32); }
};

bool anyPixel(const QImage& image, const QRect& area, QRgb colour) {
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            if (image.pixel(x, y) == colour)
                return true;
    return false;
}

TEST(CMarelView, BurstOfQueuedTicksGivesOneStep) {
    ViewFixture f;
    f.view->receiveText(kRow + kRow + kRow + kRow + "\r");
    f.settle();
    const int before = f.view->state().entryOffset;
    f.ticks(6);
    EXPECT_EQ(f.view->state().entryOffset, before + f.settings.Step);
    f.ticks(1);
    EXPECT_EQ(f.view->state().entryOffset, before + 2 * f.settings.Step);
    EXPECT_EQ(f.view->state().entryPhase, 0) << "whole steps only";
    EXPECT_FALSE(f.view->frameClock().running()) << "the ticks alone move it";
}

// A window that cannot paint (hidden, minimized) keeps its update pending for ever; that must
// not keep the watch thread from reporting data, or the driver's buffer fills while lines move
// on one per 800 ms.
TEST(CMarelView, PendingPaintHoldsReadingBackOnlyWhileTheWindowCanPaint) {
    ViewFixture f;
    f.view->receiveText("abc");
    EXPECT_FALSE(f.view->canPostDataReady()) << "a shown window reads after its paint";
    f.settle();
    f.view->hide();
    f.view->receiveText("def");
    QCoreApplication::postEvent(f.view.get(), new QEvent(CMarelView::kDataReadyEvent));
    f.settle();
    EXPECT_TRUE(f.view->canPostDataReady());
}

TEST(CMarelView, StoredLinesKeepTheirColourCommands) {
    ViewFixture f;
    f.settings.ExtCommands = 1;
    f.view->receiveText("\x1cTCff0000:" + kRow + "\r");
    f.untilRest();
    f.view->receiveText("\x1cTC00ff00:" + kRow + "\r");
    f.untilRest();
    f.settings.Color.Text = rgb(255, 255, 255); // what a later colour command would do
    f.view->updateView();
    f.settle();
    const QImage image = f.picture();
    // Two one-row lines stacked against the bottom edge.
    const int rowHeight = QtTextSurface(f.settings.Font, 0, f.view->logicalDpiX()).fontHeight();
    ASSERT_EQ(f.view->state().entryOffset, 0);
    const QRect older(0, 300 - 2 * rowHeight, 400, rowHeight - 2);
    const QRect newer(0, 300 - rowHeight, 400, rowHeight);
    EXPECT_TRUE(anyPixel(image, older, qRgb(255, 0, 0)));
    EXPECT_FALSE(anyPixel(image, older, qRgb(0, 255, 0)));
    EXPECT_TRUE(anyPixel(image, newer, qRgb(0, 255, 0)));
    EXPECT_FALSE(anyPixel(image, image.rect(), qRgb(255, 255, 255)));
}

TEST(CMarelView, VerticalWritingEntersAtTheLeftAndMovesRight) {
    ViewFixture f(1);
    f.view->receiveText(kRow + "\r");
    f.settle();
    auto inkRight = [&] {
        const QImage image = f.picture();
        int right = -1;
        for (int x = 0; x < image.width(); ++x)
            if (anyPixel(image, QRect(x, 0, 1, image.height()), qRgb(255, 255, 255)))
                right = x;
        return right;
    };
    f.ticks(1);
    f.ticks(1);
    f.ticks(1);
    const int first = inkRight();
    EXPECT_GE(first, 0);
    EXPECT_LT(first, f.view->state().entryOffset) << "the column enters from the left edge";
    f.ticks(1);
    f.ticks(1);
    EXPECT_EQ(inkRight(), first + 2 * f.settings.Step);
    EXPECT_TRUE(f.view->state().scrolling);
}

void runEventsFor(int ms) {
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < ms)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
}

// At rest the tick source posts nothing; the first step wakes it and the line moves on with
// ticks; once the line is in and nothing is left, it rests again.
TEST(CMarelView, TickSourceRestsWhileNothingMoves) {
    for (int method : {0, 1, 2}) {
        SCOPED_TRACE("TimerMethod " + std::to_string(method));
        ViewFixture f;
        f.settings.TimerMethod = method;
        f.settings.Tick = 10;
        f.view->startScrollTimer(f.settings.Tick);
        for (int i = 0; i < 100 && !f.view->tickSource().paused(); ++i)
            runEventsFor(20);
        EXPECT_TRUE(f.view->tickSource().paused()) << "the first tick at rest lets it rest";
        EXPECT_NE(f.view->tickSource().running(), TickSource::Kind::None);
        const std::uint64_t atRest = f.view->ticksPosted();
        runEventsFor(150);
        EXPECT_EQ(f.view->ticksPosted(), atRest) << "no tick at rest";
        EXPECT_TRUE(f.view->canPostDataReady()) << "no tick queued at rest";

        f.view->receiveText(kRow + "\r");
        EXPECT_FALSE(f.view->tickSource().paused()) << "the first step wakes the ticks";
        EXPECT_EQ(f.view->state().entryOffset, f.settings.Step);
        // A busy machine may delay the ticks, so this waits for them up to a generous bound.
        for (int i = 0; i < 100 && f.view->state().entryOffset <= 3 * f.settings.Step; ++i)
            runEventsFor(20);
        EXPECT_GT(f.view->ticksPosted(), atRest + 1);
        EXPECT_GT(f.view->state().entryOffset, 3 * f.settings.Step) << "ticks move the line";

        for (int i = 0; i < 100 && !f.view->tickSource().paused(); ++i)
            runEventsFor(20);
        EXPECT_TRUE(f.view->tickSource().paused());
        EXPECT_FALSE(f.view->state().scrolling);
        EXPECT_EQ(f.view->intake().storedLineCount(), 1u);
    }
}

TEST(TickSource, SwitchingMethodsNeverRunsTwoSources) {
    int posted = 0;
    TickSource source([&posted] { ++posted; });
    struct Step {
        int method;
        TickSource::Kind kind;
    } steps[] = {{0, TickSource::Kind::CoarseTimer},  {1, TickSource::Kind::PreciseTimer},
                 {0, TickSource::Kind::CoarseTimer},  {2, TickSource::Kind::Thread},
                 {1, TickSource::Kind::PreciseTimer}, {2, TickSource::Kind::Thread},
                 {2, TickSource::Kind::Thread},       {0, TickSource::Kind::CoarseTimer}};
    for (const Step& s : steps) {
        SCOPED_TRACE(s.method);
        source.start(s.method, 20);
        EXPECT_EQ(source.running(), s.kind);
        EXPECT_EQ(source.runningSources(), 1);
    }
    source.stop();
    EXPECT_EQ(source.runningSources(), 0);
}

TEST(TickSource, EachSourceDeliversTicksAndStopsAtOnce) {
    for (int method : {0, 1, 2}) {
        SCOPED_TRACE(method);
        std::atomic<int> posted{0};
        TickSource source([&posted] { ++posted; });
        source.start(method, 10);
        // A busy machine may delay the ticks, so this waits for them up to a generous bound.
        QElapsedTimer timer;
        timer.start();
        while (posted.load() < 5 && timer.elapsed() < 10000)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        EXPECT_GE(posted.load(), 5);
        source.stop();
        const int atStop = posted.load();
        runEventsFor(60);
        EXPECT_EQ(posted.load(), atStop) << "no tick after stop";

        // With an interval far longer than any delay of a busy machine, a stop that waited for
        // the interval shows plainly.
        source.start(method, 20000);
        runEventsFor(20);
        timer.restart();
        source.stop();
        EXPECT_LT(timer.elapsed(), 10000) << "stopping waits for no interval";
        EXPECT_EQ(source.runningSources(), 0);
    }
}

} // namespace
} // namespace skiro
