#include <cerrno>
#include <fstream>
#include <gtest/gtest.h>
#include <locale.h>
#include <random>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "core/StringTable.h"
#include "serial/PortTable.h"
#include "serial/PosixSerialPort.h"
#include "serial/SystemError.h"
#include "tests/serial/PtyPair.h"

namespace skiro {
namespace {

using test::PtyPair;
using test::waitFor;

// The serial dialog's flow-control choices as the Dcb carries them.
Dcb dcbFor(std::uint32_t baud, std::uint8_t bits, Parity parity, StopBits stop, FlowControl flow) {
    Dcb dcb;
    dcb.BaudRate = baud;
    dcb.ByteSize = bits;
    dcb.parity = parity;
    dcb.stopBits = stop;
    dcb.fOutxCtsFlow = flow == FlowControl::CtsRts;
    dcb.fRtsControl = flow == FlowControl::CtsRts ? RtsControl::Handshake : RtsControl::Enable;
    dcb.fOutX = dcb.fInX = flow == FlowControl::XonXoff;
    return dcb;
}

Dcb plainDcb() {
    return dcbFor(9600, 8, Parity::None, StopBits::One, FlowControl::None);
}

// "本日は表示テスト" with the 0x5C trail bytes that a byte-wise filter would take for '\'.
const std::string kJapanese = "\x96\x7B\x93\xFA\x82\xCD\x95\x5C\x8E\xA6\x83\x65\x83\x58\x83\x67";

struct TermiosCase {
    const char* name;
    Dcb dcb;
    speed_t speed;
    tcflag_t cflag; // without the speed bits
    tcflag_t iflag;
};

const TermiosCase kTermiosCases[] = {
    {"default 1200 8N1 CTS/RTS", dcbFor(1200, 8, Parity::None, StopBits::One, FlowControl::CtsRts),
     B1200, CS8 | CREAD | CLOCAL | HUPCL | CRTSCTS, 0},
    {"2400 7E1 X-On/X-Off", dcbFor(2400, 7, Parity::Even, StopBits::One, FlowControl::XonXoff),
     B2400, CS7 | PARENB | CREAD | CLOCAL | HUPCL, IXON | IXOFF},
    {"4800 7O2 none", dcbFor(4800, 7, Parity::Odd, StopBits::Two, FlowControl::None), B4800,
     CS7 | PARENB | PARODD | CSTOPB | CREAD | CLOCAL | HUPCL, 0},
    {"9600 8E2 CTS/RTS", dcbFor(9600, 8, Parity::Even, StopBits::Two, FlowControl::CtsRts), B9600,
     CS8 | PARENB | CSTOPB | CREAD | CLOCAL | HUPCL | CRTSCTS, 0},
    {"19200 8O1 X-On/X-Off", dcbFor(19200, 8, Parity::Odd, StopBits::One, FlowControl::XonXoff),
     B19200, CS8 | PARENB | PARODD | CREAD | CLOCAL | HUPCL, IXON | IXOFF},
    {"38400 8N2 none", dcbFor(38400, 8, Parity::None, StopBits::Two, FlowControl::None), B38400,
     CS8 | CSTOPB | CREAD | CLOCAL | HUPCL, 0},
    {"115200 above the dialog's range",
     dcbFor(115200, 8, Parity::None, StopBits::One, FlowControl::None), B115200,
     CS8 | CREAD | CLOCAL | HUPCL, 0},
};

TEST(PosixSerialPortTermios, DcbTurnsIntoRawLineSettings) {
    for (const TermiosCase& c : kTermiosCases) {
        SCOPED_TRACE(c.name);
        const speed_t speed = c.speed;
        std::optional<termios> tio = termiosFor(c.dcb);
        ASSERT_TRUE(tio.has_value());
        EXPECT_EQ(tio->c_cflag & ~CBAUD & ~CBAUDEX, c.cflag);
        EXPECT_EQ(tio->c_iflag, c.iflag);
        EXPECT_EQ(tio->c_oflag, 0u);
        EXPECT_EQ(tio->c_lflag, 0u) << "no echo, no canonical lines, no signals";
        EXPECT_EQ(cfgetispeed(&*tio), speed);
        EXPECT_EQ(cfgetospeed(&*tio), speed);
        EXPECT_EQ(tio->c_cc[VMIN], 0);
        EXPECT_EQ(tio->c_cc[VTIME], 0);
        EXPECT_EQ(tio->c_cc[VSTART], 0x11);
        EXPECT_EQ(tio->c_cc[VSTOP], 0x13);
    }
}

TEST(PosixSerialPortTermios, InexpressibleDcbIsRefused) {
    struct Case {
        const char* name;
        std::uint32_t baud;
        std::uint8_t bits;
    } cases[] = {{"speed between the standard ones", 1000, 8},
                 {"speed 0", 0, 8},
                 {"byte size 4", 9600, 4},
                 {"byte size 9", 9600, 9}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Dcb dcb = plainDcb();
        dcb.BaudRate = c.baud;
        dcb.ByteSize = c.bits;
        EXPECT_FALSE(termiosFor(dcb).has_value());
    }
}

// A pty keeps the speed, the stop bits, CRTSCTS and the flow-control input flags it is given,
// so they can be read back from its other descriptor. Linux 6 ptys force CS8 and clear
// PARENB/PARODD (there is no wire frame), so size and parity are checked above only; on a pty
// the port still opens with any of them, also a second time (Stop, then Start again), when
// the pty already holds what it made of the same request the first time.
TEST(PosixSerialPortOpen, PtyKeepsTheLineSettingsOfEveryDcb) {
    PtyPair pty;
    ASSERT_TRUE(pty.ok());
    PortTable table({}, {{1, pty.slavePath}});
    for (const TermiosCase& c : kTermiosCases) {
        SCOPED_TRACE(c.name);
        PosixSerialPort port;
        ASSERT_TRUE(port.open(table.devicePath(0), c.dcb).ok());
        port.close();
        ASSERT_TRUE(port.open(table.devicePath(0), c.dcb).ok());
        termios seen{};
        ASSERT_EQ(::tcgetattr(pty.slave, &seen), 0);
        const tcflag_t kept = CSTOPB | CREAD | CLOCAL | HUPCL;
        EXPECT_EQ(seen.c_cflag & kept, c.cflag & kept);
        EXPECT_EQ(seen.c_iflag & (IXON | IXOFF), c.iflag);
        EXPECT_EQ(seen.c_lflag & (ICANON | ECHO | ISIG), 0u);
        EXPECT_EQ(cfgetispeed(&seen), c.speed);
        EXPECT_EQ(seen.c_cc[VMIN], 0);
        EXPECT_EQ(seen.c_cc[VTIME], 0);
    }
}

TEST(PosixSerialPortOpen, FailuresNameTheStepAndTheMessage) {
    const StringTable strings;
    PtyPair pty;
    ASSERT_TRUE(pty.ok());
    PosixSerialPort holder;
    ASSERT_TRUE(holder.open(pty.slavePath, plainDcb()).ok());
    PtyPair idle;
    ASSERT_TRUE(idle.ok());
    const std::string regularFile = ::testing::TempDir() + "skiro-not-a-tty";
    std::ofstream(regularFile) << "x";

    Dcb oddSpeed = plainDcb();
    oddSpeed.BaudRate = 1000;
    struct Case {
        const char* name;
        std::string path;
        Dcb dcb;
        OpenStep step;
        int error;
        std::string text;
    } cases[] = {
        {"missing device", "/dev/skiro-no-such-port", plainDcb(), OpenStep::Open, ENOENT,
         strings.text(IDS_OPEN_FAILED) + strings.text(IDS_NO_DEVICE)},
        {"device held by another session", pty.slavePath, plainDcb(), OpenStep::Open, EBUSY,
         strings.text(IDS_OPEN_FAILED) + strings.text(IDS_ACCESS_DENIED)},
        {"a file that is no terminal", regularFile, plainDcb(), OpenStep::Open, ENOTTY,
         strings.text(IDS_OPEN_FAILED) + "\x83\x47\x83\x89\x81\x5B\x83\x52\x81\x5B\x83\x68:25"},
        {"speed termios cannot set", idle.slavePath, oddSpeed, OpenStep::State, EINVAL,
         strings.text(IDS_STATE_FAILED) + "\x83\x47\x83\x89\x81\x5B\x83\x52\x81\x5B\x83\x68:22"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        PosixSerialPort port;
        OpenResult result = port.open(c.path, c.dcb);
        EXPECT_EQ(result.failedStep, c.step);
        EXPECT_EQ(result.error, c.error);
        EXPECT_EQ(openFailureText(result, strings), c.text);
        EXPECT_FALSE(port.isOpen());
    }
    std::remove(regularFile.c_str());

    // A failed configuration closes the device again, so the next Start can open it.
    PosixSerialPort again;
    EXPECT_TRUE(again.open(idle.slavePath, plainDcb()).ok());
    // And closing the holder frees its device.
    holder.close();
    EXPECT_TRUE(again.open(pty.slavePath, plainDcb()).ok());
}

// Whether a program that takes no part in exclusive use, run by a normal user, can open
// `path`: this process when it is no root, else a child that gives up root first (root is
// never kept out by exclusive mode). The device is made readable and writable by all then.
bool plainOpenWorks(const std::string& path, int descriptor) {
    if (::geteuid() != 0) {
        const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        if (fd >= 0)
            ::close(fd);
        return fd >= 0;
    }
    ::fchmod(descriptor, 0666);
    const pid_t child = ::fork();
    if (child == 0) {
        if (::setgid(65534) != 0 || ::setuid(65534) != 0)
            ::_exit(2);
        ::_exit(::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK) >= 0 ? 0 : 1);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// Exclusive mode is the device's, not the descriptor's: every way the port closes clears it,
// so that Start after Stop, and any other program, can open a pty that its far end (socat)
// keeps open. A failed open never clears the exclusive mode of another port that holds it.
TEST(PosixSerialPortOpen, ClosingLeavesTheDeviceOpenToOthers) {
    auto exclusive = [](const PtyPair& pty) {
        int on = -1;
        EXPECT_EQ(::ioctl(pty.slave, TIOCGEXCL, &on), 0);
        return on != 0;
    };
    Dcb oddSpeed = plainDcb();
    oddSpeed.BaudRate = 1000; // fails after exclusive mode is on
    PtyPair pty;
    ASSERT_TRUE(pty.ok());
    {
        PosixSerialPort port;
        ASSERT_TRUE(port.open(pty.slavePath, plainDcb()).ok());
        EXPECT_TRUE(exclusive(pty));
        EXPECT_FALSE(plainOpenWorks(pty.slavePath, pty.slave));

        // No lock file to stop it first: it reaches the device (root does) and fails there.
        PosixSerialPort second(PortGuards{{}, "/proc"});
        EXPECT_FALSE(second.open(pty.slavePath, plainDcb()).ok());
        EXPECT_TRUE(exclusive(pty)) << "a refused open keeps the holder's exclusive mode";

        port.close();
        EXPECT_FALSE(exclusive(pty)) << "Stop";
        EXPECT_TRUE(plainOpenWorks(pty.slavePath, pty.slave));

        EXPECT_FALSE(port.open(pty.slavePath, oddSpeed).ok());
        EXPECT_FALSE(exclusive(pty)) << "a configuration that failed";

        ASSERT_TRUE(port.open(pty.slavePath, plainDcb()).ok());
    }
    EXPECT_FALSE(exclusive(pty)) << "the port destroyed open";
}

// The last line of a port message: the C library's text in Japanese where the machine has the
// Japanese locale (scripts/setup makes it), as Shift-JIS; a device that is no terminal in the
// program's own words.
TEST(PortErrorExplanation, TheSystemsTextInJapaneseShiftJis) {
    const StringTable strings;
    EXPECT_EQ(portErrorExplanation(ENOTTY, strings), strings.text(IDS_NOT_A_SERIAL_PORT));
    EXPECT_FALSE(systemErrorText(EBUSY).empty());
    // A refusal by permissions says who may open serial ports and how the user becomes one.
    EXPECT_EQ(portErrorExplanation(EACCES, strings),
              systemErrorText(EACCES) + "\x81\x42" + strings.text(IDS_NO_PERMISSION_HINT));
    EXPECT_NE(strings.text(IDS_NO_PERMISSION_HINT).find("sudo usermod -aG dialout $USER"),
              std::string::npos);
    locale_t japanese = ::newlocale(LC_ALL_MASK, "ja_JP.UTF-8", nullptr);
    if (!japanese)
        GTEST_SKIP() << "no ja_JP.UTF-8 locale on this machine";
    ::freelocale(japanese);
    // そのようなファイルやディレクトリはありません
    EXPECT_EQ(portErrorExplanation(ENOENT, strings),
              "\x82\xBB\x82\xCC\x82\xE6\x82\xA4\x82\xC8\x83\x74\x83\x40\x83\x43\x83\x8B\x82\xE2\x83"
              "\x66\x83\x42\x83\x8C\x83\x4E\x83\x67\x83\x8A\x82\xCD\x82\xA0\x82\xE8\x82\xDC\x82\xB9"
              "\x82\xF1");
}

TEST(PosixSerialPortOpen, ConfigurationFailureTextsCarryTheCode) {
    const StringTable strings;
    struct Case {
        OpenStep step;
        int id;
    } cases[] = {{OpenStep::Mask, IDS_MASK_FAILED},
                 {OpenStep::Queues, IDS_QUEUE_FAILED},
                 {OpenStep::Timeouts, IDS_TIMEOUT_FAILED},
                 {OpenStep::State, IDS_STATE_FAILED}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.id);
        std::string text = openFailureText({c.step, EIO}, strings);
        EXPECT_EQ(text, strings.text(c.id) + "\x83\x47\x83\x89\x81\x5B\x83\x52\x81\x5B\x83\x68:5");
    }
    EXPECT_EQ(openFailureText({OpenStep::Open, EPERM}, strings),
              strings.text(IDS_OPEN_FAILED) + strings.text(IDS_ACCESS_DENIED));
    EXPECT_EQ(openFailureText({OpenStep::Open, ENXIO}, strings),
              strings.text(IDS_OPEN_FAILED) + strings.text(IDS_NO_DEVICE));
}

class PosixSerialPortIo : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(m_pty.ok());
        ASSERT_TRUE(m_port.open(m_pty.slavePath, plainDcb()).ok());
    }

