#pragma once
// The two background threads of an open port. Each runs detached, holds only the
// session and ends by itself once the session is stopped.

#include "platform/EventFd.h"
#include "platform/SerialDevice.h"

#include <QtGlobal>
#include <atomic>
#include <memory>
#include <optional>
#include <thread>

struct TVaCommSession;

// Counts the link's threads that have not yet ended.
std::atomic<int>& VaCommLiveThreadCounter();

// Runs a thread object's Execute on a detached thread. The thread counts as live until
// it has let go of its session, so a test can see every descriptor released.
template <class Thread> void StartDetached(Thread thread) {
    ++VaCommLiveThreadCounter();
    try {
        std::thread([t = std::move(thread)]() mutable {
            t.Execute();
            t.ReleaseSession();
            --VaCommLiveThreadCounter();
        }).detach();
    } catch (...) {
        --VaCommLiveThreadCounter();
        throw;
    }
}

// Waits for line events and hands each to the user-interface thread, one at a time.
class TVaCommEventThread {
public:
    static void Start(std::shared_ptr<TVaCommSession> Session);
    explicit TVaCommEventThread(std::shared_ptr<TVaCommSession> Session) : s_(std::move(Session)) {}
    void Execute();
    void ReleaseSession() { s_.reset(); }

private:
    // What the receive side stood at when a notification was handed over.
    struct TRxMark {
        int waiting = 0;
        quint64 consumed = 0;
        quint32 purges = 0;
    };
    // Waits for the next events to notify; 0 when this round has none.
    unsigned NextEvents();
    // EV_RXCHAR when bytes are to be notified, 0 when not; nothing when the round ends
    // here, before line errors are looked for.
    std::optional<unsigned> ReceivedEvents();
    TRxMark Mark() const;
    // After a notification: whether bytes came in meanwhile, and what it left unread.
    void AccountFor(const TRxMark& Before);
    // Hands Events to the port's dispatch; false when the thread is to end.
    bool Deliver(unsigned Events);
    // The line hung up: tells the port once, then waits only for a stop.
    void HangUp();

    std::shared_ptr<TVaCommSession> s_;
    bool watchRx_ = false, watchErr_ = false;
    TSerialDevice::Counters errorBase_;
    int lingering_ = 0;   // bytes left unread after the last notification
    bool again_ = false;  // bytes arrived during the last notification
    bool hungUp_ = false; // the device reports ready forever: only a stop ends the wait
};

// Writes the transmit queue to the device and reports when it has drained.
class TVaCommWriteThread {
public:
    static void Start(std::shared_ptr<TVaCommSession> Session);
    explicit TVaCommWriteThread(std::shared_ptr<TVaCommSession> Session) : s_(std::move(Session)) {}
    void Execute();
    void ReleaseSession() { s_.reset(); }

private:
    // Positions of the queue's events in the thread's waits.
    static constexpr int ClosingEvent = 0, ClearEvent = 1, DataEvent = 2;
    bool Notify(unsigned Events);
    // Acknowledges a purge the wait ended on; false when the queue is closing.
    bool Serve(const TEventWaitResult& Woken);
    std::shared_ptr<TVaCommSession> s_;
};

// Relative platform priority (-15 .. 15) of a TThreadPriority ordinal.
int RelativePriority(int Priority);
