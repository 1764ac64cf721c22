#pragma once
#include <QString>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

// Conversions between the program's Shift-JIS text and Qt's Unicode, for drawing, window texts,
// the clipboard, message boxes, the web page and text handed over by other programs: code page
// 932 as Windows converts it, both ways. This is the one place where that conversion is made.
namespace skiro {

// Code page 932 bytes to UTF-16, with the byte offset of the character behind each code unit.
// Keeps a converter open, so that drawing can decode row after row without setting one up.
class Cp932Decoder {
  public:
    Cp932Decoder();
    ~Cp932Decoder();
    Cp932Decoder(const Cp932Decoder&) = delete;
    Cp932Decoder& operator=(const Cp932Decoder&) = delete;

    // byteOfUnit (when given) receives, for each UTF-16 code unit of the result, the offset of
    // the byte where its character starts. Every character gives exactly one code unit: a
    // byte pair with no character, and a lead byte without its second byte, give U+FFFD.
    QString decode(std::string_view bytes, std::vector<int>* byteOfUnit = nullptr);

  private:
    struct Converter;
    std::unique_ptr<Converter> m_converter;
};

QString fromSjis(std::string_view sjis);

struct SjisText {
    std::string bytes;
    // Characters that Shift-JIS cannot hold; each became "?".
    int unmappable = 0;
    // Characters that Shift-JIS cannot hold either, given as a near one the way Windows does
    // ("é" as "e", "«" as "≪").
    int approximated = 0;
};

// Code page 932 as Windows converts it: the control codes stay as they are, a character with
// no Shift-JIS form but a near one becomes that one, and the JIS forms of the characters that
// Windows keeps under other code points (wave dash U+301C, double vertical line U+2016, minus
// U+2212, cent, pound, not sign, em dash U+2014, yen and overline) land on the bytes Windows
// gives their Windows forms.
SjisText toSjisCounted(const QString& text);
std::string toSjis(const QString& text);

} // namespace skiro
