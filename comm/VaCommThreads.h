#pragma once
// The two background threads of an open port. Each runs detached, holds only the
// session and ends by itself once the session is stopped.

#include <memory>

struct TVaCommSession;

// Waits for line events and hands each to the user-interface thread, one at a time.
class TVaCommEventThread {
public:
    static void Start(std::shared_ptr<TVaCommSession> Session);
    explicit TVaCommEventThread(std::shared_ptr<TVaCommSession> Session) : s_(std::move(Session)) {}
    void Execute();

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

private:
    bool Notify(unsigned Events);
    void AcknowledgePurge();
    std::shared_ptr<TVaCommSession> s_;
};

// Relative platform priority of a TThreadPriority ordinal.
int RelativePriority(int Priority);
