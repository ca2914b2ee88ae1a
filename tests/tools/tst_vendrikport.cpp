// The port helper run as the operator runs it, against pseudo-terminals and a made-up
// /sys, /dev and /proc: what it lists, maps, diagnoses and refuses, and its loopback test.

#include "platform/SerialDevice.h"
#include "tests/common/TestSupport.h"
#include "tests/tools/FakeSystem.h"
#include "tools/vendrik-port/ExitCodes.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <atomic>
#include <cerrno>
#include <grp.h>
#include <poll.h>
#include <sys/stat.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

namespace {
struct Run {
    int code = -1;
    QString out;
    QString err;
};

Run RunTool(const QStringList& args, const QProcessEnvironment& env,
            std::function<void()> childSetup = {},
            const QString& program = QStringLiteral(VENDRIK_PORT_BIN)) {
    QProcess p;
    p.setProcessEnvironment(env);
    if (childSetup)
        p.setChildProcessModifier(childSetup);
    p.start(program, args);
    Run r;
    if (!p.waitForFinished(30000)) {
        p.kill();
        p.waitForFinished();
        r.err = QStringLiteral("timed out");
        return r;
    }
    r.code = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.out = QString::fromUtf8(p.readAllStandardOutput());
    r.err = QString::fromUtf8(p.readAllStandardError());
    return r;
}

const QFile::Permissions Reachable = QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner |
                                     QFile::ReadGroup | QFile::ExeGroup | QFile::ReadOther |
                                     QFile::ExeOther;

// The build tree may lie in a folder only its owner can enter: a copy of the helper in a
// folder an unprivileged user can reach.
QString ReachableCopy(const QTemporaryDir& binDir) {
    const QString program = binDir.filePath(QStringLiteral("vendrik-port"));
    if (!QFile::setPermissions(binDir.path(), Reachable) ||
        !QFile::copy(QStringLiteral(VENDRIK_PORT_BIN), program) ||
        !QFile::setPermissions(program, Reachable))
        return {};
    return program;
}

void BecomeNobody() {
    // nobody:nogroup, with no supplementary groups
    if (::setgroups(0, nullptr) != 0 || ::setgid(65534) != 0 || ::setuid(65534) != 0)
        ::_exit(99);
}

// Control characters that would act on a terminal.
bool HasTerminalControls(const QString& text) {
    for (const QChar c : text)
        if (c == u'\x1b' || c == u'\x07' || c == u'\x9b')
            return true;
    return false;
}

QString LinkOf(const TempConfigHome& home, int n) {
    return home.vendrikDir() + QStringLiteral("/dosdevices/com%1").arg(n);
}

// The far side of a loopback plug on a pseudo-terminal's master: echoes what arrives,
// or mangles it as a faulty cable would.
class FarEnd {
public:
    enum Mode { Echo, Corrupt, Drop, Late, Silent };
    FarEnd(int master, Mode mode) : master_(master), mode_(mode), thread_([this] { loop(); }) {}
    ~FarEnd() {
        stop_ = true;
        thread_.join();
    }

private:
    void loop() {
        qint64 total = 0;
        while (!stop_) {
            pollfd p{master_, POLLIN, 0};
            if (::poll(&p, 1, 20) <= 0)
                continue;
            char buf[1024];
            const ssize_t n = ::read(master_, buf, sizeof buf);
            if (n <= 0) {
                ::poll(nullptr, 0, 5); // the slave side is closed between runs
                continue;
            }
            QByteArray back(buf, n);
            if (mode_ == Silent)
                continue;
            if (mode_ == Corrupt && total <= 300 && total + n > 300)
                back[300 - total] = char(back[300 - total] ^ 0x10);
            if (mode_ == Drop && total <= 100 && total + n > 100)
                back.remove(100 - total, 1);
            total += n;
            if (mode_ == Late) {
                // Whole frames, each held back well past the device's reply time.
                pending_ += back;
                if (pending_.size() < 260)
                    continue;
                back = pending_.left(260);
                pending_.remove(0, 260);
                ::poll(nullptr, 0, 150);
            }
            for (qsizetype done = 0; done < back.size();) {
                const ssize_t w =
                    ::write(master_, back.constData() + done, size_t(back.size() - done));
                if (w > 0)
                    done += w;
                else
                    ::poll(nullptr, 0, 1);
            }
        }
    }
    QByteArray pending_;
    int master_;
    Mode mode_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};
} // namespace

Q_DECLARE_METATYPE(FarEnd::Mode)

