// The row breaker: cuts one display line into rows that fit the room along the writing
// direction, with the kinsoku rule applied at each overflow.
//
// The result is the same as measuring every growing prefix of a row on its own and stopping
// at the first that reaches the limit. Measuring that way costs one text layout per character;
// here one layout of the whole line proposes where each row ends, and the proposed end and its
// neighbour are measured on their own wherever the surface cannot vouch that the font neither
// kerns nor joins characters across them, so such a font never changes a row.
#include <algorithm>
#include <bitset>
#include <cstdint>
#include <string>

#include "core/DisplayLine.h"
#include "core/Kinsoku.h"
#include "core/LayoutParams.h"
#include "core/Settings.h"
#include "core/ShiftJis.h"

namespace skiro {

bool kinsokuSetContains(std::string_view set, std::string_view ch) {
    // Asked at every row's end, so the bytes are compared in place.
    if (ch.empty() || ch.size() > 2)
        return false;
    std::size_t pos = 0;
    while (pos < set.size()) {
        const std::size_t d = sjis::charLength(set, pos);
        if (d == ch.size() && set[pos] == ch[0] && (d == 1 || set[pos + 1] == ch[1]))
            return true;
        pos += d;
    }
    return false;
}

namespace {

int alongOf(const TextExtent& e, const LayoutParams& p) {
    return p.advanceIsHeight ? e.cy : e.cx;
}
int acrossOf(const TextExtent& e, const LayoutParams& p) {
    return p.advanceIsHeight ? e.cx : e.cy;
}

// A kinsoku set as a table of its characters, built again whenever the set's text changes:
// every row's end is checked against the sets, and scanning them there costs more than
// cutting the row.
class KinsokuTable {
  public:
    bool contains(std::string_view set, std::string_view ch) {
        if (!m_built || set != m_of)
            build(set);
        if (ch.size() == 1)
            return m_single.test(static_cast<unsigned char>(ch[0]));
        if (ch.size() == 2)
            return m_double.test(static_cast<std::size_t>(static_cast<unsigned char>(ch[0])) << 8 |
                                 static_cast<unsigned char>(ch[1]));
        return false;
    }

  private:
    void build(std::string_view set) {
        m_of.assign(set);
        m_single.reset();
        m_double.reset();
        for (std::size_t pos = 0; pos < set.size(); pos += sjis::charLength(set, pos)) {
            const auto lead = static_cast<unsigned char>(set[pos]);
            if (sjis::charLength(set, pos) == 2)
                m_double.set(static_cast<std::size_t>(lead) << 8 |
                             static_cast<unsigned char>(set[pos + 1]));
            else
                m_single.set(lead);
        }
        m_built = true;
    }

