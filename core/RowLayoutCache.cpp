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
                                                   const LayoutParams& params) {
    if (m_lines.size() > kMostLines)
        m_lines.clear();
    Entry& entry = m_lines[line];
    const bool grown =
        !entry.rows.m_rows.empty() && entry.from == from && entry.breaking.sameAs(params) &&
        text.size() >= entry.textSize &&
        text.substr(entry.textSize - entry.tail.size(), entry.tail.size()) == entry.tail;
    if (!grown) {
        entry.from = from;
        entry.breaking.surface = params.dc->identity();
        entry.breaking.params = params;
        entry.breaking.params.dc = nullptr;
        entry.breaking.kinsokuType = Kinsoku.Type;
        entry.breaking.kinsokuHead = Kinsoku.Head;
        entry.breaking.kinsokuTail = Kinsoku.Tail;
        breakFrom(entry, text, params, 0);
    } else if (text.size() > entry.textSize) {
        // The last row ended where the text did: what follows may join it or move part of it
        // on. A row before it is final once the characters after it that its cut looked at
        // have arrived: at most the next row's first two (kinsoku), four bytes, which must lie
        // before the old text's last byte, as that may have been a lead byte still waiting
        // for its second.
        const std::vector<Row>& kept = entry.rows.m_rows;
        std::size_t first = kept.size() - 1;
        while (first > 0 && kept[first].start + kDependsOnBytes >= entry.textSize)
            --first;
        breakFrom(entry, text, params, first);
    }
    return entry.rows;
}

void RowLayoutCache::breakFrom(Entry& entry, std::string_view text, const LayoutParams& params,
                               std::size_t firstRow) {
    Rows& rows = entry.rows;
    const std::size_t start = firstRow < rows.m_rows.size() ? rows.m_rows[firstRow].start : 0;
    rows.m_rows.resize(firstRow);
    rows.m_before.resize(firstRow + 1);

    m_breaker.breaking = text;
    m_breaker.cursor = start;
    bool last = false;
    while (!last) {
        const std::size_t rowStart = m_breaker.cursor;
        int thickness = 0;
        last = m_breaker.nextRow(nullptr, params, nullptr, thickness);
        rows.m_rows.push_back({rowStart, m_breaker.cursor - rowStart, thickness});
        rows.m_before.push_back(rows.m_before.back() + thickness);
    }
    m_breaker.breaking = {};
    entry.textSize = text.size();
    const std::size_t kept = std::min(kTailBytes, text.size());
    entry.tail.assign(text.substr(text.size() - kept));
}

void RowLayoutCache::forgetBefore(std::uint64_t oldest) {
    std::erase_if(m_lines, [oldest](const auto& line) { return line.first < oldest; });
}

} // namespace skiro
