#include <gtest/gtest.h>

#include <cstring>
#include <string_view>

#include "core/Settings.h"
#include "core/ShiftJis.h"

namespace {

std::size_t countChars(std::string_view s) {
    std::size_t n = 0;
    for (std::size_t i = 0; i < s.size(); i += skiro::sjis::charLength(s, i))
        ++n;
    return n;
}

TEST(ShiftJis, DefaultKinsokuSetsHaveTheirDocumentedSizes) {
    EXPECT_EQ(std::strlen(skiro::kDefaultKinsokuHead), 113u);
    EXPECT_EQ(countChars(skiro::kDefaultKinsokuHead), 67u);
    EXPECT_EQ(std::strlen(skiro::kDefaultKinsokuTail), 26u);
    EXPECT_EQ(countChars(skiro::kDefaultKinsokuTail), 15u);
}

TEST(ShiftJis, CharacterBoundaries) {
    struct Case {
        const char* name;
        std::string_view text;
        std::size_t chars;
    } cases[] = {
        {"ascii", "ABC", 3},
        {"double-byte kana", "\x82\xA0\x82\xA2", 2},
        {"half-width katakana are single bytes", "\xB1\xB2\xB3", 3},
        {"lead byte at the very end", "A\x82", 2},
        {"lead byte before a byte that cannot trail", "\x82\x0D" "A", 3},
        {"0x80, 0xA0 and 0xFD-0xFF stand alone", "\x80\xA0\xFD\xFE\xFF", 5},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(countChars(c.text), c.chars);
    }
}

} // namespace
