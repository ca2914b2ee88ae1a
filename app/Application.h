#pragma once
// The application object: an error that escapes the handling of any event (a window
// message, a queued or blocking cross-thread call) goes to the general error report and
// the message loop carries on.

#include <QApplication>

class TApplication : public QApplication {
    Q_OBJECT
public:
    TApplication(int& argc, char** argv);
    bool notify(QObject* receiver, QEvent* event) override;
};
