#include "core/TextSurface.h"

#include <algorithm>
#include <atomic>

#include "core/ShiftJis.h"

namespace skiro {

TextSurface::TextSurface() {
    static std::atomic<std::uint64_t> made{0};
    m_identity = ++made;
}

void TextSurface::prefixExtents(std::string_view line, std::size_t start,
                                std::vector<PrefixExtent>& extents) const {
    const std::string_view rest = line.substr(std::min(start, line.size()));
    extents.assign(rest.size() + 1, PrefixExtent{textExtent({}), true});
    std::size_t pos = 0;
    while (pos < rest.size()) {
        const std::size_t d = sjis::charLength(rest, pos);
        if (d == 2)
            extents[pos + 1] = extents[pos];
        extents[pos + d] = {textExtent(rest.substr(0, pos + d)), true};
        pos += d;
    }
}

void TextSurface::prefixExtentsUpTo(std::string_view line, std::size_t start, std::int64_t, bool,
                                    std::vector<PrefixExtent>& extents) const {
    prefixExtents(line, start, extents);
}

int TextSurface::acrossExtent(std::string_view text, bool alongIsHeight) const {
    const TextExtent e = textExtent(text);
    return alongIsHeight ? e.cx : e.cy;
}

} // namespace skiro
