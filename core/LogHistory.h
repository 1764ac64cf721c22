#pragma once
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "core/StringTable.h"

// The day's log read back for the audience's web view: after a restart its pages start from
// the lines received earlier that day rather than from nothing.
namespace skiro {

// Whether `line` is one of the program's own stamps (start, stop, a lost and returned device,
// the clock's time stamp) rather than a received line.
bool isStampLine(std::string_view line, const StringTable& strings);

// The last received lines of the log at `path`, oldest first, as they were recorded (Shift-JIS,
// the sender's prefix deleted, colour commands kept): at most `maxLines` lines of at most
// `maxBytes` in all (counted as recorded, with their line ends), stamps left out. Only the end of
// the file is read. Empty when the file is missing or unreadable.
std::vector<std::string> readRecentLogLines(const std::string& path, std::size_t maxLines,
                                            std::size_t maxBytes, const StringTable& strings);

// Where `incoming` goes on from `known`, two runs of the same sequence of lines seen from
// different sides (the log and the display's own store, or a page and a restarted display):
// the index in `incoming` just after the latest stretch of lines that both hold and that can
// be trusted (three lines, all of the shorter one, or one that ends `known` and begins
// `incoming`), and after any lines that follow it at once in `incoming` and come later in
// `known`. 0 when they share no such stretch, so that everything in `incoming` is new.
std::size_t continuationIndex(const std::vector<std::string_view>& known,
                              const std::vector<std::string_view>& incoming);

} // namespace skiro
