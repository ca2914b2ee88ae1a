#pragma once
// A manual-reset event as a descriptor (eventfd): set until cleared, and waitable
// together with a device in one poll.

#include <initializer_list>

// How a wait ended.
enum class TWaitOutcome {
    Event,       // one of the events waited on is set
    DeviceReady, // the device watched beside the events is ready (or hung up)
    TimedOut,
    Failed, // the reason in GetLastError()
};

struct TEventWaitResult {
    TWaitOutcome outcome = TWaitOutcome::Failed;
    int event = -1; // Event: the index, in the list waited on, of the first set event
    int ready = 0;  // DeviceReady: what the device is ready for (TSerialDevice::WaitFlags)

    bool IsEvent(int Index) const { return outcome == TWaitOutcome::Event && event == Index; }
    bool operator==(const TEventWaitResult&) const = default;
};

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
    // Event when set, TimedOut or Failed. Ms < 0 waits without limit.
    TWaitOutcome Wait(int Ms) const;
    int Descriptor() const { return fd_; }
    bool IsValid() const { return fd_ >= 0; }

private:
    int fd_ = -1;
};

// A descriptor watched beside the events: the poll bits wanted, and those that came.
struct TPolledDevice {
    int fd = -1;
    short want = 0;
    short got = 0;
};

// Waits for the first of Events (at most 7) to be set or, when Device is given and wants
// something, for the device: Event (the first set one wins over the device), DeviceReady
// with Device->got filled, TimedOut or Failed. Ms < 0 waits without limit.
TEventWaitResult WaitForEvents(std::initializer_list<const TEventFd*> Events, int Ms,
                               TPolledDevice* Device = nullptr);
