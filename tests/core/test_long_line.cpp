// A line without a line end that grows to a great length, as a speech recogniser sends it:
// painting it must cost work in proportion to what arrives, and show exactly the rows that
// breaking the whole line afresh gives.
#include <gtest/gtest.h>

#include <QString>

#include <functional>
#include <string>
#include <vector>

#include "ViewRig.h"
#include "display/Sjis.h"

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
