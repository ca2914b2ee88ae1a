#include "ui/DeviceRunWindows.h"

#include "base/ErrorReport.h"
#include "ui/NoticeBox.h"
#include "ui/fMain.h"
#include "ui/fSearsh.h"

#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QToolButton>
#include <utility>

TDeviceRunWindows::TDeviceRunWindows(TformMain* Main, TVaCustomComm& Port)
    : QObject(Main), main_(Main), link_(Port), run_(link_, *this) {
    setObjectName(QStringLiteral("DeviceRunWindows"));
}

int TDeviceRunWindows::SelectedPortIndex() const {
    return main_->cbPort->currentIndex();
}

bool TDeviceRunWindows::WriteWithCheck() const {
    return main_->cbCheck->Checked();
}

void TDeviceRunWindows::SetModeText(const QString& Text) {
    formSearsh->stRezim->setText(Text);
}

void TDeviceRunWindows::SetAnimation(TRunAnimation Animation) {
    static constexpr TCommonAVI clips[] = {aviNone, aviFindComputer, aviFindFile};
    formSearsh->Animate1->SetActive(false);
    formSearsh->Animate1->SetCommonAVI(clips[Animation]);
    if (Animation != raNone)
        formSearsh->Animate1->SetActive(true);
}

void TDeviceRunWindows::SetCloseEnabled(bool Enabled) {
    formSearsh->BtnCancel->setEnabled(Enabled);
}

void TDeviceRunWindows::CentreProgressWindow() {
    formSearsh->CentreOver(main_);
}

void TDeviceRunWindows::ShowProgressModal() {
    formSearsh->ShowModal();
}

bool TDeviceRunWindows::ProgressWindowShown() const {
    return formSearsh->isVisible();
}

void TDeviceRunWindows::SetMainWindowBusy(bool Busy) {
    if (!Busy) {
        for (const QPointer<QWidget>& window : std::exchange(disabled_, {}))
            if (window)
                window->setEnabled(true);
        return;
    }
    // The main window and whatever was left open above it when the device announced
    // itself (a file dialog, a message box, the help window): the transfer runs inside
    // that window's modal loop, and anything the operator started from it (a dialog, a
    // context menu) would run a loop of its own and hold the transfer until it closed.
    for (QWidget* window : QApplication::topLevelWidgets()) {
        if (window == formSearsh || !window->isEnabled() || window->windowType() == Qt::ToolTip)
            continue;
        if (window == main_ || window->isVisible()) {
            window->setEnabled(false);
            disabled_.append(window);
        }
    }
}

void TDeviceRunWindows::SetProgressRange(int Min, int Max) {
    formSearsh->ProgressBar1->SetMin(Min);
    formSearsh->ProgressBar1->SetMax(Max);
}

void TDeviceRunWindows::SetProgressPosition(int Position) {
    formSearsh->ProgressBar1->SetPosition(Position);
}

void TDeviceRunWindows::SetStatusText(const QString& Text) {
    formSearsh->stInfo->setText(Text);
}

void TDeviceRunWindows::SetSaveAsEnabled(bool Enabled) {
    main_->BtnSaveAs->setEnabled(Enabled);
}

void TDeviceRunWindows::ShowNotice(const TNotice& Notice) {
    ShowNoticeBox(Notice);
}

void TDeviceRunWindows::ReportFailure(std::exception_ptr Error) {
    ReportException(Error);
}
