#include "serial/SerialSession.h"

#include <cerrno>
#include <chrono>
#include <string_view>

#include "core/TextFormat.h"
#include "serial/PortTable.h"
#include "serial/SystemError.h"
#ifdef _WIN32
#include "serial/WinReconnector.h"
#include "serial/WinSerialPort.h"
#include "serial/WinWatchThread.h"
#else
#include "serial/PosixReadyEvent.h"
#include "serial/PosixSerialPort.h"
#include "serial/Reconnector.h"
#include "serial/WatchThread.h"
#endif

namespace skiro {

namespace {

constexpr int kOverriddenPorts = 256;

#ifdef _WIN32
constexpr int kMissingDevice = ERROR_FILE_NOT_FOUND;
constexpr int kDeviceGone = ERROR_GEN_FAILURE;
HANDLE watched(const WinSerialPort& port) {
    return port.handle();
}
#else
constexpr int kMissingDevice = ENOENT;
constexpr int kDeviceGone = EIO;
int watched(const PosixSerialPort& port) {
    return port.fd();
}
#endif

} // namespace

// The port as intake sees it: the same reads and writes, with the last failure kept, so that
// the loss of the device can be reported with the code that showed it. Used on the
// user-interface thread only.
class SerialSession::ViewPort final : public SerialPort {
  public:
    ViewPort(PlatformSerialPort& port, std::string path, const StringTable& strings)
        : m_port(port), m_path(std::move(path)), m_strings(strings) {}
    IoResult read(char* buffer, std::size_t capacity) override {
        return remember(m_port.read(buffer, capacity));
    }
    IoResult write(std::string_view bytes) override { return remember(m_port.write(bytes)); }
    std::string devicePath() const override { return m_path; }
    std::string explain(int error) const override { return portErrorExplanation(error, m_strings); }
    int lastError() const { return m_lastError; }

