#pragma once
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "core/LayoutParams.h"
#include "core/Settings.h"
#include "core/ShiftJis.h"
#include "core/TextSurface.h"

// The row breaker in its plainest form: every growing prefix of a row is measured on its own,
// one text layout per character. Too slow for painting; tests and the benchmark hold the fast
// breaker (CDisplayLine::nextRow) against it.
namespace skiro {

class ReferenceRowBreaker {
  public:
    // Same contract as CDisplayLine::nextRow.
    bool nextRow(const std::string_view* lineText, const LayoutParams& p, std::string* rowText,
                 int& rowThickness) {
        if (lineText) {
            m_text = *lineText;
            m_cursor = 0;
        }
        std::int64_t limit = p.extentLimit;
        if (p.outlineWidth > 0)
            limit -= 2 * static_cast<std::int64_t>(p.outlineWidth);
        if (p.noWrap)
            limit = 0x7FFFFFFF;

        TextExtent extent =
            p.advanceIsHeight ? TextExtent{p.emptyThickness, 0} : TextExtent{0, p.emptyThickness};
        TextExtent withLast = extent, withoutLast = extent;
        std::size_t len = 0, lastLen = 0, beforeLastLen = 0;
        bool ended = true;
        while (m_cursor + len < m_text.size()) {
            const std::size_t d = sjis::charLength(m_text, m_cursor + len);
            const TextExtent e = p.dc->textExtent(m_text.substr(m_cursor, len + d));
            if (len > 0 && along(e, p) >= limit) {
                ended = false;
                break;
            }
            withoutLast = withLast;
            withLast = e;
            len += d;
            beforeLastLen = lastLen;
            lastLen = d;
        }
        extent = withLast;
        if (!ended && beforeLastLen > 0 && Kinsoku.Type != 0 &&
            (!Kinsoku.Head.empty() || !Kinsoku.Tail.empty())) {
            const std::string_view row = m_text.substr(m_cursor);
            const std::string_view a = row.substr(len, sjis::charLength(row, len));
            const std::string_view b = row.substr(len - lastLen, lastLen);
            const std::string_view c = row.substr(len - lastLen - beforeLastLen, beforeLastLen);
            bool moves = false;
            if (Kinsoku.Type == 1)
                moves = member(Kinsoku.Head, a) || member(Kinsoku.Tail, b);
            else if (Kinsoku.Type == 2)
                moves = !(member(Kinsoku.Head, b) || member(Kinsoku.Tail, c));
            if (moves) {
                len -= lastLen;
                extent = withoutLast;
            }
        }
        std::int64_t across = p.advanceIsHeight ? extent.cx : extent.cy;
        if (p.outlineWidth > 0)
            across += 2 * static_cast<std::int64_t>(p.outlineWidth);
        rowThickness = static_cast<int>(p.pitchPercent * across / 100);
        if (rowText)
            rowText->assign(m_text.substr(m_cursor, len));
        m_cursor += len;
        return ended;
    }

  private:
    static int along(const TextExtent& e, const LayoutParams& p) {
        return p.advanceIsHeight ? e.cy : e.cx;
    }
    static bool member(std::string_view set, std::string_view ch) {
        for (std::size_t pos = 0; pos < set.size();) {
            const std::size_t d = sjis::charLength(set, pos);
            if (set.substr(pos, d) == ch)
                return true;
            pos += d;
        }
        return false;
    }

    std::string_view m_text;
    std::size_t m_cursor = 0;
};

// One row as a breaker produced it, for comparing two breakers' output.
struct BrokenRow {
    std::string text;
    int thickness = 0;
    friend bool operator==(const BrokenRow&, const BrokenRow&) = default;
};

// Every row of `text` from `breaker` (the fast one or the reference), stopping after maxRows
// so that a breaker that fails to advance cannot loop for ever.
template <class Breaker>
std::vector<BrokenRow> breakIntoRows(Breaker& breaker, std::string_view text, const LayoutParams& p,
                                     std::size_t maxRows = 100000) {
    std::vector<BrokenRow> rows;
    BrokenRow row;
    bool last = breaker.nextRow(&text, p, &row.text, row.thickness);
    rows.push_back(row);
    while (!last && rows.size() < maxRows) {
        last = breaker.nextRow(nullptr, p, &row.text, row.thickness);
        rows.push_back(row);
    }
    return rows;
}

} // namespace skiro
