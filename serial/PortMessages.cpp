#include "serial/PortMessages.h"

#include "core/StringTable.h"
#include "serial/SystemError.h"

namespace skiro {

namespace {

// The code replaces the first "%u" of the text; the text is not a printf format, so a table
// from a resource bundle cannot make it read arguments that are not there.
std::string withCode(std::string text, int code) {
    const std::string number = std::to_string(static_cast<unsigned>(code));
    if (auto at = text.find("%u"); at != std::string::npos)
        text.replace(at, 2, number);
    return text;
}

} // namespace

std::string openFailureText(const OpenResult& result, const StringTable& strings) {
    switch (result.failedStep) {
    case OpenStep::None:
        return {};
    case OpenStep::Open:
        switch (openRefusal(result.error)) {
        case OpenRefusal::MissingDevice:
            return strings.text(IDS_OPEN_FAILED) + strings.text(IDS_NO_DEVICE);
        case OpenRefusal::Refused:
            return strings.text(IDS_OPEN_FAILED) + strings.text(IDS_ACCESS_DENIED);
        case OpenRefusal::Other:
            break;
        }
        return withCode(strings.text(IDS_OPEN_FAILED) + strings.text(IDS_ERROR_CODE), result.error);
    case OpenStep::Mask:
        return withCode(strings.text(IDS_MASK_FAILED) + strings.text(IDS_ERROR_CODE), result.error);
    case OpenStep::Queues:
        return withCode(strings.text(IDS_QUEUE_FAILED) + strings.text(IDS_ERROR_CODE),
                        result.error);
    case OpenStep::Timeouts:
        return withCode(strings.text(IDS_TIMEOUT_FAILED) + strings.text(IDS_ERROR_CODE),
                        result.error);
    case OpenStep::State:
        return withCode(strings.text(IDS_STATE_FAILED) + strings.text(IDS_ERROR_CODE),
                        result.error);
    }
    return {};
}

std::string portFailureMessage(const std::string& text, const std::string& device, int error,
                               const std::optional<PortHolder>& holder,
                               const StringTable& strings) {
    std::string message = text + "\n" + device;
    if (holder && holder->pid > 0) {
        // A command name is the program's file name, ASCII in practice; anything else would
        // not be Shift-JIS.
        std::string program = holder->program.empty() ? "?" : holder->program;
        for (char& c : program) {
            if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) > 0x7E)
                c = '?';
        }
        std::string line = withCode(strings.text(IDS_PORT_HOLDER), static_cast<int>(holder->pid));
        if (const auto at = line.find("%s"); at != std::string::npos)
            line.replace(at, 2, program);
        message += "\n" + line;
    }
    if (const std::string explanation = portErrorExplanation(error, strings); !explanation.empty())
        message += "\n" + explanation;
    return message;
}

} // namespace skiro
