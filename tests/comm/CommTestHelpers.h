#pragma once
// Shared by the serial port tests: a port on a pseudo-terminal and small waits.

#include "comm/VaComm.h"
#include "comm/VaCommTesting.h"
#include "tests/common/TestSupport.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QThread>
#include <QtTest/QTest>

#include <asm/termbits.h>
#include <sys/ioctl.h>

// The terminal settings the port left on the line, read from the test's side.
inline termios2 LineSettings(const PtyPair& pty) {
    termios2 t{};
    ::ioctl(pty.slave, TCGETS2, &t);
    return t;
}

// Waits (serving events) until no thread of the link is left; false after 5 s.
inline bool WaitForLinkThreads(int count = 0) {
    QDeadlineTimer deadline(5000);
    while (VaCommTesting::LiveThreads() != count && !deadline.hasExpired()) {
        QCoreApplication::processEvents();
        QThread::msleep(2);
    }
    return VaCommTesting::LiveThreads() == count;
}

inline int CountEntries(const QString& dir) {
    return int(QDir(dir).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System).size());
}

inline QByteArray Pattern(int n, int seed = 0) {
    QByteArray b(n, '\0');
    for (int i = 0; i < n; ++i)
        b[i] = char((i * 7 + seed) & 0xFF);
    return b;
}

// A port set up as the program uses it, on COM1 linked to a fresh pseudo-terminal.
struct PortOnPty {
    TempConfigHome home;
    PtyPair pty;
    TVaComm port;
    PortOnPty() {
        home.linkComPort(1, pty.slavePath);
        port.SetPortNum(1);
        port.SetBaudrate(br57600);
        port.SetMonitorEvents({ceRxChar});
    }
};

#include <ctime>
#include <fcntl.h>
#include <unistd.h>

// Fills the line towards the far end until it takes no more, so the port's writes stall.
inline void StallLine(PtyPair& pty) {
    ::fcntl(pty.slave, F_SETFL, ::fcntl(pty.slave, F_GETFL) | O_NONBLOCK);
    char block[4096] = {};
    while (::write(pty.slave, block, sizeof block) > 0) {
    }
}

// Processor time of the whole process, in milliseconds.
inline double ProcessCpuMs() { return double(std::clock()) * 1000.0 / CLOCKS_PER_SEC; }

// Serves events in short steps until Done() holds; false after Ms.
template <typename F>
bool ServeUntil(F Done, int Ms = 5000) {
    QDeadlineTimer deadline(Ms);
    while (!Done()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents);
        QThread::usleep(500);
    }
    return true;
}
