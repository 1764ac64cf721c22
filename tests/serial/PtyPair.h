#pragma once
#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <string>
#include <sys/ioctl.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

// A pseudo-terminal for the serial tests: the slave is the port the program opens by its path,
// the master is the sending system at the far end of the line.
namespace skiro::test {

struct PtyPair {
    int master = -1;
    int slave = -1; // kept open so that the pty lives between the port's opens
    std::string slavePath;

    PtyPair() {
        char name[256] = {};
        if (::openpty(&master, &slave, name, nullptr, nullptr) == 0)
            slavePath = name;
    }
    ~PtyPair() {
        closeMaster();
        if (slave >= 0)
            ::close(slave);
    }
    PtyPair(const PtyPair&) = delete;
    PtyPair& operator=(const PtyPair&) = delete;

    bool ok() const { return master >= 0 && !slavePath.empty(); }

    // The far end hangs up, as a pulled adapter does.
    void closeMaster() {
        if (master >= 0)
            ::close(master);
        master = -1;
    }

    void send(std::string_view bytes) const {
        std::size_t done = 0;
        while (done < bytes.size()) {
            ssize_t n = ::write(master, bytes.data() + done, bytes.size() - done);
            if (n > 0)
                done += static_cast<std::size_t>(n);
            else if (n < 0 && errno != EINTR && errno != EAGAIN)
                return;
        }
    }

    // How many sent bytes have reached the near end and wait there to be read.
    std::size_t waiting() const {
        int count = 0;
        return ::ioctl(slave, FIONREAD, &count) == 0 ? static_cast<std::size_t>(count) : 0;
    }

    // What the program wrote to the line, gathered until `count` bytes or the time-out.
    std::string receive(std::size_t count, int timeoutMs = 10000) const {
        std::string got;
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (got.size() < count && std::chrono::steady_clock::now() < end) {
            pollfd p{master, POLLIN, 0};
            if (::poll(&p, 1, 20) <= 0)
                continue;
            char buf[4096];
            ssize_t n = ::read(master, buf, sizeof buf);
            if (n > 0)
                got.append(buf, static_cast<std::size_t>(n));
        }
        return got;
    }
};

// Waits until pred holds or the time-out passes; returns pred's last answer.
template <typename Pred> bool waitFor(Pred pred, int timeoutMs = 10000) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!pred()) {
        if (std::chrono::steady_clock::now() >= end)
            return pred();
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

} // namespace skiro::test
