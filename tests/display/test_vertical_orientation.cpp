#include <gtest/gtest.h>

#include <unicode/uchar.h>

#include "display/VerticalOrientation.h"

namespace {

// The table generated from the Unicode data serves the build without ICU; on Linux it must
// answer exactly as ICU does, for every code point.
TEST(VerticalOrientation, TableAnswersAsIcuForEveryCodePoint) {
    int differences = 0;
    for (char32_t c = 0; c <= 0x10FFFF; ++c) {
        const bool icuSideways = u_getIntPropertyValue(static_cast<UChar32>(c),
                                                       UCHAR_VERTICAL_ORIENTATION) == U_VO_ROTATED;
        if (skiro::isSetSideways(c) != icuSideways && ++differences <= 10)
            ADD_FAILURE() << std::hex << "U+" << static_cast<unsigned>(c) << ": table says "
                          << skiro::isSetSideways(c);
    }
    EXPECT_EQ(differences, 0);
}

TEST(VerticalOrientation, JapaneseStandsLatinLies) {
    const struct {
        char32_t c;
        bool sideways;
    } cases[] = {{U'A', true},       {U'1', true},           {U'ｱ', true},          {U'あ', false},
                 {U'漢', false},     {U'ー', false},         {U'、', false},        {U'Ａ', false},
                 {U'\u3000', false}, {U'\U00020000', false}, {U'\U0001F600', false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(static_cast<unsigned>(c.c));
        EXPECT_EQ(skiro::isSetSideways(c.c), c.sideways);
    }
}

} // namespace
