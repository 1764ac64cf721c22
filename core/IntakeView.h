#pragma once

#include "core/Geometry.h"

namespace skiro {

// What intake asks of the view when new text needs room: the view implements it on its window.
class IntakeView {
  public:
    virtual ~IntakeView() = default;
    virtual Rect clientRect() const = 0;
    // Marks an area for repainting, with or without erasing it to the background first.
    virtual void invalidate(const Rect& area, bool erase) = 0;
    // Moves the picture once by `step` pixels toward the outgoing edge (doubled by speed-up).
    virtual void scrollStep(int step) = 0;
};

} // namespace skiro
