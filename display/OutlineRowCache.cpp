#include "display/OutlineRowCache.h"

#include <QPainter>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#include "display/QtTextSurface.h"

namespace skiro {

namespace {

QRgb opaque(Colour c) {
    return qRgb(redOf(c), greenOf(c), blueOf(c));
}

// A two-level image as rows of 64-bit words, pixel x of a row in bit x % 64 of word x / 64.
struct BitImage {
    int width = 0;
    int height = 0;
    int words = 0;
    std::vector<std::uint64_t> bits;

    BitImage(int w, int h)
        : width(w), height(h), words((w + 63) / 64), bits(std::size_t(words) * h) {}
    std::uint64_t* row(int y) { return bits.data() + std::size_t(words) * y; }
    const std::uint64_t* row(int y) const { return bits.data() + std::size_t(words) * y; }
};

// Word k of a row shifted by `shift` pixels toward higher x: pixel x takes pixel x - shift.
std::uint64_t shiftedWord(const std::uint64_t* row, int words, int k, int shift) {
    const int q = shift >= 0 ? shift / 64 : -((-shift + 63) / 64);
    const int r = shift - q * 64; // 0..63
    const auto at = [&](int i) { return i >= 0 && i < words ? row[i] : std::uint64_t{0}; };
    if (r == 0)
        return at(k - q);
    return (at(k - q) << r) | (at(k - q - 1) >> (64 - r));
}

// out |= in shifted by dx pixels along the rows and dy rows down.
void orShifted(const BitImage& in, BitImage& out, int dx, int dy) {
    for (int y = std::max(0, dy); y < std::min(in.height, in.height + dy); ++y) {
        const std::uint64_t* src = in.row(y - dy);
        std::uint64_t* dst = out.row(y);
        if (dx == 0)
            for (int k = 0; k < in.words; ++k)
                dst[k] |= src[k];
        else
            for (int k = 0; k < in.words; ++k)
                dst[k] |= shiftedWord(src, in.words, k, dx);
    }
}

// The image cut to the pixels that carry ink, its offset moved along; null when none does.
OutlineRowCache::RowImage cropped(OutlineRowCache::RowImage row) {
    const QImage& image = row.image;
    int top = image.height(), bottom = -1, left = image.width(), right = -1;
    for (int y = 0; y < image.height(); ++y) {
        const auto* line = reinterpret_cast<const QRgb*>(image.constScanLine(y));
        int first = -1, last = -1;
        for (int x = 0; x < image.width(); ++x)
            if (line[x] != 0) {
                if (first < 0)
                    first = x;
                last = x;
            }
        if (first < 0)
            continue;
        top = std::min(top, y);
        bottom = y;
        left = std::min(left, first);
        right = std::max(right, last);
    }
    if (bottom < 0)
        return {};
    const QRect ink(QPoint(left, top), QPoint(right, bottom));
    if (ink.size() != image.size())
        row.image = image.copy(ink);
    row.offset += ink.topLeft();
    return row;
}

} // namespace

std::size_t OutlineRowCache::KeyHash::operator()(const Key& k) const {
    std::size_t h = std::hash<std::string>()(k.row);
    const auto mix = [&h](std::size_t v) { h ^= v + 0x9e3779b97f4a7c15ULL + (h << 6) + (h >> 2); };
    mix(k.text);
    mix(k.outline);
    mix(static_cast<std::size_t>(k.width));
    mix(k.vertical ? 1u : 0u);
    return h;
}

OutlineRowCache::OutlineRowCache(std::size_t capacity)
    : m_capacity(std::max<std::size_t>(1, capacity)) {}

void OutlineRowCache::setGlide(bool on) {
    m_glide = on;
    m_phase = 0;
    m_drawn.clear();
}

void OutlineRowCache::setCapacity(std::size_t capacity) {
    m_capacity = std::max<std::size_t>(1, capacity);
    while (m_entries.size() > m_capacity) {
        m_index.erase(m_entries.back().key);
        m_entries.pop_back();
    }
}

void OutlineRowCache::begin(QtTextSurface& surface, QPainter& painter) {
    m_surface = &surface;
    m_painter = &painter;
}

void OutlineRowCache::end() {
    m_surface = nullptr;
    m_painter = nullptr;
}

void OutlineRowCache::clear() {
    m_entries.clear();
    m_index.clear();
    m_queue.clear();
}

void OutlineRowCache::prepareRow(TextSurface&, std::string_view row, int outlineWidth,
                                 Colour textColour, Colour outlineColour, bool vertical) {
    // A few rows ahead are enough: the lines behind them are announced again by later paints.
    constexpr std::size_t kQueueLimit = 16;
    if ((outlineWidth <= 0 && !m_glide) || row.empty() || m_queue.size() >= kQueueLimit)
        return;
    Key key{std::string(row), textColour, outlineColour, outlineWidth, vertical};
    if (m_index.count(key) || std::find(m_queue.begin(), m_queue.end(), key) != m_queue.end())
        return;
    m_queue.push_back(std::move(key));
}

bool OutlineRowCache::renderQueued(QtTextSurface& surface) {
    if (m_queue.empty())
        return false;
    const Key key = std::move(m_queue.front());
    m_queue.pop_front();
    Entry& e = entry(surface, key.row, key.width, key.text, key.outline, key.vertical);
    // A gliding row is drawn at every phase on its way in: make them now, not in a frame.
    if (m_glide && !e.image.image.isNull())
        for (int quarter = 1; quarter < kPhases; ++quarter)
            if (e.phases[quarter].image.isNull())
                e.phases[quarter] = shifted(e.image, quarter, key.vertical);
    return !m_queue.empty();
}

void OutlineRowCache::drawRow(TextSurface& surface, int x, int y, std::string_view row,
                              int outlineWidth, Colour textColour, Colour outlineColour,
                              bool vertical) {
    if ((outlineWidth <= 0 && !m_glide) || !m_surface || !m_painter || &surface != m_surface) {
        drawRowImpressions(surface, x, y, row, outlineWidth, textColour, outlineColour, vertical);
        return;
    }
    if (row.empty())
        return;
    if (!m_glide) {
        const RowImage& image =
            rowImage(*m_surface, row, outlineWidth, textColour, outlineColour, vertical);
        // Opaque and fully transparent pixels only: source-over puts down exactly the image.
        if (!image.image.isNull())
            m_painter->drawImage(QPoint(x, y) + image.offset, image.image);
        return;
    }
    // The nearest quarter pixel; four quarters are a whole pixel further on.
    int quarter = static_cast<int>(std::lround(m_phase * kPhases));
    QPoint at(x, y);
    if (quarter >= kPhases) {
        quarter -= kPhases;
        at += vertical ? QPoint(1, 0) : QPoint(0, -1);
    }
    Entry& e = entry(*m_surface, row, outlineWidth, textColour, outlineColour, vertical);
    if (e.image.image.isNull())
        return;
    RowImage fresh;
    if (quarter > 0 && !m_keepPhases)
        fresh = shifted(e.image, quarter, vertical);
    else if (quarter > 0 && e.phases[quarter].image.isNull())
        e.phases[quarter] = shifted(e.image, quarter, vertical);
    const RowImage& image = quarter == 0 ? e.image : m_keepPhases ? e.phases[quarter] : fresh;
    const QPoint corner = at + image.offset;
    m_painter->drawImage(corner, image.image);
    m_drawn.emplace_back(corner, image.image.size());
}

OutlineRowCache::RowImage OutlineRowCache::shifted(const RowImage& base, int quarter,
                                                   bool vertical) {
    // Each pixel takes what the row, moved by the fraction f, covers of it: a share 1 - f of
    // its own pixel and f of its neighbour on the incoming side. The copy is one pixel longer
    // along the scroll axis, on the outgoing side.
    const auto f = static_cast<std::uint32_t>(256 * quarter / kPhases);
    const QImage& in = base.image;
    const int w = in.width();
    const int h = in.height();
    RowImage out;
    const auto mix = [f](QRgb own, QRgb next) -> QRgb {
        const std::uint32_t keep = 256 - f;
        const std::uint32_t rb =
            (((own & 0xff00ffu) * keep + (next & 0xff00ffu) * f) >> 8) & 0xff00ffu;
        const std::uint32_t ag =
            (((own >> 8) & 0xff00ffu) * keep + ((next >> 8) & 0xff00ffu) * f) & 0xff00ff00u;
        return rb | ag;
    };
    if (vertical) {
        // Moving right: pixel j takes 1 - f of column j and f of column j - 1.
        out.image = QImage(w + 1, h, QImage::Format_ARGB32_Premultiplied);
        for (int y = 0; y < h; ++y) {
            const auto* src = reinterpret_cast<const QRgb*>(in.constScanLine(y));
            auto* dst = reinterpret_cast<QRgb*>(out.image.scanLine(y));
            QRgb previous = 0;
            for (int x = 0; x < w; ++x) {
                dst[x] = mix(src[x], previous);
                previous = src[x];
            }
            dst[w] = mix(0, previous);
        }
        out.offset = base.offset;
    } else {
        // Moving up: pixel row j (from one above the row) takes 1 - f of row j - 1 and f of
        // row j.
        out.image = QImage(w, h + 1, QImage::Format_ARGB32_Premultiplied);
        std::vector<QRgb> blank(static_cast<std::size_t>(w), 0);
        for (int j = 0; j <= h; ++j) {
            const auto* above =
                j > 0 ? reinterpret_cast<const QRgb*>(in.constScanLine(j - 1)) : blank.data();
            const auto* below =
                j < h ? reinterpret_cast<const QRgb*>(in.constScanLine(j)) : blank.data();
            auto* dst = reinterpret_cast<QRgb*>(out.image.scanLine(j));
            for (int x = 0; x < w; ++x)
                dst[x] = mix(above[x], below[x]);
        }
        out.offset = base.offset - QPoint(0, 1);
    }
    return out;
}

const OutlineRowCache::RowImage& OutlineRowCache::rowImage(QtTextSurface& surface,
                                                           std::string_view row, int outlineWidth,
                                                           Colour textColour, Colour outlineColour,
                                                           bool vertical) {
    return entry(surface, row, outlineWidth, textColour, outlineColour, vertical).image;
}

OutlineRowCache::Entry& OutlineRowCache::entry(QtTextSurface& surface, std::string_view row,
                                               int outlineWidth, Colour textColour,
                                               Colour outlineColour, bool vertical) {
    Key key{std::string(row), textColour, outlineColour, std::max(outlineWidth, 0), vertical};
    const auto found = m_index.find(key);
    if (found != m_index.end()) {
        m_entries.splice(m_entries.begin(), m_entries, found->second);
        return *found->second;
    }
    RowImage image = render(surface, key);
    ++m_rendered;
    if (m_entries.size() >= m_capacity) {
        m_index.erase(m_entries.back().key);
        m_entries.pop_back();
    }
    m_entries.push_front(Entry{key, std::move(image), {}});
    m_index.emplace(std::move(key), m_entries.begin());
    return m_entries.front();
}

OutlineRowCache::RowImage OutlineRowCache::render(QtTextSurface& surface, const Key& key) const {
    const int w = key.width;
    const TextExtent extent = surface.textExtent(key.row);
    const int along = std::max(extent.cx, 1);
    const int across = std::max(surface.fontHeight(), 1);
    // Room for the outline and for ink that reaches beyond the text cell.
    const int margin = w + across / 4 + 2;
    const int width = (key.vertical ? across : along) + 2 * margin;
    const int height = (key.vertical ? along : across) + 2 * margin;
    // The text position c of the pattern inside the image; the row's band corner lies w dots
    // up and left (horizontal) or up and right (vertical) of it.
    const QPoint c(key.vertical ? width - margin : margin, margin);

    const QPoint corner = key.vertical ? QPoint(-w, w) : QPoint(w, w);
    if (w == 0) {
        // No outline: the glyphs as the surface draws them, anti-aliased.
        RowImage plain;
        plain.image = QImage(width, height, QImage::Format_ARGB32_Premultiplied);
        plain.image.fill(Qt::transparent);
        {
            QPainter p(&plain.image);
            surface.setPainter(&p);
            surface.drawText(c.x(), c.y(), key.row, key.text);
            surface.setPainter(m_painter);
        }
        plain.offset = corner - c;
        return cropped(std::move(plain));
    }

    QImage glyphs(width, height, QImage::Format_MonoLSB);
    glyphs.setColorTable({qRgb(0, 0, 0), qRgb(255, 255, 255)});
    glyphs.fill(0);
    {
        QPainter p(&glyphs);
        surface.setPainter(&p);
        surface.drawText(c.x(), c.y(), key.row, rgb(255, 255, 255));
        surface.setPainter(m_painter);
    }
    // The least significant bit of each byte is the leftmost pixel, so on a little-endian
    // machine the scan line's bytes are already the words' bits.
    BitImage mask(width, height);
    const std::size_t rowBytes =
        std::min<std::size_t>(std::size_t(glyphs.bytesPerLine()), std::size_t(mask.words) * 8);
    // Bits past the width in a scan line's padding are undefined; an outline shifted left
    // would bring them in.
    const int tailBits = width % 64;
    const std::uint64_t tailMask =
        tailBits ? (std::uint64_t{1} << tailBits) - 1 : ~std::uint64_t{0};
    for (int y = 0; y < height; ++y) {
        std::memcpy(mask.row(y), glyphs.constScanLine(y), rowBytes);
        mask.row(y)[mask.words - 1] &= tailMask;
    }

    // The impressions lie on the three horizontal lines (dy = -w, 0, w; dx = -w..w) and the
    // three vertical lines (dx = -w, 0, w; dy = -w..w) of the square of side 2w. The centre
    // impression that the wider patterns include lies under the text and changes nothing.
    BitImage runs(width, height);
    BitImage outline(width, height);
    for (int i = -w; i <= w; ++i)
        orShifted(mask, runs, i, 0);
    for (const int k : {-w, 0, w})
        orShifted(runs, outline, 0, k);
    std::fill(runs.bits.begin(), runs.bits.end(), 0);
    for (int j = -w; j <= w; ++j)
        orShifted(mask, runs, 0, j);
    for (const int k : {-w, 0, w})
        orShifted(runs, outline, k, 0);

    RowImage result;
    result.image = QImage(width, height, QImage::Format_ARGB32_Premultiplied);
    const QRgb textPixel = opaque(key.text);
    const QRgb outlinePixel = opaque(key.outline);
    for (int y = 0; y < height; ++y) {
        auto* line = reinterpret_cast<QRgb*>(result.image.scanLine(y));
        const std::uint64_t* m = mask.row(y);
        const std::uint64_t* o = outline.row(y);
        for (int k = 0; k < mask.words; ++k) {
            const int x0 = k * 64;
            const int n = std::min(64, width - x0);
            const std::uint64_t text = m[k];
            const std::uint64_t ring = o[k] & ~text;
            if ((text | ring) == 0) {
                std::fill_n(line + x0, n, QRgb{0});
                continue;
            }
            for (int b = 0; b < n; ++b)
                line[x0 + b] = (text >> b) & 1 ? textPixel : ((ring >> b) & 1 ? outlinePixel : 0u);
        }
    }
    result.offset = corner - c;
    return cropped(std::move(result));
}

} // namespace skiro
