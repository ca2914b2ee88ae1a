#pragma once
// The end of the operator's session closes the program as closing the main window does:
// SIGINT, SIGTERM, SIGHUP (a logout, `systemctl --user stop`, a shutdown, a closed
// terminal) and the X11 session manager's save request. The settings are saved and the
// port is closed; a transfer first stops at its next sector. From then on no message box
// waits for the operator: boxes (a failed save among them) go to standard error, and
// any modal window still open (a box, a file dialog, the progress or help window) ends
// as if dismissed. The program asks the session manager not to restart it.

#include "platform/StopSignals.h"

#include "base/MessageBox.h"

#include <QObject>
#include <QTimer>

class QSessionManager;
class QSocketNotifier;

class TSessionEnd : public QObject {
    Q_OBJECT
public:
    // Catches the stop signals from here on (the previous handlers come back with the
    // destructor) and answers the session manager.
    TSessionEnd();
    ~TSessionEnd() override;

    // QApplication::exec(), unless the session ended before the loop was entered (while
    // a box of the start-up was open): the main window is then closed at once. Returns
    // the program's exit code, 0.
    int RunMessageLoop();

    // What a stop signal and the save request do.
    void End();
    bool Ending() const { return ending_; }

private:
    void SaveRequested(QSessionManager& manager);
    void QuitOnceTransferEnded();

    TStopSignals signals_;
    QSocketNotifier* notifier_ = nullptr;
    QTimer transferDone_;
    MessageBoxHandler previousBox_;
    bool ending_ = false;
    bool loopRunning_ = false;
};
