// Opening and closing against real pseudo-terminals, and the settings seen on the line.
#include "base/CoreApplication.h"
#include "base/ErrorReport.h"
#include "tests/comm/CommTestHelpers.h"

#include <QElapsedTimer>
#include <QProcess>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <unistd.h>

namespace {
// Set in a child run of this test that must start with no opening made.
const char* const FreshProcess = "VENDRIK_TEST_FRESH_PROCESS";

QList<int> OpenDescriptors() {
    QList<int> fds;
    for (const QString& n : QDir(QStringLiteral("/proc/self/fd"))
                                .entryList(QDir::System | QDir::AllEntries | QDir::NoDotAndDotDot))
        if (fcntl(n.toInt(), F_GETFD) != -1) // not the listing's own
            fds.append(n.toInt());
    std::sort(fds.begin(), fds.end());
    return fds;
}

// Lowers RLIMIT_NOFILE so that exactly Room more descriptors can be opened; restores it.
class DescriptorLimit {
public:
    explicit DescriptorLimit(int Room) {
        getrlimit(RLIMIT_NOFILE, &saved_);
        const QList<int> used = OpenDescriptors();
        int limit = 0;
        for (int free = 0;; ++limit) {
            if (used.contains(limit))
                continue;
            if (free++ == Room)
                break;
        }
        rlimit lowered{rlim_t(limit), saved_.rlim_max};
        ok = setrlimit(RLIMIT_NOFILE, &lowered) == 0;
    }
    ~DescriptorLimit() { setrlimit(RLIMIT_NOFILE, &saved_); }
    bool ok = false;

private:
    rlimit saved_{};
};
} // namespace

class TestVaCommOpen : public QObject {
    Q_OBJECT
private slots:
    void init() { VaCommTesting::SetClosePause(300); }

    void openOfMissingDeviceReportsNotFoundAndLeavesPortClosed_data() {
        QTest::addColumn<QString>("deviceName");
        QTest::addColumn<QString>("message");
        QTest::newRow("dangling COM link") << "COM%d"
                                           << "Specified device not found (COM9).";
        QTest::newRow("missing path") << "/nonexistent/tty%d"
                                      << "Specified device not found (/nonexistent/tty9).";
    }
    void openOfMissingDeviceReportsNotFoundAndLeavesPortClosed() {
        QFETCH(QString, deviceName);
        QFETCH(QString, message);
        TempConfigHome home;
        home.linkComPort(9, "/nonexistent/device");
        TVaComm c;
        c.SetDeviceName(deviceName);
        c.SetPortNum(9);
        try {
            c.Open();
            QFAIL("Open succeeded");
        } catch (const EVaCommError& e) {
            QCOMPARE(e.Message(), message);
        }
        QVERIFY(!c.IsOpen());
        QCOMPARE(VaCommTesting::LiveThreads(), 0);
    }

    void openAfterFailedOpenSucceeds() {
        PortOnPty p;
        p.port.SetPortNum(7);
        QVERIFY_THROWS_EXCEPTION(EVaCommError, p.port.Open());
        p.port.SetPortNum(1);
        p.port.Open();
        QVERIFY(p.port.IsOpen());
        VaCommTesting::SetClosePause(0);
        p.port.Close();
        QVERIFY(WaitForLinkThreads());
    }

    void secondPortOnHeldDeviceIsRefused() {
        PortOnPty p;
        p.port.Open();
        TVaComm other;
        other.SetPortNum(1);
        try {
            other.Open();
            QFAIL("second Open succeeded");
        } catch (const EVaCommError& e) {
            QCOMPARE(
                e.Message(),
                QString("Can't open specified device COM1 (Error 16, Device or resource busy)"));
        }
        QVERIFY(!other.IsOpen());
        // Once the first lets go, the second gets in at once.
        VaCommTesting::SetClosePause(0);
        p.port.Close();
        other.Open();
        QVERIFY(other.IsOpen());
        other.Close();
        QVERIFY(WaitForLinkThreads());
    }

