#include "comm/VaCommSession.h"
#include "comm/VaCommThreads.h"

#include <QSocketNotifier>
#include <deque>

void TVaCommSession::Stop() {
    {
        std::lock_guard lock(callMutex_);
        Stopped = true;
    }
    callDone_.notify_all();
    WaitSignal.Signal();
    // Wakes the write thread; a direct write in progress ends before this returns.
    Queue.Close();
}

bool TVaCommSession::EventsReady() const {
    return WaitSignal.Fd()->IsValid() && Queue.IsValid();
}

namespace {
struct PendingCall {
    bool done = false;
    std::exception_ptr error;
};

// One call waiting for the user-interface thread. Destroying it, after it ran or when it
// is dropped unrun, releases the waiting thread.
struct QueuedCall {
    QueuedCall(std::shared_ptr<TVaCommSession> s, std::shared_ptr<PendingCall> c,
               std::function<void()> f, std::mutex* m, std::condition_variable* d)
        : session(std::move(s)), call(std::move(c)), fn(std::move(f)), mutex(m), done(d) {}
    QueuedCall(const QueuedCall&) = delete;
    QueuedCall& operator=(const QueuedCall&) = delete;
    ~QueuedCall() {
        {
            std::lock_guard lock(*mutex);
            call->done = true;
        }
        done->notify_all();
    }
    std::shared_ptr<TVaCommSession> session;
    std::shared_ptr<PendingCall> call;
    std::function<void()> fn;
    std::mutex* mutex;
    std::condition_variable* done;
};

// The calls travel through this queue rather than inside the posted event, so that
// their hand-over is ordered by a lock every checker can see; the event only says
// "one more call waits".
std::mutex queueMutex;
std::deque<std::unique_ptr<QueuedCall>> queuedCalls;

} // namespace

TVaCallDispatcher* TVaCallDispatcher::Instance() {
    // User-interface thread only, like every opening.
    static TVaCallDispatcher* dispatcher = nullptr;
    if (!dispatcher) {
        auto* d = new TVaCallDispatcher;
        if (!d->wake_.IsValid()) {
            delete d;
            return nullptr;
        }
        dispatcher = d;
    }
    return dispatcher;
}

TVaCallDispatcher::TVaCallDispatcher() {
    if (!wake_.IsValid())
        return;
    auto* notifier = new QSocketNotifier(wake_.Descriptor(), QSocketNotifier::Read, this);
    connect(notifier, &QSocketNotifier::activated, this, &TVaCallDispatcher::RunOne);
}

void TVaCallDispatcher::RunOne() {
    std::unique_ptr<QueuedCall> c;
    {
        std::lock_guard lock(queueMutex);
        wake_.Clear();
        if (queuedCalls.empty())
            return;
        c = std::move(queuedCalls.front());
        queuedCalls.pop_front();
        if (!queuedCalls.empty())
            wake_.Set();
    }
    // A notification from a stopped opening is discarded.
    if (c->session->Stopped)
        return;
    try {
        c->fn();
    } catch (...) {
        c->call->error = std::current_exception();
    }
}

std::exception_ptr TVaCommSession::CallOnUiThread(std::function<void()> Fn) {
    if (Stopped)
        return nullptr;
    auto call = std::make_shared<PendingCall>();
    {
        std::lock_guard lock(queueMutex);
        queuedCalls.push_back(std::make_unique<QueuedCall>(shared_from_this(), call, std::move(Fn),
                                                           &callMutex_, &callDone_));
    }
    Context->Wake();
    std::unique_lock lock(callMutex_);
    callDone_.wait(lock, [&] { return call->done || Stopped; });
    return call->done ? call->error : nullptr;
}

std::atomic<int>& VaCommLiveThreadCounter() {
    static std::atomic<int> count{0};
    return count;
}
