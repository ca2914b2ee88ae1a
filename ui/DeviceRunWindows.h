#pragma once
// The device run's view on the real windows: the main window's port list, check box
// and Save As button, and the progress window (formSearsh) with its texts, bar,
// animation and Close button.

#include "programmer/DeviceLink.h"
#include "programmer/DeviceRun.h"

#include <QList>
#include <QObject>
#include <QPointer>

class TformMain;
class TVaCustomComm;

class TDeviceRunWindows : public QObject, public TDeviceRunView {
    Q_OBJECT
public:
    TDeviceRunWindows(TformMain* Main, TVaCustomComm& Port);
    TDeviceRun& Run() { return run_; }

    int SelectedPortIndex() const override;
    bool WriteWithCheck() const override;
    void SetModeText(const QString& Text) override;
    void SetAnimation(TRunAnimation Animation) override;
    void SetCloseEnabled(bool Enabled) override;
    void CentreProgressWindow() override;
    void ShowProgressModal() override;
    bool ProgressWindowShown() const override;
    void SetMainWindowBusy(bool Busy) override;
    void SetProgressRange(int Min, int Max) override;
    void SetProgressPosition(int Position) override;
    void SetStatusText(const QString& Text) override;
    void SetSaveAsEnabled(bool Enabled) override;
    void ShowNotice(const TNotice& Notice) override;
    void ReportFailure(std::exception_ptr Error) override;

private:
    TformMain* main_;
    TCommLink link_;
    TDeviceRun run_;
    QList<QPointer<QWidget>> disabled_; // by SetMainWindowBusy, to enable again
};
