#include "core/RowLayoutCache.h"

#include <algorithm>

#include "core/Settings.h"
#include "core/TextSurface.h"

namespace skiro {

namespace {

// Bytes kept from the end of the broken text to check that a later text only grew.
constexpr std::size_t kTailBytes = 64;

// How far past a row's end its cut may look: the character that did not fit and, when kinsoku
// moved the row's last character on, the one before it.
constexpr std::size_t kDependsOnBytes = 4;

// More lines than the store and the current line can hold means numbering went astray.
constexpr std::size_t kMostLines = 512;

} // namespace

std::pair<std::size_t, std::size_t> RowLayoutCache::Rows::meeting(std::int64_t lo,
                                                                  std::int64_t hi) const {
    // Row i spans [before(i), before(i + 1)); the first that ends past lo, up to the first
    // that begins at or past hi.
    const auto ends = m_before.begin() + 1;
    const auto first = std::upper_bound(ends, m_before.end(), lo) - ends;
    const auto last =
        std::lower_bound(m_before.begin() + first, m_before.end() - 1, hi) - m_before.begin();
    return {static_cast<std::size_t>(first), static_cast<std::size_t>(std::max(first, last))};
}

bool RowLayoutCache::Breaking::sameAs(const LayoutParams& p) const {
    return surface == p.dc->identity() && params.extentLimit == p.extentLimit &&
           params.outlineWidth == p.outlineWidth && params.advanceIsHeight == p.advanceIsHeight &&
           params.pitchPercent == p.pitchPercent && params.noWrap == p.noWrap &&
           params.emptyThickness == p.emptyThickness && kinsokuType == Kinsoku.Type &&
           kinsokuHead == Kinsoku.Head && kinsokuTail == Kinsoku.Tail;
}

const RowLayoutCache::Rows& RowLayoutCache::rowsOf(std::uint64_t line, std::size_t from,
                                                   std::string_view text,
                                                   const LayoutParams& params, std::int64_t depth) {
    if (m_lines.size() > kMostLines)
        m_lines.clear();
    Entry& entry = m_lines[line];
    Rows& rows = entry.rows;
    const bool grown =
        entry.known && entry.from == from && entry.breaking.sameAs(params) &&
        text.size() >= entry.textSize &&
        text.substr(entry.textSize - entry.tail.size(), entry.tail.size()) == entry.tail;
    if (!grown) {
        entry.known = true;
        entry.from = from;
        entry.breaking.surface = params.dc->identity();
        entry.breaking.params = params;
        entry.breaking.params.dc = nullptr;
        entry.breaking.kinsokuType = Kinsoku.Type;
        entry.breaking.kinsokuHead = Kinsoku.Head;
        entry.breaking.kinsokuTail = Kinsoku.Tail;
        rows.m_rows.clear();
        rows.m_before.assign(1, 0);
        rows.m_next = 0;
        rows.m_complete = false;
    } else if (text.size() > entry.textSize) {
        // A row is final once the characters after it that its cut looked at had arrived: at
        // most the next row's first two (kinsoku), four bytes, which must lie before the old
        // text's last byte, as that may have been a lead byte still waiting for its second.
        // The last row of a complete line ended where the text did: what follows may join it.
        std::vector<Row>& kept = rows.m_rows;
        while (!kept.empty() && rows.m_next + kDependsOnBytes >= entry.textSize) {
            rows.m_next = kept.back().start;
            kept.pop_back();
            rows.m_before.pop_back();
        }
        rows.m_complete = false;
    }
    entry.textSize = text.size();
    const std::size_t tail = std::min(kTailBytes, text.size());
    entry.tail.assign(text.substr(text.size() - tail));

    // Rows are cut until the last begins past the depth asked for, or the line ends.
    if (!rows.m_complete &&
        (rows.m_rows.empty() || rows.m_before[rows.m_rows.size() - 1] <= depth)) {
        m_breaker.breaking = text;
        m_breaker.cursor = rows.m_next;
        while (!rows.m_complete &&
               (rows.m_rows.empty() || rows.m_before[rows.m_rows.size() - 1] <= depth)) {
            const std::size_t rowStart = m_breaker.cursor;
            int thickness = 0;
            rows.m_complete = m_breaker.nextRow(nullptr, params, nullptr, thickness);
            const std::size_t length = m_breaker.cursor - rowStart;
            rows.m_rows.push_back({rowStart, length, thickness,
                                   m_breaker.drawnLength(text, rowStart, length, params)});
            rows.m_before.push_back(rows.m_before.back() + thickness);
        }
        rows.m_next = m_breaker.cursor;
        m_breaker.breaking = {};
    }
    return rows;
}

void RowLayoutCache::forgetBefore(std::uint64_t oldest) {
    std::erase_if(m_lines, [oldest](const auto& line) { return line.first < oldest; });
}

} // namespace skiro
