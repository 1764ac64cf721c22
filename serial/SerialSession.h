#pragma once
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>

#include "core/Profile.h"
#include "core/ReadyEvent.h"
#include "core/Recorder.h"
#include "core/SerialPort.h"
#include "core/Settings.h"
#include "core/StringTable.h"

// The serial connection the document owns between Start and Stop: the port, the ready event
// and the watch thread. Neither the session nor its thread moves data; the view reads and
// writes the port it is handed here. Start and Stop leave their stamps in the log.
namespace skiro {

// The port, its ready event and the watch thread of the platform: termios and poll(), or the
// Win32 communications calls and events.
#ifdef _WIN32
class WinReadyEvent;
class WinSerialPort;
class WinWatchThread;
using PlatformReadyEvent = WinReadyEvent;
using PlatformSerialPort = WinSerialPort;
using PlatformWatchThread = WinWatchThread;
#else
class PosixReadyEvent;
class PosixSerialPort;
class WatchThread;
using PlatformReadyEvent = PosixReadyEvent;
using PlatformSerialPort = PosixSerialPort;
using PlatformWatchThread = WatchThread;
#endif

// The side of the view (and the application around it) that the session talks to.
class SessionView {
  public:
    virtual ~SessionView() = default;

    // User-interface thread.
    // The open port and its ready event for intake, or nullptrs once the port is closing.
    virtual void attachPort(SerialPort* port, ReadyEvent* readyEvent) = 0;
    // Reads once what the port has into intake, as on a data-ready notification but whether
    // or not the view is busy; the bytes read, 0 when nothing came.
    virtual std::size_t readPort() = 0;
    // Shows a failure of the device once, in a message box with the error icon.
    virtual void showFailure(const std::string& sjisMessage) = 0;

    // Watch thread: these must only look at flags and post, never touch the view's data.
    // Whether the view has nothing queued and nothing to paint.
    virtual bool canPost() = 0;
    // Posts the data-ready notification to the view.
    virtual void postDataReady() = 0;
    // Runs `task` later on the user-interface thread.
    virtual void postToUi(std::function<void()> task) = 0;
};

// The [Serial] keys COM<n>=<device path> that map a COM port to any device, a pty included.
// Read for COM1 to COM256 and for the port that comPort names; other keys stay in the profile.
std::map<int, std::string> portOverrides(const Profile& profile, int comPort);

class SerialSession {
  public:
    SerialSession(const Settings& settings, const Profile& profile, const StringTable& strings,
                  Recorder& recorder);
    ~SerialSession();
    SerialSession(const SerialSession&) = delete;
    SerialSession& operator=(const SerialSession&) = delete;

    // The view to hand the port to; set before the first Start, and kept for the whole run.
    void setView(SessionView* view) { m_view = view; }

    // Opens COM(ComPort + 1) with the serial settings and starts watching it. Nothing happens
    // while open. A device that cannot be opened or configured is reported once to the view,
    // and everything stays closed with no stamp. Returns whether the port is open afterwards.
    bool startSession();
    // Ends the watch thread and closes the port, with the stop stamp; nothing while closed.
    void stopSession();
    bool isOpen() const { return m_port != nullptr; }

    // Reads of up to 4096 bytes that Stop makes to take in what has already arrived.
    static constexpr int kStopReads = 16;

  private:
    class ViewPort;

    // On the user-interface thread, after the watch thread found the device gone: whatever
    // the port still holds is read into intake, then the session ends like Stop and the loss
    // is reported once. A loss reported for an earlier session is ignored.
    void onDeviceLost(std::uint64_t session);
    void closeSession();

    const Settings& m_settings;
    const Profile& m_profile;
    const StringTable& m_strings;
    Recorder& m_recorder;
    SessionView* m_view = nullptr;

    std::unique_ptr<PlatformSerialPort> m_port;
    std::unique_ptr<ViewPort> m_viewPort;
    std::unique_ptr<PlatformReadyEvent> m_readyEvent;
    std::unique_ptr<PlatformWatchThread> m_watchThread;
    // Counts Starts, so that a loss posted by the thread of an earlier session is told apart.
    std::uint64_t m_session = 0;
};

} // namespace skiro
