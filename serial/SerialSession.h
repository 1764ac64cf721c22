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

#include "serial/PortLock.h"

// The serial connection the document owns between Start and Stop: the port, the ready event
// and the watch thread. Neither the session nor its thread moves data; the view reads and
// writes the port it is handed here. Start and Stop leave their stamps in the log. With
// [Serial] Reconnect on, a device that goes away does not end the session: it waits for the
// device to come back and goes on, with a stamp in the log for each.
namespace skiro {

// The port, its ready event, the watch thread and the wait for a device that went away, on the
// platform's own calls: termios, poll() and inotify, or the Win32 communications calls.
#ifdef _WIN32
class WinReadyEvent;
class WinReconnector;
class WinSerialPort;
class WinWatchThread;
using PlatformReadyEvent = WinReadyEvent;
using PlatformReconnector = WinReconnector;
using PlatformSerialPort = WinSerialPort;
using PlatformWatchThread = WinWatchThread;
#else
class PosixReadyEvent;
class PosixSerialPort;
class Reconnector;
class WatchThread;
using PlatformReadyEvent = PosixReadyEvent;
using PlatformReconnector = Reconnector;
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
    // Ends the line still arriving, if any, as its terminator would: the device went away in
    // the middle of it, and what comes after a return is a line of its own.
    virtual void endLine() = 0;
    // Shows a failure of the device once, in a message box with the error icon.
    virtual void showFailure(const std::string& sjisMessage) = 0;
    // The session waits for its device (`device`, the path it was opened by) to come back,
    // or no longer does (it is back, or the session has stopped). No box: the captions stay
    // uncovered, the view and the title say it quietly.
    virtual void linkWaiting(bool waiting, const std::string& device) = 0;

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
    // while the session runs. A device that cannot be opened or configured is reported once to
    // the view, and everything stays closed with no stamp. Returns whether the session runs
    // afterwards.
    bool startSession();
    // Takes in what the port holds, ends the watch thread and closes the port, or ends the wait
    // for the device, with the stop stamp; nothing while closed. `beforeStopStamp` runs once
    // the port is closed and every byte read from it is in intake, before the stop stamp.
    void stopSession(const std::function<void()>& beforeStopStamp = {});
    // Whether the port is open now.
    bool isOpen() const { return m_port != nullptr; }
    // Whether Start is in force: the port is open, or the session waits for its device.
    bool isRunning() const { return isOpen() || isWaiting(); }
    bool isWaiting() const { return m_reconnector != nullptr; }

    // Where exclusive use is checked; the system's folders unless a test points elsewhere.
    void setGuards(PortGuards guards) { m_guards = std::move(guards); }

    // How long Stop goes on reading what has already arrived before it closes the port: far
    // more than the driver's buffers take to read, but a sender that keeps writing faster
    // than the view reads cannot hold Stop up.
    static constexpr int kStopDrainMs = 100;

  private:
    class ViewPort;

    // Hands an open port to a new watch thread and to the view; false when the thread cannot
    // be made (the port is then closed again).
    bool attach(std::shared_ptr<PlatformSerialPort> port, const std::string& path);
    // Ends the watch thread and closes the port; the session's state is the caller's.
    void detach();
    // On the user-interface thread, after the watch thread found the device gone, or could no
    // longer wait on it (`error`, 0 when the device itself went): whatever the port still
    // holds is read into intake and the line it cut is ended. Then the session waits for the
    // device, or, with Reconnect off, ends like Stop and reports the loss once. A loss
    // reported for an earlier port is ignored.
    void onDeviceLost(std::uint64_t generation, int error = 0);
    // On the user-interface thread, when the reconnector has opened the device again.
    void onDeviceBack(std::uint64_t generation, std::shared_ptr<PlatformSerialPort> port,
                      const std::string& path);
    bool waitForDevice(const std::string& device);
    void closeSession(const std::function<void()>& beforeStopStamp = {});

    const Settings& m_settings;
    const Profile& m_profile;
    const StringTable& m_strings;
    Recorder& m_recorder;
    SessionView* m_view = nullptr;

    PortGuards m_guards;
    std::shared_ptr<PlatformSerialPort> m_port;
    std::unique_ptr<ViewPort> m_viewPort;
    std::unique_ptr<PlatformReadyEvent> m_readyEvent;
    std::unique_ptr<PlatformWatchThread> m_watchThread;
    std::unique_ptr<PlatformReconnector> m_reconnector;
    // The path Start opened, and the device's stable by-id name: what a return is looked for by.
    std::string m_path;
    std::string m_byId;
    // Counts the ports opened (by Start and by returns) and the waits, so that a loss or a
    // return posted by a thread of an earlier one is told apart.
    std::uint64_t m_generation = 0;
};

} // namespace skiro
