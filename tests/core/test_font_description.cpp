#include <gtest/gtest.h>

#include <string>

#include "core/FontDescription.h"

namespace skiro {
namespace {

TEST(FontDescription, HeightsBetweenTwipsAndPixels) {
    const struct {
        const char* name;
        int twips;
        int dpi;
        int pixels;
        int twipsBack; // what the chooser's pixels come back as
    } cases[] = {
        {"default 24 pt character height at 96 dpi", -480, 96, -32, -480},
        {"cell height keeps its sign", 480, 96, 32, 480},
        {"120 dpi", -480, 120, -40, -480},
        {"half a pixel rounds away from zero", -330, 120, -28, -336},
        {"just under half a pixel rounds down", -337, 96, -22, -330},
        {"a height between pixels comes back on the pixel grid", -500, 96, -33, -495},
        {"zero stays zero", 0, 96, 0, 0},
        {"largest stored heights do not overflow", -2000000000, 144, -200000000, -2000000000},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(twipsToPixels(c.twips, c.dpi), c.pixels);
        EXPECT_EQ(pixelsToTwips(c.pixels, c.dpi), c.twipsBack);
    }
}

TEST(FontDescription, FaceNameFitsInThirtyOneBytesByWholeCharacters) {
    const std::string a30(30, 'a');
    const std::string kanji = "\x96\xbe"; // 明
    const struct {
        const char* name;
        std::string face;
        std::string stored;
    } cases[] = {
        {"short name unchanged", "IPAGothic", "IPAGothic"},
        {"exactly 31 bytes", a30 + "b", a30 + "b"},
        {"32 single bytes lose the last", a30 + "bc", a30 + "b"},
        {"double-byte character across the limit is left out whole", a30 + kanji, a30},
        {"double-byte character ending at byte 31 stays", std::string(29, 'a') + kanji,
         std::string(29, 'a') + kanji},
        {"all double-byte: 15 characters fit",
         [&] {
             std::string s;
             for (int i = 0; i < 16; ++i)
                 s += kanji;
             return s;
         }(),
         [&] {
             std::string s;
             for (int i = 0; i < 15; ++i)
                 s += kanji;
             return s;
         }()},
        {"ends at a NUL", std::string("IPA\0Mincho", 10), "IPA"},
        {"half-width katakana are single bytes", std::string(31, '\xb1') + "\xb2",
         std::string(31, '\xb1')},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(fitFaceName(c.face), c.stored);
    }
}

} // namespace
} // namespace skiro
