#pragma once
// A manual-reset event as a descriptor (eventfd): set until cleared, and waitable
// together with a device in one poll.

class TEventFd {
public:
    // Check IsValid: creation fails at the descriptor limit (the reason in LastError).
    TEventFd();
    ~TEventFd();
    TEventFd(const TEventFd&) = delete;
    TEventFd& operator=(const TEventFd&) = delete;

    void Set();
    void Clear();
    bool IsSet() const;
    // 0 signalled, 1 timed out, -1 failed (error in LastError). Ms < 0 waits without limit.
    int Wait(int Ms) const;
    int Descriptor() const { return fd_; }
    bool IsValid() const { return fd_ >= 0; }

private:
    int fd_ = -1;
};
