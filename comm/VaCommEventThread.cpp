#include "comm/VaComm.h"
#include "comm/VaCommSession.h"
#include "comm/VaCommThreads.h"
#include "platform/ThreadPriority.h"

#include <mutex>
#include <thread>

namespace {
// While unread bytes linger, new arrivals are noticed by looking this often (a readiness
// wait would report the lingering bytes at once, again and again).
constexpr int LingerCheckMs = 10;
// Line errors are looked for this often when received characters are not watched.
constexpr int ErrorCheckMs = 100;
} // namespace

int RelativePriority(int Priority) {
    static constexpr int relative[] = {-15, -2, -1, 0, 1, 2, 15};
    return Priority >= 0 && Priority < 7 ? relative[Priority] : 0;
}

void TVaCommEventThread::Start(std::shared_ptr<TVaCommSession> Session) {
    StartDetached(TVaCommEventThread(std::move(Session)));
}

bool TVaCommEventThread::Deliver(unsigned Events) {
    if (s_->Stopped)
        return false;
    const std::shared_ptr<TVaCommSession> s = s_;
    s_->CallOnUiThread([s, Events] {
        if (s->Port)
            s->Port->DispatchEvents(Events);
    });
    return !s_->Stopped;
}

void TVaCommEventThread::Execute() {
    TVaCommSession& s = *s_;
    SetCurrentThreadName("comm-event");
    {
        std::lock_guard lock(s.PriorityLock);
        s.EventTid = CurrentThreadId();
        SetThreadRelativePriority(s.EventTid, s.BaseNice, s.EventPriority);
    }

    const bool watchRx = s.EventMask & EV_RXCHAR;
    const bool watchErr = s.EventMask & EV_ERR;
    TSerialDevice::Counters errorBase;
    quint32 errors = 0;
    s.Device.LineErrors(errorBase, errors);

    int lingering = 0;  // bytes left unread after the last notification
    bool again = false; // bytes arrived during the last notification and wait
    bool hungUp = false;

    while (!s.Stopped) {
        quint32 events = 0;
        if (hungUp || !(watchRx || watchErr)) {
            // Nothing this platform can report: only a stop ends the wait.
            WaitForEvents({s.WaitSignal.Fd()}, -1);
            continue;
        }
        if (again) {
            events |= EV_RXCHAR;
            again = false;
        } else if (!watchRx) {
            if (WaitForEvents({s.WaitSignal.Fd()}, ErrorCheckMs) == 0)
                continue;
        } else if (lingering > 0) {
            if (WaitForEvents({s.WaitSignal.Fd()}, LingerCheckMs) == 0)
                continue;
            int waiting = 0;
            if (!s.Device.InQueue(waiting)) {
                hungUp = true;
                continue;
            }
            if (waiting > lingering)
                events |= EV_RXCHAR;
            lingering = waiting;
        } else {
            int ready = 0;
            const int r = s.Device.Wait(TSerialDevice::Readable, {s.WaitSignal.Fd()}, -1, ready);
            if (r == 0)
                continue;
            if (r != -1) { // the wait itself failed: do not spin on it
                WaitForEvents({s.WaitSignal.Fd()}, ErrorCheckMs);
                continue;
            }
            if (ready & TSerialDevice::HungUp) {
                // Reported ready forever from now on: stop waiting on the device.
                hungUp = true;
                continue;
            }
            if (ready & TSerialDevice::Readable)
                events |= EV_RXCHAR;
        }
        if (watchErr && s.Device.LineErrors(errorBase, errors) && errors != 0)
            events |= EV_ERR;
        if (!watchRx)
            events &= ~quint32(EV_RXCHAR);
        if (events == 0)
            continue;

        int before = 0;
        s.Device.InQueue(before);
        const quint64 consumedBefore = s.RxConsumed;
        const quint32 purgesBefore = s.RxPurges;
        if (!Deliver(events))
            break;
        int after = 0;
        if (!s.Device.InQueue(after)) {
            hungUp = true;
            continue;
        }
        // Bytes that came in while the handler ran are notified once more at once;
        // bytes it merely left are notified again only when more arrive.
        const qint64 consumed = qint64(s.RxConsumed - consumedBefore);
        const qint64 arrived = s.RxPurges != purgesBefore ? after : after - (before - consumed);
        again = watchRx && after > 0 && arrived > 0;
        lingering = again ? 0 : after;
    }
}
