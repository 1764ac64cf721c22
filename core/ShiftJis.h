#pragma once
#include <cstddef>
#include <string_view>

// Code page 932 (Shift-JIS) character boundaries. Stored text stays in these bytes everywhere in
// the program; only the drawing edge converts it to Unicode.
namespace skiro::sjis {

constexpr bool isLeadByte(unsigned char b) {
    return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC);
}

constexpr bool isTrailByte(unsigned char b) {
    return (b >= 0x40 && b <= 0x7E) || (b >= 0x80 && b <= 0xFC);
}

// Byte length (1 or 2) of the character that starts at pos. A lead byte that is last in the
// text, or is followed by a byte that cannot trail, is a one-byte character of its own.
constexpr std::size_t charLength(std::string_view text, std::size_t pos) {
    if (pos + 1 < text.size() && isLeadByte(static_cast<unsigned char>(text[pos])) &&
        isTrailByte(static_cast<unsigned char>(text[pos + 1])))
        return 2;
    return 1;
}

// The text without a lead byte that ends it alone: in a line still arriving, that is the first
// byte of a character whose second byte is on its way, and it is shown once it has come.
// For a text that only grows at its end, `scanned` carries over from one call to the next (0
// at first), so that each byte is looked at once however often the text is asked for.
constexpr std::string_view withoutPartialChar(std::string_view text, std::size_t& scanned) {
    // A boundary before the last byte stays one as the text grows: the character there was
    // measured with its next byte already present.
    std::size_t pos = scanned <= text.size() ? scanned : 0;
    while (pos + 1 < text.size())
        pos += charLength(text, pos);
    scanned = pos;
    if (pos + 1 == text.size() && isLeadByte(static_cast<unsigned char>(text[pos])))
        return text.substr(0, pos);
    return text;
}

constexpr std::string_view withoutPartialChar(std::string_view text) {
    std::size_t scanned = 0;
    return withoutPartialChar(text, scanned);
}

} // namespace skiro::sjis
