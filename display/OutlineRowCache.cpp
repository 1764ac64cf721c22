#include "display/OutlineRowCache.h"

#include <QPainter>

#include <algorithm>
#include <cstdint>
#include <vector>

#include "display/QtTextSurface.h"

namespace skiro {

namespace {

QRgb opaque(Colour c) {
    return qRgb(redOf(c), greenOf(c), blueOf(c));
}

// out[y][x] |= in[y][x - shift] for every row, within the width.
void orShifted(const std::uint8_t* in, std::uint8_t* out, int width, int height, int shift) {
    const int from = std::max(0, shift);
    const int to = std::min(width, width + shift);
    for (int y = 0; y < height; ++y) {
        const std::uint8_t* src = in + static_cast<std::ptrdiff_t>(y) * width;
        std::uint8_t* dst = out + static_cast<std::ptrdiff_t>(y) * width;
        for (int x = from; x < to; ++x)
            dst[x] |= src[x - shift];
    }
}

// out[y] |= in[y - shift] for whole rows.
void orShiftedRows(const std::uint8_t* in, std::uint8_t* out, int width, int height, int shift) {
    const int from = std::max(0, shift);
    const int to = std::min(height, height + shift);
    for (int y = from; y < to; ++y) {
        const std::uint8_t* src = in + static_cast<std::ptrdiff_t>(y - shift) * width;
        std::uint8_t* dst = out + static_cast<std::ptrdiff_t>(y) * width;
        for (int x = 0; x < width; ++x)
            dst[x] |= src[x];
    }
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
}

void OutlineRowCache::drawRow(TextSurface& surface, int x, int y, std::string_view row,
                              int outlineWidth, Colour textColour, Colour outlineColour,
                              bool vertical) {
    if (outlineWidth <= 0 || !m_surface || !m_painter || &surface != m_surface) {
        drawRowImpressions(surface, x, y, row, outlineWidth, textColour, outlineColour, vertical);
        return;
    }
    if (row.empty())
        return;
    const RowImage& image =
        rowImage(*m_surface, row, outlineWidth, textColour, outlineColour, vertical);
    // Opaque and fully transparent pixels only: source-over puts down exactly the image.
    m_painter->drawImage(QPoint(x, y) + image.offset, image.image);
}

const OutlineRowCache::RowImage& OutlineRowCache::rowImage(QtTextSurface& surface,
                                                           std::string_view row, int outlineWidth,
                                                           Colour textColour, Colour outlineColour,
                                                           bool vertical) {
    Key key{std::string(row), textColour, outlineColour, outlineWidth, vertical};
    const auto found = m_index.find(key);
    if (found != m_index.end()) {
        m_entries.splice(m_entries.begin(), m_entries, found->second);
        return found->second->image;
    }
    RowImage image = render(surface, key);
    ++m_rendered;
    if (m_entries.size() >= m_capacity) {
        m_index.erase(m_entries.back().key);
        m_entries.pop_back();
    }
    m_entries.push_front(Entry{key, std::move(image)});
    m_index.emplace(std::move(key), m_entries.begin());
    return m_entries.front().image;
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

    QImage glyphs(width, height, QImage::Format_MonoLSB);
    glyphs.setColorTable({qRgb(0, 0, 0), qRgb(255, 255, 255)});
    glyphs.fill(0);
    {
        QPainter p(&glyphs);
        surface.setPainter(&p);
        surface.drawText(c.x(), c.y(), key.row, rgb(255, 255, 255));
        surface.setPainter(m_painter);
    }
    const QImage grey = glyphs.convertToFormat(QImage::Format_Grayscale8);
    const std::size_t pixels = static_cast<std::size_t>(width) * height;
    std::vector<std::uint8_t> mask(pixels);
    for (int y = 0; y < height; ++y)
        std::copy_n(grey.constScanLine(y), width,
                    mask.data() + static_cast<std::size_t>(y) * width);

    // The impressions lie on the three horizontal lines (dy = -w, 0, w; dx = -w..w) and the
    // three vertical lines (dx = -w, 0, w; dy = -w..w) of the square of side 2w. The centre
    // impression that the wider patterns include lies under the text and changes nothing.
    std::vector<std::uint8_t> runs(pixels, 0);
    std::vector<std::uint8_t> outline(pixels, 0);
    for (int i = -w; i <= w; ++i)
        orShifted(mask.data(), runs.data(), width, height, i);
    for (const int k : {-w, 0, w})
        orShiftedRows(runs.data(), outline.data(), width, height, k);
    std::fill(runs.begin(), runs.end(), 0);
    for (int j = -w; j <= w; ++j)
        orShiftedRows(mask.data(), runs.data(), width, height, j);
    for (const int k : {-w, 0, w})
        orShifted(runs.data(), outline.data(), width, height, k);

    RowImage result;
    result.image = QImage(width, height, QImage::Format_ARGB32_Premultiplied);
    const QRgb textPixel = opaque(key.text);
    const QRgb outlinePixel = opaque(key.outline);
    for (int y = 0; y < height; ++y) {
        auto* line = reinterpret_cast<QRgb*>(result.image.scanLine(y));
        const std::uint8_t* m = mask.data() + static_cast<std::size_t>(y) * width;
        const std::uint8_t* o = outline.data() + static_cast<std::size_t>(y) * width;
        for (int x = 0; x < width; ++x)
            line[x] = m[x] ? textPixel : (o[x] ? outlinePixel : 0u);
    }
    const QPoint corner = key.vertical ? QPoint(-w, w) : QPoint(w, w);
    result.offset = corner - c;
    return result;
}

} // namespace skiro
