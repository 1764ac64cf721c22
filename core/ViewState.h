#pragma once
#include <cstdint>

#include "core/Geometry.h"

namespace skiro {

// What intake, the scroll engine and painting share about the picture: whether it moves, how
// far the current line has entered, and what must be repainted. All on the user-interface
// thread.
struct ViewState {
    bool scrolling = false;
    // Pixels between the incoming edge and the start of the current line.
    std::int32_t entryOffset = 0;
    // While gliding: the fraction of a pixel, 0 to 1, that the picture has moved beyond
    // entryOffset; painting shifts everything by it toward the outgoing edge. 0 in whole steps.
    double entryPhase = 0;
    // Pixels of the current line still outside the incoming edge at the last paint.
    std::int32_t currentOutside = 0;
    // From the last row of an incomplete current line to the incoming edge; empty when none.
    Rect partialRowRect;
    // After a line change the next step repaints the whole entry band.
    bool bandRepaintPending = false;
    // Millisecond tick of the end of the last paint (unsigned differences).
    std::uint32_t lastPaintTick = 0;
};

// The strip of the client area between the incoming edge and entryOffset from it: the bottom
// edge in horizontal writing (Direction 0), the left edge in vertical writing (Direction 1).
constexpr Rect entryBand(Rect client, int direction, std::int32_t entryOffset) {
    if (direction == 1)
        client.right = client.left + entryOffset;
    else
        client.top = client.bottom - entryOffset;
    return client;
}

} // namespace skiro
