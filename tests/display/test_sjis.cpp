#include <gtest/gtest.h>

#include <QString>

#include <string>

#include "display/Sjis.h"

namespace {

using namespace skiro;

TEST(ToSjis, LandsOnTheBytesWindowsGives) {
    struct Case {
        const char* name;
        std::u16string text;
        std::string bytes;
        int unmappable;
    } cases[] = {
        {"ASCII with backslash and tilde", u"A\\~", "A\\~", 0},
        {"kana and kanji", u"本日は", "\x96\x7B\x93\xFA\x82\xCD", 0},
        {"half-width katakana", u"ｱﾞ", "\xB1\xDE", 0},
        {"wave dash, JIS form", u"\u301C", "\x81\x60", 0},
        {"wave dash, Windows form", u"\uFF5E", "\x81\x60", 0},
        {"double vertical line", u"\u2016", "\x81\x61", 0},
        {"minus sign", u"\u2212", "\x81\x7C", 0},
        {"cent and pound", u"\u00A2\u00A3", "\x81\x91\x81\x92", 0},
        {"not sign", u"\u00AC", "\x81\xCA", 0},
        {"em dash and horizontal bar", u"\u2014\u2015", "\x81\x5C\x81\x5C", 0},
        {"yen and overline of JIS X 0201", u"\u00A5\u203E", "\\~", 0},
        {"NEC special and IBM extension", u"①\u2170", "\x87\x40\xFA\x40", 0},
        {"hangul has no Shift-JIS form", u"a한b", "a?b", 1},
        {"emoji is one character, one ?", u"x\U0001F600y\U0001F600", "x?y?", 2},
        {"e acute between kana", u"あéい", "\x82\xA0?\x82\xA2", 1},
        {"replacement character of broken UTF-8", u"\uFFFD", "?", 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const SjisText got = toSjisCounted(QString::fromStdU16String(c.text));
        EXPECT_EQ(got.bytes, c.bytes);
        EXPECT_EQ(got.unmappable, c.unmappable);
        EXPECT_EQ(toSjis(QString::fromStdU16String(c.text)), c.bytes);
    }
}

TEST(ToSjis, RoundTripsThroughTheDecoder) {
    const QString text = QString::fromUtf8("本日は晴天なり～①ｱ\\~");
    EXPECT_EQ(fromSjis(toSjis(text)), text);
}

} // namespace
