#include "display/Sjis.h"

#include <QStringDecoder>
#include <QStringEncoder>

namespace skiro {
namespace {

constexpr const char* kCodec = "windows-31j";

// The code point that Windows' code page 932 holds for a character that JIS-flavoured
// Unicode text writes differently (text from a Shift_JIS or EUC-JP decoder, a Mac, an
// editor's input method). ICU's windows-31j has no mapping for the JIS forms and would give
// its substitution bytes FC FC, which draw as a box.
char16_t windowsForm(char16_t c) {
    switch (c) {
    case u'\u301C':
        return u'\uFF5E'; // wave dash → 81 60
    case u'\u2016':
        return u'\u2225'; // double vertical line → 81 61
    case u'\u2212':
        return u'\uFF0D'; // minus sign → 81 7C
    case u'\u00A2':
        return u'\uFFE0'; // cent → 81 91
    case u'\u00A3':
        return u'\uFFE1'; // pound → 81 92
    case u'\u00AC':
        return u'\uFFE2'; // not sign → 81 CA
    case u'\u2014':
        return u'\u2015'; // em dash → 81 5C
    case u'\u00A5':
        return u'\\'; // yen: JIS X 0201 byte 5C
    case u'\u203E':
        return u'~'; // overline: JIS X 0201 byte 7E
    default:
        return c;
    }
}

} // namespace

// Code page 932 as the Windows build reads and writes it (ICU's windows-31j): "～" is 0x8160
// both ways, and the NEC and IBM extensions are kept.
QString fromSjis(std::string_view sjis) {
    QStringDecoder decoder(kCodec);
    return decoder.decode(QByteArrayView(sjis.data(), static_cast<qsizetype>(sjis.size())));
}

SjisText toSjisCounted(const QString& text) {
    QString windows = text;
    for (QChar& c : windows)
        c = QChar(windowsForm(c.unicode()));

    SjisText result;
    QStringEncoder encoder(kCodec);
    QByteArray bytes = encoder.encode(windows);
    if (!encoder.hasError()) {
        result.bytes.assign(bytes.constData(), static_cast<std::size_t>(bytes.size()));
        return result;
    }
    // Some character has no Shift-JIS form. Converting character by character tells which,
    // so that each becomes one "?" (a surrogate pair is one character).
    result.bytes.reserve(static_cast<std::size_t>(bytes.size()));
    for (qsizetype i = 0; i < windows.size();) {
        const qsizetype n = (windows[i].isHighSurrogate() && i + 1 < windows.size() &&
                             windows[i + 1].isLowSurrogate())
                                ? 2
                                : 1;
        QStringEncoder one(kCodec);
        const QByteArray piece = one.encode(QStringView(windows).mid(i, n));
        if (one.hasError()) {
            result.bytes += '?';
            ++result.unmappable;
        } else {
            result.bytes.append(piece.constData(), static_cast<std::size_t>(piece.size()));
        }
        i += n;
    }
    return result;
}

std::string toSjis(const QString& text) {
    return toSjisCounted(text).bytes;
}

} // namespace skiro