class TestVendrikPort : public QObject {
    Q_OBJECT
private slots:
    void helpListsCommandsAndExitCodes();
    void exitCodesListedAsTheTableHasThem_data();
    void exitCodesListedAsTheTableHasThem();
    void refusesBadCommandLines_data();
    void refusesBadCommandLines();
    void listShowsPortsAndMappings();
    void mapPrefersStableNameAndRefusesWhatIsNoPort_data();
    void mapPrefersStableNameAndRefusesWhatIsNoPort();
    void mapReplacesAndUnmapRemoves();
    void mapAndUnmapLeaveAForeignFileAlone();
    void checkDiagnoses_data();
    void checkDiagnoses();
    void checkLeavesAPortAnotherProgramHoldsAsFound_data();
    void checkLeavesAPortAnotherProgramHoldsAsFound();
    void checkOpensAPortNobodyHolds();
    void namesFromTheSystemArePrintedHarmless();
    void udevRuleMatchesTheAdapter_data();
    void udevRuleMatchesTheAdapter();
    void udevRefusesWhatNoRuleFits_data();
    void udevRefusesWhatNoRuleFits();
    void udevInstallWritesTheRuleAndAppliesIt_data();
    void udevInstallWritesTheRuleAndAppliesIt();
    void checkExplainsPermissionToAnUnprivilegedUser();
    void loopback_data();
    void loopback();
};

void TestVendrikPort::helpListsCommandsAndExitCodes() {
    const Run r = RunTool({QStringLiteral("--help")}, QProcessEnvironment::systemEnvironment());
    QCOMPARE(r.code, 0);
    for (const char* word : {"list", "map N", "unmap N", "check N", "udev N [--install]", "uaccess",
                             "loopback N", "Коды завершения"})
        QVERIFY2(r.out.contains(QString::fromUtf8(word)), word);
}

void TestVendrikPort::exitCodesListedAsTheTableHasThem_data() {
    QTest::addColumn<QStringList>("listed");
    const Run help = RunTool({QStringLiteral("--help")}, QProcessEnvironment::systemEnvironment());
    QTest::newRow("--help") << HelpExitCodes(help.out);
    QTest::newRow("manual page") << ManPageExitCodes(VENDRIK_MAN_DIR "/vendrik-port.1");
}

void TestVendrikPort::exitCodesListedAsTheTableHasThem() {
    QFETCH(QStringList, listed);
    QCOMPARE(listed, ExitCodeLines(PortExitCodeMeanings()));
}

void TestVendrikPort::refusesBadCommandLines_data() {
    QTest::addColumn<QStringList>("args");
    QTest::newRow("no command") << QStringList{};
    QTest::newRow("unknown command") << QStringList{"flash"};
    QTest::newRow("check without number") << QStringList{"check"};
    QTest::newRow("check 0") << QStringList{"check", "0"};
    QTest::newRow("check 9") << QStringList{"check", "9"};
    QTest::newRow("check word") << QStringList{"check", "one"};
    QTest::newRow("check COM9") << QStringList{"check", "COM9"};
    QTest::newRow("loopback 9") << QStringList{"loopback", "9"};
    QTest::newRow("map 9") << QStringList{"map", "9", "/dev/ttyS0"};
    QTest::newRow("map without device") << QStringList{"map", "1"};
    QTest::newRow("unmap 0") << QStringList{"unmap", "0"};
    QTest::newRow("list with argument") << QStringList{"list", "1"};
    QTest::newRow("udev without number") << QStringList{"udev", "--install"};
    QTest::newRow("udev 9") << QStringList{"udev", "9"};
}

void TestVendrikPort::refusesBadCommandLines() {
    QFETCH(QStringList, args);
    TempConfigHome home;
    const Run r = RunTool(args, QProcessEnvironment::systemEnvironment());
    QCOMPARE(r.code, 2);
    QVERIFY(r.out.isEmpty());
    QVERIFY(r.err.contains(QStringLiteral("vendrik-port --help")));
    QVERIFY(!QFileInfo::exists(home.vendrikDir() + QStringLiteral("/dosdevices")));
}

