#include "programmer/DeviceRun.h"

#include "base/ErrorReport.h"
#include "base/MessageBox.h"
#include "comm/VaComm.h"
#include "programmer/ProgramImage.h"

int OperationMode = 0;

const QString TextSearching = QStringLiteral("Поиск прибора...");
const QString TextReading = QStringLiteral("Идет считывание...");
const QString TextWriting = QStringLiteral("Идет запись...");
const QString TextModeRead = QStringLiteral("Режим: Чтение данных");
const QString TextModeWrite = QStringLiteral("Режим: Запись данных");

// Forwards to the windows and adds the run's stop request.
class TDeviceRun::TSink : public TProgressSink {
public:
    TSink(TDeviceRunView& View, const bool& Stop) : view_(View), stop_(Stop) {}
    void SetProgressRange(int Min, int Max) override { view_.SetProgressRange(Min, Max); }
    void SetProgressPosition(int Position) override { view_.SetProgressPosition(Position); }
    void SetStatusText(const QString& Text) override { view_.SetStatusText(Text); }
    void SetSaveAsEnabled(bool Enabled) override { view_.SetSaveAsEnabled(Enabled); }
    bool StopRequested() const override { return stop_; }
    void SectorRetried(int Sector) override { view_.SectorRetried(Sector); }

private:
    TDeviceRunView& view_;
    const bool& stop_;
};

TDeviceRun::TDeviceRun(TVaCustomComm& Port, TDeviceRunView& View) : port_(Port), view_(View) {}

void TDeviceRun::ClosePortQuietly() {
    try {
        port_.Close();
    } catch (...) {
        // Failures while closing the port change nothing for the operator.
    }
}

bool TDeviceRun::SetUpPort() {
    try {
        port_.Close();
        port_.SetMonitorEvents(TVaCommEvents{ceRxChar});
        port_.SetPortNum(view_.SelectedPortIndex() + 1);
        port_.Open();
        portError_.clear();
        return true;
    } catch (...) {
        portError_ = ExceptionMessage(std::current_exception());
        ShowMessageBox(QStringLiteral("Не могу открыть порт"), QStringLiteral("Ошибка"),
                       MsgIcon::Error);
        ClosePortQuietly();
        return false;
    }
}

void TDeviceRun::WaitForDevice(const QString& ModeText) {
    view_.SetModeText(ModeText);
    view_.CentreProgressWindow();
    view_.SetAnimation(raFindComputer);
    view_.SetStatusText(TextSearching);
    view_.ShowProgressModal();
}

void TDeviceRun::StartRead() {
    // The window is disabled during a hidden transfer; a call that still gets here must
    // not close the port under it.
    if (transferring_)
        return;
    view_.SetProgressPosition(0);
    if (!SetUpPort())
        return;
    OperationMode = 1;
    WaitForDevice(TextModeRead);
}

void TDeviceRun::StartWrite() {
    if (transferring_)
        return;
    view_.SetProgressPosition(0);
    if (!ProgramLoaded) {
        ShowMessageBox(QStringLiteral("Программа не загружена"), QStringLiteral("Программатор"),
                       MsgIcon::Warning);
        return;
    }
    if (!SetUpPort())
        return;
    OperationMode = view_.WriteWithCheck() ? 3 : 2;
    WaitForDevice(TextModeWrite);
}

void TDeviceRun::Received() {
    if (transferring_)
        return;
    QByteArray text;
    port_.ReadText(text);
    // The announcement: a short burst with "!" somewhere in it. Anything else is
    // consumed and the run keeps waiting.
    if (text.isEmpty() || text.size() > 3 || !text.contains(AckChar))
        return;

    transferring_ = true;
    stopRequested_ = false;
    const bool hidden = !view_.ProgressWindowShown();
    if (hidden)
        view_.SetMainWindowBusy(true);
    view_.SetAnimation(raFindFile);
    view_.SetCloseEnabled(false);
    TSink sink(view_, stopRequested_);
    const bool reading = OperationMode == 1;
    std::exception_ptr failure;
    try {
        if (reading) {
            view_.SetStatusText(TextReading);
            ReadProgram(port_, sink);
        } else {
            view_.SetStatusText(TextWriting);
            WriteProgram(port_, sink);
        }
    } catch (...) {
        // The port failed under the transfer: end it like a failed sector, so the
        // window can be closed and the port is released, then show the error.
        failure = std::current_exception();
        if (reading) {
            DeviceImageValid = false;
            view_.SetSaveAsEnabled(false);
        }
        view_.SetStatusText(reading ? TextReadError : TextWriteError);
    }
    ClosePortQuietly();
    view_.SetAnimation(raNone);
    view_.SetCloseEnabled(true);
    if (hidden)
        view_.SetMainWindowBusy(false);
    transferring_ = false;
    if (failure)
        ReportException(failure);
}

void TDeviceRun::MainWindowClosing() {
    if (transferring_) {
        // The transfer stops at its next sector and closes the port on its way out.
        stopRequested_ = true;
        return;
    }
    ClosePortQuietly();
}
