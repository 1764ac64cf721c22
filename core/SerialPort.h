#pragma once
#include <cstddef>
#include <string>
#include <string_view>

namespace skiro {

// Outcome of one read or write on the port: the byte count, or the system's error code
// (errno on POSIX) when the call failed.
struct IoResult {
    std::size_t count = 0;
    int error = 0; // 0 on success
    bool ok() const { return error == 0; }
};

// The open serial port as the view uses it. Intake reads what has arrived and writes echoes
// and typed characters; the serial layer implements it on termios, tests on pseudo-terminals.
class SerialPort {
public:
    virtual ~SerialPort() = default;
    // Returns at once with what has arrived, at most `capacity` bytes (0 when nothing waits).
    virtual IoResult read(char* buffer, std::size_t capacity) = 0;
    // Writes all bytes or fails; gives up after 200 ms plus 100 ms per byte.
    virtual IoResult write(std::string_view bytes) = 0;
    // The device this port is (for example "/dev/ttyUSB0"), shown under every message about
    // it so that the user can tell which device a COM number became; empty when unknown.
    virtual std::string devicePath() const { return {}; }
    // The system's own explanation of an error code this port reported, in Shift-JIS, for the
    // last line of a message about it; empty when there is none.
    virtual std::string explain(int /*error*/) const { return {}; }
};

} // namespace skiro
