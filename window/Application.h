#pragma once
// The application object of the window program: an error that escapes the handling of
// any event (a window message, a queued or blocking cross-thread call) goes to the general
// error report and the message loop carries on. While it exists, message boxes are the
// real ones.

#include "base/MessageBox.h"

#include <QApplication>

class TApplication : public QApplication {
    Q_OBJECT
public:
    TApplication(int& argc, char** argv);
    ~TApplication() override;
    bool notify(QObject* receiver, QEvent* event) override;

private:
    MessageBoxHandler previousBox_;
};