void TestVendrikPort::listShowsPortsAndMappings() {
    PtyPair pty;
    QVERIFY(pty.ok());
    FakeSystem sys;
    const QString byId = QStringLiteral("usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0");
    sys.addUsbPort(QStringLiteral("ttyUSB0"), pty.slavePath, byId);
    sys.addUartPort(QStringLiteral("ttyS0"), 4, QStringLiteral("file"));
    sys.addUartPort(QStringLiteral("ttyS1"), 0, QStringLiteral("file"));
    TempConfigHome home;
    QVERIFY(home.linkComPort(1, sys.dev(QStringLiteral("serial/by-id/") + byId)));
    QVERIFY(home.linkComPort(2, sys.dev(QStringLiteral("ttyUSB5"))));

    const Run r = RunTool({QStringLiteral("list")}, sys.environment(true));
    QCOMPARE(r.code, 0);
    const QStringList lines = r.out.split(u'\n');
    const QString usbLine =
        lines.filter(sys.dev(QStringLiteral("ttyUSB0")) + QStringLiteral("  ")).value(0);
    for (const char* part : {"USB", "ftdi_sio", "FTDI FT232R USB UART", "0403:6001", "A50285BI"})
        QVERIFY2(usbLine.contains(QString::fromUtf8(part)), qPrintable(usbLine));
    QVERIFY(r.out.contains(QStringLiteral("постоянное имя: ") +
                           sys.dev(QStringLiteral("serial/by-id/") + byId)));
    QVERIFY(
        !lines.filter(sys.dev(QStringLiteral("ttyS0")) + QStringLiteral("  ")).value(0).isEmpty());
    QVERIFY2(lines.filter(QStringLiteral("serial8250")).size() == 1,
             qPrintable(r.out)); // ttyS1 has no UART
    QVERIFY(!r.out.contains(QStringLiteral("tty0")));

    const QString com1 = lines.filter(QStringLiteral("COM1 ")).value(0);
    QVERIFY2(com1.contains(QStringLiteral("-> ") + sys.dev(QStringLiteral("ttyUSB0"))),
             qPrintable(com1));
    QVERIFY(!com1.contains(QStringLiteral("НЕТ")));
    QVERIFY(
        lines.filter(QStringLiteral("COM2 ")).value(0).contains(QStringLiteral("УСТРОЙСТВА НЕТ")));
    QVERIFY(lines.filter(QStringLiteral("COM3 "))
                .value(0)
                .contains(QStringLiteral("такого порта нет")));
    const QString com2 = lines.filter(QStringLiteral("COM2 ")).value(0);
    QVERIFY(com2.contains(sys.dev(QStringLiteral("ttyUSB5"))));
    for (int n = 1; n <= 8; ++n) // every port of the program, each once
        QCOMPARE(lines.filter(QStringLiteral("  COM%1  ").arg(n)).size(), 1);
}

void TestVendrikPort::mapPrefersStableNameAndRefusesWhatIsNoPort_data() {
    QTest::addColumn<QString>("device"); // "@" stands for the made-up /dev
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("linkTarget");
    const QString byId =
        QStringLiteral("@/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0");
    QTest::newRow("adapter by /dev name") << "@/ttyUSB0" << 0 << byId;
    QTest::newRow("adapter by short name") << "ttyUSB0" << 0 << byId;
    QTest::newRow("adapter by its by-id name") << byId << 0 << byId;
    QTest::newRow("adapter through /dev") << "/dev/ttyUSB0" << 0 << byId;
    QTest::newRow("built-in port has no by-id") << "@/ttyS0" << 0 << "@/ttyS0";
    QTest::newRow("pseudo-terminal") << "/dev/pts/7" << 0 << "@/pts/7";
    QTest::newRow("missing device refused") << "@/ttyUSB7" << 2 << QString();
    QTest::newRow("port without UART refused") << "@/ttyS1" << 2 << QString();
    QTest::newRow("plain file refused") << "@/notes" << 2 << QString();
    QTest::newRow("other character device refused") << "@/null" << 2 << QString();
}

void TestVendrikPort::mapPrefersStableNameAndRefusesWhatIsNoPort() {
    QFETCH(QString, device);
    QFETCH(int, code);
    QFETCH(QString, linkTarget);
    PtyPair usb, uart, none;
    QVERIFY(usb.ok() && uart.ok() && none.ok());
    FakeSystem sys;
    sys.addUsbPort(QStringLiteral("ttyUSB0"), usb.slavePath,
                   QStringLiteral("usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0"));
    sys.addUartPort(QStringLiteral("ttyS0"), 4, uart.slavePath);
    sys.addUartPort(QStringLiteral("ttyS1"), 0, none.slavePath);
    sys.addDevice(QStringLiteral("notes"), QStringLiteral("file"));
    sys.addDevice(QStringLiteral("null"), QStringLiteral("/dev/null"));
    sys.addDevice(QStringLiteral("pts/7"), none.slavePath);
    auto expand = [&](QString s) { return s.replace(u'@', sys.root(QStringLiteral("dev"))); };
    TempConfigHome home;
    const Run r = RunTool({QStringLiteral("map"), QStringLiteral("3"), expand(device)},
                          sys.environment(true));
    QCOMPARE(r.code, code);
    const QFileInfo link(LinkOf(home, 3));
    if (code != 0) {
        QVERIFY(!link.isSymLink() && !link.exists());
        QVERIFY(!r.err.isEmpty());
        return;
    }
    QVERIFY(link.isSymLink());
    QCOMPARE(link.symLinkTarget(), expand(linkTarget));
    QCOMPARE(r.out.trimmed(), QStringLiteral("COM3 -> ") + expand(linkTarget));
}

