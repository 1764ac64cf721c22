#pragma once
#include <string_view>

namespace skiro {

// Told by intake, on the user-interface thread, about the lines it takes in as they arrive, for
// a view of them outside the window (the audience's browsers), which does not wait for the
// display to scroll them in. Texts are as received: Shift-JIS, without terminator, with the
// sender's prefix and any colour command still in them. An observer must return at once:
// intake runs between two scroll ticks.
class LineObserver {
  public:
    virtual ~LineObserver() = default;
    // A line's terminator has arrived. Each line comes once, in arrival order.
    virtual void lineCompleted(std::string_view text) = 0;
    // The line still arriving grew: `text` is all of it so far, intake's own, handed over at no
    // cost however long the line. It grows only at its end until lineCompleted(): an observer
    // keeps its cost to the new text by remembering how far it has looked.
    virtual void lineGrowing(std::string_view text) = 0;
};

} // namespace skiro
