#pragma once
#include "core/Clipboard.h"

namespace skiro {

// The clipboard relay on the desktop clipboard: each recorded line, with its CR LF, replaces
// the clipboard's text. Shift-JIS is turned into Unicode here, at the edge.
class QtClipboard final : public Clipboard {
  public:
    void setText(std::string_view sjisTextWithCrLf) override;
};

} // namespace skiro
