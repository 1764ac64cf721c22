#pragma once
#include <string_view>

namespace skiro {

// Told by intake, on the user-interface thread, what happens to the lines it takes in, for a
// view of them outside the window (the audience's browsers). Texts are as received: Shift-JIS,
// without terminator, with the sender's prefix and any colour command still in them. An
// observer must return at once: intake runs between two scroll ticks.
class LineObserver {
  public:
    virtual ~LineObserver() = default;
    // A line is complete and has become the current line: the moment it is recorded. Each line
    // comes once, in arrival order.
    virtual void lineCompleted(std::string_view text) = 0;
    // The incomplete current line has changed (it grew, or a new one came out of the backlog).
    virtual void lineGrowing(std::string_view text) = 0;
};

} // namespace skiro