    bool m_built = false;
    std::string m_of;
    std::bitset<0x100> m_single;
    std::bitset<0x10000> m_double;
};

// Whether B, the last character of an overflowing row, moves to the next row. A is the
// character that did not fit, C the one before B.
bool kinsokuMovesLast(std::string_view a, std::string_view b, std::string_view c) {
    thread_local KinsokuTable head, tail;
    const KinsokuValues& k = Kinsoku;
    if (k.Type == 1) // push-out: the next row must not begin, nor this one end, forbidden
        return head.contains(k.Head, a) || tail.contains(k.Tail, b);
    if (k.Type == 2) // push-in: give up the last cell unless B or C needs it
        return !(head.contains(k.Head, b) || tail.contains(k.Tail, c));
    return false;
}

} // namespace

bool CDisplayLine::nextRow(const std::string_view* lineText, const LayoutParams& params,
                           std::string* rowText, int& rowThickness) {
    const TextSurface& dc = *params.dc;
    if (lineText) {
        breaking = *lineText;
        cursor = 0;
    }
    cursor = std::min(cursor, breaking.size());
    const std::string_view rest = breaking.substr(cursor);
    const auto thicknessOf = [&](std::int64_t across) {
        if (params.outlineWidth > 0)
            across += 2 * static_cast<std::int64_t>(params.outlineWidth);
        return static_cast<int>(params.pitchPercent * across / 100);
    };

    if (params.noWrap) {
        // Without wrapping the rest of the line is one row, however far past the window it
        // runs. Only its thickness is measured, which a surface whose rows are as thick as
        // its font gives without looking at the text: a row a million characters long costs
        // no more than a short one.
        rowThickness =
            thicknessOf(rest.empty() ? params.emptyThickness
                                     : dc.acrossExtent(rest, params.advanceIsHeight != 0));
        if (rowText)
            rowText->assign(rest);
        cursor = breaking.size();
        return true;
    }

    std::int64_t limit = params.extentLimit;
    if (params.outlineWidth > 0)
        limit -= 2 * static_cast<std::int64_t>(params.outlineWidth);

    // Character boundaries of the rest of the line, found only as far as the row needs them,
    // so that a row costs time in proportion to its own length, not to what follows it.
    std::vector<std::size_t>& bounds = m_bounds;
    bounds.assign(1, 0);
    // Whether the rest holds j characters; bound(j) is then the byte length of the first j.
    auto has = [&](std::size_t j) {
        while (bounds.size() <= j && bounds.back() < rest.size())
            bounds.push_back(bounds.back() + sjis::charLength(rest, bounds.back()));
        return bounds.size() > j;
    };
    auto bound = [&](std::size_t j) { return bounds[j]; };

    // The surface gives the extents up to the first character that reaches the limit.
    dc.prefixExtentsUpTo(breaking, cursor, limit, params.advanceIsHeight != 0, m_rowExtents);
    const std::size_t known = m_rowExtents.empty() ? 0 : m_rowExtents.size() - 1;
    // Extent of the first j characters measured alone.
    auto exact = [&](std::size_t j) {
        const std::size_t len = bound(j);
        if (len <= known && m_rowExtents[len].exact)
            return m_rowExtents[len].extent;
        return dc.textExtent(rest.substr(0, len));
    };
    auto fits = [&](const TextExtent& e) { return alongOf(e, params) < limit; };

    // Proposal from the one pass: m characters are taken, the (m+1)-th would reach the limit.
    // Should the extents end before that, the row is grown from their end by measuring alone.
    std::size_t m = 0;
    if (has(1)) {
        m = 1;
        while (has(m + 1) && bound(m + 1) <= known &&
               alongOf(m_rowExtents[bound(m + 1)].extent, params) < limit)
            ++m;
    }

    // Confirm with the row measured alone: the row's own extent must fit (unless it is a
    // single character) and one more character must not.
    TextExtent rowExtent{0, 0};
    if (params.advanceIsHeight)
        rowExtent.cx = params.emptyThickness;
    else
        rowExtent.cy = params.emptyThickness;
    if (m > 0) {
        rowExtent = exact(m);
        bool nextKnownTooLong = false;
        while (m >= 2 && !fits(rowExtent)) {
            --m;
            rowExtent = exact(m);
            nextKnownTooLong = true;
        }
        while (!nextKnownTooLong && has(m + 1)) {
            const TextExtent longer = exact(m + 1);
            if (!fits(longer))
                break;
            ++m;
            rowExtent = longer;
        }
    }
    const bool last = !has(m + 1);

    std::size_t len = bound(m);
    if (!last && m >= 2 && Kinsoku.Type != 0 && (!Kinsoku.Head.empty() || !Kinsoku.Tail.empty())) {
        const std::string_view a = rest.substr(bound(m), bound(m + 1) - bound(m));
        const std::string_view b = rest.substr(bound(m - 1), bound(m) - bound(m - 1));
        const std::string_view c = rest.substr(bound(m - 2), bound(m - 1) - bound(m - 2));
        if (kinsokuMovesLast(a, b, c)) {
            len = bound(m - 1);
            rowExtent = exact(m - 1);
        }
    }

    rowThickness = thicknessOf(acrossOf(rowExtent, params));

    if (rowText)
        rowText->assign(rest.substr(0, len));
    cursor += len;
    return last;
}

std::size_t CDisplayLine::drawnLength(std::string_view line, std::size_t start, std::size_t length,
                                      const LayoutParams& params) {
    // Rows that wrap fit the room; only a row without wrapping runs past it.
    if (!params.noWrap)
        return length;
    start = std::min(start, line.size());
    const std::string_view row = line.substr(start, std::min(length, line.size() - start));
    // Past the room's far edge by more than a glyph reaches back over where it begins (a
    // font's height) and by the outline on both sides: nothing from there on can show.
    const std::int64_t edge = std::int64_t{params.extentLimit} + params.emptyThickness +
                              2 * std::int64_t{std::max(0, params.outlineWidth)};
    std::int64_t limit = std::max<std::int64_t>(edge, 1);
    std::size_t given = 0;
    for (;;) {
        params.dc->prefixExtentsUpTo(line, start, limit, params.advanceIsHeight != 0, m_rowExtents);
        const std::size_t known = m_rowExtents.empty() ? 0 : m_rowExtents.size() - 1;
        // The first character boundary past the edge where the glyphs before it are those
        // of the whole row: drawn alone, they give the same pixels.
        std::size_t pos = 0;
        while (pos < row.size() && pos <= known) {
            if (pos > 0 && m_rowExtents[pos].exact &&
                alongOf(m_rowExtents[pos].extent, params) >= edge)
                return pos;
            pos += sjis::charLength(row, pos);
        }
        // The row ends first, or the surface gave all it will: the whole row is drawn.
        if (pos >= row.size() || known <= given)
            return length;
        given = known;
        limit = std::min<std::int64_t>(2 * limit, std::int64_t{1} << 40);
    }
}

int CDisplayLine::measureLine(std::string_view lineText, const LayoutParams& params) {
    std::int64_t total = 0;
    int thickness = 0;
    bool last = nextRow(&lineText, params, nullptr, thickness);
    total += thickness;
    while (!last) {
        last = nextRow(nullptr, params, nullptr, thickness);
        total += thickness;
    }
    return static_cast<int>(std::min<std::int64_t>(total, INT32_MAX));
}

} // namespace skiro
