#include "serial/WinSerialPort.h"

#include <algorithm>

#include "core/StringTable.h"
#include "serial/SystemError.h"

namespace skiro {

namespace {

std::wstring deviceName(const std::string& device) {
    // The \\.\ form names COM10 and above too; a name that has it already is kept.
    std::wstring name(device.begin(), device.end());
    return name.rfind(L"\\\\.\\", 0) == 0 ? name : L"\\\\.\\" + name;
}

} // namespace

OpenRefusal openRefusal(int error) {
    if (error == ERROR_FILE_NOT_FOUND)
        return OpenRefusal::MissingDevice;
    // Windows refuses a port that another program holds with ERROR_ACCESS_DENIED; Wine
    // reports its own sharing rule as a sharing violation.
    if (error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION)
        return OpenRefusal::Refused;
    return OpenRefusal::Other;
}

DCB win32Dcb(const Dcb& dcb) {
    DCB d{};
    d.DCBlength = sizeof(DCB);
    d.BaudRate = dcb.BaudRate;
    d.fBinary = dcb.fBinary;
    d.fParity = dcb.fParity;
    d.fOutxCtsFlow = dcb.fOutxCtsFlow;
    d.fOutxDsrFlow = dcb.fOutxDsrFlow;
    d.fDtrControl = static_cast<DWORD>(dcb.fDtrControl) & 3u;
    d.fDsrSensitivity = dcb.fDsrSensitivity;
    d.fTXContinueOnXoff = dcb.fTXContinueOnXoff;
    d.fOutX = dcb.fOutX;
    d.fInX = dcb.fInX;
    d.fErrorChar = dcb.fErrorChar;
    d.fNull = dcb.fNull;
    d.fRtsControl = static_cast<DWORD>(dcb.fRtsControl) & 3u;
    d.fAbortOnError = dcb.fAbortOnError;
    d.wReserved = dcb.wReserved;
    d.XonLim = dcb.XonLim;
    d.XoffLim = dcb.XoffLim;
    d.ByteSize = dcb.ByteSize;
    d.Parity = static_cast<BYTE>(dcb.parity);
    d.StopBits = static_cast<BYTE>(dcb.stopBits);
    d.XonChar = dcb.XonChar;
    d.XoffChar = dcb.XoffChar;
    d.ErrorChar = dcb.ErrorChar;
    d.EofChar = dcb.EofChar;
    d.EvtChar = dcb.EvtChar;
    return d;
}

bool isDeviceGoneError(int error) {
    switch (error) {
    case ERROR_ACCESS_DENIED:        // a USB adapter pulled out under an open handle
    case ERROR_BAD_COMMAND:          // the driver no longer knows the device
    case ERROR_GEN_FAILURE:          // the device does not answer
    case ERROR_DEVICE_NOT_CONNECTED: //
    case ERROR_DEVICE_REMOVED:       //
    case ERROR_FILE_NOT_FOUND:       //
        return true;
    default:
        return false;
    }
}

long queuedInput(HANDLE port) {
    DWORD errors = 0;
    COMSTAT status{};
    if (!::ClearCommError(port, &errors, &status))
        return -1;
    return static_cast<long>(status.cbInQue);
}

WinReadyEvent::WinReadyEvent() : m_event(::CreateEventW(nullptr, TRUE, TRUE, nullptr)) {}

WinReadyEvent::~WinReadyEvent() {
    if (m_event)
        ::CloseHandle(m_event);
}

void WinReadyEvent::set() {
    ::SetEvent(m_event);
}

void WinReadyEvent::reset() {
    ::ResetEvent(m_event);
}

bool WinReadyEvent::wait(int timeoutMs) {
    // A failed wait counts as ready, as a wait result other than the time-out does.
    return ::WaitForSingleObject(m_event, static_cast<DWORD>(timeoutMs)) != WAIT_TIMEOUT;
}

WinSerialPort::~WinSerialPort() {
    close();
}

OpenResult WinSerialPort::open(const std::string& device, const Dcb& dcb, bool keepInput) {
    close();
    m_gone = false;
    auto fail = [this](OpenStep step) {
        const int error = static_cast<int>(::GetLastError());
        close();
        return OpenResult{step, error};
    };

    m_handle = ::CreateFileW(deviceName(device).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                             OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
    if (m_handle == INVALID_HANDLE_VALUE)
        return fail(OpenStep::Open);
    m_readDone = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    m_writeDone = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (!m_readDone || !m_writeDone)
        return fail(OpenStep::Open);

    if (!::SetCommMask(m_handle, EV_RXCHAR))
        return fail(OpenStep::Mask);
    if (!::SetupComm(m_handle, 4096, 4096))
        return fail(OpenStep::Queues);
    // Reads return at once with what has arrived; a write gives up after 200 ms plus 100 ms
    // per byte.
    COMMTIMEOUTS timeouts{};
    timeouts.ReadIntervalTimeout = MAXDWORD;
    timeouts.ReadTotalTimeoutMultiplier = 0;
    timeouts.ReadTotalTimeoutConstant = 0;
    timeouts.WriteTotalTimeoutMultiplier = 100;
    timeouts.WriteTotalTimeoutConstant = 200;
    if (!::SetCommTimeouts(m_handle, &timeouts))
        return fail(OpenStep::Timeouts);
    DCB state = win32Dcb(dcb);
    if (!::SetCommState(m_handle, &state))
        return fail(OpenStep::State);
    // Whatever the driver holds from before Start is not shown.
    if (!keepInput)
        ::PurgeComm(m_handle, PURGE_RXCLEAR | PURGE_TXCLEAR);
    return {};
}

void WinSerialPort::close() {
    if (m_handle != INVALID_HANDLE_VALUE) {
        ::CloseHandle(m_handle);
        m_handle = INVALID_HANDLE_VALUE;
    }
    for (HANDLE* event : {&m_readDone, &m_writeDone}) {
        if (*event) {
            ::CloseHandle(*event);
            *event = nullptr;
        }
    }
}

IoResult WinSerialPort::failed(std::size_t count) {
    const int error = static_cast<int>(::GetLastError());
    if (isDeviceGoneError(error))
        m_gone = true;
    return {count, error != 0 ? error : static_cast<int>(ERROR_GEN_FAILURE)};
}

IoResult WinSerialPort::read(char* buffer, std::size_t capacity) {
    if (!isOpen())
        return {0, static_cast<int>(ERROR_INVALID_HANDLE)};
    if (capacity == 0)
        return {};
    // Only what the driver holds is asked for. The read time-outs make a read return at once
    // on Windows whatever is asked; Wine's overlapped reads wait for data all the same, and the
    // view's reads must never wait.
    const long queued = queuedInput(m_handle);
    if (queued < 0)
        return failed(0);
    if (queued == 0)
        return {};
    OVERLAPPED done{};
    done.hEvent = m_readDone;
    const DWORD wanted =
        static_cast<DWORD>(std::min<std::size_t>(capacity, static_cast<std::size_t>(queued)));
    if (!::ReadFile(m_handle, buffer, wanted, nullptr, &done) &&
        ::GetLastError() != ERROR_IO_PENDING)
        return failed(0);
    DWORD got = 0;
    if (!::GetOverlappedResult(m_handle, &done, &got, TRUE))
        return failed(0);
    char* end = std::remove(buffer, buffer + got, '\0');
    return {static_cast<std::size_t>(end - buffer), 0};
}

IoResult WinSerialPort::write(std::string_view bytes) {
    if (!isOpen())
        return {0, static_cast<int>(ERROR_INVALID_HANDLE)};
    if (bytes.empty())
        return {};
    OVERLAPPED done{};
    done.hEvent = m_writeDone;
    const DWORD wanted = static_cast<DWORD>(std::min<std::size_t>(bytes.size(), 1u << 30));
    if (!::WriteFile(m_handle, bytes.data(), wanted, nullptr, &done) &&
        ::GetLastError() != ERROR_IO_PENDING)
        return failed(0);
    // The write time-outs end a write that the line does not take in time with fewer bytes.
    DWORD written = 0;
    if (!::GetOverlappedResult(m_handle, &done, &written, TRUE))
        return failed(written);
    if (written < bytes.size())
        return {written, static_cast<int>(ERROR_TIMEOUT)};
    return {written, 0};
}

} // namespace skiro
