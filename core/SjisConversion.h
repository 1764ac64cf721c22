#pragma once
#include <string>
#include <string_view>

// Between the program's Shift-JIS text and UTF-8, for a profile kept in UTF-8 or UTF-16 by an
// editor. The logic has no Unicode tables of its own: the application hands in the one
// conversion it uses everywhere else.
namespace skiro {

class SjisConversion {
  public:
    virtual ~SjisConversion() = default;
    virtual std::string toSjis(std::string_view utf8) const = 0;
    virtual std::string toUtf8(std::string_view sjis) const = 0;
};

} // namespace skiro
