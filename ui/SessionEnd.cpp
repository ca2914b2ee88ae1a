#include "ui/SessionEnd.h"

#include "ui/fMain.h"

#include <QApplication>
#include <QSessionManager>
#include <QSocketNotifier>

#include <cstdio>

namespace {
constexpr int TransferPollMs = 20;
}

TSessionEnd::TSessionEnd() {
    if (signals_.Install()) {
        notifier_ = new QSocketNotifier(signals_.Descriptor(), QSocketNotifier::Read, this);
        connect(notifier_, &QSocketNotifier::activated, this, [this] {
            if (signals_.Take())
                End();
        });
    } else {
        std::fputs("Vendrik: the stop signals cannot be caught\n", stderr);
    }
    // The program keeps no state a new session could resume: it is not started again.
    const auto never = [](QSessionManager& manager) {
        manager.setRestartHint(QSessionManager::RestartNever);
    };
    connect(qApp, &QGuiApplication::saveStateRequest, this, never, Qt::DirectConnection);
    connect(
        qApp, &QGuiApplication::commitDataRequest, this,
        [this](QSessionManager& manager) { SaveRequested(manager); }, Qt::DirectConnection);
    transferDone_.setInterval(TransferPollMs);
    connect(&transferDone_, &QTimer::timeout, this, [this] { QuitOnceTransferEnded(); });
}

TSessionEnd::~TSessionEnd() {
    if (ending_)
        SetMessageBoxHandler(std::move(previousBox_));
}

int TSessionEnd::RunMessageLoop() {
    if (ending_) {
        if (formMain)
            formMain->close();
        return 0;
    }
    loopRunning_ = true;
    QApplication::exec();
    loopRunning_ = false;
    return 0;
}

void TSessionEnd::SaveRequested(QSessionManager& manager) {
    manager.setRestartHint(QSessionManager::RestartNever);
    End();
}

void TSessionEnd::End() {
    if (ending_)
        return;
    ending_ = true;
    previousBox_ = SetMessageBoxHandler(WriteMessageBoxToLog);
    if (!loopRunning_) {
        // A box of the start-up is open: its loop ends, and RunMessageLoop closes the main
        // window instead of entering the loop.
        QCoreApplication::exit(0);
        return;
    }
    // Saves the settings and closes the port, or tells a transfer to stop at its next
    // sector; it then closes the port itself.
    if (formMain)
        formMain->close();
    QuitOnceTransferEnded();
}

void TSessionEnd::QuitOnceTransferEnded() {
    // Quitting ends every modal loop at once, and a loop started later returns at once:
    // the transfer's waits between sectors must not meet that.
    if (formMain && formMain->TransferRunning()) {
        transferDone_.start();
        return;
    }
    transferDone_.stop();
    QCoreApplication::exit(0);
}