void TestVendrikPort::mapReplacesAndUnmapRemoves() {
    PtyPair a, b;
    QVERIFY(a.ok() && b.ok());
    TempConfigHome home;
    const QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    QCOMPARE(RunTool({"map", "2", a.slavePath}, env).code, 0);
    QCOMPARE(RunTool({"map", "2", b.slavePath}, env).code, 0);
    QCOMPARE(QFileInfo(LinkOf(home, 2)).symLinkTarget(), b.slavePath);
    QVERIFY(!QFileInfo::exists(LinkOf(home, 2) + QStringLiteral(".new")));
    QCOMPARE(QDir(home.vendrikDir() + QStringLiteral("/dosdevices"))
                 .entryList(QDir::System | QDir::AllEntries | QDir::NoDotAndDotDot),
             QStringList{"com2"});

    Run r = RunTool({"unmap", "2"}, env);
    QCOMPARE(r.code, 0);
    QVERIFY(r.out.contains(QStringLiteral("/dev/ttyS1")));
    QVERIFY(!QFileInfo(LinkOf(home, 2)).isSymLink());
    r = RunTool({"unmap", "2"}, env); // nothing to remove is no failure
    QCOMPARE(r.code, 0);
    QVERIFY(r.out.contains(QStringLiteral("и так не назначен")));
}

void TestVendrikPort::mapAndUnmapLeaveAForeignFileAlone() {
    PtyPair a;
    QVERIFY(a.ok());
    TempConfigHome home;
    QDir().mkpath(home.vendrikDir() + QStringLiteral("/dosdevices"));
    QFile f(LinkOf(home, 1));
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write("kept");
    f.close();
    const QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    QCOMPARE(RunTool({"map", "1", a.slavePath}, env).code, 2);
    QCOMPARE(RunTool({"unmap", "1"}, env).code, 2);
    QVERIFY(f.open(QIODevice::ReadOnly));
    QCOMPARE(f.readAll(), QByteArray("kept"));
}

void TestVendrikPort::checkDiagnoses_data() {
    QTest::addColumn<int>("com");
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("says");
    QTest::newRow("port in order") << 1 << 0 << "порт в порядке";
    QTest::newRow("mapping whose device is gone") << 2 << 1 << "а такого устройства сейчас нет";
    QTest::newRow("default ttyS missing") << 3 << 1 << "такого порта в системе нет";
    QTest::newRow("ttyS without UART") << 4 << 1 << "нет порта (микросхема UART не найдена)";
    QTest::newRow("not a terminal") << 5 << 1 << "не последовательный порт";
    QTest::newRow("USB port with ModemManager running")
        << 6 << 1 << "запущен ModemManager (pid 4242)";
    QTest::newRow("busy, ModemManager probing it")
        << 7 << 1 << "порт занят ModemManager (pid 4242)";
}

void TestVendrikPort::checkDiagnoses() {
    QFETCH(int, com);
    QFETCH(int, code);
    QFETCH(QString, says);
    PtyPair plain, usb, probed;
    QVERIFY(plain.ok() && usb.ok() && probed.ok());
    plain.closeSlave();
    usb.closeSlave();
    FakeSystem sys;
    sys.addUartPort(QStringLiteral("ttyS0"), 4, plain.slavePath);
    sys.addUartPort(QStringLiteral("ttyS3"), 0, probed.slavePath); // COM4: no UART
    sys.addUsbPort(QStringLiteral("ttyUSB0"), usb.slavePath, QStringLiteral("usb-x-if00"));
    sys.addUsbPort(QStringLiteral("ttyUSB1"), probed.slavePath, QStringLiteral("usb-y-if00"));
    sys.addDevice(QStringLiteral("notes"), QStringLiteral("file"));
    sys.addProcess(4242, QStringLiteral("ModemManager"), {probed.slavePath});
    TempConfigHome home;
    QVERIFY(home.linkComPort(2, sys.dev(QStringLiteral("ttyUSB9"))));
    QVERIFY(home.linkComPort(5, sys.dev(QStringLiteral("notes"))));
    QVERIFY(home.linkComPort(6, sys.dev(QStringLiteral("ttyUSB0"))));
    QVERIFY(home.linkComPort(7, sys.dev(QStringLiteral("ttyUSB1"))));
    // ModemManager "holds" COM7's terminal: here the test does, exclusively.
    TSerialDevice holder;
    QVERIFY(holder.Open(probed.slavePath));

    const Run r = RunTool({QStringLiteral("check"), QString::number(com)}, sys.environment(true));
    QCOMPARE(r.code, code);
    QCOMPARE(r.out.count(u'\n'), 1); // one line
    QVERIFY2(r.out.startsWith(QStringLiteral("COM%1").arg(com)), qPrintable(r.out));
    QVERIFY2(r.out.contains(says), qPrintable(r.out));
    // Opening and closing sends nothing: the far ends stay silent.
    QVERIFY(plain.drain(50).isEmpty());
    QVERIFY(usb.drain(0).isEmpty());
}