    // Reads until `count` bytes have arrived or the time-out passes.
    std::string readAll(std::size_t count, int timeoutMs = 10000) {
        std::string got;
        waitFor(
            [&] {
                char buf[4096];
                IoResult r = m_port.read(buf, sizeof buf);
                EXPECT_TRUE(r.ok()) << r.error;
                got.append(buf, r.count);
                return got.size() >= count || !r.ok();
            },
            timeoutMs);
        return got;
    }

    PtyPair m_pty;
    PosixSerialPort m_port;
};

TEST_F(PosixSerialPortIo, LinesSentInRandomPiecesArriveInOrder) {
    std::string stream;
    for (int i = 0; i < 200; ++i)
        stream += std::to_string(i) + ":" + kJapanese + "\r\n";
    std::mt19937 random(7);
    for (std::size_t at = 0; at < stream.size();) {
        std::size_t piece = std::uniform_int_distribution<std::size_t>(1, 97)(random);
        m_pty.send(std::string_view(stream).substr(at, piece));
        at += piece;
    }
    EXPECT_EQ(readAll(stream.size()), stream);
}

TEST_F(PosixSerialPortIo, NulBytesAreDroppedAndNotCounted) {
    const std::string sent = std::string("\0A\0\0", 4) + kJapanese + std::string("\0\r", 2);
    m_pty.send(sent);
    ASSERT_TRUE(waitFor([&] {
        int queued = 0;
        return ::ioctl(m_pty.slave, TIOCINQ, &queued) == 0 &&
               queued == static_cast<int>(sent.size());
    }));
    char buf[64];
    IoResult r = m_port.read(buf, sizeof buf);
    ASSERT_TRUE(r.ok());
    EXPECT_EQ(std::string(buf, r.count), "A" + kJapanese + "\r");
}

TEST_F(PosixSerialPortIo, NothingWaitingReadsZeroAtOnce) {
    char buf[16];
    IoResult r = m_port.read(buf, sizeof buf);
    EXPECT_TRUE(r.ok());
    EXPECT_EQ(r.count, 0u);
    EXPECT_FALSE(m_port.isGone());
}

TEST(PosixSerialPortStale, BytesFromBeforeStartAreDiscarded) {
    PtyPair pty;
    ASSERT_TRUE(pty.ok());
    pty.send("old text\r");
    PosixSerialPort port;
    ASSERT_TRUE(port.open(pty.slavePath, plainDcb()).ok());
    pty.send("new\r");
    std::string got;
    waitFor([&] {
        char buf[64];
        got.append(buf, port.read(buf, sizeof buf).count);
        return got.size() >= 4;
    });
    EXPECT_EQ(got, "new\r");
}

TEST_F(PosixSerialPortIo, WrittenTextArrivesAtTheFarEnd) {
    const std::string echo = kJapanese + "\r";
    IoResult r = m_port.write(echo);
    EXPECT_TRUE(r.ok());
    EXPECT_EQ(r.count, echo.size());
    EXPECT_EQ(m_pty.receive(echo.size()), echo);
}

TEST_F(PosixSerialPortIo, WriteGivesUpWhenTheFarEndDoesNotRead) {
    // Fill the line until the driver takes nothing more; the far end never reads.
    const std::string block(4096, 'x');
    int refusals = 0;
    while (refusals < 3) {
        ssize_t n = ::write(m_port.fd(), block.data(), block.size());
        if (n < 0 && errno == EAGAIN) {
            ++refusals;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    }
    IoResult r = m_port.write("abc");
    EXPECT_EQ(r.error, ETIMEDOUT);
    EXPECT_LT(r.count, 3u);
    EXPECT_FALSE(m_port.isGone());
}

TEST_F(PosixSerialPortIo, HangUpReportsTheDeviceGone) {
    m_pty.send("last line\r");
    EXPECT_EQ(readAll(10), "last line\r");
    EXPECT_FALSE(m_port.isGone());
    m_pty.closeMaster();
    char buf[64];
    IoResult r = m_port.read(buf, sizeof buf);
    EXPECT_TRUE(isDeviceGoneError(r.error)) << r.error;
    EXPECT_TRUE(m_port.isGone());
    EXPECT_FALSE(m_port.write("x").ok());
}

} // namespace
} // namespace skiro
