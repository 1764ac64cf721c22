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
        {"lead byte before a byte that cannot trail",
         "\x82\x0D"
         "A",
         3},
        {"0x80, 0xA0 and 0xFD-0xFF stand alone", "\x80\xA0\xFD\xFE\xFF", 5},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(countChars(c.text), c.chars);
    }
}

// A line still arriving is told apart from where the last look stopped: at every length the
// shown part is what telling the whole text apart afresh gives, lead bytes that are also trail
// bytes included.
TEST(ShiftJis, GrowingTextShowsWhatTheWholeTextShows) {
    const std::string_view text = "\x82\xA0\x81\x81\x81\x40"
                                  "A\xE0\x82\x0D\x82\xB1\x81\x82";
    for (const std::size_t step : {1u, 2u, 3u}) {
        SCOPED_TRACE(step);
        std::size_t scanned = 0;
        for (std::size_t end = 0; end <= text.size(); end += step) {
            const std::string_view prefix = text.substr(0, end);
            EXPECT_EQ(skiro::sjis::withoutPartialChar(prefix, scanned).size(),
                      skiro::sjis::withoutPartialChar(prefix).size())
                << end;
        }
    }
}

} // namespace
