#include "comm/VaComm.h"
#include "comm/VaCommSession.h"
#include "comm/VaCommThreads.h"
#include "platform/ThreadPriority.h"

#include <algorithm>
#include <mutex>
#include <thread>

namespace {
// A write the device keeps refusing is retried after a pause growing to this bound.
constexpr int FirstRetryMs = 10;
constexpr int LastRetryMs = 500;
} // namespace

void TVaCommWriteThread::Start(std::shared_ptr<TVaCommSession> Session) {
    StartDetached(TVaCommWriteThread(std::move(Session)));
}

bool TVaCommWriteThread::Notify(unsigned Events) {
    if (s_->Stopped)
        return false;
    const std::shared_ptr<TVaCommSession> s = s_;
    // A purge on the user-interface thread meanwhile cannot wait for this thread.
    s_->Queue.WriterAway(true);
    // An error raised while the notification runs ends this thread.
    const std::exception_ptr error = s_->CallOnUiThread([s, Events] {
        if (s->Port)
            s->Port->DispatchWriteEvents(Events);
    });
    s_->Queue.WriterAway(false);
    return !error && !s_->Stopped;
}

bool TVaCommWriteThread::Serve(const TEventWaitResult& Woken) {
    if (Woken.IsEvent(ClosingEvent))
        return false;
    if (Woken.IsEvent(ClearEvent))
        s_->Queue.AcknowledgeClear();
    return true;
}

void TVaCommWriteThread::Execute() {
    TVaCommSession& s = *s_;
    TTransmitQueue& q = s.Queue;
    SetCurrentThreadName("comm-write");
    {
        std::lock_guard lock(s.PriorityLock);
        s.WriteTid = CurrentThreadId();
        SetThreadRelativePriority(s.WriteTid, s.BaseNice, s.WritePriority);
    }

    int retryMs = 0;
    while (!s.Stopped) {
        const TEventWaitResult woken =
            WaitForEvents({q.Closing(), q.ClearRequest(), q.DataReady()}, -1);
        if (!Serve(woken))
            break;
        if (woken.outcome != TWaitOutcome::Event) { // the wait failed: do not spin on it
            WaitForEvents({q.Closing()}, FirstRetryMs);
            continue;
        }
        if (!woken.IsEvent(DataEvent))
            continue;

        int written = 0;
        bool drained = false;
        {
            TTransmitQueue::TTurn queued = q.Take();
            if (queued.Closed())
                break;
            if (queued.Size() == 0)
                continue;
            // Non-blocking, so the turn lasts only for the copy into the driver.
            written = s.Device.Write(queued.Data(), queued.Size());
            if (written > 0)
                drained = queued.Consume(written);
        }
        if (written > 0) {
            retryMs = 0;
            if (drained && !Notify(EV_TXEMPTY))
                break;
            continue;
        }
        if (written == 0) { // the driver is full: wait for room
            if (!Serve(s.Device.Wait(TSerialDevice::Writable, {q.Closing(), q.ClearRequest()}, -1)))
                break;
            continue;
        }
        // Refused: report, then retry after a growing pause instead of at once.
        if (!Notify(EV_ERR))
            break;
        retryMs = retryMs == 0 ? FirstRetryMs : std::min(retryMs * 2, LastRetryMs);
        if (!Serve(WaitForEvents({q.Closing(), q.ClearRequest()}, retryMs)))
            break;
    }
}
