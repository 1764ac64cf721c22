#pragma once
#include <QString>
#include <string>
#include <string_view>

// Conversions between the program's Shift-JIS text and Qt's Unicode, for window texts, the
// clipboard, message boxes and text handed over by other programs. This is the one place
// where Unicode becomes Shift-JIS.
namespace skiro {

QString fromSjis(std::string_view sjis);

struct SjisText {
    std::string bytes;
    // Characters that Shift-JIS cannot hold; each became "?".
    int unmappable = 0;
};

// Code page 932 as Windows converts it: the JIS forms of the characters that Windows keeps
// under other code points (wave dash U+301C, double vertical line U+2016, minus U+2212, cent,
// pound, not sign, em dash U+2014, yen and overline) land on the bytes Windows gives them.
SjisText toSjisCounted(const QString& text);
std::string toSjis(const QString& text);

} // namespace skiro
