#include "comm/VaComm.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QTimer>

#include <chrono>
#include <thread>

void DelayWithMessages(int Ms) {
    using namespace std::chrono;
    // A monotonic deadline: no wrap of a tick counter can end the wait early.
    const QDeadlineTimer deadline(qMax(Ms, 0), Qt::PreciseTimer);
    QCoreApplication::processEvents(QEventLoop::AllEvents);
    // Sleep in the event loop until the deadline instead of polling: events, timers and
    // the link's cross-thread calls are served as they come.
    while (!deadline.hasExpired()) {
        const nanoseconds left(deadline.remainingTimeNSecs());
        // Timers count whole milliseconds: the last fraction of one is slept off, or
        // every delay would run a millisecond long.
        if (left < 1ms) {
            std::this_thread::sleep_for(left);
            break;
        }
        QEventLoop loop;
        QTimer::singleShot(duration_cast<milliseconds>(left), Qt::PreciseTimer, &loop,
                           &QEventLoop::quit);
        loop.exec();
    }
}
