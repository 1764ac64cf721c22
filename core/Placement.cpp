#include "core/Placement.h"

#include <cstdio>

namespace skiro {

std::string formatPlacement(const WindowPlacement& p) {
    char text[160];
    std::snprintf(text, sizeof text, "%u,%u,%d,%d,%d,%d,%d,%d,%d,%d", p.flags, p.showCmd, p.minX,
                  p.minY, p.maxX, p.maxY, p.left, p.top, p.right, p.bottom);
    return text;
}

std::optional<WindowPlacement> parsePlacement(std::string_view text) {
    // sscanf needs a terminated string; the profile cuts values to 259 bytes anyway.
    const std::string terminated(text);
    WindowPlacement p;
    const int read =
        std::sscanf(terminated.c_str(), "%u,%u,%d,%d,%d,%d,%d,%d,%d,%d", &p.flags, &p.showCmd,
                    &p.minX, &p.minY, &p.maxX, &p.maxY, &p.left, &p.top, &p.right, &p.bottom);
    if (read != 10)
        return std::nullopt;
    return p;
}

} // namespace skiro
