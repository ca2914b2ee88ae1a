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

#include "programmer/FrameProtocol.h"

#include <QString>

class TVaCustomComm;

// 1 read, 2 write, 3 write with check (2 and 3 behave alike).
extern int OperationMode;

enum TRunAnimation { raNone, raFindComputer, raFindFile };

// What a device run needs from the windows.
class TDeviceRunView : public TProgressSink {
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
};

class TDeviceRun {
public:
    TDeviceRun(TVaCustomComm& Port, TDeviceRunView& View);

    void StartRead();         // BtnReadClick
    void StartWrite();        // BtnWriteClick
    void Received();          // VaComm1RxChar
    void MainWindowClosing(); // FormClose
    bool TransferRunning() const { return transferring_; }
    // Why the port of the last run start did not open (the link's own text); empty
    // when it opened.
    const QString& PortErrorText() const { return portError_; }

private:
    class TSink;
    bool SetUpPort();
    void ClosePortQuietly();
    void WaitForDevice(const QString& ModeText);

    TVaCustomComm& port_;
    TDeviceRunView& view_;
    bool transferring_ = false;
    bool stopRequested_ = false;
    QString portError_;
};

// Window texts of a device run.
extern const QString TextSearching; // "Поиск прибора..."
extern const QString TextReading;   // "Идет считывание..."
extern const QString TextWriting;   // "Идет запись..."
extern const QString TextModeRead;  // "Режим: Чтение данных"
extern const QString TextModeWrite; // "Режим: Запись данных"
