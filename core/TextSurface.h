#pragma once
#include <cstdint>
#include <string_view>
#include <vector>

#include "core/Colour.h"
#include "core/Geometry.h"

// The drawing surface that the row breaker measures with and painting draws on. Rows reach it as
// stored Shift-JIS bytes; the surface converts them for its font. The display implements it on
// Qt; tests implement it with fixed widths.
namespace skiro {

// An extent as the surface gives it: cx is the width component, cy the height component. Which
// of them runs along a row is the row breaker's business (LayoutParams::advanceIsHeight).
struct TextExtent {
    int cx = 0;
    int cy = 0;
    friend bool operator==(const TextExtent&, const TextExtent&) = default;
};

struct PrefixExtent {
    TextExtent extent;
    bool exact = false;
};

// The pitch-and-family bit of a TrueType (outline) font.
constexpr std::uint8_t kTrueTypePitchBit = 0x04;

class TextSurface {
  public:
    TextSurface();
    virtual ~TextSurface() = default;

    // Which surface this is: no two surfaces of a run share it, so rows that one surface's
    // font measured are never taken for another's.
    std::uint64_t identity() const { return m_identity; }

    // Extent of text measured on its own, as if it were a whole row.
    virtual TextExtent textExtent(std::string_view text) const = 0;

    // Extents of the prefixes of the rest of a line, line[start..], as they lie inside the
    // whole line, from one layout of the line: extents[i] is for the first i bytes from start
    // (extents[0] the empty prefix). Entries at offsets inside a double-byte character repeat
    // the previous character boundary. Where the font kerns or joins characters across a
    // prefix's ends, the prefix inside the line may differ from the same bytes measured alone;
    // `exact` marks the entries that are known to equal textExtent of those bytes. The
    // default measures each prefix alone, so every entry is exact.
    virtual void prefixExtents(std::string_view line, std::size_t start,
                               std::vector<PrefixExtent>& extents) const;

    // The same, except that the surface may stop once it has given at least two characters and
    // the last entry's extent along the row (cy when alongIsHeight, else cx) reaches limit:
    // the row breaker needs nothing past the first character that does not fit. Entries past
    // the returned ones are then unknown, not empty. The default gives them all.
    virtual void prefixExtentsUpTo(std::string_view line, std::size_t start, std::int64_t limit,
                                   bool alongIsHeight, std::vector<PrefixExtent>& extents) const;

    // The extent across a row of `text` measured on its own: textExtent's cy, or its cx when
    // the height component runs along the row. The default measures the text; a surface whose
    // rows are as thick as its font whatever they hold answers without looking at it, so that
    // a row of any length costs nothing to know the thickness of.
    virtual int acrossExtent(std::string_view text, bool alongIsHeight) const;

    // The font's text-metric height (ascent + descent) and its pitch-and-family byte.
    virtual int fontHeight() const = 0;
    virtual std::uint8_t pitchAndFamily() const = 0;

    // Draws a row with the top-left of its text cell at (x, y), glyph pixels only (the
    // background stays). In vertical writing x is the right edge of the column: the cell
    // extends left of and below the point.
    virtual void drawText(int x, int y, std::string_view row, Colour colour) = 0;

    virtual void fillRect(const Rect& area, Colour colour) = 0;

  private:
    std::uint64_t m_identity;
};

} // namespace skiro
