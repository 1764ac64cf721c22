// The leading-byte deletion and the FS colour commands on any line: offsets stay inside the
// line, a shown line begins after the command's colon, and a colour stays a colour.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "core/LineCommands.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace skiro;
    if (size < 2)
        return 0;
    Settings settings;
    settings.ExtCommands = data[0] & 1;
    settings.DeleteHandle = (data[0] >> 1) & 1;
    settings.DeleteBytes = static_cast<std::int8_t>(data[1]); // negative counts too
    const std::string_view line(reinterpret_cast<const char*>(data + 2), size - 2);

    const std::size_t skip = skipLeadingBytes(line, settings);
    if (skip > line.size())
        std::abort();
    const std::string_view rest = line.substr(skip);

    bool show = false;
    Colour text = 0x00123456;
    Colour outline = 0x00654321;
    const std::size_t start = parseExtendedCommand(rest, settings, show, text, outline);
    const std::string_view shown = rest.substr(0, rest.find('\0'));
    if (start > shown.size())
        std::abort();
    if (show && start > 0 && shown[start - 1] != ':')
        std::abort();
    if (!show && start != shown.size())
        std::abort();
    if (start > 0 && shown[0] != kCommandIntroducer)
        std::abort();
    if ((text | outline) > 0x00FFFFFF)
        std::abort();
    return 0;
}