void TestVendrikPort::checkLeavesAPortAnotherProgramHoldsAsFound_data() {
    QTest::addColumn<bool>("exclusive"); // the other program made the terminal exclusive
    QTest::addColumn<bool>("hidden");    // the check cannot see the other program
    QTest::newRow("held, shared") << false << false;
    QTest::newRow("held exclusively") << true << false;
    // Not seen, so opened: closed again with the line as it was.
    QTest::newRow("held where the check cannot see it") << false << true;
    QTest::newRow("held exclusively where the check cannot see it") << true << true;
}

void TestVendrikPort::checkLeavesAPortAnotherProgramHoldsAsFound() {
    QFETCH(bool, exclusive);
    QFETCH(bool, hidden);
    if (exclusive && hidden && !RunsAsRoot())
        QSKIP("only root opens a terminal another program made exclusive");
    PtyPair pty;
    QVERIFY(pty.ok());
    pty.closeSlave();
    TempConfigHome home;
    QVERIFY(home.linkComPort(1, pty.slavePath));
    FakeSystem sys; // its empty /proc hides every process
    const QProcessEnvironment env =
        hidden ? sys.environment(true) : QProcessEnvironment::systemEnvironment();
    TForeignHolder other(pty.slavePath, B2400, exclusive);
    QVERIFY(other.ok());
    const TLineState found = other.state();
    // Bytes waiting for the other program: an opening would flush them.
    QVERIFY(pty.send("waiting"));
    QTRY_VERIFY(::poll(std::array{pollfd{other.fd, POLLIN, 0}}.data(), 1, 0) == 1);

    const Run r = RunTool({"check", "1"}, env);
    if (hidden) {
        QVERIFY2(r.code == 0 && r.out.contains(QStringLiteral("порт в порядке")),
                 qPrintable(r.out + r.err));
    } else {
        const QString self = QStringLiteral("(pid %1)").arg(QCoreApplication::applicationPid());
        QCOMPARE(r.code, 1);
        QVERIFY2(
            r.out.contains(QStringLiteral("держит открытым другая программа")) &&
                r.out.contains(self) && r.out.contains(QStringLiteral("не открывала")) &&
                r.out.contains(QStringLiteral("kill %1").arg(QCoreApplication::applicationPid())),
            qPrintable(r.out));
        char buf[16] = {};
        QCOMPARE(::read(other.fd, buf, sizeof buf), ssize_t(7));
        QCOMPARE(QByteArray(buf, 7), QByteArray("waiting"));
    }
    QCOMPARE(other.state(), found);
    QCOMPARE(UnprivilegedOpenError(pty.slavePath), exclusive ? EBUSY : 0);
    QVERIFY(pty.drain(0).isEmpty()); // nothing sent
}

void TestVendrikPort::checkOpensAPortNobodyHolds() {
    PtyPair pty;
    QVERIFY(pty.ok());
    pty.closeSlave();
    TempConfigHome home;
    QVERIFY(home.linkComPort(1, pty.slavePath));
    const Run r = RunTool({"check", "1"}, QProcessEnvironment::systemEnvironment());
    QVERIFY2(r.code == 0, qPrintable(r.out + r.err));
    // Held exclusively by the program (which locks it too): busy.
    TSerialDevice holder;
    QVERIFY(holder.Open(pty.slavePath));
    const Run busy = RunTool({"check", "1"}, QProcessEnvironment::systemEnvironment());
    QCOMPARE(busy.code, 1);
    QVERIFY2(busy.out.contains(QStringLiteral("(pid %1)").arg(QCoreApplication::applicationPid())),
             qPrintable(busy.out));
}

void TestVendrikPort::namesFromTheSystemArePrintedHarmless() {
    PtyPair pty;
    QVERIFY(pty.ok());
    FakeSystem sys;
    sys.addUsbPort(QStringLiteral("ttyUSB0"), pty.slavePath, QStringLiteral("usb-x-if00"));
    sys.setUsbAttribute(QStringLiteral("product"), "Evil\x1b]0;owned\x07\x1b[2J\xc2\x9b"
                                                   "31m");
    sys.setUsbAttribute(QStringLiteral("manufacturer"), "Завод\x1b[5m");
    sys.addProcess(4343, QStringLiteral("term\x1b[8m\x07"), {pty.slavePath});
    TempConfigHome home;
    QVERIFY(home.linkComPort(1, sys.dev(QStringLiteral("ttyUSB0"))));

    struct TCase {
        QStringList args;
        QString shown;
    };
    for (const TCase& c :
         {TCase{{"list"}, QStringLiteral("Завод\\e[5m Evil\\e]0;owned\\x07\\e[2J\\x9b31m")},
          TCase{{"udev", "1"}, QStringLiteral("Завод\\e[5m Evil\\e]0;owned\\x07\\e[2J")},
          TCase{{"check", "1"}, QStringLiteral("term\\e[8m\\x07 (pid 4343)")}}) {
        const Run r = RunTool(c.args, sys.environment(true));
        QVERIFY2(r.out.contains(c.shown), qPrintable(c.args.join(u' ') + u'\n' + r.out + r.err));
        QVERIFY2(!HasTerminalControls(r.out + r.err), qPrintable(c.args.join(u' ')));
    }
}

