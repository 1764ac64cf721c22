#pragma once
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QThread>

#include <functional>

// Lets the event loop run until `done` holds, for at most `ms` (a generous bound, never a
// measure): whether it held.
inline bool waitUntil(const std::function<bool()>& done, int ms = 20000) {
    QDeadlineTimer deadline(ms);
    while (!done()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(2);
    }
    return true;
}
