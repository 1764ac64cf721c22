#pragma once
#include <QFont>
#include <QRawFont>
#include <QString>

#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

#include "core/Settings.h"
#include "core/TextSurface.h"
#include "sjis/Sjis.h"

class QPainter;

// The text surface on Qt: measures and draws stored Shift-JIS rows in the view font. Rows are
// shaped with HarfBuzz and drawn as glyph runs at the shaped positions, so what the row breaker
// measures is exactly what painting draws. A character the view font lacks is shaped and drawn
// in an installed face that has it. In vertical writing the rows are set as tategaki.
namespace skiro {

class QtTextSurface : public TextSurface {
  public:
    // The view font from the profile's font record at the screen's logical horizontal DPI.
    // direction 1 sets rows as vertical columns.
    QtTextSurface(const Font& font, int direction, double logicalDpiX);
    // The same at the primary screen's logical DPI.
    QtTextSurface(const Font& font, int direction);
    ~QtTextSurface() override;

    // Where drawText and fillRect paint; the caller keeps the painter alive while it is set.
    void setPainter(QPainter* painter) { m_painter = painter; }

    TextExtent textExtent(std::string_view text) const override;
    void prefixExtents(std::string_view line, std::size_t start,
                       std::vector<PrefixExtent>& extents) const override;
    void prefixExtentsUpTo(std::string_view line, std::size_t start, std::int64_t limit,
                           bool alongIsHeight, std::vector<PrefixExtent>& extents) const override;
    // Every row is as thick as the font's cell, whatever it holds.
    int acrossExtent(std::string_view text, bool alongIsHeight) const override;
    int fontHeight() const override { return m_ascent + m_descent; }
    std::uint8_t pitchAndFamily() const override { return m_pitchAndFamily; }
    void drawText(int x, int y, std::string_view row, Colour colour) override;
    void fillRect(const Rect& area, Colour colour) override;

    const QFont& font() const { return m_font; }
    bool vertical() const { return m_vertical; }

    // The Qt font for a profile font record: Windows Japanese face names mapped to the
    // installed IPA fonts, a leading "@" dropped, the height converted from twips.
    static QFont makeFont(const Font& font, double logicalDpiX);

  private:
    // One shaped glyph. Along and offsets are in 1/64 pixel; rotated glyphs lie on their side
    // (Latin in vertical writing), the others upright.
    struct Glyph {
        std::uint32_t index;
        int byte;
        std::int64_t pen; // along the row, before the glyph
        std::int32_t advance;
        std::int32_t dx;
        std::int32_t dy;
        std::uint8_t face; // the view font (0) or a face that has what it lacks
        bool rotated;
        bool unsafeToBreak; // the text may not be cut before it without reshaping
    };
    void shape(std::string_view row, std::vector<Glyph>& glyphs) const;
    // The face that draws c: the view font when it has the glyph, otherwise the first
    // installed face that has it (Japanese faces first), otherwise the view font's box.
    std::uint8_t faceFor(char32_t c) const;
    // Shapes about `bytes` of line from `start` alone, noting the pen before each byte and
    // whether the piece may be cut there unchanged.
    void layOutPiece(std::string_view line, std::size_t start, std::size_t bytes) const;

    QFont m_font;
    QRawFont m_rawFont;
    bool m_vertical = false;
    int m_ascent = 0;
    int m_descent = 0;
    std::uint8_t m_pitchAndFamily = kTrueTypePitchBit;
    QPainter* m_painter = nullptr;

    struct Face;
    struct Shaper;
    std::unique_ptr<Shaper> m_shaper;
    mutable std::vector<Glyph> m_glyphs; // scratch for measuring and drawing one row
    // The piece of a line laid out last, kept while the breaker cuts rows from it: its bytes,
    // where it starts in its line, whether it runs to the line's end, and the pen before each
    // byte and whether the piece may be cut there unchanged.
    mutable std::string m_piece;
    mutable std::size_t m_pieceStart = 0;
    mutable bool m_pieceEndsLine = false;
    mutable std::vector<std::int64_t> m_penAt{0};
    mutable std::vector<char> m_cutIsClean{1};
};

} // namespace skiro
