#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "core/Colour.h"
#include "core/TextSurface.h"

namespace skiro {

struct LayoutParams;

// One line of received text as the line store keeps it, with the colours it was stored with.
// An empty one also serves painting as the row breaker: `cursor` is where the next row begins.
class CDisplayLine {
  public:
    CDisplayLine() = default;
    CDisplayLine(std::string lineText, Colour lineTextColor, Colour lineOutlineColor)
        : text(std::move(lineText)), textColor(lineTextColor), outlineColor(lineOutlineColor) {}
    virtual ~CDisplayLine() = default;

    // Cuts the next row off the line being broken. Pass the line's text to start, or nullptr to
    // continue from `cursor`; the text must stay alive until the last row. rowText (when given)
    // receives the row's bytes; rowThickness its thickness across the writing direction
    // including the line pitch. Returns true when this row is the line's last. Continuing after
    // the last row yields an empty last row.
    bool nextRow(const std::string_view* lineText, const LayoutParams& params, std::string* rowText,
                 int& rowThickness);

    // How many bytes of the row [start, start + length) of `line` are worth drawing: the whole
    // row, unless it runs past the room along it (a row without wrapping); then its characters
    // up to a cut beyond the room's far edge where the glyphs before the cut are those of the
    // whole row, so that drawing them alone gives the picture the whole row gives. Costs what
    // the window shows, however long the row.
    std::size_t drawnLength(std::string_view line, std::size_t start, std::size_t length,
                            const LayoutParams& params);

    // The sum of the thicknesses of all rows of lineText. Leaves `cursor` at its end.
    int measureLine(std::string_view lineText, const LayoutParams& params);

    std::string text; // as received: no CR or LF, prefixes and commands still in it
    Colour textColor = 0;
    Colour outlineColor = 0;
    // Which line of the run this is; painting keeps the rows it cut by it.
    std::uint64_t serial = 0;

    // Row breaker state: the text being broken and the offset where the next row begins.
    std::string_view breaking;
    std::size_t cursor = 0;

  private:
    // Prefix extents of the rest of `breaking` from one layout of the line, up to the first
    // character that does not fit. They propose where a row ends; an end they cannot vouch for
    // is confirmed by measuring the row alone.
    std::vector<PrefixExtent> m_rowExtents;
    // Character boundaries of the row being cut, as byte offsets from `cursor`.
    std::vector<std::size_t> m_bounds;
};

} // namespace skiro
