#pragma once
#include <QImage>
#include <QPoint>
#include <QRect>

#include <array>
#include <cstddef>
#include <deque>
#include <list>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "core/Painter.h"

class QPainter;

namespace skiro {

class QtTextSurface;

// Draws outlined rows from images rendered once per distinct row. A row's glyphs are rendered
// once as a two-level mask; the outline is that mask shifted by each impression offset of the
// outline pattern and OR-ed together, so the pixels are exactly those of the repeated text
// outputs, at the cost of one text output and a few passes over the mask. Glyphs of outlined
// rows are therefore drawn without anti-aliasing, as the pattern's pixels are all or nothing.
// Rows without an outline go straight to the surface, except while the picture glides: then
// every row comes from an image (anti-aliased when it has no outline), drawn at the fraction
// of a pixel that the picture has moved, from copies resampled at quarter-pixel phases.
class OutlineRowCache : public RowDrawer {
  public:
    // Fractions of a pixel at which a gliding row is drawn: a quarter of a pixel apart, so a
    // row's drawn place is never more than an eighth of a pixel from where the time puts it.
    static constexpr int kPhases = 4;

    explicit OutlineRowCache(std::size_t capacity = 48);

    // Gliding: every row from an image, at `phase` (0 to 1) of a pixel toward the outgoing
    // edge, and the place of each row drawn is kept (drawnRects).
    void setGlide(bool on);
    bool glide() const { return m_glide; }
    void setPhase(double phase) { m_phase = phase; }
    // At least this many rows are kept: the view asks for what a window full of rows needs.
    void setCapacity(std::size_t capacity);
    // Keep the resampled copies (the default), or resample each row anew at every draw: the
    // benchmark compares the two.
    void setKeepPhases(bool on) { m_keepPhases = on; }
    // Where the rows drawn since the last call lie on the view, ink only.
    std::vector<QRect> takeDrawnRects() { return std::exchange(m_drawn, {}); }

    // The surface and the painter of this paint; the surface draws onto the painter.
    void begin(QtTextSurface& surface, QPainter& painter);
    void end();

    // Forget every image: the font, the direction or the outline width changed.
    void clear();

    void drawRow(TextSurface& surface, int x, int y, std::string_view row, int outlineWidth,
                 Colour textColour, Colour outlineColour, bool vertical) override;

    // The image of one row as it is composed onto the view, and where its top-left lies
    // relative to the row's band corner (x, y). Rendered and cached on first use.
    struct RowImage {
        // Premultiplied ARGB, cut to the ink; outlined rows have every pixel opaque or fully
        // transparent. Null when the row has no ink.
        QImage image;
        QPoint offset;
    };
    const RowImage& rowImage(QtTextSurface& surface, std::string_view row, int outlineWidth,
                             Colour textColour, Colour outlineColour, bool vertical);

    // Queues a row that is about to enter, unless it is cached already.
    void prepareRow(TextSurface& surface, std::string_view row, int outlineWidth, Colour textColour,
                    Colour outlineColour, bool vertical) override;
    // Renders one queued row; true while more wait. Run while the display has time.
    bool renderQueued(QtTextSurface& surface);
    bool hasQueued() const { return !m_queue.empty(); }

    std::size_t renderedRows() const { return m_rendered; }

  private:
    struct Key {
        std::string row;
        Colour text;
        Colour outline;
        int width;
        bool vertical;
        bool operator==(const Key&) const = default;
    };
    struct KeyHash {
        std::size_t operator()(const Key& k) const;
    };
    struct Entry {
        Key key;
        RowImage image;
        // Copies moved by 1..kPhases-1 quarters of a pixel, made on first use.
        std::array<RowImage, kPhases> phases;
    };
    RowImage render(QtTextSurface& surface, const Key& key) const;
    Entry& entry(QtTextSurface& surface, std::string_view row, int outlineWidth, Colour textColour,
                 Colour outlineColour, bool vertical);
    static RowImage shifted(const RowImage& base, int quarter, bool vertical);

    std::size_t m_capacity;
    std::deque<Key> m_queue;
    std::list<Entry> m_entries; // most recently used first
    std::unordered_map<Key, std::list<Entry>::iterator, KeyHash> m_index;
    std::size_t m_rendered = 0;
    QtTextSurface* m_surface = nullptr;
    QPainter* m_painter = nullptr;
    bool m_glide = false;
    bool m_keepPhases = true;
    double m_phase = 0;
    std::vector<QRect> m_drawn;
};

} // namespace skiro
