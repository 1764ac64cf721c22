#pragma once
#include <string_view>

namespace skiro {

// Where the clipboard relay puts each recorded line. The Qt side converts the Shift-JIS bytes to
// Unicode for the system clipboard; each call replaces what was there before.
class Clipboard {
  public:
    virtual ~Clipboard() = default;
    virtual void setText(std::string_view sjisTextWithCrLf) = 0;
};

} // namespace skiro
