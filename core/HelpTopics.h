#pragma once
#include <cstdint>

// Which help page a help request opens. Menu items and dialogs ask for help by a context number
// (0x10000 + command, 0x20000 + dialog); the help pages are numbered 5000 to 5052.
namespace skiro {

enum class HelpCommand : std::uint32_t { Context = 1, Quit = 2, Contents = 3 };

struct HelpRequest {
    std::uint32_t data = 0;
    HelpCommand command = HelpCommand::Contents;
    friend bool operator==(const HelpRequest&, const HelpRequest&) = default;
};

// Rewrites a context request into the topic it shows; every other request passes unchanged.
HelpRequest mapHelpRequest(HelpRequest request);

} // namespace skiro
