#pragma once
#include <atomic>
#include <optional>
#include <string>
#include <termios.h>

#include "core/SerialPort.h"
#include "core/Settings.h"
#include "serial/PortLock.h"

// The serial port on termios: opened exclusively, configured from the settings' Dcb, read by
// the view when the watch thread says data has arrived, written for echoes and typed characters.
namespace skiro {

class StringTable;

// The configuration steps of opening a port, in order. Each failure has a text of its own:
// Open 34817 (then 34818 for a missing device, 34819 for one in use or not permitted, else
// 34816 with the code), Mask 34820, Queues 34821, Timeouts 34822, State 34823, each of the last
// four followed by 34816 with the code.
//   Open     the UUCP lock file and the processes that hold the device (both before the
//            device is touched, since opening a real port raises its modem lines), then
//            open(), the tty check, flock() and TIOCEXCL
//   Mask     putting the descriptor into non-blocking mode, so the watch thread can poll it
//   Queues   discarding what the driver holds from before Start (tcflush)
//   Timeouts reading the line settings and making reads return at once (VMIN = VTIME = 0)
//   State    the Dcb's speed, size, parity, stop bits and flow control (tcsetattr), the speed
//            checked by reading it back; a speed termios has no constant fails here (EINVAL)
enum class OpenStep { None, Open, Mask, Queues, Timeouts, State };

struct OpenResult {
    OpenStep failedStep = OpenStep::None;
    int error = 0; // errno of the failed step
    // The other program found using the device, when that is why it was refused (EBUSY).
    std::optional<PortHolder> holder = std::nullopt;
    bool ok() const { return failedStep == OpenStep::None; }
};

// The message the session shows for a failed open, in the string table's Shift-JIS.
std::string openFailureText(const OpenResult& result, const StringTable& strings);
// The whole message of a port failure: `text` (the failure's own text), the device on a line
// of its own, the other program using it when one is known, and last the system's explanation
// of the error number.
std::string portFailureMessage(const std::string& text, const std::string& device, int error,
                               const std::optional<PortHolder>& holder, const StringTable& strings);

// The line settings a Dcb asks for, in raw mode with reads that return at once; none when
// termios cannot express it (a speed without a B constant, a byte size outside 5..8).
std::optional<termios> termiosFor(const Dcb& dcb);

class PosixSerialPort final : public SerialPort {
  public:
    explicit PosixSerialPort(PortGuards guards = {}) : m_lock(std::move(guards)) {}
    ~PosixSerialPort() override;
    PosixSerialPort(const PosixSerialPort&) = delete;
    PosixSerialPort& operator=(const PosixSerialPort&) = delete;

    // Opens the device for this program alone and configures it; on failure the port stays
    // closed. What the driver holds is discarded, as it is from before Start, unless
    // `keepInput`: a device that has just come back holds only what its sender sent since.
    OpenResult open(const std::string& path, const Dcb& dcb, bool keepInput = false);
    // Closes the device and gives up the lock file, also after a hang-up.
    void close();
    bool isOpen() const { return m_fd >= 0; }
    // The descriptor the watch thread waits on; -1 while closed.
    int fd() const { return m_fd; }

    // What has arrived, at once, with NUL bytes dropped; the count is what was delivered.
    // A device that has gone (adapter pulled, far end of a pty closed) fails with EIO, ENXIO
    // or ENODEV and isGone() becomes true. Linux hangs the descriptor up then: what the driver
    // still held is gone with it, so the view reads promptly on every notification.
    IoResult read(char* buffer, std::size_t capacity) override;
    // All bytes or an error; ETIMEDOUT after 200 ms plus 100 ms per byte.
    IoResult write(std::string_view bytes) override;

    // True once a read or write found the device gone; it will not come back on this open.
    bool isGone() const { return m_gone.load(std::memory_order_relaxed); }

  private:
    int m_fd = -1;
    std::atomic<bool> m_gone{false};
    PortLock m_lock;
};

// errno values that mean the device itself has gone away.
bool isDeviceGoneError(int error);

} // namespace skiro
