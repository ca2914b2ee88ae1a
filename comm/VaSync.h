#pragma once
// Synchronisation objects of the serial link: a manual-reset wait event and a critical
// section. The event is a descriptor the platform layer can wait on together with a
// serial device.

#include "platform/EventFd.h"

#include <QtGlobal>

#include <algorithm>
#include <mutex>

class TVaHandleObject {
public:
    enum TWaitResult { WaitSignaled = 0, WaitTimeout = 1, WaitAbandoned = 2, WaitError = 3 };
    static constexpr quint32 Infinite = 0xFFFFFFFFu;

    TVaHandleObject() = default;
    TVaHandleObject(const TVaHandleObject&) = delete;
    TVaHandleObject& operator=(const TVaHandleObject&) = delete;
    virtual ~TVaHandleObject() = default;

    // Waits at most Ms milliseconds (Infinite: without limit) for the handle to be set.
    TWaitResult WaitFor(quint32 Ms);
    int LastError() const { return lastError_; }
    TEventFd& Handle() { return handle_; }
    const TEventFd* Fd() const { return &handle_; }

protected:
    TEventFd handle_;
    int lastError_ = 0;
};

class TVaEvent : public TVaHandleObject {
public:
    void Signal() { handle_.Set(); }
    void Reset() { handle_.Clear(); }
};

// Manual-reset, initially clear: stays set until Reset.
class TVaWaitEvent : public TVaEvent {};

class TVaCriticalSection {
public:
    void Enter() { mutex_.lock(); }
    void Leave() { mutex_.unlock(); }
    // BasicLockable, for std::lock_guard and condition waits.
    void lock() { mutex_.lock(); }
    void unlock() { mutex_.unlock(); }
    std::mutex& Native() { return mutex_; }

private:
    std::mutex mutex_;
};
