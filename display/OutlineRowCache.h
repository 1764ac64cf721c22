#pragma once
#include <QImage>
#include <QPoint>

#include <cstddef>
#include <deque>
#include <list>
#include <string>
#include <unordered_map>

#include "core/Painter.h"

class QPainter;

namespace skiro {

class QtTextSurface;

// Draws outlined rows from images rendered once per distinct row. A row's glyphs are rendered
// once as a two-level mask; the outline is that mask shifted by each impression offset of the
// outline pattern and OR-ed together, so the pixels are exactly those of the repeated text
// outputs, at the cost of one text output and a few passes over the mask. Glyphs of outlined
// rows are therefore drawn without anti-aliasing, as the pattern's pixels are all or nothing.
// Rows without an outline go straight to the surface.
class OutlineRowCache : public RowDrawer {
  public:
    explicit OutlineRowCache(std::size_t capacity = 48);

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
        QImage image; // premultiplied ARGB, every pixel opaque or fully transparent
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
    };
    RowImage render(QtTextSurface& surface, const Key& key) const;

    std::size_t m_capacity;
    std::deque<Key> m_queue;
    std::list<Entry> m_entries; // most recently used first
    std::unordered_map<Key, std::list<Entry>::iterator, KeyHash> m_index;
    std::size_t m_rendered = 0;
    QtTextSurface* m_surface = nullptr;
    QPainter* m_painter = nullptr;
};

} // namespace skiro
