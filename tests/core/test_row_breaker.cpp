#include <gtest/gtest.h>

#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "core/DisplayLine.h"
#include "core/Kinsoku.h"
#include "core/LayoutParams.h"
#include "core/ReferenceRowBreaker.h"
#include "core/Settings.h"
#include "core/ShiftJis.h"
#include "core/TextSurface.h"
#include "sjis/Sjis.h"

namespace {

using namespace skiro;

// Test texts are written in UTF-8 and stored, as received text is, in code page 932.
std::string sj(std::string_view utf8) {
    const SjisText converted =
        toSjisCounted(QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size())));
    EXPECT_EQ(converted.unmappable, 0) << utf8;
    return converted.bytes;
}

// A font of fixed widths: every double-byte character 10 pixels, every one-byte character 5,
// cells 20 high. With `turned` the components swap, as a font turned for vertical writing that
// is not TrueType reports them.
class FixedSurface : public TextSurface {
  public:
    int doubleWidth = 10;
    int singleWidth = 5;
    bool turned = false;

    TextExtent textExtent(std::string_view text) const override {
        int along = 0;
        for (std::size_t i = 0; i < text.size(); i += sjis::charLength(text, i))
            along += sjis::charLength(text, i) == 2 ? doubleWidth : singleWidth;
        return turned ? TextExtent{20, along} : TextExtent{along, 20};
    }
    int fontHeight() const override { return 20; }
    std::uint8_t pitchAndFamily() const override { return kTrueTypePitchBit; }
    void drawText(int, int, std::string_view, Colour) override {}
    void fillRect(const Rect&, Colour) override {}
};

// A font that kerns "AV" by -3 and sets "ffi" as one 8-pixel ligature when measured alone,
// while its one-pass prefix extents ignore both and vouch for none of them, as a shaped line's
// glyph positions can differ from prefixes measured on their own.
class KerningSurface : public FixedSurface {
  public:
    TextExtent textExtent(std::string_view text) const override {
        int along = FixedSurface::textExtent(text).cx;
        for (std::size_t i = 0; i + 1 < text.size(); ++i) {
            if (text.substr(i, 2) == "AV")
                along -= 3;
            if (text.substr(i, 3) == "ffi")
                along -= 7;
        }
        return {along, 20};
    }
    void prefixExtents(std::string_view line, std::size_t start,
                       std::vector<PrefixExtent>& out) const override {
        const std::string_view rest = line.substr(start);
        out.assign(rest.size() + 1, PrefixExtent{{0, 20}, false});
        for (std::size_t i = 0; i < rest.size();) {
            const std::size_t d = sjis::charLength(rest, i);
            out[i + d].extent.cx = out[i].extent.cx + (d == 2 ? doubleWidth : singleWidth);
            if (d == 2)
                out[i + 1] = out[i];
            i += d;
        }
    }
};

// Fixed widths whose one-pass extents end early: after `given` characters, or when negative
// at the first character past the second that reaches the limit, as the Qt surface stops.
class ShortExtentsSurface : public FixedSurface {
  public:
    int given = -1;

    void prefixExtentsUpTo(std::string_view line, std::size_t start, std::int64_t limit, bool,
                           std::vector<PrefixExtent>& out) const override {
        const std::string_view rest = line.substr(start);
        out.assign(1, PrefixExtent{{0, 20}, true});
        int characters = 0;
        for (std::size_t i = 0; i < rest.size() && characters != given;) {
            const std::size_t d = sjis::charLength(rest, i);
            if (d == 2)
                out.push_back(out.back());
            i += d;
            out.push_back({textExtent(rest.substr(0, i)), true});
            ++characters;
            if (given < 0 && characters >= 2 && out.back().extent.cx >= limit)
                break;
        }
    }
};

using Row = BrokenRow;

template <class Breaker>
std::vector<Row> breakAll(Breaker& breaker, std::string_view text, const LayoutParams& p) {
    return breakIntoRows(breaker, text, p, 1000);
}

