#include "core/TextSurface.h"

#include "core/ShiftJis.h"

namespace skiro {

void TextSurface::prefixExtents(std::string_view row, std::vector<TextExtent>& extents) const {
    extents.assign(row.size() + 1, TextExtent{});
    extents[0] = textExtent({});
    std::size_t pos = 0;
    while (pos < row.size()) {
        const std::size_t d = sjis::charLength(row, pos);
        const TextExtent e = textExtent(row.substr(0, pos + d));
        for (std::size_t i = pos + 1; i <= pos + d; ++i)
            extents[i] = (i == pos + d) ? e : extents[pos];
        pos += d;
    }
}

} // namespace skiro
