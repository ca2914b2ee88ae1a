#include "tests/common/ModalDriver.h"

#include <QApplication>
#include <QWidget>

ModalDriver::ModalDriver(std::function<void(QWidget*)> onModal, int pollMs)
    : onModal_(std::move(onModal)) {
    poll_.setInterval(pollMs);
    QObject::connect(&poll_, &QTimer::timeout, [this] {
        if (QWidget* w = QApplication::activeModalWidget())
            onModal_(w);
    });
    poll_.start();
    watchdog_.setSingleShot(true);
    QObject::connect(&watchdog_, &QTimer::timeout, [this] {
        timedOut = true;
        while (QWidget* w = QApplication::activeModalWidget()) {
            w->close();
            QApplication::processEvents();
            if (QApplication::activeModalWidget() == w)
                break;
        }
    });
}

ModalDriver::~ModalDriver() = default;

void ModalDriver::setWatchdog(int ms) {
    watchdog_.start(ms);
}
