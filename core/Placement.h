#pragma once
#include <optional>
#include <string>
#include <string_view>

// The main window's placement as the profile keeps it between runs: ten numbers in the
// "Window" entry of [SKIRO], written at every close and read back at start-up.
namespace skiro {

enum class ShowCommand : unsigned { Normal = 1, Minimized = 2, Maximized = 3 };

struct WindowPlacement {
    static constexpr unsigned kRestoreToMaximized = 2;

    unsigned flags = 0; // 0, or kRestoreToMaximized when the window was maximized
    unsigned showCmd = 1;
    int minX = -1, minY = -1;                     // minimized position
    int maxX = -1, maxY = -1;                     // maximized position
    int left = 0, top = 0, right = 0, bottom = 0; // normal rectangle

    friend bool operator==(const WindowPlacement&, const WindowPlacement&) = default;
};

// "%u,%u,%d,%d,%d,%d,%d,%d,%d,%d"
std::string formatPlacement(const WindowPlacement& placement);

// The placement when the text holds ten numbers in that format; nothing for a shorter or
// malformed entry, which the caller then ignores.
std::optional<WindowPlacement> parsePlacement(std::string_view text);

// The constant written beside the placement at every close.
inline constexpr const char* kProfileVersion = "2.2(32)";

} // namespace skiro
