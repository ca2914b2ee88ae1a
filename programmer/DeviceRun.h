#pragma once
// A device run from the Read or Write button to the closed port: port set-up, waiting
// for the device's announcement, the transfer inside the received-character
// notification, and the end state of the progress window.
//
// States: Idle (port closed) -> Waiting (port open, progress window up) -> Transferring
// -> Finished (port closed, result shown) -> Idle; closing the progress window while
// Waiting leaves the port open and listening (Armed), and an announcement then runs the
// transfer with the window hidden. During such a hidden transfer the main window is
// disabled, so nothing else can start or touch the images; closing the main window asks
// the transfer to stop at the next sector, and the transfer closes the port itself.
//
// What happened is told twice: the view shows it in the windows' terms (texts,
// animation, buttons, notices), and an observer gets it as values (TRunOutcome).

#include "programmer/FrameProtocol.h"
#include "programmer/Notice.h"
#include "programmer/RunOutcome.h"

#include <QString>
#include <exception>

class TDeviceLink;

// 1 read, 2 write, 3 write with check (2 and 3 behave alike).
extern int OperationMode;

enum TRunAnimation { raNone, raFindComputer, raFindFile };

// What a device run needs from the windows.
class TDeviceRunView : public TProgressSink, public TNoticeView {
public:
    virtual int SelectedPortIndex() const = 0;
    virtual bool WriteWithCheck() const = 0;
    virtual void SetModeText(const QString& Text) = 0;
    // Stops the clip, chooses the given one and starts it (raNone: stays blank).
    virtual void SetAnimation(TRunAnimation Animation) = 0;
    virtual void SetCloseEnabled(bool Enabled) = 0;
    virtual void CentreProgressWindow() = 0;
    // Returns when the operator has closed the progress window.
    virtual void ShowProgressModal() = 0;
    virtual bool ProgressWindowShown() const = 0;
    // A transfer runs with the progress window hidden: keep the operator's hands off the
    // main window and any window left open above it.
    virtual void SetMainWindowBusy(bool Busy) = 0;
    // The port failed under a transfer, which has ended and released the port: the
    // error no handler caught, for the program's general error report.
    virtual void ReportFailure(std::exception_ptr /*Error*/) {}
};

// The view of a front end without windows: nothing to show, no progress window to wait
// in. It still says which port to open and runs the wait (ShowProgressModal).
class TWindowlessRunView : public TDeviceRunView {
public:
    bool WriteWithCheck() const override { return false; }
    void SetModeText(const QString&) override {}
    void SetAnimation(TRunAnimation) override {}
    void SetCloseEnabled(bool) override {}
    void CentreProgressWindow() override {}
    void SetMainWindowBusy(bool) override {}
    void SetProgressRange(int, int) override {}
    void SetProgressPosition(int) override {}
    void SetStatusText(const QString&) override {}
    void SetSaveAsEnabled(bool) override {}
};

class TDeviceRun {
public:
    TDeviceRun(TDeviceLink& Link, TDeviceRunView& View);

    // Told every state change and the end of every run; null: nobody listens.
    void SetObserver(TDeviceRunObserver* Observer) { observer_ = Observer; }

    void StartRead();         // BtnReadClick
    void StartWrite();        // BtnWriteClick
    void Received();          // VaComm1RxChar
    void MainWindowClosing(); // FormClose: Stop()
    // Ends the run: a transfer at its next sector, a wait (also Armed) at once; the port
    // is closed either way and the run ends Stopped.
    void Stop();
    // Ends a wait that the front end will not prolong (NoAnnouncement).
    void GiveUpWaiting();
    // The line hung up (adapter unplugged, far end gone): a wait can never be answered
    // and ends at once as LinkError with Reason. A transfer finds out by itself.
    void LineLost(const QString& Reason);

    bool TransferRunning() const { return transferring_; }
    bool Waiting() const { return waiting_; }

private:
    class TSink;
    bool SetUpPort(TRunKind Kind);
    void ClosePortQuietly();
    void WaitForDevice(TRunKind Kind, const QString& ModeText);
    // Closes the port; a run that was waiting ends with End (after Failure, if any, has
    // been reported).
    void EndWaiting(TRunEnd End, const QString& Reason, std::exception_ptr Failure = nullptr);
    void Ended(const TRunOutcome& Outcome);

    TDeviceLink& link_;
    TDeviceRunView& view_;
    TDeviceRunObserver* observer_ = nullptr;
    TRunKind kind_ = TRunKind::Write; // of the run waiting or transferring
    bool waiting_ = false;
    bool transferring_ = false;
    bool stopRequested_ = false;
};
