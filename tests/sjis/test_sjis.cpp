#include <gtest/gtest.h>

#include <QString>

#include <string>
#include <vector>

#include "sjis/Sjis.h"

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
        {"ash, eth and thorn as their nearest Latin letters", u"ÆÐÞæðþ", "ADTadt", ToSjis, 0, 6},
        {"angle quotes become ≪ and ≫", u"«»", "\x81\xE1\x81\xE2", ToSjis, 0, 2},
        {"signs, ordinals and the soft hyphen", u"©®¦¡ªº\u00AD", "cR|!ao-", ToSjis, 0, 7},
        {"superscript digits", u"²³¹", "231", ToSjis, 0, 3},
        {"micro, middle dot, cedilla and macron", u"µ·¸¯", "\x83\xCA\x81\x45\x81\x43\x81\x50",
         ToSjis, 0, 4},
        {"hiragana vu as katakana vu", u"ゔ", "\x83\x94", ToSjis, 0, 1},

        {"hangul has no Shift-JIS form", u"a한b", "a?b", ToSjis, 1},
        {"a private-use point beside № is not №", u"\uF86F\u2116", "?\x87\x82", ToSjis, 1},
        {"emoji is one character, one ?", u"x\U0001F600y\U0001F600", "x?y?", ToSjis, 2},
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

// The counts tell the truth across the whole plane: a character counted neither as "?" nor as a
// near one reads back as itself, so no character lands on another's bytes unannounced.
TEST(Sjis, EveryCharacterCountedExactReadsBackAsItself) {
    // The JIS forms land on the bytes of their Windows forms, and the bytes read back as those.
    const std::u16string jisForms = u"\u00A2\u00A3\u00A5\u00AC\u2014\u2016\u203E\u2212\u301C";
    std::vector<char16_t> wrong;
    for (char32_t c = 0; c <= 0xFFFF; ++c) {
        const auto unit = static_cast<char16_t>(c);
        if (QChar::isSurrogate(c) || jisForms.find(unit) != std::u16string::npos)
            continue;
        const QString text(QChar{unit});
        const SjisText got = toSjisCounted(text);
        if (got.unmappable == 0 && got.approximated == 0 && fromSjis(got.bytes) != text)
            wrong.push_back(unit);
    }
    EXPECT_TRUE(wrong.empty()) << wrong.size() << " characters, the first U+" << std::hex
                               << static_cast<unsigned>(wrong.empty() ? 0 : wrong.front());
}

TEST(Sjis, RoundTripsThroughTheDecoder) {
    const QString text = QString::fromUtf8("本日は晴天なり～①ｱ\\~\x1C\x7F");
    EXPECT_EQ(fromSjis(toSjis(text)), text);
}

} // namespace
