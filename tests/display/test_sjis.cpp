#include <gtest/gtest.h>

#include <QString>

#include <string>
#include <vector>

#include "display/Sjis.h"

namespace {

using namespace skiro;

// Code page 932 as Windows converts it, in both directions, in one table.
TEST(Sjis, ConvertsAsWindowsDoes) {
    enum Way { Both, ToSjis, FromSjis };
    struct Case {
        const char* name;
        std::u16string text;
        std::string bytes;
        Way way;
        int unmappable = 0;
        int approximated = 0;
    } cases[] = {
        {"ASCII with backslash and tilde", u"A\\~", "A\\~", Both},
        {"kana and kanji", u"本日は", "\x96\x7B\x93\xFA\x82\xCD", Both},
        {"half-width katakana", u"ｱﾞ", "\xB1\xDE", Both},
        {"NEC special and IBM extension", u"①\u2170", "\x87\x40\xFA\x40", Both},
        {"wave dash, Windows form", u"\uFF5E", "\x81\x60", Both},
        {"control codes SUB, FS and DEL stay themselves", u"\x1A\x1C\x7F", "\x1A\x1C\x7F", Both},
        {"a line command keeps its FS",
         u"\x1C"
         u"C255,0,0あ",
         "\x1C"
         "C255,0,0\x82\xA0",
         Both},
        {"single bytes 0x80, 0xA0, 0xFD to 0xFF", u"\u0080\uF8F0\uF8F1\uF8F2\uF8F3",
         "\x80\xA0\xFD\xFE\xFF", Both},

        // The JIS forms of characters Windows keeps under other code points.
        {"wave dash, JIS form", u"\u301C", "\x81\x60", ToSjis},
        {"double vertical line", u"\u2016", "\x81\x61", ToSjis},
        {"minus sign", u"\u2212", "\x81\x7C", ToSjis},
        {"cent and pound", u"\u00A2\u00A3", "\x81\x91\x81\x92", ToSjis},
        {"not sign", u"\u00AC", "\x81\xCA", ToSjis},
        {"em dash and horizontal bar", u"\u2014\u2015", "\x81\x5C\x81\x5C", ToSjis},
        {"yen and overline of JIS X 0201", u"\u00A5\u203E", "\\~", ToSjis},

        // Windows' best fit: a near character instead of "?".
        {"Latin-1 letters lose their accents", u"éÖñßÀÇÊÍÕØÚÝàçëîòøüýÿ", "eOnsACEIOOUYaceioouyy",
         ToSjis, 0, 21},
        {"angle quotes become ≪ and ≫", u"«»", "\x81\xE1\x81\xE2", ToSjis, 0, 2},
        {"signs, ordinals and the soft hyphen", u"©®¦¡ªº\u00AD", "cR|!ao-", ToSjis, 0, 7},
        {"superscript digits", u"²³¹", "231", ToSjis, 0, 3},
        {"micro, middle dot, cedilla and macron", u"µ·¸¯", "\x83\xCA\x81\x45\x81\x43\x81\x50",
         ToSjis, 0, 4},
        {"hiragana vu as katakana vu", u"ゔ", "\x83\x94", ToSjis, 0, 1},

        {"hangul has no Shift-JIS form", u"a한b", "a?b", ToSjis, 1},
        {"emoji is one character, one ?", u"x\U0001F600y\U0001F600", "x?y?", ToSjis, 2},
#ifndef _WIN32
        // The Windows build takes the system's own best fit, which under Wine gives "t".
        {"thorn has no near character", u"あþい", "\x82\xA0?\x82\xA2", ToSjis, 1},
#endif
        {"replacement character of broken UTF-8", u"\uFFFD", "?", ToSjis, 1},

        // Bytes that make no character are not dropped.
        {"lone lead byte at the end", u"A\uFFFD", "A\x82", FromSjis},
        {"lead byte before a byte that cannot follow it", u"\uFFFD \uFFFD\x7F", "\x82 \x81\x7F",
         FromSjis},
        {"byte pair with no character", u"\uFFFD", "\x85\x40", FromSjis},
    };
    Cp932Decoder decoder;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const QString text = QString::fromStdU16String(c.text);
        if (c.way != FromSjis) {
            const SjisText got = toSjisCounted(text);
            EXPECT_EQ(got.bytes, c.bytes);
            EXPECT_EQ(got.unmappable, c.unmappable);
            EXPECT_EQ(got.approximated, c.approximated);
            EXPECT_EQ(toSjis(text), c.bytes);
        }
        if (c.way != ToSjis) {
            EXPECT_EQ(fromSjis(c.bytes), text);
            // Drawing decodes as everything else does, one code unit per character.
            std::vector<int> byteOf;
            EXPECT_EQ(decoder.decode(c.bytes, &byteOf), text);
            EXPECT_EQ(byteOf.size(), static_cast<std::size_t>(text.size()));
        }
    }
}

TEST(Sjis, RoundTripsThroughTheDecoder) {
    const QString text = QString::fromUtf8("本日は晴天なり～①ｱ\\~\x1C\x7F");
    EXPECT_EQ(fromSjis(toSjis(text)), text);
}

} // namespace
