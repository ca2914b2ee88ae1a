#pragma once
// What a device run did, as values a front end can switch on: the end of a transfer loop
// and of a whole run, and the run's state changes as they happen. The window texts are
// derived from these, never the other way round.

#include <QString>
#include <exception>

enum class TRunKind { Read, Write };

enum class TRunEnd {
    Done,           // every sector passed
    SectorFailed,   // a sector failed its retry as well (failedSector)
    Stopped,        // asked to stop: between two sectors, or while waiting
    LinkError,      // the port failed under the transfer, or the line hung up while waiting
    PortNotOpened,  // the port could not be opened or set up (reason: the link's text)
    NoAnnouncement, // the front end stopped waiting for the device
    NoProgram,      // Write with no program loaded; the port was not touched
};

struct TRunOutcome {
    TRunKind kind = TRunKind::Write;
    TRunEnd end = TRunEnd::Done;
    int sectorsTotal = 0; // that the loop set out to move; 0 when no transfer ran
    int sectorsDone = 0;  // that passed
    int failedSector = -1;
    int retries = 0;
    QString reason;             // the link's own text, for LinkError and PortNotOpened
    std::exception_ptr failure; // LinkError: the error the link raised, if it raised one
};

// "done", "sector-failed", ...: for logs and tests.
QString RunEndName(TRunEnd End);

// The run's state changes, in order: Waiting, then Announced, Sector for each sector
// (Retried where one needed a second attempt), then Ended; or Ended alone when the port
// did not open, or straight after Waiting when the run stopped waiting. Ended comes last,
// after the port is closed and the end state shown.
class TDeviceRunObserver {
public:
    virtual ~TDeviceRunObserver() = default;
    virtual void RunWaiting(TRunKind /*Kind*/) {}
    virtual void RunAnnounced() {}
    // Sector (from 0) of Total is about to be sent or asked for.
    virtual void RunSector(int /*Sector*/, int /*Total*/) {}
    virtual void RunRetried(int /*Sector*/) {}
    virtual void RunEnded(const TRunOutcome& /*Outcome*/) {}
};
