#pragma once
#include <cstddef>
#include <string_view>

#include "core/Colour.h"
#include "core/Settings.h"

// What display and recording do with the start of a stored line: the sender's prefix that is
// hidden, and the colour commands introduced by FS (0x1C). Stored text itself is never changed.
namespace skiro {

constexpr char kCommandIntroducer = '\x1C'; // FS
// The bytes of a colour command: FS, "TC" or "OC", and RRGGBB.
constexpr std::size_t kColourCommandSize = 3 + 6;

// Where display and recording begin: DeleteBytes bytes in when DeleteHandle is on (the "#1:"
// that the input system puts before every line), or the end of a shorter line. Counted in
// bytes, so a count that ends inside a double-byte character shows its second byte.
std::size_t skipLeadingBytes(std::string_view text, const Settings& settings);

// Where the displayable part of `text` begins when ExtCommands is on and the text starts with
// FS: after the first colon, counting from the FS itself. "TC" or "OC" (either case) followed by
// six hexadecimal digits RRGGBB sets textColor or outlineColor; a byte that is no hex digit
// counts as 0, and fewer than six bytes leave the colour unchanged. Any other command name is
// stripped all the same. show becomes false when there is no colon: the line takes no room.
std::size_t parseExtendedCommand(std::string_view text, const Settings& settings, bool& show,
                                 Colour& textColor, Colour& outlineColor);

} // namespace skiro
