#pragma once
#include <atomic>
#include <optional>
#include <string>
#include <termios.h>

#include "core/SerialPort.h"
#include "core/Settings.h"
#include "serial/PortLock.h"
#include "serial/PortMessages.h"

// The serial port on termios: opened exclusively, configured from the settings' Dcb, read by
// the view when the watch thread says data has arrived, written for echoes and typed characters.
namespace skiro {

class StringTable;

// What each step of opening (OpenStep) does here:
//   Open     the UUCP lock file and the processes that hold the device (both before the
//            device is touched, since opening a real port raises its modem lines), then
//            open(), the tty check, flock() and TIOCEXCL
//   Mask     putting the descriptor into non-blocking mode, so the watch thread can poll it
//   Queues   discarding what the driver holds from before Start (tcflush)
//   Timeouts reading the line settings and making reads return at once (VMIN = VTIME = 0)
//   State    the Dcb's speed, size, parity, stop bits and flow control (tcsetattr), the speed
//            checked by reading it back; a speed termios has no constant fails here (EINVAL)

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
    bool m_exclusive = false; // TIOCEXCL set by this port, to be cleared at close
    std::atomic<bool> m_gone{false};
    PortLock m_lock;
};

// errno values that mean the device itself has gone away.
bool isDeviceGoneError(int error);

} // namespace skiro
