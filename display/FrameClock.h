#pragma once
#include <QObject>
#include <QTimer>

#include <chrono>
#include <functional>

class QWidget;

namespace skiro {

// Wakes the view once per refresh of its screen while the picture glides, on a fixed grid of
// refresh intervals, never more often. Each frame is told the time on that grid at which it is
// due, so that the picture is placed for the moment it is shown rather than for the moment the
// program got round to it. Stopped, it wakes no one.
class FrameClock : public QObject {
    Q_OBJECT
  public:
    // `frame` gets the frame's due time in milliseconds on the steady clock (the scale of the
    // system clock's tick count, with the fraction).
    FrameClock(QWidget* view, std::function<void(double dueMs)> frame);

    void start();
    void stop();
    bool running() const { return m_running; }
    // The refresh interval in milliseconds: the view's screen's, 60 Hz when it tells none.
    double periodMs() const;

    static double nowMs();

  private:
    void fire();
    void schedule();

    QWidget* m_view;
    std::function<void(double)> m_frame;
    QTimer m_timer;
    bool m_running = false;
    double m_dueMs = 0;
};

} // namespace skiro
