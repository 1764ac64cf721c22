// What the drivers share for driving Qt's event loop: turning it for a while or until something
// is done, and a probe that says how long the user-interface thread went without a turn.
#pragma once

#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <vector>

namespace bench {

using Steady = std::chrono::steady_clock;

inline double ms(Steady::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

inline void runFor(int milliseconds) {
    QEventLoop loop;
    QTimer::singleShot(milliseconds, &loop, &QEventLoop::quit);
    loop.exec();
}

// Turns the loop until `done()` holds or `milliseconds` have passed; says which.
template <typename Done> bool runUntil(Done done, int milliseconds) {
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > milliseconds)
            return false;
        runFor(5);
    }
    return true;
}

// A 5 ms timer on the user-interface thread, noting each turn it gets. A long gap between two
// turns is time the thread spent on something else: what a user sees as the display hanging.
class TurnProbe {
  public:
    explicit TurnProbe(std::size_t expectedTurns = 100000) {
        turns_.reserve(expectedTurns);
        timer_.setTimerType(Qt::PreciseTimer);
        QObject::connect(&timer_, &QTimer::timeout, [this] { turns_.push_back(Steady::now()); });
        timer_.start(5);
    }

    // Stops the probe and gives the longest gap between two turns, in milliseconds.
    double stopAndTakeLongestGapMs() {
        timer_.stop();
        double gap = 0;
        for (std::size_t i = 1; i < turns_.size(); ++i)
            gap = std::max(gap, ms(turns_[i] - turns_[i - 1]));
        return gap;
    }

  private:
    QTimer timer_;
    std::vector<Steady::time_point> turns_;
};

} // namespace bench