void TestVendrikPort::udevRuleMatchesTheAdapter_data() {
    QTest::addColumn<QByteArray>("serial");
    QTest::addColumn<QString>("match");
    QTest::newRow("with a serial number")
        << QByteArray("A50285BI")
        << R"(SUBSYSTEM=="tty", ATTRS{idVendor}=="0403", ATTRS{idProduct}=="6001", )"
           R"(ATTRS{serial}=="A50285BI", TAG+="uaccess", ENV{ID_MM_DEVICE_IGNORE}="1")";
    QTest::newRow("without one")
        << QByteArray()
        << R"(SUBSYSTEM=="tty", ATTRS{idVendor}=="0403", ATTRS{idProduct}=="6001", )"
           R"(TAG+="uaccess", ENV{ID_MM_DEVICE_IGNORE}="1")";
}

void TestVendrikPort::udevRuleMatchesTheAdapter() {
    QFETCH(QByteArray, serial);
    QFETCH(QString, match);
    PtyPair pty;
    QVERIFY(pty.ok());
    FakeSystem sys;
    const QString byId = QStringLiteral("usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0");
    sys.addUsbPort(QStringLiteral("ttyUSB0"), pty.slavePath, byId);
    sys.setUsbAttribute(QStringLiteral("serial"), serial);
    TempConfigHome home;
    QVERIFY(home.linkComPort(3, sys.dev(QStringLiteral("serial/by-id/") + byId)));
    const Run r = RunTool({"udev", "3"}, sys.environment(true));
    QVERIFY2(r.code == 0, qPrintable(r.err));
    QStringList rules;
    for (const QString& line : r.out.split(u'\n', Qt::SkipEmptyParts))
        if (!line.startsWith(u'#'))
            rules.append(line);
    QCOMPARE(rules, QStringList{match});
    QVERIFY2(r.out.startsWith(QStringLiteral("# vendrik-port udev 3: COM3 — FTDI FT232R USB UART")),
             qPrintable(r.out));
    QCOMPARE(r.out.contains(QStringLiteral("подходит каждому адаптеру 0403:6001")),
             serial.isEmpty());
}

void TestVendrikPort::udevRefusesWhatNoRuleFits_data() {
    QTest::addColumn<int>("com");
    QTest::addColumn<QString>("says");
    QTest::newRow("built-in port") << 1 << "встроенный порт";
    QTest::newRow("built-in port without a UART") << 2 << "встроенный порт";
    QTest::newRow("pseudo-terminal") << 3 << "псевдотерминал";
    QTest::newRow("pseudo-terminal under /dev/pts") << 4 << "псевдотерминал";
    QTest::newRow("nothing there") << 5 << "устройства нет";
    QTest::newRow("not a terminal") << 6 << "не последовательный порт";
    QTest::newRow("serial number udev cannot compare") << 7 << "udev не сравнит точно";
    QTest::newRow("adapter without USB identity") << 8 << "код изготовителя и изделия";
}

void TestVendrikPort::udevRefusesWhatNoRuleFits() {
    QFETCH(int, com);
    QFETCH(QString, says);
    PtyPair uart, none, usb, pts;
    QVERIFY(uart.ok() && none.ok() && usb.ok() && pts.ok());
    FakeSystem sys;
    sys.addUartPort(QStringLiteral("ttyS0"), 4, uart.slavePath);
    sys.addUartPort(QStringLiteral("ttyS1"), 0, none.slavePath);
    sys.addDevice(QStringLiteral("pts/7"), pts.slavePath);
    sys.addDevice(QStringLiteral("notes"), QStringLiteral("file"));
    sys.addUsbPort(QStringLiteral("ttyUSB0"), usb.slavePath, QStringLiteral("usb-x-if00"));
    if (com == 7)
        sys.setUsbAttribute(QStringLiteral("serial"), "A5*\"X");
    if (com == 8)
        sys.setUsbAttribute(QStringLiteral("idProduct"), {});
    TempConfigHome home;
    QVERIFY(home.linkComPort(1, sys.dev(QStringLiteral("ttyS0"))));
    QVERIFY(home.linkComPort(2, sys.dev(QStringLiteral("ttyS1"))));
    QVERIFY(home.linkComPort(3, pts.slavePath));
    QVERIFY(home.linkComPort(4, sys.dev(QStringLiteral("pts/7"))));
    QVERIFY(home.linkComPort(5, sys.dev(QStringLiteral("ttyUSB9"))));
    QVERIFY(home.linkComPort(6, sys.dev(QStringLiteral("notes"))));
    QVERIFY(home.linkComPort(7, sys.dev(QStringLiteral("ttyUSB0"))));
    QVERIFY(home.linkComPort(8, sys.dev(QStringLiteral("ttyUSB0"))));
    QTemporaryDir rules;
    QProcessEnvironment env = sys.environment(true);
    env.insert(QStringLiteral("VENDRIK_UDEV_RULES_DIR"), rules.path());
    for (const QStringList& args :
         {QStringList{"udev", QString::number(com)}, {"udev", QString::number(com), "--install"}}) {
        const Run r = RunTool(args, env);
        QCOMPARE(r.code, 2);
        QVERIFY(r.out.isEmpty());
        QVERIFY2(r.err.startsWith(QStringLiteral("vendrik-port: COM%1").arg(com)) &&
                     r.err.contains(says),
                 qPrintable(r.err));
        QCOMPARE(QDir(rules.path()).entryList(QDir::Files), QStringList());
    }
}

