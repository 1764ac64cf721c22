// A line without a line end that grows to a great length, as a speech recogniser sends it:
// painting it must cost work in proportion to what arrives, and show exactly the rows that
// breaking the whole line afresh gives.
#include <gtest/gtest.h>

#include <QString>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "ViewRig.h"
#include "sjis/Sjis.h"

namespace skiro::testing {
namespace {

// Fixed widths, with the prefixes of a row given in one pass as the display's surface gives
// them, counting every byte it is asked to measure.
class CountingSurface : public RecordingSurface {
  public:
    mutable std::size_t measured = 0;

    TextExtent textExtent(std::string_view text) const override {
        measured += text.size();
        return RecordingSurface::textExtent(text);
    }
    void prefixExtentsUpTo(std::string_view line, std::size_t start, std::int64_t limit,
                           bool alongIsHeight, std::vector<PrefixExtent>& extents) const override {
        const std::string_view rest = line.substr(start);
        extents.assign(1, {{0, cellHeight}, true});
        int chars = 0;
        for (std::size_t pos = 0; pos < rest.size();) {
            const std::size_t d = sjis::charLength(rest, pos);
            if (d == 2)
                extents.push_back(extents.back());
            ++chars;
            extents.push_back({{chars * charWidth, cellHeight}, true});
            pos += d;
            measured += d;
            if (chars >= 2 && (alongIsHeight ? cellHeight : chars * charWidth) >= limit)
                break;
        }
    }
};

// Caption text with full stops and brackets, so that kinsoku moves characters at row ends.
std::string caption(std::size_t characters) {
    const QString sentence = QStringLiteral(
        "本日は「字幕」の説明会です。ご質問は、最後にどうぞ。ありがとうございました。");
    QString text;
    while (static_cast<std::size_t>(text.size()) < characters)
        text += sentence;
    text.truncate(static_cast<qsizetype>(characters));
    return toSjis(text);
}

struct KinsokuScope {
    KinsokuValues saved = Kinsoku;
    explicit KinsokuScope(int type) { Kinsoku = {type, kDefaultKinsokuHead, kDefaultKinsokuTail}; }
    ~KinsokuScope() { Kinsoku = saved; }
};

// What a painter that has never seen the lines draws of the whole window.
std::vector<RecordingSurface::Draw> freshPaint(ViewRig& rig, const Rect& client) {
    ViewState state = rig.state;
    Painter fresh{rig.settings, rig.intake, state};
    CountingSurface surface;
    fresh.paintLines(surface, client, client);
    return surface.draws;
}

bool sameDraws(const std::vector<RecordingSurface::Draw>& a,
               const std::vector<RecordingSurface::Draw>& b) {
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (a[i].x != b[i].x || a[i].y != b[i].y || a[i].text != b[i].text)
            return false;
    return true;
}

TEST(LongLine, GrowingLineCostsWorkInProportionToWhatArrives) {
    KinsokuScope kinsoku(1);
    ViewRig rig;
    CountingSurface surface;
    const Rect client = rig.window.client;
    const std::string line = caption(100000);
    // Pieces of odd sizes, cut anywhere, each followed by a paint of the whole window: the
    // dearest a paint can be.
    std::size_t at = 0;
    for (std::size_t piece = 997; at < line.size(); at += piece) {
        rig.intake.receiveText(std::string_view(line).substr(at, piece));
        surface.draws.clear();
        rig.painter.paintLines(surface, client, client);
    }
    ASSERT_EQ(rig.intake.currentLine(), line);
    // Breaking the whole line afresh at every paint would measure some 10^7 bytes.
    EXPECT_LT(surface.measured, 4 * line.size());
    // Every row, seen in a window tall enough for all of them, is the row a fresh break cuts.
    const Rect whole{0, 0, client.right, 200000};
    rig.state.entryOffset = whole.height();
    surface.draws.clear();
    rig.painter.paintLines(surface, whole, whole);
    ASSERT_GT(surface.draws.size(), 2000u);
    EXPECT_TRUE(sameDraws(surface.draws, freshPaint(rig, whole)));

    // Once complete, the line joins the store with its rows: painting it there and breaking
    // the short line after it measures nothing of it again.
    rig.state.entryOffset = client.height();
    rig.intake.receiveText("\r" + caption(10));
    rig.intake.commitLine(0);
    ASSERT_EQ(rig.intake.storedLineCount(), 1u);
    const std::size_t before = surface.measured;
    rig.painter.paintLines(surface, client, client);
    EXPECT_LT(surface.measured - before, 100u);
}

// A large piece costs what the window shows of it; the rest is cut as it scrolls in.
TEST(LongLine, LargePieceCostsWhatTheWindowShows) {
    ViewRig rig;
    CountingSurface surface;
    const Rect client = rig.window.client;
    rig.state.entryOffset = client.height() / 2;
    rig.intake.receiveText(caption(500000));
    rig.painter.paintLines(surface, client, client);
    EXPECT_LT(surface.measured, 2000u);
    EXPECT_TRUE(rig.state.scrolling);
    // Scrolled on by a window's height: only the rows that came in are cut.
    const std::size_t before = surface.measured;
    rig.state.entryOffset += client.height();
    surface.draws.clear();
    rig.painter.paintLines(surface, client, client);
    EXPECT_LT(surface.measured - before, 2000u);
    EXPECT_TRUE(sameDraws(surface.draws, freshPaint(rig, client)));
}

std::size_t characters(std::string_view text) {
    std::size_t n = 0;
    for (std::size_t i = 0; i < text.size(); i += sjis::charLength(text, i))
        ++n;
    return n;
}

// Keeps the rows that painting hands over to be rendered ahead.
class PreparedRows : public RowDrawer {
  public:
    std::vector<std::string> rows;
    void drawRow(TextSurface& surface, int x, int y, std::string_view row, int outlineWidth,
                 Colour text, Colour outline, bool vertical) override {
        drawRowImpressions(surface, x, y, row, outlineWidth, text, outline, vertical);
    }
    void prepareRow(TextSurface&, std::string_view row, int, Colour, Colour, bool) override {
        rows.emplace_back(row);
    }
};

// Without wrapping a line is one row that runs on past the window. Painting it, as it grows and
// while it waits behind another, costs what the window shows and what arrived, never the
// line's length, in both writing directions; the row is drawn from its start to just past the
// window's far edge, which is all of it the window can show; lines commit and are recorded
// once and in order as with wrapping.
TEST(LongLine, WithoutWrappingOnlyWhatTheWindowShowsIsMeasuredAndDrawn) {
    const struct Case {
        const char* name;
        int direction;
        int outline;
    } cases[] = {{"horizontal", 0, 0}, {"vertical", 1, 0}, {"horizontal, outlined", 0, 3}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        KinsokuScope kinsoku(1);
        ViewRig rig;
        rig.settings.NoWrap = 1;
        rig.settings.Direction = c.direction;
        rig.settings.Outline = c.outline > 0;
        rig.settings.LineCnt = std::max(1, c.outline);
        PreparedRows prepared;
        rig.painter.setRowDrawer(&prepared);
        CountingSurface surface;
        const Rect client = rig.window.client;
        const int room = c.direction ? client.height() : client.width();
        // The row is drawn until a character begins past the far edge by a cell and the
        // outline, and not beyond.
        const int farthest = room + surface.cellHeight + 2 * c.outline + surface.charWidth;
        const auto drawnAlong = [&](std::string_view row) {
            return static_cast<int>(characters(row)) * surface.charWidth;
        };
        rig.state.entryOffset = 100; // the row lies inside the window
        rig.window.glide = true;     // and stays there as text arrives
        const std::string line = caption(100000);
        for (std::size_t at = 0, piece = 997; at < line.size(); at += piece) {
            rig.intake.receiveText(std::string_view(line).substr(at, piece));
            surface.draws.clear();
            rig.painter.paintLines(surface, client, client);
            ASSERT_FALSE(surface.draws.empty());
            for (const RecordingSurface::Draw& d : surface.draws) {
                ASSERT_TRUE(std::string_view(line).starts_with(d.text));
                ASSERT_LE(drawnAlong(d.text), farthest);
                if (d.text.size() + 1 < rig.intake.currentLine().size()) {
                    ASSERT_GE(drawnAlong(d.text), room + surface.cellHeight);
                }
            }
        }
        // Laying out the whole line at each paint would measure some 5 * 10^6 bytes.
        EXPECT_LT(surface.measured, line.size());
        EXPECT_EQ(rig.intake.storedLineCount(), 0u);

        // Ended, with another long line waiting behind it: the rows rendered ahead are cut at
        // the window's edge too.
        const std::string next = caption(30000).substr(2);
        rig.intake.receiveText("\r" + next + "\r");
        rig.painter.prepareUpcoming(surface, client);
        ASSERT_EQ(prepared.rows.size(), 1u); // the ended line is inside: only the next's row
        EXPECT_TRUE(std::string_view(next).starts_with(prepared.rows[0]));
        EXPECT_LE(drawnAlong(prepared.rows[0]), farthest);
        EXPECT_GE(drawnAlong(prepared.rows[0]), room + surface.cellHeight);
        // Keep-up counts the waiting line as the one row it is, not as more than a window.
        std::vector<int> waiting;
        rig.painter.measureWaitingLines(surface, client, 64, waiting);
        EXPECT_EQ(waiting, std::vector<int>{surface.cellHeight + 2 * c.outline});
        const std::size_t before = surface.measured;
        for (int paints = 0; paints < 3; ++paints)
            rig.painter.paintLines(surface, client, client);
        EXPECT_LT(surface.measured - before, 1000u);
        EXPECT_EQ(rig.intake.storedLineCount(), 2u);
        EXPECT_EQ(rig.recorder.lines, (std::vector<std::string>{line, next}));
    }
}

// Pieces cut inside double-byte characters, in a window so narrow that rows hold a character
// or two: a row's cut may look at the next row's first characters, one of which was only a
// lead byte when the row was cut.
TEST(LongLine, LineGrownByteByByteHasTheRowsOfTheWholeLine) {
    KinsokuScope kinsoku(1);
    ViewRig rig;
    CountingSurface surface;
    const Rect narrow{0, 0, 25, 300};
    const std::string line = caption(60);
    for (const char byte : line) {
        rig.intake.receiveText(std::string(1, byte));
        rig.painter.paintLines(surface, narrow, narrow);
    }
    const Rect whole{0, 0, narrow.right, 20000};
    rig.state.entryOffset = whole.height();
    surface.draws.clear();
    rig.painter.paintLines(surface, whole, whole);
    EXPECT_TRUE(sameDraws(surface.draws, freshPaint(rig, whole)));
}

// Rows kept from earlier paints never outlive what they were cut for: whatever changes the
// breaking, the next paint shows what a fresh break shows.
TEST(LongLine, KeptRowsFollowEveryChangeOfTheBreaking) {
    struct Case {
        const char* name;
        std::function<void(ViewRig&, Rect&)> change;
    } cases[] = {
        {"narrower window", [](ViewRig&, Rect& client) { client.right = 230; }},
        {"kinsoku off", [](ViewRig&, Rect&) { Kinsoku.Type = 0; }},
        {"push-in", [](ViewRig&, Rect&) { Kinsoku.Type = 2; }},
        {"head set changed", [](ViewRig&, Rect&) { Kinsoku.Head = "\x81\x41"; }},
        {"outline", [](ViewRig& r, Rect&) { r.settings.Outline = 1, r.settings.LineCnt = 3; }},
        {"interline space", [](ViewRig& r, Rect&) { r.settings.Interline = 1; }},
        {"no wrap", [](ViewRig& r, Rect&) { r.settings.NoWrap = 1; }},
        {"leading bytes deleted",
         [](ViewRig& r, Rect&) { r.settings.DeleteHandle = 1, r.settings.DeleteBytes = 3; }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        KinsokuScope kinsoku(1);
        ViewRig rig;
        Rect client = rig.window.client;
        // A stored line and a growing current line, both painted once before the change.
        rig.state.entryOffset = client.height() / 2;
        rig.intake.receiveText(caption(90) + "\r" + caption(150));
        rig.intake.commitLine(client.height() / 2);
        rig.painter.paintLines(rig.surface, client, client);
        rig.intake.receiveText(caption(7));
        rig.painter.paintLines(rig.surface, client, client);

        c.change(rig, client);
        rig.surface.draws.clear();
        rig.painter.paintLines(rig.surface, client, client);
        EXPECT_TRUE(sameDraws(rig.surface.draws, freshPaint(rig, client)));
    }
}

} // namespace
} // namespace skiro::testing