std::string joined(const std::vector<Row>& rows) {
    std::string s;
    for (const Row& r : rows)
        s += (s.empty() ? "" : "|") + r.text;
    return s;
}

class RowBreakerTest : public ::testing::Test {
  protected:
    void SetUp() override {
        m_saved = Kinsoku;
        Kinsoku = {0, kDefaultKinsokuHead, kDefaultKinsokuTail};
        params.dc = &surface;
        params.extentLimit = 45;
        params.pitchPercent = 100;
        params.emptyThickness = 20;
    }
    void TearDown() override { Kinsoku = m_saved; }

    std::string rows(std::string_view utf8Text) {
        CDisplayLine breaker;
        return joined(breakAll(breaker, sj(utf8Text), params));
    }

    FixedSurface surface;
    LayoutParams params;

  private:
    KinsokuValues m_saved;
};

TEST_F(RowBreakerTest, WorkedExampleForEachKinsokuType) {
    struct Case {
        const char* text;
        int type;
        const char* rows;
    } cases[] = {
        {"あいうえ。かきくけこ", 0, "あいうえ|。かきく|けこ"},
        {"あいうえ。かきくけこ", 1, "あいう|え。かき|くけこ"},
        {"あいうえ。かきくけこ", 2, "あいう|え。か|きくけこ"},
        {"あいう。えおかきく", 0, "あいう。|えおかき|く"},
        {"あいう。えおかきく", 1, "あいう。|えおかき|く"},
        {"あいう。えおかきく", 2, "あいう。|えおか|きく"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.text) + " type " + std::to_string(c.type));
        Kinsoku.Type = c.type;
        EXPECT_EQ(rows(c.text), sj(c.rows));
    }
}

