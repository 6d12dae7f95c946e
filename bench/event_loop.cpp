#include "event_loop.h"

#include <QCoreApplication>
#include <QTimer>

bool spinUntil(const std::function<bool()>& condition, std::chrono::steady_clock::duration timeout)
{
    using Clock = std::chrono::steady_clock;
    QTimer wake; // the loop sleeps no longer than this, so a condition no event announces is seen
    wake.start(5);
    const Clock::time_point deadline = Clock::now() + timeout;
    while (!condition()) {
        if (Clock::now() > deadline)
            return false;
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    return true;
}
