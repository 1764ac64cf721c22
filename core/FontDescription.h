#pragma once
#include <cstdint>
#include <string>
#include <string_view>

// The font record's units as the font chooser meets them: the record keeps heights in twips
// (1/1440 inch), the chooser and the screen work in device pixels, and the face name has a
// fixed room of 31 Shift-JIS bytes.
namespace skiro {

// Twips to device pixels at `dpi` pixels per inch, rounded half away from zero; the sign (a
// character height or a cell height) is kept.
std::int32_t twipsToPixels(std::int32_t twips, int dpi);
// Device pixels back to twips, rounded the same way.
std::int32_t pixelsToTwips(std::int32_t pixels, int dpi);

// A Shift-JIS face name as the record can hold it: at most 31 bytes, ended at the first NUL,
// and shortened by whole characters, so a double-byte character is never cut in half.
std::string fitFaceName(std::string_view sjis);

} // namespace skiro
