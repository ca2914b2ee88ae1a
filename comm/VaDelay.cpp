#include "comm/VaComm.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QTimer>

void DelayWithMessages(int Ms) {
    // A monotonic deadline: no wrap of a tick counter can end the wait early.
    const QDeadlineTimer deadline(qMax(Ms, 0), Qt::PreciseTimer);
    QCoreApplication::processEvents(QEventLoop::AllEvents);
    // Sleep in the event loop until the deadline instead of polling: events, timers and
    // the link's cross-thread calls are served as they come.
    while (!deadline.hasExpired()) {
        QEventLoop loop;
        QTimer::singleShot(std::chrono::milliseconds(qMax<qint64>(deadline.remainingTime(), 1)),
                           Qt::PreciseTimer, &loop, &QEventLoop::quit);
        loop.exec();
    }
}
