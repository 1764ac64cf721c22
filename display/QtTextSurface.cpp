#include "display/QtTextSurface.h"

#include <QFontDatabase>
#include <QFontInfo>
#include <QGlyphRun>
#include <QGuiApplication>
#include <QPainter>
#include <QScreen>

#include <hb-ot.h>
#include <hb.h>
#ifdef _WIN32
#include "display/WinFallbackFaces.h"
#else
#include <fontconfig/fontconfig.h>
#endif

#include <algorithm>
#include <cmath>
#include <limits>

#include "core/SettingRanges.h"
#include "core/ShiftJis.h"
#include "display/VerticalOrientation.h"

namespace skiro {

// ---------------------------------------------------------------------------------------------
// Fonts

namespace {

constexpr const char* kDefaultJapaneseFace = "IPAGothic";

void insertJapaneseSubstitutions() {
    static const bool inserted = [] {
        // The Windows Japanese faces of the default profiles, mapped to the IPA fonts that
        // Debian installs (fonts-ipafont-gothic, fonts-ipafont-mincho).
        const struct {
            const char* windowsFace;
            const char* installed;
        } faces[] = {
            {"ＭＳ ゴシック", "IPAGothic"},    {"ＭＳ 明朝", "IPAMincho"},
            {"ＭＳ Ｐゴシック", "IPAPGothic"}, {"ＭＳ Ｐ明朝", "IPAPMincho"},
            {"MS Gothic", "IPAGothic"},        {"MS Mincho", "IPAMincho"},
            {"MS PGothic", "IPAPGothic"},      {"MS PMincho", "IPAPMincho"},
        };
        for (const auto& f : faces)
            QFont::insertSubstitutions(
                QString::fromUtf8(f.windowsFace),
                {QString::fromUtf8(f.installed), QStringLiteral("IPAGothic")});
        return true;
    }();
    (void)inserted;
}

QColor toQColor(Colour c) {
    return QColor(redOf(c), greenOf(c), blueOf(c));
}

hb_blob_t* referenceTable(hb_face_t*, hb_tag_t tag, void* userData) {
    const auto* raw = static_cast<const QRawFont*>(userData);
    const char name[4] = {static_cast<char>((tag >> 24) & 0xFF),
                          static_cast<char>((tag >> 16) & 0xFF),
                          static_cast<char>((tag >> 8) & 0xFF), static_cast<char>(tag & 0xFF)};
    auto* table = new QByteArray(raw->fontTable(name));
    if (table->isEmpty()) {
        delete table;
        return nullptr;
    }
    return hb_blob_create(table->constData(), static_cast<unsigned>(table->size()),
                          HB_MEMORY_MODE_READONLY, table,
                          [](void* data) { delete static_cast<QByteArray*>(data); });
}

} // namespace

QFont QtTextSurface::makeFont(const Font& record, double logicalDpiX) {
    insertJapaneseSubstitutions();
    std::string_view faceBytes = record.lfFaceName;
    faceBytes = faceBytes.substr(0, std::min(faceBytes.find('\0'), faceBytes.size()));
    Cp932Decoder decoder;
    QString face = decoder.decode(faceBytes);
    // A vertical face chosen on Windows ("@ＭＳ ゴシック"): vertical writing sets the text as
    // tategaki by itself, so the plain face serves.
    if (face.startsWith(QLatin1Char('@')))
        face.remove(0, 1);

    // A face that is neither installed nor substituted would leave the choice to the font
    // matcher, which picks some Latin face; the default Japanese face is what the profile's
    // user expects instead.
    if (face.isEmpty() || (!QFontDatabase::hasFamily(face) && QFont::substitutes(face).isEmpty()))
        face = QString::fromUtf8(kDefaultJapaneseFace);

    QFont font(face);
    font.setStyleStrategy(QFont::PreferOutline);
    font.setHintingPreference(QFont::PreferNoHinting);
    const int pixels = fontPixels(record.lfHeight, logicalDpiX);
    font.setPixelSize(pixels);
    if (record.lfHeight > 0) {
        // A positive height is the cell (ascent + descent); the em is smaller by the leading.
        const QRawFont raw = QRawFont::fromFont(font);
        const double cell = raw.ascent() + raw.descent();
        if (cell > 0)
            font.setPixelSize(
                std::max(1, static_cast<int>(std::lround(pixels * double(pixels) / cell))));
    }
    const int weight = record.lfWeight <= 0 ? 400 : std::clamp(record.lfWeight, 1, 1000);
    font.setWeight(static_cast<QFont::Weight>(weight));
    font.setItalic(record.lfItalic != 0);
    font.setUnderline(record.lfUnderline != 0);
    font.setStrikeOut(record.lfStrikeOut != 0);
    return font;
}

// ---------------------------------------------------------------------------------------------
// Shaping

namespace {

// The font's answers for characters and glyphs met before, kept so that shaping a line costs
// table look-ups only for characters new to the view. The font itself (the parent) answers
// the rest, so the glyphs and positions are the font's own.
struct GlyphMemo {
    static constexpr std::uint32_t kUnknown = 0;         // not asked yet
    static constexpr std::uint32_t kAbsent = 0xFFFFFFFF; // the font has no glyph for it
    static constexpr hb_position_t kNoAdvance = std::numeric_limits<hb_position_t>::min();
    hb_font_t* parent = nullptr;
    std::vector<std::uint32_t> glyphPlusOne = std::vector<std::uint32_t>(0x10000, kUnknown);
    std::vector<hb_position_t> advance;

