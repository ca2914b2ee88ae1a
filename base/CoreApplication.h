#pragma once
// The application object of a program without windows: as in the window program's, an
// error that escapes the handling of any event (a queued or blocking cross-thread call, a
// timer) goes to the general error report and the event loop carries on.

#include <QCoreApplication>

class TCoreApplication : public QCoreApplication {
    Q_OBJECT
public:
    TCoreApplication(int& argc, char** argv);
    bool notify(QObject* receiver, QEvent* event) override;
};
