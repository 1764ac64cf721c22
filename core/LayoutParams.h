#pragma once
#include <cstdint>

namespace skiro {

class TextSurface;

// The request that painting builds once per paint and hands unchanged to the row breaker for
// every line.
struct LayoutParams {
    // Its font measures the rows.
    const TextSurface* dc = nullptr;
    // Room along the writing direction in pixels: client width (horizontal writing) or client
    // height (vertical writing).
    std::int32_t extentLimit = 0;
    // Outline width in dots, 0 when the outline is off; it takes that many dots on each side.
    std::int32_t outlineWidth = 0;
    // 1: the height component of an extent runs along the row (a font turned for vertical
    // writing that is not TrueType). 0: the width component does.
    std::int32_t advanceIsHeight = 0;
    // Line pitch in percent of a row's thickness: 100 plus the interline space.
    std::int32_t pitchPercent = 100;
    std::int32_t noWrap = 0;
    // Thickness of a row that holds no text: the font's text-metric height.
    std::int32_t emptyThickness = 0;
};

} // namespace skiro
