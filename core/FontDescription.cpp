#include "core/FontDescription.h"

#include "core/Settings.h"
#include "core/ShiftJis.h"

namespace skiro {
namespace {

// a * b / c, rounded half away from zero, in 64 bits so that no height overflows on the way.
std::int32_t scaleRounded(std::int64_t a, std::int64_t b, std::int64_t c) {
    if (c <= 0)
        return 0;
    const std::int64_t product = a * b;
    const std::int64_t magnitude = ((product < 0 ? -product : product) * 2 + c) / (2 * c);
    return static_cast<std::int32_t>(product < 0 ? -magnitude : magnitude);
}

} // namespace

std::int32_t twipsToPixels(std::int32_t twips, int dpi) {
    return scaleRounded(twips, dpi, 1440);
}

std::int32_t pixelsToTwips(std::int32_t pixels, int dpi) {
    return scaleRounded(pixels, 1440, dpi);
}

std::string fitFaceName(std::string_view sjis) {
    sjis = sjis.substr(0, sjis.find('\0'));
    std::size_t end = 0;
    while (end < sjis.size()) {
        const std::size_t next = end + sjis::charLength(sjis, end);
        if (next > Font::kFaceNameMax)
            break;
        end = next;
    }
    return std::string(sjis.substr(0, end));
}

} // namespace skiro
