#pragma once
#include <cstddef>
#include <cstdint>
#include <limits>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "core/DisplayLine.h"
#include "core/LayoutParams.h"

namespace skiro {

// The rows of the lines that painting shows, kept from paint to paint, so that a line is broken
// again only where it changed. The current line only grows at its end, and every row of it but
// the last is final once the characters after it have arrived: only its last rows are cut
// again. Rows are cut only as deep as painting asks, so a large piece of text costs what the
// window shows of it, and the rest is cut as it scrolls in. A line that joins the store keeps
// the rows it had as the current line. A line of a million characters thus costs, at each
// paint, time in proportion to what arrived or came into view, not to its length. Any change
// of font, room, outline, pitch, wrapping or kinsoku breaks a line afresh. Without wrapping, a
// line is one row however long; it is measured only as far as the window shows it.
class RowLayoutCache {
  public:
    struct Row {
        std::size_t start = 0;  // byte offset in the displayed text
        std::size_t length = 0; // bytes
        int thickness = 0;      // across the writing direction, line pitch included
        // The bytes from start worth drawing: all of them, but for a row without wrapping
        // that runs past the window, only as far as the window can show.
        std::size_t drawn = 0;
    };

    // The rows of one line, with where each begins across the writing direction.
    class Rows {
      public:
        std::size_t size() const { return m_rows.size(); }
        const Row& operator[](std::size_t i) const { return m_rows[i]; }
        const Row& back() const { return m_rows.back(); }
        // The thickness of the rows before row i; before(size()) is the whole line's.
        std::int64_t before(std::size_t i) const { return m_before[i]; }
        // The thickness of the rows cut so far: of the whole line once it is complete.
        std::int64_t thickness() const { return m_before.back(); }
        // Whether the rows reach the line's end; short of it when they were cut only as deep
        // as painting needed.
        bool complete() const { return m_complete; }
        // The rows [first, last) whose bands can meet the span [lo, hi) across the writing
        // direction, measured from the line's start.
        std::pair<std::size_t, std::size_t> meeting(std::int64_t lo, std::int64_t hi) const;

      private:
        friend class RowLayoutCache;
        std::vector<Row> m_rows;
        std::vector<std::int64_t> m_before{0};
        std::size_t m_next = 0; // where the first row not cut yet begins
        bool m_complete = false;
    };

    // The rows of `text`, the displayed part of the line numbered `line` (its serial), which
    // begins `from` bytes into the line, cut at least until one begins deeper than `depth`
    // pixels across the writing direction from the line's start (all of them by default). For
    // one line and one `from`, a later text must be the earlier one or the earlier one with
    // more bytes at its end, as the current line grows.
    const Rows& rowsOf(std::uint64_t line, std::size_t from, std::string_view text,
                       const LayoutParams& params,
                       std::int64_t depth = std::numeric_limits<std::int64_t>::max());

    // Forgets every line numbered below `oldest`: they have left the store for good.
    void forgetBefore(std::uint64_t oldest);
    void clear() { m_lines.clear(); }
    std::size_t lineCount() const { return m_lines.size(); }

  private:
    // What the rows depend on besides the text.
    struct Breaking {
        std::uint64_t surface = 0;
        LayoutParams params;
        int kinsokuType = 0;
        std::string kinsokuHead;
        std::string kinsokuTail;
        bool sameAs(const LayoutParams& p) const;
    };
    struct Entry {
        bool known = false;
        std::size_t from = 0;
        Breaking breaking;
        std::size_t textSize = 0; // bytes of the text the rows were cut from
        // The last bytes broken, to notice a text that is not the earlier one grown.
        std::string tail;
        Rows rows;
    };

    std::unordered_map<std::uint64_t, Entry> m_lines;
    CDisplayLine m_breaker;
    std::string m_rowScratch;
};

} // namespace skiro
