#include "programmer/DeviceRun.h"

#include "base/ProgramError.h"
#include "programmer/DeviceLink.h"
#include "programmer/ProgramImage.h"
#include "programmer/Texts.h"

#include <utility>

int OperationMode = 0;

// Forwards to the windows and the observer and adds the run's stop request.
class TDeviceRun::TSink : public TProgressSink {
public:
    TSink(TDeviceRunView& View, TDeviceRunObserver* Observer, const bool& Stop)
        : view_(View), observer_(Observer), stop_(Stop) {}
    void SetProgressRange(int Min, int Max) override { view_.SetProgressRange(Min, Max); }
    void SetProgressPosition(int Position) override { view_.SetProgressPosition(Position); }
    void SetStatusText(const QString& Text) override { view_.SetStatusText(Text); }
    void SetSaveAsEnabled(bool Enabled) override { view_.SetSaveAsEnabled(Enabled); }
    bool StopRequested() const override { return stop_; }
    void SectorStarting(int Sector, int Total) override {
        view_.SectorStarting(Sector, Total);
        if (observer_)
            observer_->RunSector(Sector, Total);
    }
    void SectorRetried(int Sector) override {
        view_.SectorRetried(Sector);
        if (observer_)
            observer_->RunRetried(Sector);
    }

private:
    TDeviceRunView& view_;
    TDeviceRunObserver* observer_;
    const bool& stop_;
};

TDeviceRun::TDeviceRun(TDeviceLink& Link, TDeviceRunView& View) : link_(Link), view_(View) {}

void TDeviceRun::ClosePortQuietly() {
    try {
        link_.Close();
    } catch (...) {
        // Failures while closing the port change nothing for the operator.
    }
}

void TDeviceRun::Ended(const TRunOutcome& Outcome) {
    if (observer_)
        observer_->RunEnded(Outcome);
}

bool TDeviceRun::SetUpPort(TRunKind Kind) {
    try {
        link_.Close();
        link_.Open(view_.SelectedPortIndex() + 1);
        return true;
    } catch (...) {
        TRunOutcome o;
        o.kind = Kind;
        o.end = TRunEnd::PortNotOpened;
        o.reason = ExceptionMessage(std::current_exception());
        view_.ShowNotice(NoticePortNotOpened());
        ClosePortQuietly();
        Ended(o);
        return false;
    }
}

void TDeviceRun::WaitForDevice(TRunKind Kind, const QString& ModeText) {
    waiting_ = true;
    kind_ = Kind;
    view_.SetModeText(ModeText);
    view_.CentreProgressWindow();
    view_.SetAnimation(raFindComputer);
    view_.SetStatusText(TextSearching);
    if (observer_)
        observer_->RunWaiting(Kind);
    view_.ShowProgressModal();
}

void TDeviceRun::StartRead() {
    // The window is disabled during a hidden transfer; a call that still gets here must
    // not close the port under it.
    if (transferring_)
        return;
    view_.SetProgressPosition(0);
    if (waiting_)
        EndWaiting(TRunEnd::Stopped, {}); // a run left armed ends here
    if (!SetUpPort(TRunKind::Read))
        return;
    OperationMode = 1;
    WaitForDevice(TRunKind::Read, TextModeRead);
}

void TDeviceRun::StartWrite() {
    if (transferring_)
        return;
    view_.SetProgressPosition(0);
    if (!ProgramLoaded) {
        view_.ShowNotice(NoticeProgramNotLoaded());
        TRunOutcome o;
        o.end = TRunEnd::NoProgram;
        Ended(o);
        return;
    }
    if (waiting_)
        EndWaiting(TRunEnd::Stopped, {}); // a run left armed ends here
    if (!SetUpPort(TRunKind::Write))
        return;
    OperationMode = view_.WriteWithCheck() ? 3 : 2;
    WaitForDevice(TRunKind::Write, TextModeWrite);
}

void TDeviceRun::Received() {
    if (transferring_)
        return;
    QByteArray text;
    try {
        text = link_.ReadText();
    } catch (...) {
        // The line failed before the device announced itself: nothing can come any more.
        const std::exception_ptr failure = std::current_exception();
        EndWaiting(TRunEnd::LinkError, ExceptionMessage(failure), failure);
        return;
    }
    // The announcement: a short burst with "!" somewhere in it. Anything else is
    // consumed and the run keeps waiting.
    if (text.isEmpty() || text.size() > 3 || !text.contains(AckChar))
        return;

    transferring_ = true;
    waiting_ = false;
    stopRequested_ = false;
    if (observer_)
        observer_->RunAnnounced();
    const bool hidden = !view_.ProgressWindowShown();
    if (hidden)
        view_.SetMainWindowBusy(true);
    view_.SetAnimation(raFindFile);
    view_.SetCloseEnabled(false);
    TSink sink(view_, observer_, stopRequested_);
    TRunOutcome outcome;
    if (OperationMode == 1) {
        view_.SetStatusText(TextReading);
        outcome = ReadProgram(link_, sink);
    } else {
        view_.SetStatusText(TextWriting);
        outcome = WriteProgram(link_, sink);
    }
    ClosePortQuietly();
    view_.SetAnimation(raNone);
    view_.SetCloseEnabled(true);
    if (hidden)
        view_.SetMainWindowBusy(false);
    transferring_ = false;
    if (outcome.failure)
        view_.ReportFailure(outcome.failure);
    Ended(outcome);
}

void TDeviceRun::EndWaiting(TRunEnd End, const QString& Reason, std::exception_ptr Failure) {
    const bool wasWaiting = std::exchange(waiting_, false);
    ClosePortQuietly();
    if (Failure)
        view_.ReportFailure(Failure);
    if (!wasWaiting)
        return;
    TRunOutcome o;
    o.kind = kind_;
    o.end = End;
    o.reason = Reason;
    o.failure = Failure;
    Ended(o);
}

void TDeviceRun::Stop() {
    if (transferring_) {
        // The transfer stops at its next sector and closes the port on its way out.
        stopRequested_ = true;
        return;
    }
    EndWaiting(TRunEnd::Stopped, {});
}

void TDeviceRun::GiveUpWaiting() {
    if (!transferring_)
        EndWaiting(TRunEnd::NoAnnouncement, {});
}

void TDeviceRun::LineLost(const QString& Reason) {
    if (!transferring_ && waiting_)
        EndWaiting(TRunEnd::LinkError, Reason);
}

void TDeviceRun::MainWindowClosing() {
    Stop();
}
