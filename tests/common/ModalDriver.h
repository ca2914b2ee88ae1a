#pragma once
// Drives modal windows without a person.

#include <QTimer>
#include <functional>

class QWidget;

// Polls QApplication::activeModalWidget() on a short timer and hands each modal window
// to a callback; a watchdog fails the run instead of letting a modal loop hang.
class ModalDriver {
public:
    // The callback decides what to do with the modal widget (close it, click a button, ...).
    explicit ModalDriver(std::function<void(QWidget*)> onModal, int pollMs = 10);
    ~ModalDriver();
    // After ms milliseconds every modal window is closed and `timedOut` becomes true.
    void setWatchdog(int ms);
    bool timedOut = false;

private:
    QTimer poll_;
    QTimer watchdog_;
    std::function<void(QWidget*)> onModal_;
};