    bool glyphOf(hb_codepoint_t u, hb_codepoint_t* glyph) {
        if (u >= glyphPlusOne.size())
            return hb_font_get_nominal_glyph(parent, u, glyph) != 0;
        std::uint32_t& memo = glyphPlusOne[u];
        if (memo == kUnknown) {
            hb_codepoint_t g = 0;
            memo = hb_font_get_nominal_glyph(parent, u, &g) && g + 1 != kAbsent ? g + 1 : kAbsent;
        }
        if (memo == kAbsent)
            return false;
        *glyph = memo - 1;
        return true;
    }
    hb_position_t advanceOf(hb_codepoint_t glyph) {
        if (glyph >= advance.size())
            advance.resize(std::max<std::size_t>(glyph + 1, 2 * advance.size()), kNoAdvance);
        hb_position_t& memo = advance[glyph];
        if (memo == kNoAdvance)
            memo = hb_font_get_glyph_h_advance(parent, glyph);
        return memo;
    }
};

hb_bool_t memoNominalGlyph(hb_font_t*, void* data, hb_codepoint_t u, hb_codepoint_t* glyph, void*) {
    return static_cast<GlyphMemo*>(data)->glyphOf(u, glyph);
}

unsigned memoNominalGlyphs(hb_font_t*, void* data, unsigned count, const hb_codepoint_t* unicode,
                           unsigned unicodeStride, hb_codepoint_t* glyph, unsigned glyphStride,
                           void*) {
    auto* memo = static_cast<GlyphMemo*>(data);
    for (unsigned i = 0; i < count; ++i) {
        if (!memo->glyphOf(*unicode, glyph))
            return i;
        unicode = reinterpret_cast<const hb_codepoint_t*>(reinterpret_cast<const char*>(unicode) +
                                                          unicodeStride);
        glyph = reinterpret_cast<hb_codepoint_t*>(reinterpret_cast<char*>(glyph) + glyphStride);
    }
    return count;
}

hb_position_t memoHAdvance(hb_font_t*, void* data, hb_codepoint_t glyph, void*) {
    return static_cast<GlyphMemo*>(data)->advanceOf(glyph);
}

void memoHAdvances(hb_font_t*, void* data, unsigned count, const hb_codepoint_t* glyph,
                   unsigned glyphStride, hb_position_t* advance, unsigned advanceStride, void*) {
    auto* memo = static_cast<GlyphMemo*>(data);
    for (unsigned i = 0; i < count; ++i) {
        *advance = memo->advanceOf(*glyph);
        glyph = reinterpret_cast<const hb_codepoint_t*>(reinterpret_cast<const char*>(glyph) +
                                                        glyphStride);
        advance =
            reinterpret_cast<hb_position_t*>(reinterpret_cast<char*>(advance) + advanceStride);
    }
}

hb_font_funcs_t* memoFuncs() {
    static hb_font_funcs_t* const funcs = [] {
        hb_font_funcs_t* f = hb_font_funcs_create();
        hb_font_funcs_set_nominal_glyph_func(f, memoNominalGlyph, nullptr, nullptr);
        hb_font_funcs_set_nominal_glyphs_func(f, memoNominalGlyphs, nullptr, nullptr);
        hb_font_funcs_set_glyph_h_advance_func(f, memoHAdvance, nullptr, nullptr);
        hb_font_funcs_set_glyph_h_advances_func(f, memoHAdvances, nullptr, nullptr);
        hb_font_funcs_make_immutable(f);
        return f;
    }();
    return funcs;
}

} // namespace

// One face the surface shapes and draws with: the view font's own, or a face that has
// characters it lacks.
struct QtTextSurface::Face {
    QRawFont raw;
    hb_face_t* face = nullptr;
    hb_font_t* parent = nullptr; // the font's own tables
    hb_font_t* font = nullptr;   // the parent through the memo
    GlyphMemo memo;

