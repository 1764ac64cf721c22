#include "core/ResourceVersion.h"

#include <charconv>

namespace skiro {

std::optional<ModuleVersion> parseModuleVersion(std::string_view text) {
    unsigned parts[4] = {0, 0, 0, 0};
    std::size_t count = 0;
    const char* p = text.data();
    const char* end = text.data() + text.size();
    while (count < 4) {
        const auto [next, error] = std::from_chars(p, end, parts[count]);
        if (error != std::errc() || parts[count] > 0xFFFF)
            return std::nullopt;
        ++count;
        p = next;
        if (p == end)
            break;
        if (*p != '.')
            return std::nullopt;
        ++p;
    }
    if (p != end || count == 0)
        return std::nullopt;
    return ModuleVersion{parts[0], parts[1], parts[2], parts[3]};
}

bool versionsMatch(const ModuleVersions& program, const ModuleVersions& bundle) {
    const auto high = [](const ModuleVersion& v) { return (v.major << 16) | v.minor; };
    return high(program.file) == high(bundle.file) && high(program.product) == high(bundle.product);
}

} // namespace skiro