    void deviceLockedThroughAnotherOpeningIsRefused() {
        PortOnPty p;
        // What another program holding the device does: its own opening, locked.
        const int other = ::open(p.pty.slavePath.toLocal8Bit().constData(), O_RDWR | O_NOCTTY);
        QVERIFY(other >= 0);
        QCOMPARE(::flock(other, LOCK_EX | LOCK_NB), 0);
        try {
            p.port.Open();
            QFAIL("Open succeeded");
        } catch (const EVaCommError& e) {
            QCOMPARE(e.Message(), QString("Can't open specified device COM1 (Error 16, Device or "
                                          "resource busy)"));
        }
        // Refused before anything about the terminal changed.
        QVERIFY(LineStateOf(other).valid);
        QVERIFY(!LineStateOf(other).exclusive);
        ::close(other);
        p.port.Open();
        QVERIFY(p.port.IsOpen());
        VaCommTesting::SetClosePause(0);
        p.port.Close();
        QVERIFY(WaitForLinkThreads());
    }

    void closeLeavesAHeldPortAsFound_data() {
        QTest::addColumn<bool>("foreignExclusive");
        QTest::addColumn<bool>("insideNotification");
        QTest::newRow("shared, closed by the program") << false << false;
        // The event thread still holds the opening: the device is retired, not closed.
        QTest::newRow("shared, closed inside a notification") << false << true;
        QTest::newRow("made exclusive by the other program") << true << false;
    }
    void closeLeavesAHeldPortAsFound() {
        QFETCH(bool, foreignExclusive);
        QFETCH(bool, insideNotification);
        if (foreignExclusive && !RunsAsRoot())
            QSKIP("only root opens a terminal another program made exclusive");
        VaCommTesting::SetClosePause(0);
        PortOnPty p;
        TForeignHolder other(p.pty.slavePath, B2400, foreignExclusive);
        QVERIFY(other.ok());
        const TLineState found = other.state();
        QVERIFY(found.valid && found.speed == B2400 && found.exclusive == foreignExclusive);

        TLineState whileOpen, afterClose;
        p.port.OnRxChar = [&](QObject*, int) {
            p.port.Close();
            afterClose = other.state();
        };
        p.port.Open();
        whileOpen = other.state();
        // The program's own settings reached the terminal, so the check below can fail.
        QVERIFY(whileOpen.exclusive);
        QCOMPARE(whileOpen.speed, unsigned(B57600));
        if (insideNotification) {
            QVERIFY(p.pty.send("!"));
            QTRY_VERIFY(!p.port.IsOpen());
        } else {
            p.port.Close();
            afterClose = other.state();
        }
        QCOMPARE(afterClose, found);
        QCOMPARE(other.state(), found);
        // Root passes TIOCEXCL: the later open is tried as an unprivileged user.
        QCOMPARE(UnprivilegedOpenError(p.pty.slavePath), foreignExclusive ? EBUSY : 0);
        QVERIFY(WaitForLinkThreads());
    }

    void deviceLockedByAnotherProcessIsRefused() {
#ifdef __SANITIZE_THREAD__
        QSKIP("the thread sanitizer does not support starting a process from a threaded one");
#endif
        PortOnPty p;
        QProcess holder;
        // --no-fork: the lock holder is the process we kill.
        holder.start("flock", {"--no-fork", "-x", p.pty.slavePath, "sleep", "5"});
        QVERIFY(holder.waitForStarted());
        // The lock is taken shortly after the process starts.
        QTRY_VERIFY_WITH_TIMEOUT(
            [&] {
                try {
                    p.port.Open();
                    VaCommTesting::SetClosePause(0);
                    p.port.Close();
                    return false;
                } catch (const EVaCommError& e) {
                    return e.Message().startsWith("Can't open specified device COM1 (Error 16,");
                }
            }(),
            3000);
        holder.kill();
        holder.waitForFinished();
        p.port.Open();
        QVERIFY(p.port.IsOpen());
        VaCommTesting::SetClosePause(0);
        p.port.Close();
        QVERIFY(WaitForLinkThreads());
    }

