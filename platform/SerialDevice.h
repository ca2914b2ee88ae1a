#pragma once
// An open serial device: exclusive open, line settings, non-blocking reads and writes,
// queue sizes, line-error counters, flushing and readiness waits. Every call that fails
// returns false or -1 and leaves the reason in GetLastError() (an errno value).

#include "platform/CommDcb.h"
#include "platform/EventFd.h"
#include "platform/LineErrors.h"

#include <QString>
#include <cstdint>
#include <initializer_list>
#include <memory>

struct termios2;

class TSerialDevice {
public:
    TSerialDevice();
    ~TSerialDevice();
    TSerialDevice(const TSerialDevice&) = delete;
    TSerialDevice& operator=(const TSerialDevice&) = delete;

    // Opens Path read/write, non-blocking and exclusive (TIOCEXCL and flock). A port
    // someone else holds fails with EBUSY, a missing one with ENOENT, a file that is no
    // terminal with ENOTTY. Both queues are flushed: a fresh port has nothing waiting.
    // The line settings found and whether the terminal was already exclusive are kept,
    // so that letting the port go leaves it as it was found.
    bool Open(const QString& Path);
    // Restores the line settings found at Open, clears the exclusivity Open set (it
    // belongs to the terminal and would outlive this descriptor while another program
    // holds the port), then closes.
    void Close();
    bool IsOpen() const { return fd_ >= 0; }
    // Lets another opener in, the port as found, while this descriptor stays valid for
    // threads still holding it.
    void ReleaseExclusive();
    // Lets the device go at once (as ReleaseExclusive) but keeps the descriptor's number
    // reserved until Close: the number then refers to /dev/null, so a thread still
    // holding it never reaches whatever the system would open under that number next.
    // Where /dev/null cannot be opened (the descriptor limit), the device is only
    // released for other openers.
    void Retire();

    bool SetCommState(const TDCB& Dcb);

    // >0 bytes read, 0 nothing waiting, -1 failure (a hung-up line fails with EIO).
    int Read(void* Buffer, int Count);
    // >=0 bytes accepted (0: no room now), -1 failure.
    int Write(const void* Buffer, int Count);
    bool InQueue(int& Count);
    // 0 where the driver does not know (a pseudo-terminal).
    bool OutQueue(int& Count);
    // Line errors (CE_FRAME, CE_OVERRUN, CE_RXPARITY, CE_BREAK bits of LineErrors.h) since
    // the previous call with the same Baseline; 0 where the driver keeps no counters.
    struct Counters {
        bool valid = false;
        int frame = 0, overrun = 0, parity = 0, brk = 0;
    };
    bool LineErrors(Counters& Baseline, uint32_t& Errors);
    // The bits of the counters that moved from Before to Now; none without a valid Before.
    static uint32_t LineErrorBits(const Counters& Before, const Counters& Now);
    bool Flush(bool Input, bool Output);

    enum WaitFlags : int { Readable = 1, Writable = 2, HungUp = 4 };
    // Waits until the device is ready for Want (Readable/Writable; 0 watches only the
    // events) or one of Events is set: DeviceReady with the WaitFlags in ready, Event,
    // TimedOut or Failed. Ms < 0 waits without limit.
    TEventWaitResult Wait(int Want, std::initializer_list<const TEventFd*> Events, int Ms);

private:
    // Puts back what Open found, once: the settings, then the exclusivity it set.
    void RestoreAsFound();

    int fd_ = -1;
    bool retired_ = false;            // fd_ refers to /dev/null
    bool setExclusive_ = false;       // Open set TIOCEXCL (it was clear before)
    std::unique_ptr<termios2> found_; // the settings to put back, until put back
};
