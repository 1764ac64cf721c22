#include <windows.h>

#include "display/Sjis.h"

// Code page 932 through the system's own conversion, as every other Windows program converts
// it: the same bytes as the Linux build, which reproduces this behaviour.
namespace skiro {
namespace {

constexpr UINT kCodePage = 932;

// The code point that code page 932 holds for a character that JIS-flavoured Unicode text
// writes differently (text from a Shift_JIS or EUC-JP decoder, a Mac, an input method).
// Windows reaches some of these only through its best-fit mapping, which also turns other
// characters into look-alikes ("é" into "e"); the conversion below has best fit off, so these
// are mapped here, and everything else that code page 932 lacks becomes "?".
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

// Appends the code page 932 form of `units`; false when some character had none and the
// default "?" stands in its place.
bool encode(const wchar_t* units, int count, std::string& out) {
    if (count == 0)
        return true;
    const int size = ::WideCharToMultiByte(kCodePage, WC_NO_BEST_FIT_CHARS, units, count, nullptr,
                                           0, "?", nullptr);
    if (size <= 0)
        return false;
    const std::size_t at = out.size();
    out.resize(at + static_cast<std::size_t>(size));
    BOOL usedDefault = FALSE;
    ::WideCharToMultiByte(kCodePage, WC_NO_BEST_FIT_CHARS, units, count, out.data() + at, size, "?",
                          &usedDefault);
    return !usedDefault;
}

} // namespace

QString fromSjis(std::string_view sjis) {
    if (sjis.empty())
        return {};
    const int size = static_cast<int>(sjis.size());
    const int length = ::MultiByteToWideChar(kCodePage, 0, sjis.data(), size, nullptr, 0);
    if (length <= 0)
        return {};
    QString text(length, Qt::Uninitialized);
    ::MultiByteToWideChar(kCodePage, 0, sjis.data(), size, reinterpret_cast<wchar_t*>(text.data()),
                          length);
    return text;
}

SjisText toSjisCounted(const QString& text) {
    std::wstring windows(reinterpret_cast<const wchar_t*>(text.utf16()),
                         static_cast<std::size_t>(text.size()));
    for (wchar_t& c : windows)
        c = windowsForm(c);

    SjisText result;
    if (encode(windows.data(), static_cast<int>(windows.size()), result.bytes))
        return result;
    // Some character has no code page 932 form. Converting character by character tells
    // which, so that each becomes one "?" (a surrogate pair is one character).
    result.bytes.clear();
    for (std::size_t i = 0; i < windows.size();) {
        const std::size_t n = (IS_HIGH_SURROGATE(windows[i]) && i + 1 < windows.size() &&
                               IS_LOW_SURROGATE(windows[i + 1]))
                                  ? 2
                                  : 1;
        std::string piece;
        if (n == 1 && encode(&windows[i], 1, piece)) {
            result.bytes += piece;
        } else {
            result.bytes += '?';
            ++result.unmappable;
        }
        i += n;
    }
    return result;
}

std::string toSjis(const QString& text) {
    return toSjisCounted(text).bytes;
}

} // namespace skiro