    void fileThatIsNoTerminalIsRefused() {
        TVaComm c;
        c.SetDeviceName("/dev/null");
        try {
            c.Open();
            QFAIL("Open succeeded");
        } catch (const EVaCommError& e) {
            QCOMPARE(e.Message(), QString("Can't open specified device /dev/null (Error 25, "
                                          "Inappropriate ioctl for device)"));
        }
    }

    void programSettingsReachTheLine() {
        PortOnPty p;
        p.port.EventChars()->SetEventChar('?');
        p.port.EventChars()->SetEofChar('?');
        p.port.Open();
        const termios2 t = LineSettings(p.pty);
        QCOMPARE(t.c_ospeed, 57600u);
        QCOMPARE(t.c_cflag & CBAUD, tcflag_t(B57600));
        QCOMPARE(t.c_cflag & CSIZE, tcflag_t(CS8));
        QCOMPARE(t.c_cflag & (PARENB | CSTOPB | CRTSCTS), tcflag_t(0));
        QCOMPARE(t.c_lflag & (ICANON | ECHO | ISIG), tcflag_t(0));
        QCOMPARE(t.c_oflag & OPOST, tcflag_t(0));
        QCOMPARE(t.c_iflag & (IXON | IXOFF | ICRNL | INPCK), tcflag_t(0));
        VaCommTesting::SetClosePause(0);
        p.port.Close();
        QVERIFY(WaitForLinkThreads());
    }

    void changesWhileOpenReachTheLineUnlessUpdateDcbIsOff() {
        PortOnPty p;
        p.port.Open();
        p.port.SetUserBaudrate(12345);
        QCOMPARE(LineSettings(p.pty).c_ospeed, 12345u);
        p.port.SetBaudrate(br9600);
        QCOMPARE(LineSettings(p.pty).c_ospeed, 9600u);
        // Storing an unchanged event character writes the block again.
        termios2 t = LineSettings(p.pty);
        t.c_cflag = (t.c_cflag & ~CBAUD) | B300;
        t.c_ospeed = t.c_ispeed = 300;
        QCOMPARE(::ioctl(p.pty.slave, TCSETS2, &t), 0);
        p.port.EventChars()->SetEofChar(p.port.EventChars()->EofChar());
        QCOMPARE(LineSettings(p.pty).c_ospeed, 9600u);
        VaCommTesting::SetClosePause(0);
        p.port.Close();

        // Closing put back the settings found; another program leaves the line at 9600.
        t.c_cflag = (t.c_cflag & ~CBAUD) | B9600;
        t.c_ospeed = t.c_ispeed = 9600;
        QCOMPARE(::ioctl(p.pty.slave, TCSETS2, &t), 0);
        p.port.SetUpdateDCB(false);
        p.port.Open();
        p.port.SetBaudrate(br115200);
        QCOMPARE(LineSettings(p.pty).c_ospeed, 9600u);
        p.port.Close();
        QVERIFY(WaitForLinkThreads());
    }

    void blockTheLineCannotCarryIsRefusedAndPortClosed() {
        PortOnPty p;
        p.port.SetDatabits(db4);
        try {
            p.port.Open();
            QFAIL("Open succeeded");
        } catch (const EVaCommError& e) {
            QCOMPARE(e.Message(), QString("Error writing dcb (22), Invalid argument"));
        }
        QVERIFY(!p.port.IsOpen());
        QVERIFY(WaitForLinkThreads());
        // The device was let go: another opener gets it.
        TVaComm other;
        other.SetPortNum(1);
        other.Open();
        // Refused while open, but the new value is kept.
        QVERIFY_THROWS_EXCEPTION(EVaCommError, other.SetDatabits(db4));
        QCOMPARE(other.Databits(), db4);
        VaCommTesting::SetClosePause(0);
        other.Close();
        QVERIFY(WaitForLinkThreads());
    }

