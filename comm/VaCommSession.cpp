#include "comm/VaCommSession.h"

#include <QMetaObject>
#include <QObject>
#include <cstring>

void TVaCommBuffer::Append(const void* P, int N) {
    if (N <= 0)
        return;
    std::memcpy(data_.data() + size_, P, size_t(N));
    size_ += N;
}

void TVaCommBuffer::Remove(int N) {
    if (N <= 0)
        return;
    if (N >= size_) {
        size_ = 0;
        return;
    }
    std::memmove(data_.data(), data_.constData() + N, size_t(size_ - N));
    size_ -= N;
}

void TVaCommSession::Stop() {
    {
        std::lock_guard lock(callMutex_);
        Stopped = true;
    }
    callDone_.notify_all();
    {
        // Taken so a write in progress finishes before the port lets the device go.
        std::lock_guard lock(WriteLock);
    }
    QueueRoom.notify_all();
    WaitSignal.Signal();
    StopRequest.Signal();
}

namespace {
struct PendingCall {
    bool done = false;
    std::exception_ptr error;
};

// Owned by the posted call: when the call has run, or was dropped without running,
// its destruction releases the waiting thread.
struct CallTicket {
    CallTicket(std::shared_ptr<TVaCommSession> s, std::shared_ptr<PendingCall> c, std::mutex* m,
               std::condition_variable* d)
        : session(std::move(s)), call(std::move(c)), mutex(m), done(d) {}
    CallTicket(const CallTicket&) = delete;
    CallTicket& operator=(const CallTicket&) = delete;
    std::shared_ptr<TVaCommSession> session;
    std::shared_ptr<PendingCall> call;
    std::mutex* mutex;
    std::condition_variable* done;
    ~CallTicket() {
        {
            std::lock_guard lock(*mutex);
            call->done = true;
        }
        done->notify_all();
    }
};
} // namespace

std::exception_ptr TVaCommSession::CallOnUiThread(std::function<void()> Fn) {
    if (Stopped)
        return nullptr;
    auto call = std::make_shared<PendingCall>();
    auto ticket = std::make_shared<CallTicket>(shared_from_this(), call, &callMutex_, &callDone_);
    QMetaObject::invokeMethod(
        Context,
        [ticket, fn = std::move(Fn)] {
            // A notification from a stopped opening is discarded.
            if (ticket->session->Stopped)
                return;
            try {
                fn();
            } catch (...) {
                ticket->call->error = std::current_exception();
            }
        },
        Qt::QueuedConnection);
    ticket.reset();
    std::unique_lock lock(callMutex_);
    callDone_.wait(lock, [&] { return call->done || Stopped; });
    return call->done ? call->error : nullptr;
}

std::atomic<int>& VaCommLiveThreadCounter() {
    static std::atomic<int> count{0};
    return count;
}