TEST_F(RowBreakerTest, KinsokuCases) {
    struct Case {
        const char* name;
        int type;
        const char* text;
        const char* rows;
    } cases[] = {
        {"push-out: an opening bracket at the row end moves down", 1, "あいう「えおか",
         "あいう|「えおか"},
        {"push-out: a moved head-forbidden character moves alone", 1, "あいう。」かき",
         "あいう|。」かき"},
        {"push-in: a row may end with the comma in the last cell", 2, "あいう、えお",
         "あいう、|えお"},
        {"push-in: the character after an opening bracket stays with it", 2, "あい「うえお",
         "あい「う|えお"},
        {"push-in: ordinary text wraps one character early", 2, "あいうえおかき",
         "あいう|えおかき"},
        {"type 3 is no rule at all", 3, "あいうえ。かき", "あいうえ|。かき"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Kinsoku.Type = c.type;
        EXPECT_EQ(rows(c.text), sj(c.rows));
    }
}

TEST_F(RowBreakerTest, SetMembershipIsByWholeCharacterOfTheSet) {
    // "。", "、" and "ー" end in the bytes of B, A and [.
    const std::string trapSet = sj("。、ー");
    for (const char* ch : {"B", "A", "["})
        EXPECT_FALSE(kinsokuSetContains(trapSet, ch)) << ch;
    EXPECT_TRUE(kinsokuSetContains(trapSet, sj("ー")));
    EXPECT_TRUE(kinsokuSetContains("B\x81", "\x81")); // a lead byte at the set's end
    EXPECT_FALSE(kinsokuSetContains("", "B"));

    // In the breaker: B does not fit and must not count as head-forbidden under push-out.
    Kinsoku = {1, trapSet, ""};
    params.extentLimit = 45;
    EXPECT_EQ(rows("あいうえBC"), sj("あいうえ|BC"));
    Kinsoku.Head += "B";
    EXPECT_EQ(rows("あいうえBC"), sj("あいう|えBC"));
}

TEST_F(RowBreakerTest, WidthOnlyCases) {
    struct Case {
        const char* name;
        int type;
        bool emptySets;
        int limit;
        const char* text;
        const char* rows;
    } cases[] = {
        {"prefix ending exactly at the limit goes to the next row", 0, false, 40, "あいうえお",
         "あいう|えお"},
        {"prefix one pixel below the limit stays", 0, false, 41, "あいうえお", "あいうえ|お"},
        {"both sets empty: push-in cuts by width", 2, true, 45, "あいうえおか", "あいうえ|おか"},
        {"both sets empty: push-out cuts by width", 1, true, 45, "あいうえ。か", "あいうえ|。か"},
        {"narrower than one character: one per row, never shortened", 2, false, 5, "あいう",
         "あ|い|う"},
        {"limit 0: one character per row", 1, false, 0, "あ。い", "あ|。|い"},
        {"negative limit: one character per row", 2, false, -7, "ab", "a|b"},
        {"half-width katakana are one-byte characters", 0, false, 22, "ｱｲｳｴｵｶ", "ｱｲｳｴ|ｵｶ"},
        {"half-width head-forbidden full stop pushes out", 1, false, 22, "ｱｲｳｴ｡ｶ", "ｱｲｳ|ｴ｡ｶ"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Kinsoku.Type = c.type;
        Kinsoku.Head = c.emptySets ? "" : kDefaultKinsokuHead;
        Kinsoku.Tail = c.emptySets ? "" : kDefaultKinsokuTail;
        params.extentLimit = c.limit;
        EXPECT_EQ(rows(c.text), sj(c.rows));
    }
}

TEST_F(RowBreakerTest, InvalidShiftJisIsBrokenByteByByte) {
    params.extentLimit = 12;
    // A lead byte at the very end, and one followed by a byte that cannot trail (a space):
    // both are one-byte characters of 5 pixels.
    const std::string text = sj("あ") + "\x82" + "\x82 ";
    CDisplayLine breaker;
    const std::vector<Row> got = breakAll(breaker, text, params);
    EXPECT_EQ(joined(got), sj("あ") + "|\x82\x82| ");
}

TEST_F(RowBreakerTest, OutlineAndPitchArithmetic) {
    struct Case {
        const char* name;
        int limit, outline, pitch;
        const char* text;
        const char* rows;
        int thickness; // of every row
    } cases[] = {
        {"empty text: one empty row of the empty thickness", 45, 0, 100, "", "", 20},
        {"empty text with outline and interline space", 45, 3, 120, "", "", 31}, // 120*26/100
        {"outline narrows the limit by both sides", 51, 3, 100, "あいうえお", "あいうえ|お", 26},
        {"without outline the same limit takes five", 51, 0, 100, "あいうえお", "あいうえお", 20},
        {"outline wider than the window: one character per row", 10, 5, 100, "あい", "あ|い", 30},
        {"pitch truncates", 45, 1, 133, "あいうえお", "あいうえ|お", 29}, // 133*22/100
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        params.extentLimit = c.limit;
        params.outlineWidth = c.outline;
        params.pitchPercent = c.pitch;
        CDisplayLine breaker;
        const std::string text = sj(c.text);
        const std::vector<Row> got = breakAll(breaker, text, params);
        EXPECT_EQ(joined(got), sj(c.rows));
        for (const Row& r : got)
            EXPECT_EQ(r.thickness, c.thickness);
        EXPECT_EQ(CDisplayLine().measureLine(text, params),
                  c.thickness * static_cast<int>(got.size()));
    }
}

TEST_F(RowBreakerTest, NoWrapKeepsAnyTextOnOneRow) {
    params.noWrap = 1;
    params.extentLimit = 10;
    Kinsoku.Type = 2;
    EXPECT_EQ(rows("あいうえおかきくけこ。"), sj("あいうえおかきくけこ。"));
    surface.doubleWidth = 200000000; // the row is far wider than any window
    EXPECT_EQ(rows("あいうえおかきくけこ"), sj("あいうえおかきくけこ"));
}

TEST_F(RowBreakerTest, TurnedFontMeasuresAlongTheHeightComponent) {
    surface.turned = true;
    params.advanceIsHeight = 1;
    params.outlineWidth = 1;
    params.extentLimit = 47;
    CDisplayLine breaker;
    const std::vector<Row> got = breakAll(breaker, sj("あいうえお"), params);
    EXPECT_EQ(joined(got), sj("あいうえ|お"));
    EXPECT_EQ(got[0].thickness, 22); // across is the width component: 20 + 2
}

TEST_F(RowBreakerTest, ContinuingAfterTheLastRowGivesAnEmptyLastRow) {
    CDisplayLine breaker;
    std::string row = "x";
    int thickness = 0;
    const std::string text = sj("あ");
    std::string_view view = text;
    EXPECT_TRUE(breaker.nextRow(&view, params, &row, thickness));
    EXPECT_TRUE(breaker.nextRow(nullptr, params, &row, thickness));
    EXPECT_EQ(row, "");
    EXPECT_EQ(thickness, 20);
}

// Kerning and ligatures make the one pass propose the wrong end; every row must still be the
// one that measuring each prefix alone gives.
TEST_F(RowBreakerTest, MatchesPerPrefixBreakingWhenTheFontKerns) {
    static const KerningSurface kerning;
    params.dc = &kerning;
    const char* texts[] = {"AVAVAVAVAVAV", "office affine ffi", "AVあいうffi。かきAV「く」AV",
                           "ｱｲAVｳ､ffiｴ"};
    for (const char* t : texts) {
        const std::string text = sj(t);
        for (int type = 0; type <= 2; ++type) {
            Kinsoku.Type = type;
            for (int limit = -1; limit <= 70; ++limit) {
                for (int outline : {0, 2}) {
                    SCOPED_TRACE(std::string(t) + " type " + std::to_string(type) + " limit " +
                                 std::to_string(limit) + " outline " + std::to_string(outline));
                    params.extentLimit = limit;
                    params.outlineWidth = outline;
                    CDisplayLine fast;
                    ReferenceRowBreaker reference;
                    ASSERT_EQ(breakAll(fast, text, params), breakAll(reference, text, params));
                }
            }
        }
    }
}

// The surface may stop its extents at the first character that does not fit, or (wrongly)
// sooner; rows must not change either way, and nothing may be read past the given extents.
TEST_F(RowBreakerTest, ExtentsThatEndEarlyGiveTheSameRows) {
    static ShortExtentsSurface shortSurface;
    params.dc = &shortSurface;
    Kinsoku.Type = 2;
    const std::string text = sj("あいうえ。かきABCくけ「こ」さしすせそ");
    for (int given : {-1, 0, 1, 2, 5}) {
        shortSurface.given = given;
        for (int limit : {-1, 9, 10, 11, 45, 60, 1000}) {
            SCOPED_TRACE("given " + std::to_string(given) + " limit " + std::to_string(limit));
            params.extentLimit = limit;
            CDisplayLine fast;
            ReferenceRowBreaker reference;
            ASSERT_EQ(breakAll(fast, text, params), breakAll(reference, text, params));
        }
    }
}

// Painting reuses one breaker and one text buffer for line after line: a new line in the same
// bytes' place, with other character boundaries, must be cut by its own boundaries.
TEST_F(RowBreakerTest, NewLineInTheSameBufferIsCutAfresh) {
    CDisplayLine fast;
    std::string buffer = sj("あいうえおかきくけこ");
    const auto first = breakAll(fast, buffer, params);
    EXPECT_EQ(joined(first), sj("あいうえ|おかきく|けこ"));
    buffer.replace(0, buffer.size(), "x" + sj("あいうえおかきくけ") + "y");
    ReferenceRowBreaker reference;
    EXPECT_EQ(breakAll(fast, buffer, params), breakAll(reference, buffer, params));
    EXPECT_EQ(joined(breakAll(fast, buffer, params)), sj("xあいう|えおかき|くけy"));
}

} // namespace
