#pragma once
#include <optional>
#include <string>

#include "serial/PortLock.h"

// What opening a port can fail at, and the messages the session shows for a port's failures,
// the same on every system; only how a system's error code reads (a missing device, a refusal)
// is the platform's.
namespace skiro {

class StringTable;

// The configuration steps of opening a port, in order, each with its own message: Open 34817
// (then 34818 for a missing device, 34819 for one refused or held by another program, else
// 34816 with the code), Mask 34820, Queues 34821, Timeouts 34822, State 34823, the last four
// followed by 34816 with the code. Each platform's port says what its steps do.
enum class OpenStep { None, Open, Mask, Queues, Timeouts, State };

struct OpenResult {
    OpenStep failedStep = OpenStep::None;
    int error = 0; // the system's error code of the failed step (errno, GetLastError())
    // The other program found using the device, when that is why it was refused and the
    // system can tell (Windows cannot).
    std::optional<PortHolder> holder = std::nullopt;
    bool ok() const { return failedStep == OpenStep::None; }
};

// How the system's error code of a failed open reads to the user: defined by each platform.
enum class OpenRefusal { MissingDevice, Refused, Other };
OpenRefusal openRefusal(int error);

// The message the session shows for a failed open, in the string table's Shift-JIS.
std::string openFailureText(const OpenResult& result, const StringTable& strings);
// The whole message of a port failure: `text` (the failure's own text), the device on a line
// of its own, the other program using it when one is known, and last the system's explanation
// of the error code.
std::string portFailureMessage(const std::string& text, const std::string& device, int error,
                               const std::optional<PortHolder>& holder, const StringTable& strings);

} // namespace skiro