void TestVendrikPort::udevInstallWritesTheRuleAndAppliesIt_data() {
    QTest::addColumn<bool>("unprivileged"); // through sudo
    QTest::addColumn<bool>("udevadmFails");
    QTest::newRow("as this user") << false << false;
    QTest::newRow("as an ordinary user, through sudo") << true << false;
    QTest::newRow("udevadm refuses") << false << true;
}

void TestVendrikPort::udevInstallWritesTheRuleAndAppliesIt() {
    QFETCH(bool, unprivileged);
    QFETCH(bool, udevadmFails);
    if (unprivileged && !RunsAsRoot())
        QSKIP("needs root to run the helper as another user");
    PtyPair pty;
    QVERIFY(pty.ok());
    FakeSystem sys;
    sys.addUsbPort(QStringLiteral("ttyUSB0"), pty.slavePath, QStringLiteral("usb-x-if00"));
    TempConfigHome home;
    QVERIFY(home.linkComPort(2, sys.dev(QStringLiteral("ttyUSB0"))));
    // Stand-ins for sudo (which runs what follows it, as it is) and udevadm, both logging.
    QTemporaryDir bin, rules, logDir;
    const QString log = logDir.filePath(QStringLiteral("commands"));
    auto script = [&](const char* name, const QByteArray& body) {
        QFile f(bin.filePath(QString::fromLatin1(name)));
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("#!/bin/sh\necho \"" + QByteArray(name) + " $*\" >> \"$COMMAND_LOG\"\n" + body);
        f.close();
        QVERIFY(f.setPermissions(Reachable));
    };
    script("sudo", "exec \"$@\"\n");
    script("udevadm", udevadmFails ? "exit 1\n" : "exit 0\n");
    QProcessEnvironment env = sys.environment(true);
    env.insert(QStringLiteral("VENDRIK_UDEV_RULES_DIR"), rules.path());
    env.insert(QStringLiteral("COMMAND_LOG"), log);
    env.insert(QStringLiteral("PATH"), bin.path() + u':' + env.value(QStringLiteral("PATH")));

    const Run shown = RunTool({"udev", "2"}, env);
    QCOMPARE(shown.code, 0);
    QString program = QStringLiteral(VENDRIK_PORT_BIN);
    QTemporaryDir copyDir;
    std::function<void()> setup;
    if (unprivileged) {
        for (const QString& d : {home.path(), home.vendrikDir(),
                                 home.vendrikDir() + QStringLiteral("/dosdevices"), bin.path()})
            QVERIFY(QFile::setPermissions(d, Reachable));
        QVERIFY(::chmod(QFile::encodeName(sys.root()).constData(), 0755) == 0);
        QVERIFY(::chmod(QFile::encodeName(rules.path()).constData(), 0777) == 0);
        QVERIFY(::chmod(QFile::encodeName(logDir.path()).constData(), 0777) == 0);
        program = ReachableCopy(copyDir);
        QVERIFY(!program.isEmpty());
        setup = BecomeNobody;
    }
    const Run r = RunTool({"udev", "2", "--install"}, env, setup, program);
    const bool viaSudo = unprivileged || !RunsAsRoot();
    const QString path = rules.filePath(QStringLiteral("70-vendrik-com2.rules"));
    QCOMPARE(ReadWholeFile(path), shown.out.toUtf8());
    struct stat st {};
    QCOMPARE(::stat(QFile::encodeName(path).constData(), &st), 0);
    QCOMPARE(st.st_mode & 07777, mode_t(0644));
    // sudo's own line, then that of the stand-in it ran; the temporary's name varies.
    QStringList ran = QString::fromUtf8(ReadWholeFile(log)).split(u'\n', Qt::SkipEmptyParts);
    if (viaSudo && !ran.isEmpty() && ran.first().startsWith(QStringLiteral("sudo install ")) &&
        ran.first().endsWith(u' ' + path))
        ran.first() = QStringLiteral("sudo install -m 0644 TEMPORARY ") + path;
    QStringList expected;
    auto asRoot = [&](const QString& command) {
        if (viaSudo)
            expected << QStringLiteral("sudo ") + command;
        expected << command;
    };
    if (viaSudo)
        expected << QStringLiteral("sudo install -m 0644 TEMPORARY ") + path;
    asRoot(QStringLiteral("udevadm control --reload"));
    if (!udevadmFails)
        asRoot(QStringLiteral(
            "udevadm trigger --action=change --subsystem-match=tty --sysname-match=ttyUSB0"));
    QCOMPARE(ran, expected);
    const QString sudo = viaSudo ? QStringLiteral("sudo ") : QString();
    if (udevadmFails) {
        QCOMPARE(r.code, 3);
        QVERIFY2(r.err.contains(QStringLiteral("не удалось выполнить: ") + sudo +
                                QStringLiteral("udevadm control --reload")),
                 qPrintable(r.err));
    } else {
        QVERIFY2(r.code == 0, qPrintable(r.out + r.err));
        QVERIFY(r.out.contains(QStringLiteral("Правило записано: ") + path));
    }
}

