#include "core/LineCommands.h"

#include <algorithm>

namespace skiro {

namespace {

int hexDigit(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return 0;
}

char upper(char c) {
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

} // namespace

std::size_t skipLeadingBytes(std::string_view text, const Settings& settings) {
    if (!settings.DeleteHandle || settings.DeleteBytes <= 0)
        return 0;
    const auto count = static_cast<std::size_t>(settings.DeleteBytes);
    return count < text.size() ? count : text.size();
}

std::size_t parseExtendedCommand(std::string_view text, const Settings& settings, bool& show,
                                 Colour& textColor, Colour& outlineColor) {
    show = true;
    if (!settings.ExtCommands || text.empty() || text[0] != kCommandIntroducer)
        return 0;
    // Lines are NUL-terminated texts to painting: nothing after a NUL belongs to the line. Only
    // the command itself (to its colon, and its colour bytes) is looked through for one, so
    // that a long line costs painting nothing here.
    constexpr std::size_t kColourEnd = kColourCommandSize;
    std::size_t colon = text.find(':');
    const std::size_t command = colon == std::string_view::npos ? colon : colon + 1;
    if (const std::size_t nul = text.substr(0, std::max(command, kColourEnd)).find('\0');
        nul != std::string_view::npos) {
        text = text.substr(0, nul);
        if (colon > nul)
            colon = std::string_view::npos;
    }
    if (text.size() >= 3) {
        const char first = upper(text[1]);
        const bool isColour = (first == 'T' || first == 'O') && upper(text[2]) == 'C';
        if (isColour && text.size() >= kColourEnd) {
            int channel[3];
            for (int i = 0; i < 3; ++i)
                channel[i] = hexDigit(text[3 + 2 * i]) * 16 + hexDigit(text[4 + 2 * i]);
            const Colour colour = rgb(channel[0], channel[1], channel[2]);
            (first == 'T' ? textColor : outlineColor) = colour;
        }
    }
    if (colon == std::string_view::npos) {
        show = false;
        return text.size();
    }
    return colon + 1;
}

} // namespace skiro
