#include <windows.h>

#include "core/ShiftJis.h"
#include "sjis/Sjis.h"

// Code page 932 through the system's own conversion, as every other Windows program converts
// it, best fit included: the Linux build reproduces this behaviour with its own table.
namespace skiro {
namespace {

constexpr UINT kCodePage = 932;

// The Windows form of a character that JIS-flavoured Unicode text writes differently (text from
// a Shift_JIS or EUC-JP decoder, a Mac, an input method). Windows' best fit lands these on the
// same bytes; they are not counted as approximations, since they are the same characters.
wchar_t windowsForm(wchar_t c) {
    switch (c) {
    case L'\u301C':
        return L'\uFF5E'; // wave dash → 81 60
    case L'\u2016':
        return L'\u2225'; // double vertical line → 81 61
    case L'\u2212':
        return L'\uFF0D'; // minus sign → 81 7C
    case L'\u00A2':
        return L'\uFFE0'; // cent → 81 91
    case L'\u00A3':
        return L'\uFFE1'; // pound → 81 92
    case L'\u00AC':
        return L'\uFFE2'; // not sign → 81 CA
    case L'\u2014':
        return L'\u2015'; // em dash → 81 5C
    case L'\u00A5':
        return L'\\'; // yen: JIS X 0201 byte 5C
    case L'\u203E':
        return L'~'; // overline: JIS X 0201 byte 7E
    default:
        return c;
    }
}

// The code page 932 form of one character; `usedDefault` tells that it had none and the
// default "?" stands for it.
std::string encodeOne(const wchar_t* units, int count, bool& usedDefault) {
    char bytes[16];
    BOOL defaulted = FALSE;
    const int size =
        ::WideCharToMultiByte(kCodePage, 0, units, count, bytes, sizeof bytes, "?", &defaulted);
    usedDefault = defaulted || size <= 0;
    return size > 0 ? std::string(bytes, static_cast<std::size_t>(size)) : std::string("?");
}

std::wstring systemDecode(std::string_view bytes) {
    if (bytes.empty())
        return {};
    const int size = static_cast<int>(bytes.size());
    const int length = ::MultiByteToWideChar(kCodePage, 0, bytes.data(), size, nullptr, 0);
    std::wstring text(static_cast<std::size_t>(length > 0 ? length : 0), L'\0');
    if (length > 0)
        ::MultiByteToWideChar(kCodePage, 0, bytes.data(), size, text.data(), length);
    return text;
}

// Bytes that make no character: a lone lead byte, or a pair the code page leaves empty. The
// system shows its default character for them (U+30FB on Windows); the program shows the
// replacement character, on every platform, and never lets such a lead byte swallow the byte
// after it, which the program counts as a character of its own.
constexpr wchar_t kNoCharacter = L'\uFFFD';

// One character as the program counts them (sjis::charLength) into `out`, one unit.
void decodeCharacter(std::string_view bytes, std::wstring& out) {
    const std::wstring units = systemDecode(bytes);
    const bool lone = units.size() != 1 ||
                      (bytes.size() == 1 && sjis::isLeadByte(static_cast<unsigned char>(bytes[0])));
    // A real middle dot (81 45) is the same code point as the system's default character.
    const bool empty = units.size() == 1 && units[0] == L'\u30FB' && bytes != "\x81\x45";
    out += lone || empty ? kNoCharacter : units[0];
}

std::wstring decodeBytes(std::string_view bytes) {
    std::wstring text;
    text.reserve(bytes.size());
    for (std::size_t i = 0; i < bytes.size();) {
        const std::size_t length = sjis::charLength(bytes, i);
        // Plain ASCII needs no call.
        if (length == 1 && static_cast<unsigned char>(bytes[i]) < 0x80)
            text += static_cast<wchar_t>(bytes[i]);
        else
            decodeCharacter(bytes.substr(i, length), text);
        i += length;
    }
    return text;
}

} // namespace

struct Cp932Decoder::Converter {};

Cp932Decoder::Cp932Decoder() : m_converter(std::make_unique<Converter>()) {}

Cp932Decoder::~Cp932Decoder() = default;

QString Cp932Decoder::decode(std::string_view bytes, std::vector<int>* byteOfUnit) {
    if (byteOfUnit)
        byteOfUnit->clear();
    // Every character, a byte that makes none included, gives one UTF-16 unit.
    const std::wstring units = decodeBytes(bytes);
    if (byteOfUnit) {
        for (std::size_t i = 0; i < bytes.size(); i += sjis::charLength(bytes, i))
            byteOfUnit->push_back(static_cast<int>(i));
    }
    return QString::fromWCharArray(units.data(), static_cast<qsizetype>(units.size()));
}

QString fromSjis(std::string_view sjis) {
    const std::wstring units = decodeBytes(sjis);
    return QString::fromWCharArray(units.data(), static_cast<qsizetype>(units.size()));
}

SjisText toSjisCounted(const QString& text) {
    SjisText result;
    result.bytes.reserve(static_cast<std::size_t>(text.size()) * 2);
    const auto* units = reinterpret_cast<const wchar_t*>(text.utf16());
    const qsizetype count = text.size();
    for (qsizetype i = 0; i < count;) {
        // A surrogate pair is one character; code page 932 has none of them.
        const int n =
            IS_HIGH_SURROGATE(units[i]) && i + 1 < count && IS_LOW_SURROGATE(units[i + 1]) ? 2 : 1;
        if (n == 2) {
            result.bytes += '?';
            ++result.unmappable;
            i += n;
            continue;
        }
        const wchar_t windows = windowsForm(units[i]);
        bool usedDefault = false;
        const std::string bytes = encodeOne(&windows, 1, usedDefault);
        if (usedDefault) {
            result.bytes += '?';
            ++result.unmappable;
        } else {
            result.bytes += bytes;
            // Best fit gave a near character when the bytes read back as another one.
            if (systemDecode(bytes) != std::wstring(1, windows))
                ++result.approximated;
        }
        i += n;
    }
    return result;
}

std::string toSjis(const QString& text) {
    return toSjisCounted(text).bytes;
}

} // namespace skiro
