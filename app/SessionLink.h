#pragma once
#include <QObject>
#include <QString>
#include <functional>

#include "serial/SerialSession.h"

class QWidget;

namespace skiro {

// What the link needs of the view, which lives in display/: hand its intake the port, read
// the port once into intake, and post the data-ready event (from the watch thread).
struct ViewHooks {
    std::function<void(SerialPort*, ReadyEvent*)> attachPort;
    std::function<std::size_t()> readPort;
    // Ends the line still arriving (the device went away in the middle of it).
    std::function<void()> endLine;
    std::function<void()> postDataReady; // thread-safe: posts an event, nothing more
    // Thread-safe: the view has no tick queued and no paint pending. Empty means always.
    std::function<bool()> canPost;
};

// Connects the document's serial session to the view on the Qt side: the open port goes to the
// view's intake, the watch thread's notifications become posted events, and device failures
// become one message box each, captioned with the application's title.
class SessionLink final : public SessionView {
  public:
    // `context` runs the tasks posted from the watch thread and parents the message boxes;
    // `afterFailure` runs once a failure has been shown (the frame re-reads its command states).
    SessionLink(QWidget* context, QString title, std::function<void()> afterFailure);

    // The view that reads the port; set once before any Start. Without one nothing is read.
    // For CMarelView `v`: {[v](SerialPort* p, ReadyEvent* r) { v->setSession(p, r); },
    // [v] { return v->intake().readPort(); }, [v] { v->intake().endArrivingLine(); },
    // [v] { v->postDataReady(); }, [v] { return v->canPostDataReady(); }}; its sendFailed
    // signal is shown the same way as showFailure, once per failure.
    void setView(ViewHooks hooks) { m_hooks = std::move(hooks); }
    // Told when the session starts or stops waiting for its device (the device's path);
    // the application shows it in the window title and in a corner of the view.
    void setWaitingHook(std::function<void(bool waiting, const QString& device)> hook) {
        m_waiting = std::move(hook);
    }
    // What F1 opens on a failure's message box: the help on the port's messages.
    void setHelp(std::function<void()> help) { m_help = std::move(help); }

    void attachPort(SerialPort* port, ReadyEvent* readyEvent) override;
    std::size_t readPort() override;
    void endLine() override;
    void showFailure(const std::string& sjisMessage) override;
    void linkWaiting(bool waiting, const std::string& device) override;
    // Another thread cannot look into the Qt event queue, so the view keeps atomic flags for
    // its queued ticks and pending paint; its handler checks again on its own thread.
    bool canPost() override { return !m_hooks.canPost || m_hooks.canPost(); }
    void postDataReady() override;
    void postToUi(std::function<void()> task) override;

  private:
    QWidget* m_context; // the frame, which outlives every session
    QString m_title;
    std::function<void()> m_afterFailure;
    std::function<void(bool, const QString&)> m_waiting;
    std::function<void()> m_help;
    // Set on the user-interface thread before any Start; the watch thread only reads it.
    ViewHooks m_hooks;
};

} // namespace skiro