    explicit Face(QRawFont rawFont) : raw(std::move(rawFont)) {
        face = hb_face_create_for_tables(referenceTable, &raw, nullptr);
        hb_face_set_upem(face, static_cast<unsigned>(raw.unitsPerEm()));
        parent = hb_font_create(face);
        const int scale = static_cast<int>(std::lround(raw.pixelSize() * 64));
        hb_font_set_scale(parent, scale, scale);
        memo.parent = parent;
        font = hb_font_create_sub_font(parent);
        hb_font_set_funcs(font, memoFuncs(), &memo, nullptr);
    }
    ~Face() {
        hb_font_destroy(font);
        hb_font_destroy(parent);
        hb_face_destroy(face);
    }
    Face(const Face&) = delete;
    Face& operator=(const Face&) = delete;
    bool hasGlyph(char32_t c) {
        hb_codepoint_t glyph = 0;
        return memo.glyphOf(c, &glyph) && glyph != 0;
    }
};

namespace {

// What decides the run a character is shaped in, from the character alone: the face that has
// its glyph, the script the run is shaped as, and (in a column) whether it lies on its side.
// Runs are cut wherever this changes, so a row cut out of a line is cut into the same runs as
// the line around it, and its characters are shaped as they are inside the line.
struct CharClass {
    std::uint8_t face = 0;
    std::uint8_t script = 0; // index into kRunScripts
    bool rotated = false;
    friend bool operator==(const CharClass&, const CharClass&) = default;
};

// The scripts runs are shaped as. ASCII (letters, digits, space and punctuation) is Latin, so
// that Latin text keeps its kerning around punctuation; Japanese (kanji, kana, full-width and
// the other shared marks) is one script, so that kana and kanji never cut a run; any other
// script is its own.
constexpr hb_script_t kRunScripts[] = {
    HB_SCRIPT_LATIN,  HB_SCRIPT_HAN,    HB_SCRIPT_GREEK, HB_SCRIPT_CYRILLIC,   HB_SCRIPT_HANGUL,
    HB_SCRIPT_ARABIC, HB_SCRIPT_HEBREW, HB_SCRIPT_THAI,  HB_SCRIPT_DEVANAGARI, HB_SCRIPT_UNKNOWN,
};
constexpr std::uint8_t kLatinRun = 0;
constexpr std::uint8_t kJapaneseRun = 1;
constexpr std::uint8_t kOtherRun = 9;

// By HarfBuzz's own Unicode data, which is the same in every build.
std::uint8_t runScriptOf(char32_t c) {
    if (c < 0x80)
        return kLatinRun;
    switch (hb_unicode_script(hb_unicode_funcs_get_default(), c)) {
    case HB_SCRIPT_LATIN:
        // Full-width Latin letters belong to the Japanese text around them.
        return c >= 0xFF00 && c <= 0xFFEF ? kJapaneseRun : kLatinRun;
    case HB_SCRIPT_GREEK:
        return 2;
    case HB_SCRIPT_CYRILLIC:
        return 3;
    case HB_SCRIPT_HANGUL:
        return 4;
    case HB_SCRIPT_ARABIC:
        return 5;
    case HB_SCRIPT_HEBREW:
        return 6;
    case HB_SCRIPT_THAI:
        return 7;
    case HB_SCRIPT_DEVANAGARI:
        return 8;
    case HB_SCRIPT_HAN:
    case HB_SCRIPT_HIRAGANA:
    case HB_SCRIPT_KATAKANA:
    case HB_SCRIPT_COMMON:
    case HB_SCRIPT_INHERITED:
        return kJapaneseRun;
    default:
        return kOtherRun;
    }
}

// The installed faces in the order the font matcher prefers them for the view font, Japanese
// faces first, for the characters the view font lacks. (Windows has no fontconfig: there Qt's
// font database lists them, in WinFallbackFaces.cpp.)
#ifndef _WIN32
class FallbackFaces {
  public:
    FallbackFaces(const QFont& font) {
        FcPattern* pattern = FcPatternCreate();
        const QByteArray family = QFontInfo(font).family().toUtf8();
        FcPatternAddString(pattern, FC_FAMILY,
                           reinterpret_cast<const FcChar8*>(family.constData()));
        FcPatternAddString(pattern, FC_LANG, reinterpret_cast<const FcChar8*>("ja"));
        FcPatternAddInteger(pattern, FC_SLANT, font.italic() ? FC_SLANT_ITALIC : FC_SLANT_ROMAN);
        FcPatternAddInteger(pattern, FC_WEIGHT, FcWeightFromOpenType(font.weight()));
        FcPatternAddBool(pattern, FC_SCALABLE, FcTrue);
        FcConfigSubstitute(nullptr, pattern, FcMatchPattern);
        FcDefaultSubstitute(pattern);
        FcResult result = FcResultMatch;
        m_sorted = FcFontSort(nullptr, pattern, FcFalse, nullptr, &result);
        FcPatternDestroy(pattern);
        if (!m_sorted)
            return;
        std::vector<Candidate> japanese, others;
        for (int i = 0; i < m_sorted->nfont; ++i) {
            FcPattern* f = m_sorted->fonts[i];
            FcChar8* name = nullptr;
            FcCharSet* charset = nullptr;
            if (FcPatternGetString(f, FC_FAMILY, 0, &name) != FcResultMatch ||
                FcPatternGetCharSet(f, FC_CHARSET, 0, &charset) != FcResultMatch)
                continue;
            FcLangSet* langs = nullptr;
            const bool isJapanese =
                FcPatternGetLangSet(f, FC_LANG, 0, &langs) == FcResultMatch &&
                FcLangSetHasLang(langs, reinterpret_cast<const FcChar8*>("ja")) !=
                    FcLangDifferentLang;
            (isJapanese ? japanese : others)
                .push_back({QString::fromUtf8(reinterpret_cast<const char*>(name)), charset});
        }
        m_candidates = std::move(japanese);
        m_candidates.insert(m_candidates.end(), others.begin(), others.end());
    }
    ~FallbackFaces() {
        if (m_sorted)
            FcFontSetDestroy(m_sorted);
    }
    FallbackFaces(const FallbackFaces&) = delete;
    FallbackFaces& operator=(const FallbackFaces&) = delete;

