#pragma once
#include "core/SjisConversion.h"

namespace skiro {

// The program's one Unicode conversion (sjis/Sjis.h), for a profile kept in UTF-8 or UTF-16.
class QtSjisConversion final : public SjisConversion {
  public:
    std::string toSjis(std::string_view utf8) const override;
    std::string toUtf8(std::string_view sjis) const override;
};

} // namespace skiro
