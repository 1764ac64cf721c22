#include "core/Painter.h"

#include <algorithm>
#include <cstdint>
#include <string>

#include "core/DisplayLine.h"
#include "core/Intake.h"
#include "core/LayoutParams.h"
#include "core/LineCommands.h"
#include "core/SettingRanges.h"
#include "core/ShiftJis.h"

namespace skiro {
// The per-paint row breaker and its request; one of each per paint.
struct Painter::Layout {
    LayoutParams params;
    CDisplayLine breaker;
};

namespace {

// A position `offset` pixels on from `at`, held to what a pixel position can be.
int pixelsFrom(int at, std::int64_t offset) {
    return static_cast<int>(std::clamp<std::int64_t>(at + offset, INT32_MIN / 2, INT32_MAX / 2));
}

// Where the displayed part of `line` begins in it.
std::size_t offsetIn(std::string_view line, std::string_view shown) {
    return static_cast<std::size_t>(shown.data() - line.data());
}

} // namespace

void drawRowImpressions(TextSurface& surface, int x, int y, std::string_view row, int outlineWidth,
                        Colour textColour, Colour outlineColour, bool vertical) {
    const int w = outlineWidth;
    if (w <= 0) {
        surface.drawText(x, y, row, textColour);
        return;
    }
    const int cx = vertical ? x - w : x + w;
    const int cy = y + w;
    if (w == 1) {
        static constexpr int kNeighbours[8][2] = {{-1, -1}, {-1, 0}, {-1, 1}, {0, -1},
                                                  {0, 1},   {1, -1}, {1, 0},  {1, 1}};
        for (const auto& d : kNeighbours)
            surface.drawText(cx + d[0], cy + d[1], row, outlineColour);
    } else {
        for (int i = -w; i <= w; ++i) {
            surface.drawText(cx + i, cy - w, row, outlineColour);
            surface.drawText(cx + i, cy, row, outlineColour);
            surface.drawText(cx + i, cy + w, row, outlineColour);
        }
        for (int j = -w + 1; j <= w - 1; ++j) {
            surface.drawText(cx - w, cy + j, row, outlineColour);
            surface.drawText(cx, cy + j, row, outlineColour);
            surface.drawText(cx + w, cy + j, row, outlineColour);
        }
    }
    surface.drawText(cx, cy, row, textColour);
}

Painter::Painter(Settings& settings, Intake& intake, ViewState& state)
    : m_settings(settings), m_intake(intake), m_state(state) {}

void Painter::eraseArea(TextSurface& surface, const Rect& area) const {
    surface.fillRect(area, m_settings.Color.Back);
}

bool Painter::bandMeetsClip(int x, int y, int thickness) const {
    const Rect band = m_vertical ? Rect{x - thickness, m_client.top, x, m_client.bottom}
                                 : Rect{m_client.left, y, m_client.right, y + thickness};
    return band.intersects(m_clip);
}

Painter::RowRun Painter::drawLineRows(const RowLayoutCache::Rows& rows, TextSurface& surface,
                                      std::string_view text, int x, int y, Colour textColour,
                                      Colour outlineColour) {
    // Only the rows that can meet the clip are looked at, found by where they lie across the
    // writing direction: a long line costs nothing for its rows outside the clip.
    const auto [first, last] =
        m_vertical ? rows.meeting(std::int64_t{x} - m_clip.right, std::int64_t{x} - m_clip.left)
                   : rows.meeting(std::int64_t{m_clip.top} - y, std::int64_t{m_clip.bottom} - y);
    for (std::size_t i = first; i < last; ++i) {
        const RowLayoutCache::Row& row = rows[i];
        const int rx = m_vertical ? pixelsFrom(x, -rows.before(i)) : x;
        const int ry = m_vertical ? y : pixelsFrom(y, rows.before(i));
        if (!bandMeetsClip(rx, ry, row.thickness))
            continue;
        const std::string_view rowText = text.substr(row.start, row.drawn);
        if (m_rowDrawer)
            m_rowDrawer->drawRow(surface, rx, ry, rowText, m_outlineWidth, textColour,
                                 outlineColour, m_vertical);
        else
            drawRowImpressions(surface, rx, ry, rowText, m_outlineWidth, textColour, outlineColour,
                               m_vertical);
    }
    RowRun run{x, y, rows.back().thickness};
    if (m_vertical)
        run.x = pixelsFrom(x, -rows.thickness());
    else
        run.y = pixelsFrom(y, rows.thickness());
    return run;
}

void Painter::setUp(Layout& layout, TextSurface& surface, const Rect& client) {
    m_client = client;
    m_vertical = m_settings.Direction == 1;
    m_outlineWidth = outlineDots(m_settings);
    LayoutParams& params = layout.params;
    params.dc = &surface;
    params.extentLimit = m_vertical ? client.height() : client.width();
    params.outlineWidth = m_outlineWidth;
    params.advanceIsHeight = m_vertical && !(surface.pitchAndFamily() & kTrueTypePitchBit);
    params.pitchPercent = rowPitchPercent(m_settings);
    params.noWrap = m_settings.NoWrap;
    params.emptyThickness = surface.fontHeight();
}

void Painter::prepareUpcoming(TextSurface& surface, const Rect& client) {
    if (!m_rowDrawer || m_intake.hasNothingPending())
        return;
    Layout layout;
    setUp(layout, surface, client);
    // Colours as painting will find them: a command in the entering line changes them for the
    // line behind it too.
    Colour text = m_settings.Color.Text;
    Colour outline = m_settings.OutlineColor;
    // The rows that enter within the next window's depth; a long line has many more.
    std::int64_t room = m_vertical ? client.width() : client.height();
    const auto shown = [&](std::string_view& line) {
        line.remove_prefix(skipLeadingBytes(line, m_settings));
        bool show = true;
        line.remove_prefix(parseExtendedCommand(line, m_settings, show, text, outline));
        return show;
    };

    // The entering line's rows that are not wholly inside the window yet: the line's start
    // lies entryOffset in from the incoming edge.
    const std::string_view current = shownCurrentLine();
    std::string_view line = current;
    if (shown(line)) {
        const RowLayoutCache::Rows& rows =
            m_rows.rowsOf(m_intake.currentLineSerial(), offsetIn(current, line), line,
                          layout.params, std::int64_t{std::max(0, m_state.entryOffset)} + room);
        for (std::size_t i = rows.meeting(m_state.entryOffset, m_state.entryOffset + room).first;
             i < rows.size() && room > 0; ++i) {
            m_rowDrawer->prepareRow(surface, line.substr(rows[i].start, rows[i].drawn),
                                    m_outlineWidth, text, outline, m_vertical);
            room -= std::max(1, rows[i].thickness);
        }
    }
    if (!m_intake.lineComplete() || room <= 0)
        return;
    // The first rows of the line waiting behind it.
    const std::string_view waiting = m_intake.backlog();
    const std::size_t end = waiting.find('\r');
    if (end == std::string_view::npos)
        return;
    line = waiting.substr(0, end);
    if (!shown(line))
        return;
    CDisplayLine& breaker = layout.breaker;
    breaker.breaking = line;
    breaker.cursor = 0;
    for (bool last = false; !last && room > 0;) {
        const std::size_t start = breaker.cursor;
        int thickness = 0;
        last = breaker.nextRow(nullptr, layout.params, nullptr, thickness);
        const std::size_t length = breaker.cursor - start;
        m_rowDrawer->prepareRow(
            surface, line.substr(start, breaker.drawnLength(line, start, length, layout.params)),
            m_outlineWidth, text, outline, m_vertical);
        room -= std::max(1, thickness);
    }
}

std::string_view Painter::shownCurrentLine() {
    // While the line is still arriving, a character whose second byte has not come yet waits
    // for it rather than showing as a broken one. The line only grows while it keeps its
    // number, so its characters are told apart from where the last paint left off.
    const std::string_view line = m_intake.currentLine();
    if (m_intake.lineComplete())
        return line;
    if (m_scanSerial != m_intake.currentLineSerial()) {
        m_scanSerial = m_intake.currentLineSerial();
        m_scanned = 0;
    }
    return sjis::withoutPartialChar(line, m_scanned);
}

void Painter::forgetLinesGone() {
    // Lines are numbered as they become current; the oldest in the store holds the lowest
    // number still shown.
    std::uint64_t oldest = m_intake.currentLineSerial();
    if (m_intake.storedLineCount() > 0)
        oldest = std::min(oldest, m_intake.storedLine(0).serial);
    m_rows.forgetBefore(oldest);
}

std::int32_t Painter::outsideOf(const RowLayoutCache::Rows& cut, std::string_view text,
                                std::string_view line, const LayoutParams& params, int x0, int y0,
                                const Rect& client) {
    // Rows are cut only as deep as painting needs; keep-up wants the whole line. A line longer
    // than any caption is not cut through for it: it counts as more than a window can hold.
    const RowLayoutCache::Rows* rows = &cut;
    if (!cut.complete()) {
        if (text.size() > kMeasuredBytesMax)
            return kBeyondAnyWindow;
        rows = &m_rows.rowsOf(m_intake.currentLineSerial(), offsetIn(line, text), text, params);
    }
    const std::int64_t end = m_vertical ? std::int64_t{x0} - rows->thickness() - client.left
                                        : std::int64_t{y0} + rows->thickness() - client.bottom;
    const std::int64_t outside = m_vertical ? -end : end;
    return static_cast<std::int32_t>(std::clamp<std::int64_t>(outside, 0, kBeyondAnyWindow));
}

void Painter::measureWaitingLines(TextSurface& surface, const Rect& client, std::size_t limit,
                                  std::vector<int>& thicknesses) {
    thicknesses.clear();
    if (!m_intake.lineComplete())
        return;
    Layout layout;
    setUp(layout, surface, client);
    const LayoutParams& p = layout.params;
    const LayoutParams& k = m_measureKey;
    const bool sameLayout =
        p.dc == k.dc && p.extentLimit == k.extentLimit && p.outlineWidth == k.outlineWidth &&
        p.advanceIsHeight == k.advanceIsHeight && p.pitchPercent == k.pitchPercent &&
        p.noWrap == k.noWrap && p.emptyThickness == k.emptyThickness;
    if (!sameLayout || m_measureKinsoku.Type != Kinsoku.Type ||
        m_measureKinsoku.Head != Kinsoku.Head || m_measureKinsoku.Tail != Kinsoku.Tail ||
        m_measureDeleteBytes != m_settings.DeleteHandle * 1000 + m_settings.DeleteBytes ||
        m_measureExtCommands != m_settings.ExtCommands) {
        m_measured.clear();
        m_measureKey = layout.params;
        m_measureKinsoku = Kinsoku;
        m_measureDeleteBytes = m_settings.DeleteHandle * 1000 + m_settings.DeleteBytes;
        m_measureExtCommands = m_settings.ExtCommands;
    }
    // Each waiting line is measured once; the lines behind a burst are asked for every frame.
    constexpr std::size_t kMeasuredMax = 256;
    if (m_measured.size() > kMeasuredMax)
        m_measured.clear();
    std::string_view waiting = m_intake.backlog();
    // Beyond a few windows of waiting text the speed is at its ceiling whatever comes after.
    const std::int64_t enough = 4 * std::int64_t{m_vertical ? client.width() : client.height()};
    std::int64_t total = 0;
    while (thicknesses.size() < limit && total <= enough) {
        const std::size_t end = waiting.find('\r');
        if (end == std::string_view::npos)
            break;
        std::string_view line = waiting.substr(0, end);
        waiting.remove_prefix(end + 1);
        // A line longer than any caption is not kept by its text: its key alone would cost
        // its length at every frame.
        const bool kept = line.size() <= kMeasuredBytesMax;
        if (const auto known = kept ? m_measured.find(std::string(line)) : m_measured.end();
            known != m_measured.end()) {
            thicknesses.push_back(known->second);
            total += known->second;
            continue;
        }
        std::string_view text = line;
        text.remove_prefix(skipLeadingBytes(text, m_settings));
        bool show = true;
        Colour scratchText = 0;
        Colour scratchOutline = 0;
        text.remove_prefix(
            parseExtendedCommand(text, m_settings, show, scratchText, scratchOutline));
        // Without wrapping any line is one row, measured without looking along it.
        const int t = !show ? 0
                      : text.size() > kMeasuredBytesMax && !layout.params.noWrap
                          ? kBeyondAnyWindow
                          : layout.breaker.measureLine(text, layout.params);
        if (kept)
            m_measured.emplace(std::string(line), t);
        thicknesses.push_back(t);
        total += t;
    }
}

void Painter::paintLines(TextSurface& surface, const Rect& client, const Rect& clip) {
    Layout layout;
    setUp(layout, surface, client);
    m_clip = clip;
    const bool extCommands = m_settings.ExtCommands != 0;

    const int offset = m_state.entryOffset;
    const int x0 = m_vertical ? client.left + offset : client.left;
    const int y0 = m_vertical ? client.top : client.bottom - offset;
    const LayoutParams& params = layout.params;

    // Stored lines, newest first, from the start point toward the outgoing edge. With colour
    // commands on each keeps the colours it was stored with; otherwise all take the current ones.
    Colour storedText = m_settings.Color.Text;
    Colour storedOutline = m_settings.OutlineColor;
    const Rect oldLinesArea =
        m_vertical ? Rect{client.left + offset + 1, client.top, client.right, client.bottom}
                   : Rect{client.left, client.top, client.right, client.bottom - offset};
    if (oldLinesArea.intersects(clip)) {
        int cx = x0;
        int cy = y0;
        for (std::size_t n = m_intake.storedLineCount(); n > 0; --n) {
            const CDisplayLine& line = m_intake.storedLine(n - 1);
            std::string_view text = line.text;
            text.remove_prefix(skipLeadingBytes(text, m_settings));
            bool show = true;
            Colour scratchText = 0;
            Colour scratchOutline = 0;
            text.remove_prefix(
                parseExtendedCommand(text, m_settings, show, scratchText, scratchOutline));
            if (!show)
                continue; // a bare command takes no room
            const RowLayoutCache::Rows& rows =
                m_rows.rowsOf(line.serial, offsetIn(line.text, text), text, params);
            const int t = pixelsFrom(0, rows.thickness());
            const int x = m_vertical ? cx + t : cx;
            const int y = m_vertical ? cy : cy - t;
            if (bandMeetsClip(x, y, t)) {
                if (extCommands) {
                    storedText = line.textColor;
                    storedOutline = line.outlineColor;
                }
                drawLineRows(rows, surface, text, x, y, storedText, storedOutline);
            }
            if (m_vertical) {
                if (cx + t > client.right)
                    break;
                cx += t;
            } else {
                if (cy - t < client.top)
                    break;
                cy -= t;
            }
        }
    }

    // The current line from the start point toward the incoming edge, in the document's own
    // colours, which its colour command changes.
    RowRun run{x0, y0, -1};
    m_state.currentOutside = 0;
    {
        const std::string_view line = shownCurrentLine();
        std::string_view text = line;
        text.remove_prefix(skipLeadingBytes(text, m_settings));
        bool show = true;
        text.remove_prefix(parseExtendedCommand(text, m_settings, show, m_settings.Color.Text,
                                                m_settings.OutlineColor));
        if (show && !m_intake.hasNothingPending()) {
            // Rows past the incoming edge are cut only as they come into view.
            const RowLayoutCache::Rows& rows =
                m_rows.rowsOf(m_intake.currentLineSerial(), offsetIn(line, text), text, params,
                              std::max(0, offset));
            run = drawLineRows(rows, surface, text, x0, y0, m_settings.Color.Text,
                               m_settings.OutlineColor);
            m_state.currentOutside = outsideOf(rows, text, line, params, x0, y0, client);
        }
    }
    forgetLinesGone();

    // The row that is still growing and everything between it and the incoming edge: intake
    // has it redrawn when more text arrives.
    m_state.partialRowRect = Rect{};
    if (!m_intake.lineComplete()) {
        int d = run.lastThickness;
        if (d < 0) {
            int empty = 0;
            const std::string_view none;
            layout.breaker.nextRow(&none, params, nullptr, empty);
            d = empty;
        }
        if (m_vertical) {
            if (run.x + d >= client.left) {
                m_state.partialRowRect = client;
                m_state.partialRowRect.right = run.x + d;
            }
        } else if (run.y - d <= client.bottom) {
            m_state.partialRowRect = client;
            m_state.partialRowRect.top = run.y - d;
        }
    }

    // Fit test: a line that ends inside the window is in; the room left is where the next
    // one starts.
    if (m_vertical) {
        if (run.x >= client.left)
            m_intake.commitLine(run.x - client.left);
        else
            m_state.scrolling = true;
    } else {
        if (run.y <= client.bottom)
            m_intake.commitLine(client.bottom - run.y);
        else
            m_state.scrolling = true;
    }
}

} // namespace skiro
