#include "sjis/Sjis.h"

#include <QStringEncoder>

#include <unicode/ucnv.h>

#include <algorithm>
#include <iterator>

#include "core/ShiftJis.h"

namespace skiro {
namespace {

// ICU's windows-31j carries code page 932's double-byte table as Windows has it (0x8160 the
// full-width tilde, 0x5C the backslash, NEC and IBM extensions included). Where it parts from
// Windows, the table below decides.
constexpr const char* kCodec = "windows-31j";

enum class Way {
    Both,    // Windows maps the byte and the character onto each other
    JisForm, // the JIS form of a character Windows keeps under another code point
    BestFit, // no Shift-JIS form: the near character Windows' best fit gives
    None,    // no Shift-JIS form and no near one, where ICU has one: "?"
};

struct Mapping {
    char16_t code;
    const char* bytes;
    Way way;
};

// Sorted by code point.
constexpr Mapping kMappings[] = {
    // ICU follows IBM's habit of rotating these three control codes; Windows leaves them be,
    // and 0x1C is the introducer of the line commands.
    {0x001A, "\x1A", Way::Both},
    {0x001C, "\x1C", Way::Both},
    {0x007F, "\x7F", Way::Both},
    // The single bytes outside the double-byte ranges that Windows gives code points of their
    // own; ICU has none for them.
    {0x0080, "\x80", Way::Both},
    {0x00A1, "!", Way::BestFit},
    {0x00A2, "\x81\x91", Way::JisForm},
    {0x00A3, "\x81\x92", Way::JisForm},
    {0x00A5, "\\", Way::JisForm}, // JIS X 0201 has the yen at 0x5C
    {0x00A6, "|", Way::BestFit},
    {0x00A9, "c", Way::BestFit},
    {0x00AA, "a", Way::BestFit},
    {0x00AB, "\x81\xE1", Way::BestFit}, // ≪
    {0x00AC, "\x81\xCA", Way::JisForm},
    {0x00AD, "-", Way::BestFit}, // soft hyphen
    {0x00AE, "R", Way::BestFit},
    {0x00AF, "\x81\x50", Way::BestFit}, // ￣
    {0x00B2, "2", Way::BestFit},
    {0x00B3, "3", Way::BestFit},
    {0x00B5, "\x83\xCA", Way::BestFit}, // μ
    {0x00B7, "\x81\x45", Way::BestFit}, // ・
    {0x00B8, "\x81\x43", Way::BestFit}, // ，
    {0x00B9, "1", Way::BestFit},
    {0x00BA, "o", Way::BestFit},
    {0x00BB, "\x81\xE2", Way::BestFit}, // ≫
    {0x00C0, "A", Way::BestFit},
    {0x00C1, "A", Way::BestFit},
    {0x00C2, "A", Way::BestFit},
    {0x00C3, "A", Way::BestFit},
    {0x00C4, "A", Way::BestFit},
    {0x00C5, "A", Way::BestFit},
    {0x00C6, "A", Way::BestFit}, // Æ
    {0x00C7, "C", Way::BestFit},
    {0x00C8, "E", Way::BestFit},
    {0x00C9, "E", Way::BestFit},
    {0x00CA, "E", Way::BestFit},
    {0x00CB, "E", Way::BestFit},
    {0x00CC, "I", Way::BestFit},
    {0x00CD, "I", Way::BestFit},
    {0x00CE, "I", Way::BestFit},
    {0x00CF, "I", Way::BestFit},
    {0x00D0, "D", Way::BestFit}, // Ð
    {0x00D1, "N", Way::BestFit},
    {0x00D2, "O", Way::BestFit},
    {0x00D3, "O", Way::BestFit},
    {0x00D4, "O", Way::BestFit},
    {0x00D5, "O", Way::BestFit},
    {0x00D6, "O", Way::BestFit},
    {0x00D8, "O", Way::BestFit},
    {0x00D9, "U", Way::BestFit},
    {0x00DA, "U", Way::BestFit},
    {0x00DB, "U", Way::BestFit},
    {0x00DC, "U", Way::BestFit},
    {0x00DD, "Y", Way::BestFit},
    {0x00DE, "T", Way::BestFit}, // Þ
    {0x00DF, "s", Way::BestFit},
    {0x00E0, "a", Way::BestFit},
    {0x00E1, "a", Way::BestFit},
    {0x00E2, "a", Way::BestFit},
    {0x00E3, "a", Way::BestFit},
    {0x00E4, "a", Way::BestFit},
    {0x00E5, "a", Way::BestFit},
    {0x00E6, "a", Way::BestFit}, // æ
    {0x00E7, "c", Way::BestFit},
    {0x00E8, "e", Way::BestFit},
    {0x00E9, "e", Way::BestFit},
    {0x00EA, "e", Way::BestFit},
    {0x00EB, "e", Way::BestFit},
    {0x00EC, "i", Way::BestFit},
    {0x00ED, "i", Way::BestFit},
    {0x00EE, "i", Way::BestFit},
    {0x00EF, "i", Way::BestFit},
    {0x00F0, "d", Way::BestFit}, // ð
    {0x00F1, "n", Way::BestFit},
    {0x00F2, "o", Way::BestFit},
    {0x00F3, "o", Way::BestFit},
    {0x00F4, "o", Way::BestFit},
    {0x00F5, "o", Way::BestFit},
    {0x00F6, "o", Way::BestFit},
    {0x00F8, "o", Way::BestFit},
    {0x00F9, "u", Way::BestFit},
    {0x00FA, "u", Way::BestFit},
    {0x00FB, "u", Way::BestFit},
    {0x00FC, "u", Way::BestFit},
    {0x00FD, "y", Way::BestFit},
    {0x00FE, "t", Way::BestFit}, // þ
    {0x00FF, "y", Way::BestFit},
    {0x2014, "\x81\x5C", Way::JisForm},
    {0x2016, "\x81\x61", Way::JisForm},
    {0x203E, "~", Way::JisForm}, // JIS X 0201 has the overline at 0x7E
    {0x2212, "\x81\x7C", Way::JisForm},
    {0x301C, "\x81\x60", Way::JisForm},
    {0x3094, "\x83\x94", Way::BestFit}, // ゔ as ヴ
    // ICU keeps a private-use code point of IBM's on 87 82; Windows gives those bytes to № alone.
    {0xF86F, "?", Way::None},
    {0xF8F0, "\xA0", Way::Both},
    {0xF8F1, "\xFD", Way::Both},
    {0xF8F2, "\xFE", Way::Both},
    {0xF8F3, "\xFF", Way::Both},
};

static_assert(std::is_sorted(std::begin(kMappings), std::end(kMappings),
                             [](const Mapping& a, const Mapping& b) { return a.code < b.code; }));

const Mapping* mappingOf(char16_t c) {
    // Plain ASCII, kana and kanji are ICU's alone.
    if ((c < 0x80 && c != 0x1A && c != 0x1C && c != 0x7F) || (c > 0x3094 && c < 0xF86F))
        return nullptr;
    const auto* it =
        std::lower_bound(std::begin(kMappings), std::end(kMappings), c,
                         [](const Mapping& m, char16_t code) { return m.code < code; });
    return it != std::end(kMappings) && it->code == c ? it : nullptr;
}

// The character Windows gives a byte that stands alone, where ICU gives another or none.
char16_t singleByteCharacter(unsigned char byte) {
    for (const Mapping& m : kMappings)
        if (m.way == Way::Both && static_cast<unsigned char>(m.bytes[0]) == byte)
            return m.code;
    return 0;
}

// Appends a run of characters none of which is in the table.
void encodeRun(QStringView run, SjisText& result) {
    if (run.isEmpty())
        return;
    QStringEncoder encoder(kCodec);
    const QByteArray bytes = encoder.encode(run);
    if (!encoder.hasError()) {
        result.bytes.append(bytes.constData(), static_cast<std::size_t>(bytes.size()));
        return;
    }
    // Some character has no Shift-JIS form. Converting character by character tells which,
    // so that each becomes one "?" (a surrogate pair is one character).
    for (qsizetype i = 0; i < run.size();) {
        const qsizetype n =
            (run[i].isHighSurrogate() && i + 1 < run.size() && run[i + 1].isLowSurrogate()) ? 2 : 1;
        QStringEncoder one(kCodec);
        const QByteArray piece = one.encode(run.mid(i, n));
        if (one.hasError()) {
            result.bytes += '?';
            ++result.unmappable;
        } else {
            result.bytes.append(piece.constData(), static_cast<std::size_t>(piece.size()));
        }
        i += n;
    }
}

} // namespace

struct Cp932Decoder::Converter {
    UConverter* cnv = nullptr;
    std::vector<UChar> units;
    std::vector<int32_t> offsets;
};

Cp932Decoder::Cp932Decoder() : m_converter(std::make_unique<Converter>()) {
    UErrorCode status = U_ZERO_ERROR;
    m_converter->cnv = ucnv_open(kCodec, &status);
    if (U_FAILURE(status))
        m_converter->cnv = nullptr;
}

Cp932Decoder::~Cp932Decoder() {
    if (m_converter->cnv)
        ucnv_close(m_converter->cnv);
}

QString Cp932Decoder::decode(std::string_view bytes, std::vector<int>* byteOfUnit) {
    Converter& c = *m_converter;
    if (byteOfUnit)
        byteOfUnit->clear();
    if (!c.cnv || bytes.empty())
        return {};
    ucnv_resetToUnicode(c.cnv);
    // Every code page 932 character gives one UTF-16 unit; room for two each all the same.
    c.units.resize(2 * bytes.size() + 2);
    c.offsets.resize(c.units.size());
    UChar* target = c.units.data();
    const char* source = bytes.data();
    UErrorCode status = U_ZERO_ERROR;
    ucnv_toUnicode(c.cnv, &target, c.units.data() + c.units.size(), &source,
                   bytes.data() + bytes.size(), c.offsets.data(), true, &status);
    const auto count = static_cast<std::size_t>(target - c.units.data());
    if (byteOfUnit)
        byteOfUnit->resize(count);
    int last = 0;
    for (std::size_t i = 0; i < count; ++i) {
        const int32_t off = c.offsets[i];
        last = off >= 0 ? off : last;
        if (byteOfUnit)
            (*byteOfUnit)[i] = last;
        if (off < 0)
            continue;
        // ICU gives the substitution control U+001A for a byte it has no character for and
        // rotates three control codes; Windows gives each its own.
        const auto byte = static_cast<unsigned char>(bytes[static_cast<std::size_t>(off)]);
        if (sjis::isLeadByte(byte)) {
            if (sjis::charLength(bytes, static_cast<std::size_t>(off)) == 1)
                c.units[i] = 0xFFFD; // its second byte is missing
        } else if (const char16_t single = singleByteCharacter(byte)) {
            c.units[i] = single;
        }
    }
    return QString(reinterpret_cast<const QChar*>(c.units.data()), static_cast<qsizetype>(count));
}

QString fromSjis(std::string_view sjis) {
    thread_local Cp932Decoder decoder;
    return decoder.decode(sjis);
}

SjisText toSjisCounted(const QString& text) {
    SjisText result;
    result.bytes.reserve(static_cast<std::size_t>(text.size()) * 2);
    const QStringView all(text);
    qsizetype runStart = 0;
    for (qsizetype i = 0; i < all.size(); ++i) {
        const Mapping* m = mappingOf(all[i].unicode());
        if (!m)
            continue;
        encodeRun(all.mid(runStart, i - runStart), result);
        result.bytes += m->bytes;
        if (m->way == Way::BestFit)
            ++result.approximated;
        else if (m->way == Way::None)
            ++result.unmappable;
        runStart = i + 1;
    }
    encodeRun(all.mid(runStart), result);
    return result;
}

std::string toSjis(const QString& text) {
    return toSjisCounted(text).bytes;
}

} // namespace skiro