    // The families, in order of preference, whose fonts have c.
    template <class Visit> void forEachHaving(char32_t c, Visit visit) const {
        for (const Candidate& candidate : m_candidates)
            if (FcCharSetHasChar(candidate.charset, c) && visit(candidate.family))
                return;
    }

  private:
    struct Candidate {
        QString family;
        FcCharSet* charset; // owned by m_sorted
    };
    FcFontSet* m_sorted = nullptr;
    std::vector<Candidate> m_candidates;
};
#endif

} // namespace

struct QtTextSurface::Shaper {
    std::vector<std::unique_ptr<Face>> faces; // the view font's own first
    std::unique_ptr<FallbackFaces> fallback;  // made when a character first needs it
    // The class of each character met before, 0 when not asked yet (the class plus one).
    std::vector<std::uint32_t> classOf = std::vector<std::uint32_t>(0x10000, 0);
    hb_buffer_t* buffer = nullptr;
    hb_language_t japanese = hb_language_from_string("ja", -1);
    Cp932Decoder decoder;
    std::vector<int> byteOfUnit;

    ~Shaper() { hb_buffer_destroy(buffer); }
};

QtTextSurface::QtTextSurface(const Font& record, int direction)
    : QtTextSurface(record, direction,
                    QGuiApplication::primaryScreen()
                        ? QGuiApplication::primaryScreen()->logicalDotsPerInchX()
                        : 96.0) {}

QtTextSurface::QtTextSurface(const Font& record, int direction, double logicalDpiX)
    : m_font(makeFont(record, logicalDpiX)), m_rawFont(QRawFont::fromFont(m_font)),
      m_vertical(direction == 1), m_shaper(std::make_unique<Shaper>()) {
    m_ascent = static_cast<int>(std::lround(m_rawFont.ascent()));
    m_descent = static_cast<int>(std::lround(m_rawFont.descent()));
    // Every font here is an outline font; the low bit set means variable pitch.
    m_pitchAndFamily = static_cast<std::uint8_t>(kTrueTypePitchBit | 0x02 |
                                                 (QFontInfo(m_font).fixedPitch() ? 0 : 0x01) |
                                                 (record.lfPitchAndFamily & 0xF0));
    m_shaper->faces.push_back(std::make_unique<Face>(m_rawFont));
    m_shaper->buffer = hb_buffer_create();
}

QtTextSurface::~QtTextSurface() = default;

std::uint8_t QtTextSurface::faceFor(char32_t c) const {
    Shaper& s = *m_shaper;
    // Controls and spaces stay with the view font, which has them or draws them as nothing.
    if (c < 0x21 || s.faces.front()->hasGlyph(c))
        return 0;
    for (std::size_t i = 1; i < s.faces.size(); ++i)
        if (s.faces[i]->hasGlyph(c))
            return static_cast<std::uint8_t>(i);
    if (!s.fallback)
        s.fallback = std::make_unique<FallbackFaces>(m_font);
    std::uint8_t found = 0;
    s.fallback->forEachHaving(c, [&](const QString& family) {
        if (s.faces.size() >= 255)
            return true;
        QFont font(family);
        font.setPixelSize(m_font.pixelSize());
        font.setWeight(m_font.weight());
        font.setItalic(m_font.italic());
        font.setStyleStrategy(QFont::StyleStrategy(QFont::PreferOutline | QFont::NoFontMerging));
        font.setHintingPreference(QFont::PreferNoHinting);
        QRawFont raw = QRawFont::fromFont(font);
        // Qt may name the family differently or match another face: what counts is that the
        // face it gives has the glyph.
        if (!raw.isValid())
            return false;
        for (const auto& known : s.faces)
            if (known->raw.familyName() == raw.familyName() &&
                known->raw.styleName() == raw.styleName())
                return false; // already asked: it lacks the glyph
        s.faces.push_back(std::make_unique<Face>(std::move(raw)));
        if (!s.faces.back()->hasGlyph(c))
            return false;
        found = static_cast<std::uint8_t>(s.faces.size() - 1);
        return true;
    });
    return found;
}

void QtTextSurface::shape(std::string_view row, std::vector<Glyph>& glyphs) const {
    Shaper& s = *m_shaper;
    glyphs.clear();
    const QString text = s.decoder.decode(row, &s.byteOfUnit);
    const auto* units = reinterpret_cast<const uint16_t*>(text.utf16());
    const int length = static_cast<int>(text.size());
    std::int64_t pen = 0;

    auto classify = [&](char32_t c) {
        std::uint32_t* memo = static_cast<std::size_t>(c) < s.classOf.size()
                                  ? &s.classOf[static_cast<std::size_t>(c)]
                                  : nullptr;
        if (memo && *memo != 0) {
            const std::uint32_t v = *memo - 1;
            return CharClass{static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(v >> 8),
                             (v >> 16 & 1) != 0};
        }
        CharClass k;
        k.face = faceFor(static_cast<char32_t>(c));
        k.script = runScriptOf(c);
        // In a column: kanji, kana and full-width forms upright, Latin, digits and
        // half-width forms on their side, by the Unicode vertical orientation property.
        k.rotated = m_vertical && isSetSideways(c);
        if (memo)
            *memo = (std::uint32_t{k.face} | std::uint32_t{k.script} << 8 |
                     std::uint32_t{k.rotated} << 16) +
                    1;
        return k;
    };

    auto shapeRun = [&](int start, int end, const CharClass& k) {
        Face& face = *s.faces[k.face];
        hb_buffer_clear_contents(s.buffer);
        // Each run is shaped without the text around it, as the same characters measured
        // alone are: only cuts inside a run can change its shaping.
        hb_buffer_add_utf16(s.buffer, units + start, end - start, 0, end - start);
        const bool ttb = m_vertical && !k.rotated;
        hb_buffer_set_direction(s.buffer, ttb ? HB_DIRECTION_TTB : HB_DIRECTION_LTR);
        hb_buffer_set_script(s.buffer, kRunScripts[k.script]);
        hb_buffer_set_language(s.buffer, s.japanese);
        // Upright in a column: the font's vertical forms of punctuation, brackets, the
        // long-vowel mark and small kana.
        static const hb_feature_t vertical[] = {{HB_TAG('v', 'e', 'r', 't'), 1, 0, ~0u},
                                                {HB_TAG('v', 'r', 't', '2'), 1, 0, ~0u}};
        hb_shape(face.font, s.buffer, ttb ? vertical : nullptr, ttb ? 2 : 0);
        unsigned count = 0;
        const hb_glyph_info_t* info = hb_buffer_get_glyph_infos(s.buffer, &count);
        const hb_glyph_position_t* pos = hb_buffer_get_glyph_positions(s.buffer, &count);
        for (unsigned i = 0; i < count; ++i) {
            const std::int32_t advance = ttb ? -pos[i].y_advance : pos[i].x_advance;
            const bool unsafe =
                hb_glyph_info_get_glyph_flags(&info[i]) & HB_GLYPH_FLAG_UNSAFE_TO_BREAK;
            glyphs.push_back(
                {info[i].codepoint, s.byteOfUnit[info[i].cluster + static_cast<unsigned>(start)],
                 pen, advance, pos[i].x_offset, pos[i].y_offset, k.face, k.rotated, unsafe});
            pen += advance;
        }
    };

    int runStart = 0;
    CharClass runClass;
    for (int i = 0; i < length;) {
        const int at = i;
        char32_t c = units[i++];
        if (QChar::isHighSurrogate(c) && i < length && QChar::isLowSurrogate(units[i]))
            c = QChar::surrogateToUcs4(static_cast<char16_t>(c), units[i++]);
        const CharClass k = classify(c);
        if (at > runStart && !(k == runClass)) {
            shapeRun(runStart, at, runClass);
            runStart = at;
        }
        runClass = k;
    }
    if (length > runStart)
        shapeRun(runStart, length, runClass);
}

namespace {
int toPixels(std::int64_t sixtyFourths) {
    return static_cast<int>((sixtyFourths + 32) >> 6);
}
} // namespace

TextExtent QtTextSurface::textExtent(std::string_view text) const {
    shape(text, m_glyphs);
    std::int64_t along = 0;
    for (const Glyph& g : m_glyphs)
        along += g.advance;
    return {toPixels(along), fontHeight()};
}

int QtTextSurface::acrossExtent(std::string_view text, bool alongIsHeight) const {
    // textExtent gives the cell's height across the row; the width is the one it measures.
    return alongIsHeight ? TextSurface::acrossExtent(text, alongIsHeight) : fontHeight();
}

void QtTextSurface::layOutPiece(std::string_view line, std::size_t start, std::size_t bytes) const {
    // The piece ends between two characters.
    const std::string_view rest = line.substr(start);
    std::size_t end = 0;
    while (end < rest.size()) {
        const std::size_t d = sjis::charLength(rest, end);
        if (end > 0 && end + d > bytes)
            break;
        end += d;
    }
    m_pieceStart = start;
    m_piece.assign(rest.substr(0, end));
    m_pieceEndsLine = end == rest.size();
    shape(m_piece, m_glyphs);
    // Glyphs come in text order (left to right, or top to bottom), each credited to the
    // first byte of its character; a ligature is credited to its first character.
    std::vector<std::int64_t>& pen = m_penAt;
    pen.assign(m_piece.size() + 1, 0);
    m_cutIsClean.assign(m_piece.size() + 1, 0);
    // The piece is shaped alone, so cutting it at either end changes nothing.
    m_cutIsClean[0] = m_cutIsClean[m_piece.size()] = 1;
    int previousByte = -1;
    for (const Glyph& g : m_glyphs) {
        pen[static_cast<std::size_t>(g.byte) + 1] += g.advance;
        // HarfBuzz vouches that cutting the text before a glyph without this flag and
        // shaping both parts alone gives the same glyphs and positions.
        if (g.byte != previousByte)
            m_cutIsClean[static_cast<std::size_t>(g.byte)] = !g.unsafeToBreak;
        previousByte = g.byte;
    }
    for (std::size_t i = 1; i <= m_piece.size(); ++i)
        pen[i] += pen[i - 1];
}

void QtTextSurface::prefixExtents(std::string_view line, std::size_t start,
                                  std::vector<PrefixExtent>& extents) const {
    prefixExtentsUpTo(line, start, std::numeric_limits<std::int64_t>::max(), false, extents);
}

void QtTextSurface::prefixExtentsUpTo(std::string_view line, std::size_t start, std::int64_t limit,
                                      bool alongIsHeight,
                                      std::vector<PrefixExtent>& extents) const {
    start = std::min(start, line.size());
    const int height = fontHeight();
    // The breaker asks once per row. One shaped piece of the line serves the rows that start
    // inside it where it may be cut unchanged; a row that starts elsewhere, or runs past the
    // piece's end, gets a piece of its own from its start. Only the piece's bytes are compared
    // to know it is still the same text, so a row costs time in proportion to the piece,
    // however long the line.
    constexpr std::size_t kPieceBytes = 4096;
    const bool unlimited = limit == std::numeric_limits<std::int64_t>::max();
    std::size_t pieceBytes = unlimited ? line.size() - start : kPieceBytes;
    const auto pieceServes = [&] {
        return start >= m_pieceStart &&
               start - m_pieceStart < m_piece.size() + (start == line.size()) &&
               line.size() >= m_pieceStart + m_piece.size() &&
               m_cutIsClean[start - m_pieceStart] != 0 &&
               line.compare(m_pieceStart, m_piece.size(), m_piece) == 0 &&
               (!m_pieceEndsLine || m_pieceStart + m_piece.size() == line.size());
    };
    if (!pieceServes())
        layOutPiece(line, start, pieceBytes);
    for (;;) {
        const std::size_t offset = start - m_pieceStart;
        const std::string_view piece = m_piece;
        const std::int64_t origin = m_penAt[offset];
        // Entries are built from plain values: copying the entry just stored costs a stall
        // per character.
        int along = 0;
        bool exact = true;
        bool reached = false;
        extents.clear();
        extents.push_back({{0, height}, true});
        std::size_t characters = 0;
        for (std::size_t pos = offset; pos < piece.size();) {
            const std::size_t d = sjis::charLength(piece, pos);
            if (d == 2)
                extents.push_back({{along, height}, exact}); // the offset inside the character
            // The pen before the character's first byte covers the whole character: its
            // second byte never starts a glyph.
            along = toPixels(m_penAt[pos + d] - origin);
            exact = m_cutIsClean[pos + d] != 0;
            extents.push_back({{along, height}, exact});
            pos += d;
            ++characters;
            if (characters >= 2 && (alongIsHeight ? height : along) >= limit) {
                reached = true;
                break;
            }
        }
        if (reached || m_pieceEndsLine)
            return;
        // The row runs past the piece: a larger piece from the row's start.
        pieceBytes = 2 * std::max(pieceBytes, piece.size() - offset);
        layOutPiece(line, start, pieceBytes);
    }
}

// ---------------------------------------------------------------------------------------------
// Drawing

void QtTextSurface::drawText(int x, int y, std::string_view row, Colour colour) {
    if (!m_painter || row.empty())
        return;
    shape(row, m_glyphs);
    QPainter& p = *m_painter;
    p.save();
    p.setPen(toQColor(colour));

    // Horizontal: the baseline lies ascent below the top of the cell. Vertical: upright glyphs
    // hang from the column's centre line, glyphs on their side have their baseline ascent
    // left of the column's right edge, as a font turned by 270 degrees sets them.
    const double centre = x - fontHeight() / 2.0;
    for (std::size_t first = 0; first < m_glyphs.size();) {
        std::size_t last = first;
        while (last < m_glyphs.size() && m_glyphs[last].rotated == m_glyphs[first].rotated &&
               m_glyphs[last].face == m_glyphs[first].face)
            ++last;
        QList<quint32> indexes;
        QList<QPointF> positions;
        for (std::size_t i = first; i < last; ++i) {
            const Glyph& g = m_glyphs[i];
            indexes.append(g.index);
            if (m_vertical && !g.rotated)
                positions.append(
                    QPointF(centre + g.dx / 64.0, y + static_cast<double>(g.pen - g.dy) / 64.0));
            else
                positions.append(QPointF(static_cast<double>(g.pen + g.dx) / 64.0, -g.dy / 64.0));
        }
        QGlyphRun run;
        run.setRawFont(m_shaper->faces[m_glyphs[first].face]->raw);
        run.setGlyphIndexes(indexes);
        run.setPositions(positions);
        if (!m_vertical) {
            p.drawGlyphRun(QPointF(x, y + m_ascent), run);
        } else if (!m_glyphs[first].rotated) {
            p.drawGlyphRun(QPointF(0, 0), run);
        } else {
            p.save();
            p.translate(x - m_ascent, y);
            p.rotate(90);
            p.drawGlyphRun(QPointF(0, 0), run);
            p.restore();
        }
        first = last;
    }

    // Underline along the row, below the baseline (left of it in a column).
    if (m_font.underline() && !m_glyphs.empty()) {
        const Glyph& end = m_glyphs.back();
        const double length = static_cast<double>(end.pen + end.advance) / 64.0;
        const double thickness = std::max(1.0, m_rawFont.lineThickness());
        const double offset = m_ascent + m_rawFont.underlinePosition();
        if (m_vertical)
            p.fillRect(QRectF(x - offset - thickness, y, thickness, length), p.pen().color());
        else
            p.fillRect(QRectF(x, y + offset, length, thickness), p.pen().color());
    }
    p.restore();
}

void QtTextSurface::fillRect(const Rect& area, Colour colour) {
    if (m_painter && !area.isEmpty())
        m_painter->fillRect(QRect(area.left, area.top, area.width(), area.height()),
                            toQColor(colour));
}

} // namespace skiro
