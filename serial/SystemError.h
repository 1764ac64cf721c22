#pragma once
#include <string>

// The system's own explanation of an error number, for the line that every port message
// ends with: what the C library says (strerror), in Japanese from the machine's Japanese
// locale where it has one, else in the user's own language, turned into Shift-JIS.
namespace skiro {

class StringTable;

// The C library's text for `error`, in Shift-JIS; empty only when the library has none.
std::string systemErrorText(int error);

// The line a port message ends with. ENOTTY comes from the check that the device is a
// terminal at all, which the C library explains only as an unsuitable control request, so
// it gets the program's own words; EACCES gets the C library's followed by how the user comes
// to be allowed; every other code gets the C library's.
std::string portErrorExplanation(int error, const StringTable& strings);

} // namespace skiro
