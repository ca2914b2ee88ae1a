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

void TVaCommEventThread::HangUp() {
    if (hungUp_ || s_->Stopped)
        return;
    hungUp_ = true;
    const std::shared_ptr<TVaCommSession> s = s_;
    s_->CallOnUiThread([s] {
        if (s->Port)
            s->Port->DispatchHangUp();
    });
}

void TVaCommEventThread::Execute() {
    TVaCommSession& s = *s_;
    SetCurrentThreadName("comm-event");
    {
        std::lock_guard lock(s.PriorityLock);
        s.EventTid = CurrentThreadId();
        SetThreadRelativePriority(s.EventTid, s.BaseNice, s.EventPriority);
    }
    watchRx_ = s.EventMask & EV_RXCHAR;
    watchErr_ = s.EventMask & EV_ERR;
    quint32 errors = 0;
    s.Device.LineErrors(errorBase_, errors);

    while (!s.Stopped) {
        const unsigned events = NextEvents();
        if (events == 0)
            continue;
        const TRxMark before = Mark();
        if (!Deliver(events))
            break;
        AccountFor(before);
    }
}

unsigned TVaCommEventThread::NextEvents() {
    TVaCommSession& s = *s_;
    if (hungUp_ || !(watchRx_ || watchErr_)) {
        // Nothing this platform can report: only a stop ends the wait.
        WaitForEvents({s.WaitSignal.Fd()}, -1);
        return 0;
    }
    const std::optional<unsigned> received = ReceivedEvents();
    if (!received)
        return 0;
    unsigned events = *received;
    quint32 errors = 0;
    if (watchErr_ && s.Device.LineErrors(errorBase_, errors) && errors != 0)
        events |= EV_ERR;
    if (!watchRx_)
        events &= ~unsigned(EV_RXCHAR);
    return events;
}

std::optional<unsigned> TVaCommEventThread::ReceivedEvents() {
    TVaCommSession& s = *s_;
    const TEventFd* stop = s.WaitSignal.Fd();
    if (again_) {
        again_ = false;
        return EV_RXCHAR;
    }
    if (!watchRx_) {
        if (WaitForEvents({stop}, ErrorCheckMs).outcome == TWaitOutcome::Event)
            return std::nullopt;
        return 0;
    }
    if (lingering_ > 0) {
        if (WaitForEvents({stop}, LingerCheckMs).outcome == TWaitOutcome::Event)
            return std::nullopt;
        int waiting = 0;
        if (!s.Device.InQueue(waiting)) {
            HangUp();
            return std::nullopt;
        }
        const bool arrived = waiting > lingering_;
        lingering_ = waiting;
        return arrived ? unsigned(EV_RXCHAR) : 0u;
    }
    const TEventWaitResult woken = s.Device.Wait(TSerialDevice::Readable, {stop}, -1);
    switch (woken.outcome) {
    case TWaitOutcome::Event:
        return std::nullopt;
    case TWaitOutcome::TimedOut:
    case TWaitOutcome::Failed:
        // Do not spin on a wait that keeps failing.
        WaitForEvents({stop}, ErrorCheckMs);
        return std::nullopt;
    case TWaitOutcome::DeviceReady:
        break;
    }
    if (woken.ready & TSerialDevice::HungUp) {
        HangUp();
        return std::nullopt;
    }
    return (woken.ready & TSerialDevice::Readable) ? unsigned(EV_RXCHAR) : 0u;
}

TVaCommEventThread::TRxMark TVaCommEventThread::Mark() const {
    TRxMark mark;
    s_->Device.InQueue(mark.waiting);
    mark.consumed = s_->RxConsumed;
    mark.purges = s_->RxPurges;
    return mark;
}

void TVaCommEventThread::AccountFor(const TRxMark& Before) {
    const TVaCommSession& s = *s_;
    int after = 0;
    if (!s_->Device.InQueue(after)) {
        HangUp();
        return;
    }
    // Bytes that came in while the handler ran are notified once more at once; bytes it
    // merely left are notified again only when more arrive.
    const qint64 consumed = qint64(s.RxConsumed - Before.consumed);
    const qint64 arrived =
        s.RxPurges != Before.purges ? after : after - (Before.waiting - consumed);
    again_ = watchRx_ && after > 0 && arrived > 0;
    lingering_ = again_ ? 0 : after;
}
