#pragma once
#include <windows.h>

#include <atomic>
#include <optional>
#include <string>

#include "core/ReadyEvent.h"
#include "core/SerialPort.h"
#include "core/Settings.h"
#include "serial/PortLock.h"
#include "serial/PortMessages.h"

// The serial port on Win32: CreateFile on \\.\COMn, the settings' Dcb with SetCommState, read
// time-outs that make a read return at once with what has arrived. The handle is opened for
// overlapped I/O, so that the watch thread's pending WaitCommEvent never holds up the view's
// reads and writes on the same handle (a synchronous handle would serialise them), and Stop
// can end that wait at once.
namespace skiro {

class StringTable;

// What each step of opening (OpenStep) calls here: Open CreateFileW, Mask SetCommMask, Queues
// SetupComm, Timeouts SetCommTimeouts, State SetCommState.

// The system's device-control block for the settings' Dcb, member for member.
DCB win32Dcb(const Dcb& dcb);

// Error codes that mean the device itself has gone (an adapter pulled out).
bool isDeviceGoneError(int error);

// The manual-reset ready event between the watch thread and the view, a Win32 event created
// set.
class WinReadyEvent final : public ReadyEvent {
  public:
    WinReadyEvent();
    ~WinReadyEvent() override;
    WinReadyEvent(const WinReadyEvent&) = delete;
    WinReadyEvent& operator=(const WinReadyEvent&) = delete;
    bool valid() const { return m_event != nullptr; }
    void set() override;
    void reset() override;
    bool wait(int timeoutMs) override;

  private:
    HANDLE m_event;
};

class WinSerialPort final : public SerialPort {
  public:
    // The guards of the POSIX port (lock files) have no use here: Windows itself keeps a port
    // to one opener.
    explicit WinSerialPort(const PortGuards& = {}) {}
    ~WinSerialPort() override;
    WinSerialPort(const WinSerialPort&) = delete;
    WinSerialPort& operator=(const WinSerialPort&) = delete;

    // Opens "COMn" (or any device path the system knows) and configures it; on failure the
    // port stays closed. What the driver holds is discarded, as it is from before Start,
    // unless `keepInput`: a device that has just come back holds only what was sent since.
    OpenResult open(const std::string& device, const Dcb& dcb, bool keepInput = false);
    void close();
    bool isOpen() const { return m_handle != INVALID_HANDLE_VALUE; }
    // The handle the watch thread waits on; INVALID_HANDLE_VALUE while closed.
    HANDLE handle() const { return m_handle; }

    // What has arrived, at once, with NUL bytes dropped.
    IoResult read(char* buffer, std::size_t capacity) override;
    // All bytes or an error; ERROR_TIMEOUT after 200 ms plus 100 ms per byte.
    IoResult write(std::string_view bytes) override;

    // True once a call found the device gone; it will not come back on this open.
    bool isGone() const { return m_gone.load(std::memory_order_relaxed); }

  private:
    IoResult failed(std::size_t count);

    HANDLE m_handle = INVALID_HANDLE_VALUE;
    HANDLE m_readDone = nullptr;  // the event of the view's overlapped reads
    HANDLE m_writeDone = nullptr; // and of its writes
    std::atomic<bool> m_gone{false};
};

// The number of bytes waiting in the driver's input queue, or -1 when the port cannot say
// (the device has gone).
long queuedInput(HANDLE port);

} // namespace skiro