  private:
    IoResult remember(IoResult result) {
        if (!result.ok())
            m_lastError = result.error;
        return result;
    }
    PlatformSerialPort& m_port;
    std::string m_path;
    const StringTable& m_strings;
    int m_lastError = 0;
};

std::map<int, std::string> portOverrides(const Profile& profile, int comPort) {
    std::map<int, std::string> overrides;
    auto take = [&](int number) {
        const std::string key = "COM" + std::to_string(number);
        if (profile.contains("Serial", key))
            overrides[number] = profile.readText("Serial", key, "");
    };
    for (int number = 1; number <= kOverriddenPorts; ++number)
        take(number);
    if (comPort >= kOverriddenPorts)
        take(comPort + 1);
    return overrides;
}

SerialSession::SerialSession(const Settings& settings, const Profile& profile,
                             const StringTable& strings, Recorder& recorder)
    : m_settings(settings), m_profile(profile), m_strings(strings), m_recorder(recorder) {}

SerialSession::~SerialSession() {
    // The document always stops the session before it goes; this only keeps a thread from
    // outliving the objects it waits on.
    if (m_reconnector)
        m_reconnector->stop();
    if (m_watchThread)
        m_watchThread->stop();
}

bool SerialSession::startSession() {
    if (isRunning())
        return true;
    const int comPort = m_settings.ComPort;
    // The COM entries as the file holds them now: a mapping added while the program runs
    // takes effect at the next Start.
    const PortTable table = PortTable::fromMachine(portOverrides(m_profile.current(), comPort));
    const std::string path = table.devicePath(comPort);

    auto port = std::make_shared<PlatformSerialPort>(m_guards);
    // A COM number that names no device is a missing device, as on a machine without it.
    const OpenResult opened = path.empty()
                                  ? OpenResult{OpenStep::Open, kMissingDevice, std::nullopt}
                                  : port->open(path, m_settings.Dcb);
    if (!opened.ok()) {
        // The device on a line of its own; a COM number with no device behind it names itself.
        const std::string message = portFailureMessage(openFailureText(opened, m_strings),
                                                       path.empty() ? comDeviceName(comPort) : path,
                                                       opened.error, opened.holder, m_strings);
        // The box goes once it is answered; the log keeps the failure on one line, for the
        // operator who looks back later.
        std::string line = message;
        for (char& c : line) {
            if (c == '\n')
                c = ' ';
        }
        m_recorder.recordStamp(IDS_START_FAILED_STAMP, line);
        if (m_view)
            m_view->showFailure(message);
        return false;
    }
    // The system refused the thread or its wake-up descriptor: without a watcher nothing
    // would ever be read, so the port is closed again and the session stays closed.
    if (!attach(std::move(port), path))
        return false;
    m_path = path;
    m_byId = byIdAlias(path);
    m_recorder.recordStamp(IDS_START_STAMP);
    return true;
}

bool SerialSession::attach(std::shared_ptr<PlatformSerialPort> port, const std::string& path) {
    auto readyEvent = std::make_unique<PlatformReadyEvent>();
    const std::uint64_t generation = ++m_generation;
    WatchCallbacks callbacks;
    if (m_view) {
        SessionView* view = m_view;
        callbacks.canPost = [view] { return view->canPost(); };
        callbacks.postDataReady = [view] { view->postDataReady(); };
        callbacks.deviceLost = [this, view, generation] {
            view->postToUi([this, generation] { onDeviceLost(generation); });
        };
        // A port nobody waits on any more would show nothing again and never notice its
        // device going: the session treats it as lost, which is shown and logged, and with
        // Reconnect on opens the device again with a thread of its own.
        callbacks.gaveUp = [this, view, generation](int error) {
            view->postToUi([this, generation, error] { onDeviceLost(generation, error); });
        };
    }
    auto watchThread =
        std::make_unique<PlatformWatchThread>(watched(*port), *readyEvent, std::move(callbacks));
    if (!watchThread->start())
        return false;
    m_readyEvent = std::move(readyEvent);
    m_port = std::move(port);
    m_viewPort = std::make_unique<ViewPort>(*m_port, path, m_strings);
    m_watchThread = std::move(watchThread);
    if (m_view)
        m_view->attachPort(m_viewPort.get(), m_readyEvent.get());
    return true;
}

void SerialSession::stopSession(const std::function<void()>& beforeStopStamp) {
    if (!isRunning())
        return;
    // What reached the driver before Stop has been received: it is taken in, shown and logged
    // rather than thrown away with the port, however many reads it takes, for a bounded time.
    if (m_view && isOpen()) {
        const auto until =
            std::chrono::steady_clock::now() + std::chrono::milliseconds(kStopDrainMs);
        while (m_view->readPort() > 0 && std::chrono::steady_clock::now() < until) {
        }
    }
    closeSession(beforeStopStamp);
}

void SerialSession::detach() {
    if (!m_port)
        return;
    // The thread is joined before the port closes, so it never waits on a descriptor that
    // has been closed (or reused). stop() also sets the ready event for a thread waiting on
    // the view.
    m_watchThread->stop();
    m_watchThread.reset();
    if (m_view)
        m_view->attachPort(nullptr, nullptr);
    m_port->close();
    m_viewPort.reset();
    m_port.reset();
    m_readyEvent.reset();
}

void SerialSession::closeSession(const std::function<void()>& beforeStopStamp) {
    const bool waited = isWaiting();
    if (m_reconnector) {
        m_reconnector->stop();
        m_reconnector.reset();
    }
    detach();
    if (beforeStopStamp)
        beforeStopStamp();
    m_recorder.recordStamp(IDS_STOP_STAMP);
    if (waited && m_view)
        m_view->linkWaiting(false, m_path);
}

void SerialSession::onDeviceLost(std::uint64_t generation, int watchError) {
    if (!isOpen() || generation != m_generation)
        return;
    // The thread reports the loss only once the driver holds nothing more, but a notification
    // the view declined (busy) may have left bytes behind: they are shown and logged. The line
    // the loss cut is ended there, so that it is logged whole as it came, and the text after a
    // return does not run on into it.
    if (m_view) {
        while (m_view->readPort() > 0) {
        }
        m_view->endLine();
    }
    const int error = watchError != 0                ? watchError
                      : m_viewPort->lastError() != 0 ? m_viewPort->lastError()
                                                     : kDeviceGone;
    const std::string device = m_viewPort->devicePath();
    if (m_settings.Reconnect) {
        detach();
        if (waitForDevice(device))
            return;
        // Without a thread to wait with, the loss ends the session as it does without
        // Reconnect.
        m_recorder.recordStamp(IDS_STOP_STAMP);
    } else {
        closeSession();
    }
    if (m_view)
        m_view->showFailure(
            portFailureMessage(m_strings.text(IDS_DEVICE_LOST) +
                                   formatNumbers(m_strings.text(IDS_ERROR_CODE), {error}),
                               device, error, std::nullopt, m_strings));
}

bool SerialSession::waitForDevice(const std::string& device) {
    std::vector<std::string> paths;
    if (!m_byId.empty())
        paths.push_back(m_byId);
    paths.push_back(device);
    const std::uint64_t generation = ++m_generation;
    SessionView* view = m_view;
    auto reconnector = std::make_unique<PlatformReconnector>(
        std::move(paths), m_settings.Dcb, m_guards,
        [this, view, generation](std::shared_ptr<PlatformSerialPort> port,
                                 const std::string& path) {
            if (view)
                view->postToUi(
                    [this, generation, port, path] { onDeviceBack(generation, port, path); });
        });
    if (!reconnector->start())
        return false;
    m_reconnector = std::move(reconnector);
    m_recorder.recordStamp(IDS_LOST_STAMP);
    if (m_view)
        m_view->linkWaiting(true, device);
    return true;
}

void SerialSession::onDeviceBack(std::uint64_t generation, std::shared_ptr<PlatformSerialPort> port,
                                 const std::string& path) {
    // A return found after Stop (or for an earlier wait) is closed again as the last owner
    // lets go of it.
    if (!isWaiting() || generation != m_generation)
        return;
    m_reconnector->stop();
    m_reconnector.reset();
    if (!attach(std::move(port), path)) {
        // Without a watch thread nothing would be read: the session ends, as a Start that
        // could not make its thread does.
        m_recorder.recordStamp(IDS_STOP_STAMP);
        if (m_view)
            m_view->linkWaiting(false, m_path);
        return;
    }
    m_recorder.recordStamp(IDS_BACK_STAMP);
    if (m_view)
        m_view->linkWaiting(false, path);
}

} // namespace skiro
