#pragma once
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "core/Colour.h"
#include "core/Geometry.h"
#include "core/LayoutParams.h"
#include "core/RowLayoutCache.h"
#include "core/Settings.h"
#include "core/TextSurface.h"
#include "core/ViewState.h"

namespace skiro {

class Intake;

// Draws one row of text over its outline of `outlineWidth` dots. The display draws from a cache
// of rendered rows; drawRowImpressions is the pattern that fixes which pixels a row covers.
class RowDrawer {
  public:
    virtual ~RowDrawer() = default;
    virtual void drawRow(TextSurface& surface, int x, int y, std::string_view row, int outlineWidth,
                         Colour textColour, Colour outlineColour, bool vertical) = 0;
    // A row that is about to enter the window; a drawer that keeps rendered rows may prepare
    // it while the display has time.
    virtual void prepareRow(TextSurface& /*surface*/, std::string_view /*row*/,
                            int /*outlineWidth*/, Colour /*textColour*/, Colour /*outlineColour*/,
                            bool /*vertical*/) {}
};

// The outline as repeated text outputs: with 1 dot the eight neighbours of the glyph position,
// with w dots the three horizontal and three vertical lines of the square of side 2w around it
// (12 × w impressions), each in the outline colour; then the text on top. (x, y) is the corner
// of the row's band: its top-left in horizontal writing, its top-right in vertical writing; the
// glyphs sit w dots inside it.
void drawRowImpressions(TextSurface& surface, int x, int y, std::string_view row, int outlineWidth,
                        Colour textColour, Colour outlineColour, bool vertical);

// Paints the view: the current line at the incoming edge and the stored lines stacked from it
// toward the outgoing edge, newest first, each broken into rows by the row breaker. Every paint
// places the lines afresh from the client rectangle, entryOffset and the lines' rows (kept
// while a line and the way it is broken stay the same), and ends by committing the current
// line when it lies entirely inside the window, or by asking for more scrolling.
class Painter {
  public:
    // Colour commands in the current line change the settings' text and outline colours.
    Painter(Settings& settings, Intake& intake, ViewState& state);

    // nullptr draws with drawRowImpressions.
    void setRowDrawer(RowDrawer* drawer) { m_rowDrawer = drawer; }

    // Draws what the clip rectangle needs; the caller has erased it.
    void paintLines(TextSurface& surface, const Rect& client, const Rect& clip);

    void eraseArea(TextSurface& surface, const Rect& area) const;

    // Hands the rows of the entering line and of the next line waiting behind it to the row
    // drawer's prepareRow, so that they can be rendered before they are needed. Changes nothing.
    void prepareUpcoming(TextSurface& surface, const Rect& client);

    // The thickness of each complete line waiting behind the current line, at most `limit` of
    // them in the order they will enter, as painting will lay them out. Measured once per line
    // and layout.
    void measureWaitingLines(TextSurface& surface, const Rect& client, std::size_t limit,
                             std::vector<int>& thicknesses);
    // Keep-up measures lines of at most this many bytes; a longer one counts as this many
    // pixels, more than a window holds, and is cut only as it comes into view.
    static constexpr std::size_t kMeasuredBytesMax = 16384;
    static constexpr std::int32_t kBeyondAnyWindow = 1 << 20;

    // The font changed in a way the layout request does not show.
    void forgetMeasures() { m_measured.clear(); }

  private:
    struct Layout;
    struct RowRun {
        int x = 0;
        int y = 0;
        int lastThickness = -1; // -1: no row laid out
    };
    // Draws the rows of `text` from (x, y) whose band meets the clip; returns the position
    // after the last row.
    RowRun drawLineRows(const RowLayoutCache::Rows& rows, TextSurface& surface,
                        std::string_view text, int x, int y, Colour textColour,
                        Colour outlineColour);
    bool bandMeetsClip(int x, int y, int thickness) const;
    // How far the current line, whose rows start at (x0, y0), still lies outside the
    // incoming edge.
    std::int32_t outsideOf(const RowLayoutCache::Rows& cut, std::string_view text,
                           std::string_view line, const LayoutParams& params, int x0, int y0,
                           const Rect& client);
    // The current line as far as it can be shown.
    std::string_view shownCurrentLine();
    // Drops the rows of lines that have left the store.
    void forgetLinesGone();
    void setUp(Layout& layout, TextSurface& surface, const Rect& client);

    Settings& m_settings;
    Intake& m_intake;
    ViewState& m_state;
    RowDrawer* m_rowDrawer = nullptr;
    RowLayoutCache m_rows;
    // Where shownCurrentLine stopped telling the characters of the current line apart.
    std::uint64_t m_scanSerial = 0;
    std::size_t m_scanned = 0;

    // Per paint.
    Rect m_client;
    Rect m_clip;
    bool m_vertical = false;
    int m_outlineWidth = 0;

    // Waiting lines measured with the layout, rule and deletion they were measured under.
    std::unordered_map<std::string, int> m_measured;
    LayoutParams m_measureKey;
    KinsokuValues m_measureKinsoku;
    int m_measureDeleteBytes = -1;
    int m_measureExtCommands = -1;
};

} // namespace skiro
