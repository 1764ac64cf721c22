#pragma once
#include <cstdint>

namespace skiro {

// A colour as the profile and the feeds carry it: red in the low byte, then green, then blue
// (0x00BBGGRR).
using Colour = std::uint32_t;

constexpr Colour rgb(int red, int green, int blue) {
    return static_cast<Colour>((red & 0xFF) | ((green & 0xFF) << 8) | ((blue & 0xFF) << 16));
}
constexpr int redOf(Colour c) { return static_cast<int>(c & 0xFF); }
constexpr int greenOf(Colour c) { return static_cast<int>((c >> 8) & 0xFF); }
constexpr int blueOf(Colour c) { return static_cast<int>((c >> 16) & 0xFF); }

} // namespace skiro
