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
    // An error raised while the notification runs ends this thread.
    const std::exception_ptr error = s_->CallOnUiThread([s, Events] {
        if (s->Port)
            s->Port->HandleEvents(Events);
    });
    return !error && !s_->Stopped;
}

void TVaCommWriteThread::AcknowledgePurge() {
    s_->PurgeRequest.Reset();
    s_->PurgeDone.Signal();
}

void TVaCommWriteThread::Execute() {
    TVaCommSession& s = *s_;
    SetCurrentThreadName("comm-write");
    {
        std::lock_guard lock(s.PriorityLock);
        s.WriteTid = CurrentThreadId();
        SetThreadRelativePriority(s.WriteTid, s.BaseNice, s.WritePriority);
    }

    int retryMs = 0;
    while (!s.Stopped) {
        const int woken =
            WaitForEvents({s.StopRequest.Fd(), s.PurgeRequest.Fd(), s.DataReady.Fd()}, -1);
        if (woken == 0)
            break;
        if (woken == 1) {
            AcknowledgePurge();
            continue;
        }
        if (woken != 2) {
            WaitForEvents({s.StopRequest.Fd()}, FirstRetryMs);
            continue;
        }

        int written = 0;
        bool drained = false;
        {
            std::lock_guard lock(s.WriteLock);
            if (s.Stopped)
                break;
            if (s.Queue.Size() == 0) {
                s.DataReady.Reset();
                continue;
            }
            // Non-blocking, so the lock is held only for the copy into the driver.
            written = s.Device.Write(s.Queue.Data(), s.Queue.Size());
            if (written > 0) {
                s.Queue.Remove(written);
                if (s.Queue.Size() == 0) {
                    s.DataReady.Reset();
                    drained = true;
                }
            }
        }
        if (written > 0) {
            s.QueueRoom.notify_all();
            retryMs = 0;
            if (drained && !Notify(EV_TXEMPTY))
                break;
            continue;
        }
        if (written == 0) { // the driver is full: wait for room
            int ready = 0;
            const int r = s.Device.Wait(TSerialDevice::Writable,
                                        {s.StopRequest.Fd(), s.PurgeRequest.Fd()}, -1, ready);
            if (r == 0)
                break;
            if (r == 1)
                AcknowledgePurge();
            continue;
        }
        // Refused: report, then retry after a growing pause instead of at once.
        if (!Notify(EV_ERR))
            break;
        retryMs = retryMs == 0 ? FirstRetryMs : std::min(retryMs * 2, LastRetryMs);
        const int r = WaitForEvents({s.StopRequest.Fd(), s.PurgeRequest.Fd()}, retryMs);
        if (r == 0)
            break;
        if (r == 1)
            AcknowledgePurge();
    }
}
