#pragma once
// The two background threads of an open port. Each runs detached, holds only the
// session and ends by itself once the session is stopped.

#include <atomic>
#include <memory>
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
    // Hands Events to the port's dispatch; false when the thread is to end.
    bool Deliver(unsigned Events);
    std::shared_ptr<TVaCommSession> s_;
};

// Writes the transmit queue to the device and reports when it has drained.
class TVaCommWriteThread {
public:
    static void Start(std::shared_ptr<TVaCommSession> Session);
    explicit TVaCommWriteThread(std::shared_ptr<TVaCommSession> Session) : s_(std::move(Session)) {}
    void Execute();
    void ReleaseSession() { s_.reset(); }

private:
    bool Notify(unsigned Events);
    void AcknowledgePurge();
    std::shared_ptr<TVaCommSession> s_;
};

// Relative platform priority (-15 .. 15) of a TThreadPriority ordinal.
int RelativePriority(int Priority);