    void settingsRefusedWhileOpenKeepOldValues() {
        PortOnPty p;
        p.port.Open();
        const auto refused = [](const std::function<void()>& change) {
            try {
                change();
            } catch (const EVaCommError& e) {
                return e.Message() == "Can't perform this operation while port is open";
            }
            return false;
        };
        TVaComm& c = p.port;
        QVERIFY(refused([&] { c.SetPortNum(3); }));
        QCOMPARE(c.PortNum(), 1);
        QVERIFY(refused([&] { c.SetDeviceName("X%d"); }));
        QCOMPARE(c.DeviceName(), QString("COM%d"));
        QVERIFY(refused([&] { c.SetMonitorEvents({}); }));
        QVERIFY(c.MonitorEvents() == TVaCommEvents{ceRxChar});
        QVERIFY(refused([&] { c.SetDirectWrite(true); }));
        QVERIFY(!c.DirectWrite());
        QVERIFY(refused([&] { c.SetUpdateDCB(false); }));
        QVERIFY(c.UpdateDCB());
        TVaBuffers other;
        other.SetReadSize(10);
        QVERIFY(refused([&] { c.SetBuffers(other); }));
        QCOMPARE(c.Buffers()->ReadSize(), 4096);
        QVERIFY(refused([&] { c.Open(); }));
        // A single buffer value is stored, then refused.
        QVERIFY(refused([&] { c.Buffers()->SetWriteSize(100); }));
        QCOMPARE(c.Buffers()->WriteSize(), 100);
        c.Buffers()->SetReadTimeout(50);
        QCOMPARE(c.Buffers()->ReadTimeout(), 50);
        VaCommTesting::SetClosePause(0);
        c.Close();
        c.SetPortNum(2);
        QCOMPARE(c.PortNum(), 2);
        QVERIFY(WaitForLinkThreads());
    }

    void closePausesOnlyWhenOpen() {
        PortOnPty p;
        int closed = 0;
        p.port.OnClose = [&](QObject* sender) {
            QCOMPARE(sender, &p.port);
            ++closed;
        };
        p.port.Open();
        QElapsedTimer t;
        t.start();
        p.port.Close();
        QVERIFY(t.elapsed() >= 300);
        QVERIFY(!p.port.IsOpen());
        QCOMPARE(closed, 1);
        t.restart();
        p.port.Close();
        QVERIFY(t.elapsed() < 100);
        QCOMPARE(closed, 1);
        QVERIFY(WaitForLinkThreads());
    }

    void openFailureOfHandlerIsReportedAndPortStaysOpen() {
        PortOnPty p;
        MessageRecorder boxes;
        SetApplicationTitle("Vendrik");
        p.port.OnOpen = [](QObject*) { throw EVaCommError("handler failed"); };
        p.port.Open();
        QVERIFY(p.port.IsOpen());
        QCOMPARE(boxes.boxes.size(), 1);
        QCOMPARE(boxes.boxes[0].text, QString("handler failed."));
        QCOMPARE(boxes.boxes[0].caption, QString("Vendrik"));
        VaCommTesting::SetClosePause(0);
        p.port.Close();
        QVERIFY(WaitForLinkThreads());
    }

