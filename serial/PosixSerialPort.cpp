#include "serial/PosixSerialPort.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include "core/StringTable.h"
#include "serial/SystemError.h"

namespace skiro {

namespace {

std::optional<speed_t> speedConstant(std::uint32_t baud) {
    switch (baud) {
    case 50:
        return B50;
    case 75:
        return B75;
    case 110:
        return B110;
    case 134:
        return B134;
    case 150:
        return B150;
    case 200:
        return B200;
    case 300:
        return B300;
    case 600:
        return B600;
    case 1200:
        return B1200;
    case 1800:
        return B1800;
    case 2400:
        return B2400;
    case 4800:
        return B4800;
    case 9600:
        return B9600;
    case 19200:
        return B19200;
    case 38400:
        return B38400;
    case 57600:
        return B57600;
    case 115200:
        return B115200;
    case 230400:
        return B230400;
#ifdef B460800
    case 460800:
        return B460800;
    case 500000:
        return B500000;
    case 576000:
        return B576000;
    case 921600:
        return B921600;
    case 1000000:
        return B1000000;
    case 1152000:
        return B1152000;
    case 1500000:
        return B1500000;
    case 2000000:
        return B2000000;
    case 2500000:
        return B2500000;
    case 3000000:
        return B3000000;
    case 3500000:
        return B3500000;
    case 4000000:
        return B4000000;
#endif
    default:
        return std::nullopt;
    }
}

// Whether a character device may be a terminal, told without opening it (opening a real port
// raises its modem lines): sysfs names the class of every device the kernel registers, "tty"
// for serial ports, consoles and ptys' masters. The slaves of ptys have no entry there; a
// device that sysfs does not know is taken for a possible terminal, and the check after the
// open decides.
bool mayBeTerminal(dev_t device) {
    const std::string entry = "/sys/dev/char/" + std::to_string(major(device)) + ":" +
                              std::to_string(minor(device)) + "/subsystem";
    char target[PATH_MAX];
    const ssize_t length = ::readlink(entry.c_str(), target, sizeof target - 1);
    if (length <= 0)
        return true;
    const std::string_view link(target, static_cast<std::size_t>(length));
    const std::size_t slash = link.find_last_of('/');
    return link.substr(slash == std::string_view::npos ? 0 : slash + 1) == "tty";
}

} // namespace

OpenRefusal openRefusal(int error) {
    if (error == ENOENT || error == ENODEV || error == ENXIO)
        return OpenRefusal::MissingDevice;
    if (error == EBUSY || error == EACCES || error == EPERM || error == EWOULDBLOCK)
        return OpenRefusal::Refused;
    return OpenRefusal::Other;
}

bool isDeviceGoneError(int error) {
    return error == EIO || error == ENXIO || error == ENODEV;
}

std::optional<termios> termiosFor(const Dcb& dcb) {
    const std::optional<speed_t> speed = speedConstant(dcb.BaudRate);
    if (!speed)
        return std::nullopt;
    tcflag_t size = 0;
    switch (dcb.ByteSize) {
    case 5:
        size = CS5;
        break;
    case 6:
        size = CS6;
        break;
    case 7:
        size = CS7;
        break;
    case 8:
        size = CS8;
        break;
    default:
        return std::nullopt;
    }

    termios tio{};
    cfmakeraw(&tio);
    // Breaks and framing errors arrive as NUL bytes, which reading drops, as no error is
    // watched or reported on this line.
    tio.c_iflag = 0;
    tio.c_oflag = 0;
    tio.c_lflag = 0;
    // CLOCAL: the line is not a modem, a missing carrier must not hang it up. HUPCL drops DTR
    // when the port is closed, telling the sender the display has stopped listening.
    tio.c_cflag = CREAD | CLOCAL | HUPCL | size;
    if (dcb.parity != Parity::None)
        tio.c_cflag |= PARENB;
    if (dcb.parity == Parity::Odd)
        tio.c_cflag |= PARODD;
    if (dcb.stopBits == StopBits::Two)
        tio.c_cflag |= CSTOPB;
    if (dcb.fOutxCtsFlow || dcb.fRtsControl == RtsControl::Handshake)
        tio.c_cflag |= CRTSCTS;
    if (dcb.fOutX)
        tio.c_iflag |= IXON;
    if (dcb.fInX)
        tio.c_iflag |= IXOFF;
    tio.c_cc[VSTART] = static_cast<cc_t>(dcb.XonChar);
    tio.c_cc[VSTOP] = static_cast<cc_t>(dcb.XoffChar);
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 0;
    cfsetispeed(&tio, *speed);
    cfsetospeed(&tio, *speed);
    return tio;
}

PosixSerialPort::~PosixSerialPort() {
    close();
}

OpenResult PosixSerialPort::open(const std::string& path, const Dcb& dcb, bool keepInput) {
    close();
    m_gone = false;
    auto fail = [this](OpenStep step, int error) {
        close();
        return OpenResult{step, error, std::nullopt};
    };

    // Another program that uses the device is found before the device is touched. A link
    // (a by-id name) counts as the device it leads to.
    struct stat device {};
    if (::stat(path.c_str(), &device) != 0)
        return OpenResult{OpenStep::Open, errno, std::nullopt};
    if (S_ISCHR(device.st_mode)) {
        // Every process holds /dev/null and its kind: a device that is no terminal at all is
        // refused as such, before anyone is blamed for using it.
        if (!mayBeTerminal(device.st_rdev))
            return OpenResult{OpenStep::Open, ENOTTY, std::nullopt};
        char* real = ::realpath(path.c_str(), nullptr);
        const std::string realPath = real ? real : path;
        std::free(real);
        PortHolder holder;
        if (!m_lock.acquire(realPath, holder))
            return OpenResult{OpenStep::Open, EBUSY, holder};
        if (std::optional<PortHolder> other = findPortHolder(device.st_rdev, m_lock.procRoot())) {
            m_lock.release();
            return OpenResult{OpenStep::Open, EBUSY, other};
        }
    }

    m_fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (m_fd < 0) {
        const int error = errno;
        m_lock.release();
        return OpenResult{OpenStep::Open, error, std::nullopt};
    }
    if (!::isatty(m_fd))
        return fail(OpenStep::Open, ENOTTY);
    // TIOCEXCL keeps other programs out, but not root; the lock keeps out anyone who locks,
    // this program's second instance included.
    if (::flock(m_fd, LOCK_EX | LOCK_NB) != 0)
        return fail(OpenStep::Open, errno == EWOULDBLOCK ? EBUSY : errno);
    if (::ioctl(m_fd, TIOCEXCL) != 0)
        return fail(OpenStep::Open, errno);
    m_exclusive = true;

    const int flags = ::fcntl(m_fd, F_GETFL);
    if (flags < 0 || ::fcntl(m_fd, F_SETFL, flags | O_NONBLOCK) != 0)
        return fail(OpenStep::Mask, errno);

    if (::tcflush(m_fd, keepInput ? TCOFLUSH : TCIOFLUSH) != 0)
        return fail(OpenStep::Queues, errno);

    termios current{};
    if (::tcgetattr(m_fd, &current) != 0)
        return fail(OpenStep::Timeouts, errno);
    current.c_cc[VMIN] = 0;
    current.c_cc[VTIME] = 0;
    if (::tcsetattr(m_fd, TCSANOW, &current) != 0)
        return fail(OpenStep::Timeouts, errno);

    std::optional<termios> wanted = termiosFor(dcb);
    if (!wanted)
        return fail(OpenStep::State, EINVAL);
    wanted->c_line = current.c_line;
    // Linux answers EINVAL when the driver took none of the request: a pty asked for 7 bits
    // or parity again, after Stop and Start, already holds what it made of that request the
    // first time (CS8, no parity) and changes nothing. That is no refusal; the read-back below
    // decides, as it does when part of a request was taken.
    if (::tcsetattr(m_fd, TCSANOW, &*wanted) != 0 && errno != EINVAL)
        return fail(OpenStep::State, errno);
    // tcsetattr succeeds when any part of the request was taken; a driver that refused the
    // speed would garble every character, so that counts as a failure. The frame bits are not
    // checked: a pty has no wire and forces CS8 without parity whatever it is given.
    termios applied{};
    if (::tcgetattr(m_fd, &applied) != 0)
        return fail(OpenStep::State, errno);
    if (cfgetispeed(&applied) != cfgetispeed(&*wanted) ||
        cfgetospeed(&applied) != cfgetospeed(&*wanted))
        return fail(OpenStep::State, EINVAL);

    // DTR on always; RTS on unless the driver handles it for flow control. A pty has no modem
    // lines, so failures here are ignored.
    int lines = TIOCM_DTR;
    if (dcb.fRtsControl != RtsControl::Handshake)
        lines |= TIOCM_RTS;
    (void)::ioctl(m_fd, TIOCMBIS, &lines);

    // Whatever came in under the old line settings is garbage or from before Start.
    if (!keepInput)
        (void)::tcflush(m_fd, TCIFLUSH);
    return {};
}

void PosixSerialPort::close() {
    if (m_fd >= 0) {
        // Exclusive mode belongs to the device, not to this descriptor: left on, it refuses
        // every later open but root's (this program's next Start among them) for as long as
        // anyone else keeps the device open, as socat keeps a pty. Only what this port set is
        // cleared; a failed open of a device another port holds leaves that port's in force.
        if (m_exclusive)
            (void)::ioctl(m_fd, TIOCNXCL);
        ::close(m_fd); // also releases the flock()
        m_fd = -1;
    }
    m_exclusive = false;
    m_lock.release();
}

IoResult PosixSerialPort::read(char* buffer, std::size_t capacity) {
    if (m_fd < 0)
        return {0, EBADF};
    if (capacity == 0)
        return {};
    for (;;) {
        const ssize_t n = ::read(m_fd, buffer, capacity);
        if (n > 0) {
            char* end = std::remove(buffer, buffer + n, '\0');
            return {static_cast<std::size_t>(end - buffer), 0};
        }
        if (n < 0) {
            if (errno == EINTR)
                continue;
            if (errno == EAGAIN || errno == EWOULDBLOCK)
                return {};
            const int error = errno;
            if (isDeviceGoneError(error))
                m_gone = true;
            return {0, error};
        }
        // With VMIN = VTIME = 0 an empty line reads as 0 too; only a hang-up also reports
        // POLLHUP (a pulled adapter's descriptor reads 0 for ever).
        pollfd p{m_fd, POLLIN, 0};
        if (::poll(&p, 1, 0) > 0 && (p.revents & (POLLHUP | POLLERR | POLLNVAL))) {
            m_gone = true;
            return {0, ENODEV};
        }
        return {};
    }
}

IoResult PosixSerialPort::write(std::string_view bytes) {
    if (m_fd < 0)
        return {0, EBADF};
    using Clock = std::chrono::steady_clock;
    const auto deadline =
        Clock::now() + std::chrono::milliseconds(200 + 100 * static_cast<long long>(bytes.size()));
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(m_fd, bytes.data() + done, bytes.size() - done);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
            const int error = errno;
            if (isDeviceGoneError(error))
                m_gone = true;
            return {done, error};
        }
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0)
            return {done, ETIMEDOUT};
        pollfd p{m_fd, POLLOUT, 0};
        const int ready = ::poll(&p, 1, static_cast<int>(left.count()) + 1);
        if (ready < 0 && errno != EINTR)
            return {done, errno};
        if (ready > 0 && (p.revents & (POLLHUP | POLLERR | POLLNVAL)) && !(p.revents & POLLOUT)) {
            m_gone = true;
            return {done, ENODEV};
        }
    }
    return {done, 0};
}

} // namespace skiro