void TestVendrikPort::checkExplainsPermissionToAnUnprivilegedUser() {
    if (::geteuid() != 0)
        QSKIP("needs root to run the helper as another user");
    PtyPair pty;
    QVERIFY(pty.ok());
    TempConfigHome home;
    QVERIFY(home.linkComPort(1, pty.slavePath));
    // The unprivileged user must reach the link, not the terminal.
    for (const QString& d :
         {home.path(), home.vendrikDir(), home.vendrikDir() + QStringLiteral("/dosdevices")})
        QFile::setPermissions(d, Reachable);
    QVERIFY(QFile::setPermissions(pty.slavePath, QFile::ReadOwner | QFile::WriteOwner |
                                                     QFile::ReadGroup | QFile::WriteGroup));
    const QString group = QFileInfo(pty.slavePath).group();
    QVERIFY(!group.isEmpty());

    QTemporaryDir binDir;
    const QString program = ReachableCopy(binDir);
    QVERIFY(!program.isEmpty());
    const Run r =
        RunTool({"check", "1"}, QProcessEnvironment::systemEnvironment(), BecomeNobody, program);
    QCOMPARE(r.code, 1);
    QVERIFY2(r.out.contains(QStringLiteral("нет прав на открытие")), qPrintable(r.out + r.err));
    QVERIFY2(r.out.contains(QStringLiteral("sudo adduser nobody %1").arg(group)),
             qPrintable(r.out));
}

void TestVendrikPort::loopback_data() {
    QTest::addColumn<FarEnd::Mode>("mode");
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("says");
    QTest::newRow("echo") << FarEnd::Echo << 0 << "Петля в порядке";
    QTest::newRow("corrupted byte") << FarEnd::Corrupt << 1 << "байт 40 искажён";
    QTest::newRow("dropped byte")
        << FarEnd::Drop << 1 << "вернулось только 259 байт из 260, первое расхождение на байте 100";
    QTest::newRow("late echo") << FarEnd::Late << 1 << "кадр вернулся целым, но через";
    QTest::newRow("no plug") << FarEnd::Silent << 1 << "ничего не вернулось";
}

void TestVendrikPort::loopback() {
    QFETCH(FarEnd::Mode, mode);
    QFETCH(int, code);
    QFETCH(QString, says);
    PtyPair pty;
    QVERIFY(pty.ok());
    TempConfigHome home;
    QVERIFY(home.linkComPort(4, pty.slavePath));
    FarEnd far(pty.master, mode);
    Run r = RunTool({"loopback", "4"}, QProcessEnvironment::systemEnvironment());
    // A busy machine may hold an echo back past the limit; lateness alone earns a rerun,
    // while corruption and loss never do.
    for (int again = 0; again < 2 && mode == FarEnd::Echo && r.code == 1 &&
                        r.out.contains(QStringLiteral("кадр вернулся целым, но через"));
         ++again)
        r = RunTool({"loopback", "4"}, QProcessEnvironment::systemEnvironment());
    QVERIFY2(r.code == code, qPrintable(r.out + r.err));
    QVERIFY2(r.out.contains(says), qPrintable(r.out));
    // A pseudo-terminal keeps no line-error counters, and the helper says so.
    QVERIFY(r.out.contains(QStringLiteral("счётчиков ошибок линии драйвер этого порта не ведёт")));
    if (code == 0)
        QCOMPARE(r.out.count(QStringLiteral(": цел, вернулся за")), 5);
}

QTEST_GUILESS_MAIN(TestVendrikPort)
#include "tst_vendrikport.moc"