    // An opening needs five wake-up descriptors and the device's own; the first one in
    // a process also makes the descriptor through which threads reach the user-interface
    // thread (tried in a fresh process of this test).
    void openAtDescriptorLimitFailsCleanlyOrWorks_data() {
        QTest::addColumn<int>("room");
        for (int room = 0; room <= 7; ++room)
            QTest::addRow("room for %d", room) << room;
    }
    void openAtDescriptorLimitFailsCleanlyOrWorks() {
        QFETCH(int, room);
#ifdef __SANITIZE_ADDRESS__
        // Its type checks probe memory through a pipe, which fails here, and then report
        // every checked object as of the wrong type.
        QSKIP("UndefinedBehaviorSanitizer needs descriptors of its own at the limit");
#endif
        const bool fresh = qEnvironmentVariableIsSet(FreshProcess);
        static bool opened = false; // in this process
        VaCommTesting::SetClosePause(0);
        PortOnPty p;
        if (!fresh) {
            p.port.Open();
            p.port.Close();
            QVERIFY(WaitForLinkThreads());
            opened = true;
        }
        const QList<int> before = OpenDescriptors();
        QString error;
        {
            DescriptorLimit limit(room);
            QVERIFY(limit.ok);
            try {
                p.port.Open();
            } catch (const EVaCommError& e) {
                error = e.Message();
            }
            if (error.isEmpty()) {
                // Works: and with no descriptor left for the placeholder, closing still
                // lets the device go once the threads have ended.
                QCOMPARE(VaCommTesting::LiveThreads(), 2);
                QCOMPARE(p.port.WriteBuf("abc", 3), 3);
                QCOMPARE(p.pty.receive(3, 2000), QByteArray("abc"));
                p.port.Close();
            }
        }
        QCOMPARE(error.isEmpty(), room >= (opened ? 6 : 7));
        if (!error.isEmpty()) {
            QCOMPARE(
                error,
                QStringLiteral("Can't open specified device COM1 (Error 24, Too many open files)"));
            QVERIFY(!p.port.IsOpen());
            QCOMPARE(VaCommTesting::LiveThreads(), 0);
            QCOMPARE(OpenDescriptors(), before);
        }
        QVERIFY(WaitForLinkThreads());
        // A notification the closed opening left queued lets go of it when served. The
        // first opening of the process leaves the one descriptor every opening shares.
        const qsizetype shared = !opened && error.isEmpty() ? 1 : 0;
        QTRY_COMPARE(OpenDescriptors().size(), before.size() + shared);
        // Nothing stuck: the port opens again once descriptors are available.
        p.port.Open();
        QVERIFY(p.port.IsOpen());
        opened = true;
        p.port.Close();
        QVERIFY(WaitForLinkThreads());
    }

    void firstOpeningAtDescriptorLimitFailsCleanlyOrWorks_data() {
        QTest::addColumn<int>("room");
        for (int room = 5; room <= 7; ++room)
            QTest::addRow("room for %d", room) << room;
    }
    void firstOpeningAtDescriptorLimitFailsCleanlyOrWorks() {
        QFETCH(int, room);
        QByteArray output;
        const int rc = RunChildProcess(
            QCoreApplication::applicationFilePath(),
            {QStringLiteral("openAtDescriptorLimitFailsCleanlyOrWorks:room for %1").arg(room)},
            {QByteArray(FreshProcess) + "=1"}, output);
        QVERIFY2(rc == 0, output.constData());
    }

    void threadsFollowEventsAndWriteMode_data() {
        QTest::addColumn<TVaCommEvents>("events");
        QTest::addColumn<bool>("direct");
        QTest::addColumn<quint32>("mask");
        QTest::addColumn<int>("threads");
        QTest::newRow("received characters, queued")
            << TVaCommEvents{ceRxChar} << false << quint32(EV_RXCHAR) << 2;
        QTest::newRow("none, queued") << TVaCommEvents{} << false << 0u << 1;
        QTest::newRow("tx empty, queued") << TVaCommEvents{ceTxEmpty} << false << 0u << 1;
        QTest::newRow("tx empty, direct")
            << TVaCommEvents{ceTxEmpty} << true << quint32(EV_TXEMPTY) << 1;
        QTest::newRow("defaults, direct") << TVaCommEvents{ceError, ceRxChar, ceTxEmpty} << true
                                          << quint32(EV_ERR | EV_RXCHAR | EV_TXEMPTY) << 1;
    }
    void threadsFollowEventsAndWriteMode() {
        QFETCH(TVaCommEvents, events);
        QFETCH(bool, direct);
        QFETCH(quint32, mask);
        QFETCH(int, threads);
        PortOnPty p;
        p.port.SetMonitorEvents(events);
        p.port.SetDirectWrite(direct);
        p.port.Open();
        QCOMPARE(p.port.EventMask(), mask);
        QCOMPARE(VaCommTesting::LiveThreads(), threads);
        VaCommTesting::SetClosePause(0);
        p.port.Close();
        QVERIFY(WaitForLinkThreads());
    }
};

int main(int argc, char** argv) {
    TCoreApplication app(argc, argv);
    TestVaCommOpen test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_vacommopen.moc"
