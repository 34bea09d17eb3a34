#pragma once
// Runs the event loop until `done` holds or `timeoutMs` has passed; false on time-out. Queued calls from
// other threads (workers, update check, link opener) are delivered meanwhile.

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>

#include <functional>

namespace vornal::test {

inline bool waitFor(const std::function<bool()>& done, int timeoutMs = 15000) {
    QElapsedTimer t;
    t.start();
    while (!done()) {
        if (t.elapsed() > timeoutMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QThread::msleep(1);
    }
    return true;
}

} // namespace vornal::test
