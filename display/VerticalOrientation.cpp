#include "display/VerticalOrientation.h"

#include <algorithm>
#include <iterator>

namespace skiro {
namespace {

struct UprightRange {
    char32_t first;
    char32_t last;
};

#include "VerticalOrientationTable.inc"

constexpr bool ascending() {
    for (std::size_t i = 1; i < std::size(kUprightRanges); ++i)
        if (kUprightRanges[i - 1].last >= kUprightRanges[i].first)
            return false;
    return true;
}
static_assert(ascending(), "the upright ranges must be in order and apart");

} // namespace

bool isSetSideways(char32_t c) {
    const auto after = std::upper_bound(
        std::begin(kUprightRanges), std::end(kUprightRanges), c,
        [](char32_t value, const UprightRange& range) { return value < range.first; });
    return after == std::begin(kUprightRanges) || c > std::prev(after)->last;
}

} // namespace skiro
