// The row breaker on any line with a font of fixed widths: the rows cover the line once, in
// order, never split a double-byte character, each but an empty line's only row holds text,
// and the breaking ends. The rows kept for a line that grew piece by piece, painted between
// the pieces as deep as a window, are the rows of the whole line broken afresh.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "core/DisplayLine.h"
#include "core/LayoutParams.h"
#include "core/RowLayoutCache.h"
#include "core/Settings.h"
#include "core/ShiftJis.h"
#include "core/TextSurface.h"

namespace {

using namespace skiro;

// Every double-byte character 16 pixels, every one-byte character 8, cells 20 high.
class FixedSurface final : public TextSurface {
  public:
    TextExtent textExtent(std::string_view text) const override {
        int along = 0;
        for (std::size_t i = 0; i < text.size(); i += sjis::charLength(text, i))
            along += sjis::charLength(text, i) == 2 ? 16 : 8;
        return {along, 20};
    }
    // One pass along the line, stopping past the limit as the display's surface does.
    void prefixExtents(std::string_view line, std::size_t start,
                       std::vector<PrefixExtent>& extents) const override {
        prefixExtentsUpTo(line, start, INT64_MAX, false, extents);
    }
    void prefixExtentsUpTo(std::string_view line, std::size_t start, std::int64_t limit,
                           bool alongIsHeight, std::vector<PrefixExtent>& extents) const override {
        const std::string_view rest = line.substr(std::min(start, line.size()));
        int along = 0;
        extents.clear();
        extents.push_back({{0, 20}, true});
        std::size_t characters = 0;
        for (std::size_t pos = 0; pos < rest.size();) {
            const std::size_t d = sjis::charLength(rest, pos);
            if (d == 2)
                extents.push_back({{along, 20}, true});
            along += d == 2 ? 16 : 8;
            extents.push_back({{along, 20}, true});
            pos += d;
            if (++characters >= 2 && (alongIsHeight ? 20 : along) >= limit)
                break;
        }
    }
    int fontHeight() const override { return 20; }
    std::uint8_t pitchAndFamily() const override { return kTrueTypePitchBit; }
    void drawText(int, int, std::string_view, Colour) override {}
    void fillRect(const Rect&, Colour) override {}
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 3)
        return 0;
    const FixedSurface surface;
    LayoutParams params;
    params.dc = &surface;
    params.extentLimit = data[0]; // narrower than one character too
    params.outlineWidth = data[1] & 0x0F;
    params.noWrap = (data[1] >> 4) & 1;
    params.emptyThickness = surface.fontHeight();
    Kinsoku.Type = data[2] % 3;
    Kinsoku.Head = kDefaultKinsokuHead;
    Kinsoku.Tail = kDefaultKinsokuTail;
    const std::string line(reinterpret_cast<const char*>(data + 3), size - 3);

    // Where characters begin, as the whole line divides into them.
    std::string boundary(line.size() + 1, 0);
    for (std::size_t i = 0; i < line.size(); i += sjis::charLength(line, i))
        boundary[i] = 1;
    boundary[line.size()] = 1;

    CDisplayLine breaker;
    const std::string_view text = line;
    std::string covered;
    std::string row;
    int thickness = 0;
    bool last = breaker.nextRow(&text, params, &row, thickness);
    for (std::size_t rows = 1;; ++rows) {
        if (row.empty() && !(last && covered.empty()))
            std::abort(); // a row without text would never end the line
        covered += row;
        if (covered.size() > line.size() || line.compare(0, covered.size(), covered) != 0)
            std::abort();
        if (!boundary[covered.size()])
            std::abort();
        if (thickness < 0 || rows > line.size() + 1)
            std::abort();
        if (last)
            break;
        last = breaker.nextRow(nullptr, params, &row, thickness);
    }
    if (covered != line)
        std::abort();

    // The same line grown in pieces of a size the input chooses, cut anywhere.
    const std::size_t piece = (data[2] >> 2) + 1;
    RowLayoutCache kept;
    const RowLayoutCache::Rows* grown = nullptr;
    for (std::size_t end = std::min(piece, line.size());;
         end = std::min(end + piece, line.size())) {
        // Painted only as deep as the window, which grows with the text, until the last.
        const std::int64_t depth = end == line.size() ? INT64_MAX : std::int64_t(end) * data[1];
        grown = &kept.rowsOf(1, 0, text.substr(0, end), params, depth);
        if (end == line.size())
            break;
    }
    RowLayoutCache fresh;
    const RowLayoutCache::Rows& whole = fresh.rowsOf(1, 0, text, params);
    if (grown->size() != whole.size())
        std::abort();
    for (std::size_t i = 0; i < whole.size(); ++i)
        if ((*grown)[i].start != whole[i].start || (*grown)[i].length != whole[i].length ||
            (*grown)[i].thickness != whole[i].thickness || (*grown)[i].drawn != whole[i].drawn)
            std::abort();
    // What is drawn of a row is the row's start, past the room's far edge or the whole row.
    for (std::size_t i = 0; i < whole.size(); ++i)
        if (whole[i].drawn > whole[i].length || (whole[i].drawn == 0) != (whole[i].length == 0) ||
            !boundary[whole[i].start + whole[i].drawn])
            std::abort();
    return 0;
}
