// The platform serial layer's pure parts: block -> terminal settings, device names,
// error texts.
#include "platform/ErrorText.h"
#include "platform/Paths.h"
#include "platform/SerialDevice.h"
#include "platform/SerialNames.h"
#include "platform/SerialTermios.h"
#include "tests/common/TestSupport.h"
#include "window/Application.h"

#include <QDir>
#include <QFile>
#include <QtTest/QTest>
#include <cerrno>

namespace {
TDCB ProgramBlock() {
    TDCB d;
    d.BaudRate = 57600;
    d.ByteSize = 8;
    d.Flags = DCB_fBinary;
    d.XonChar = 0x11;
    d.XoffChar = 0x13;
    return d;
}
} // namespace

class TestSerialTermios : public QObject {
    Q_OBJECT
private slots:
    void blockBecomesTerminalSettings_data() {
        QTest::addColumn<quint32>("rate");
        QTest::addColumn<int>("byteSize");
        QTest::addColumn<int>("parity");
        QTest::addColumn<int>("stopBits");
        QTest::addColumn<quint32>("flags");
        QTest::addColumn<quint32>("cflagSet");   // bits that must be set
        QTest::addColumn<quint32>("cflagClear"); // bits that must be clear
        QTest::addColumn<quint32>("iflag");      // IXON | IXOFF | INPCK part
        QTest::addColumn<quint32>("baudCode");
        const quint32 all = PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS;
        QTest::newRow("program line 8N1")
            << 57600u << 8 << 0 << 0 << quint32(DCB_fBinary) << quint32(CS8 | CREAD | CLOCAL) << all
            << 0u << quint32(B57600);
        QTest::newRow("7 bits even") << 9600u << 7 << 2 << 0 << 0u << quint32(CS7 | PARENB)
                                     << quint32(PARODD | CMSPAR | CSTOPB) << 0u << quint32(B9600);
        QTest::newRow("odd") << 9600u << 8 << 1 << 0 << 0u << quint32(PARENB | PARODD)
                             << quint32(CMSPAR) << 0u << quint32(B9600);
        QTest::newRow("mark") << 9600u << 8 << 3 << 0 << 0u << quint32(PARENB | CMSPAR | PARODD)
                              << 0u << 0u << quint32(B9600);
        QTest::newRow("space") << 9600u << 8 << 4 << 0 << 0u << quint32(PARENB | CMSPAR)
                               << quint32(PARODD) << 0u << quint32(B9600);
        QTest::newRow("two stop bits") << 1200u << 8 << 0 << 2 << 0u << quint32(CSTOPB)
                                       << quint32(PARENB) << 0u << quint32(B1200);
        QTest::newRow("one and a half with 5 bits")
            << 1200u << 5 << 0 << 1 << 0u << quint32(CS5 | CSTOPB) << 0u << 0u << quint32(B1200);
        QTest::newRow("xon/xoff both ways")
            << 19200u << 8 << 0 << 0 << quint32(DCB_fOutX | DCB_fInX) << 0u << quint32(CRTSCTS)
            << quint32(IXON | IXOFF) << quint32(B19200);
        QTest::newRow("cts output flow") << 115200u << 8 << 0 << 0 << quint32(DCB_fOutxCtsFlow)
                                         << quint32(CRTSCTS) << 0u << 0u << quint32(B115200);
        QTest::newRow("rts handshake")
            << 115200u << 8 << 0 << 0 << quint32(DCB_fRtsControlHandshake) << quint32(CRTSCTS) << 0u
            << 0u << quint32(B115200);
        QTest::newRow("parity check") << 4800u << 8 << 2 << 0 << quint32(DCB_fParity)
                                      << quint32(PARENB) << 0u << quint32(INPCK) << quint32(B4800);
        QTest::newRow("user rate")
            << 12345u << 8 << 0 << 0 << 0u << 0u << 0u << 0u << quint32(BOTHER);
        QTest::newRow("14400 has no code")
            << 14400u << 8 << 0 << 0 << 0u << 0u << 0u << 0u << quint32(BOTHER);
        QTest::newRow("256000 has no code")
            << 256000u << 8 << 0 << 0 << 0u << 0u << 0u << 0u << quint32(BOTHER);
    }
    void blockBecomesTerminalSettings() {
        QFETCH(quint32, rate);
        QFETCH(int, byteSize);
        QFETCH(int, parity);
        QFETCH(int, stopBits);
        QFETCH(quint32, flags);
        QFETCH(quint32, cflagSet);
        QFETCH(quint32, cflagClear);
        QFETCH(quint32, iflag);
        QFETCH(quint32, baudCode);
        TDCB d = ProgramBlock();
        d.BaudRate = rate;
        d.ByteSize = quint8(byteSize);
        d.Parity = quint8(parity);
        d.StopBits = quint8(stopBits);
        d.Flags = flags;
        termios2 t{};
        int error = -1;
        QVERIFY(DcbToTermios(d, t, error));
        QCOMPARE(error, 0);
        static const tcflag_t sizes[] = {CS5, CS6, CS7, CS8};
        QCOMPARE(t.c_cflag & CSIZE, sizes[byteSize - 5]);
        QCOMPARE(t.c_cflag & cflagSet, tcflag_t(cflagSet));
        QCOMPARE(t.c_cflag & cflagClear, tcflag_t(0));
        QCOMPARE(t.c_iflag & (IXON | IXOFF | INPCK), tcflag_t(iflag));
        QCOMPARE(t.c_cflag & CBAUD, tcflag_t(baudCode));
        QCOMPARE(t.c_ospeed, rate);
        // Raw: no line editing, echo, signals or output processing.
        QCOMPARE(t.c_lflag, tcflag_t(0));
        QCOMPARE(t.c_oflag, tcflag_t(0));
        QCOMPARE(t.c_cc[VSTART], cc_t(0x11));
        QCOMPARE(t.c_cc[VSTOP], cc_t(0x13));
        QCOMPARE(t.c_cc[VMIN], cc_t(0));
    }

    void blockTheLineCannotCarryIsRefused_data() {
        QTest::addColumn<int>("byteSize");
        QTest::addColumn<int>("parity");
        QTest::addColumn<int>("stopBits");
        QTest::addColumn<quint32>("rate");
        QTest::newRow("4 data bits") << 4 << 0 << 0 << 9600u;
        QTest::newRow("9 data bits") << 9 << 0 << 0 << 9600u;
        QTest::newRow("parity 5") << 8 << 5 << 0 << 9600u;
        QTest::newRow("one and a half with 8 bits") << 8 << 0 << 1 << 9600u;
        QTest::newRow("rate 0") << 8 << 0 << 0 << 0u;
    }
    void blockTheLineCannotCarryIsRefused() {
        QFETCH(int, byteSize);
        QFETCH(int, parity);
        QFETCH(int, stopBits);
        QFETCH(quint32, rate);
        TDCB d = ProgramBlock();
        d.ByteSize = quint8(byteSize);
        d.Parity = quint8(parity);
        d.StopBits = quint8(stopBits);
        d.BaudRate = rate;
        termios2 t{};
        int error = 0;
        QVERIFY(!DcbToTermios(d, t, error));
        QCOMPARE(error, EINVAL);
    }

    void modemLinesFollowControlModes_data() {
        QTest::addColumn<quint32>("flags");
        QTest::addColumn<bool>("dtr");
        QTest::addColumn<bool>("rts");
        QTest::newRow("both disabled") << 0u << false << false;
        QTest::newRow("dtr enabled") << quint32(DCB_fDtrControlEnable) << true << false;
        QTest::newRow("rts enabled") << quint32(DCB_fRtsControlEnable) << false << true;
        QTest::newRow("rts toggle held off") << quint32(DCB_fRtsControlToggle) << false << false;
    }
    void modemLinesFollowControlModes() {
        QFETCH(quint32, flags);
        QFETCH(bool, dtr);
        QFETCH(bool, rts);
        TDCB d = ProgramBlock();
        d.Flags = flags;
        QCOMPARE(DcbWantsDtr(d), dtr);
        QCOMPARE(DcbWantsRts(d), rts);
    }

    void comNamesResolveThroughLinkOrTtyS() {
        TempConfigHome home;
        QCOMPARE(ResolveSerialDevice("COM1"), QString("/dev/ttyS0"));
        QCOMPARE(ResolveSerialDevice("com8"), QString("/dev/ttyS7"));
        QVERIFY(home.linkComPort(3, "/dev/null"));
        QCOMPARE(ResolveSerialDevice("COM3"), VendrikConfigDir() + "/dosdevices/com3");
        QCOMPARE(ComPortLink(3), ResolveSerialDevice("COM3"));
        // A dangling link still names the port: opening it reports "not found".
        QVERIFY(home.linkComPort(4, "/nonexistent"));
        QCOMPARE(ResolveSerialDevice("COM4"), VendrikConfigDir() + "/dosdevices/com4");
        QCOMPARE(ResolveSerialDevice("/dev/pts/7"), QString("/dev/pts/7"));
        QCOMPARE(ResolveSerialDevice("ttyUSB0"), QString("/dev/ttyUSB0"));
        QCOMPARE(ResolveSerialDevice("COM0"), QString("/dev/COM0"));
    }

    // Each driver counter stands for its own named bit, whatever it moved by.
    void lineErrorsNameTheCountersThatMoved_data() {
        QTest::addColumn<int>("frame");
        QTest::addColumn<int>("overrun");
        QTest::addColumn<int>("parity");
        QTest::addColumn<int>("brk");
        QTest::addColumn<quint32>("bits");
        QTest::newRow("nothing moved") << 0 << 0 << 0 << 0 << quint32(0);
        QTest::newRow("framing") << 1 << 0 << 0 << 0 << quint32(CE_FRAME);
        QTest::newRow("overrun") << 0 << 3 << 0 << 0 << quint32(CE_OVERRUN);
        QTest::newRow("parity") << 0 << 0 << 1 << 0 << quint32(CE_RXPARITY);
        QTest::newRow("break") << 0 << 0 << 0 << 2 << quint32(CE_BREAK);
        QTest::newRow("all") << 1 << 1 << 1 << 1
                             << quint32(CE_FRAME | CE_OVERRUN | CE_RXPARITY | CE_BREAK);
        QTest::newRow("counter wrapped back") << -5 << 0 << 0 << 0 << quint32(CE_FRAME);
    }
    void lineErrorsNameTheCountersThatMoved() {
        QFETCH(int, frame);
        QFETCH(int, overrun);
        QFETCH(int, parity);
        QFETCH(int, brk);
        QFETCH(quint32, bits);
        const TSerialDevice::Counters before{true, 10, 20, 30, 40};
        const TSerialDevice::Counters now{true, 10 + frame, 20 + overrun, 30 + parity, 40 + brk};
        QCOMPARE(TSerialDevice::LineErrorBits(before, now), bits);
        // The first reading only sets the baseline.
        QCOMPARE(TSerialDevice::LineErrorBits(TSerialDevice::Counters{}, now), quint32(0));
    }

    // vendrik-cli --port and vendrik-port's N: what either took before, both take.
    void comNumberAsCommandLinesGiveIt_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("number");
        QTest::newRow("digit") << "3" << 3;
        QTest::newRow("COM") << "COM8" << 8;
        QTest::newRow("lower-case com") << "com1" << 1;
        QTest::newRow("mixed case") << "Com2" << 2;
        QTest::newRow("COM, leading zero") << "COM03" << 3;
        QTest::newRow("leading zeros") << "007" << 7;
        QTest::newRow("plus sign") << "+4" << 4;
        QTest::newRow("surrounding spaces") << " 5\t" << 5;
        QTest::newRow("zero") << "0" << 0;
        QTest::newRow("nine") << "9" << 0;
        QTest::newRow("COM9") << "COM9" << 0;
        QTest::newRow("COM0") << "COM0" << 0;
        QTest::newRow("negative") << "-1" << 0;
        QTest::newRow("COM alone") << "COM" << 0;
        QTest::newRow("empty") << "" << 0;
        QTest::newRow("space inside") << "COM 3" << 0;
        QTest::newRow("sign after COM") << "COM+3" << 0;
        QTest::newRow("trailing text") << "3x" << 0;
        QTest::newRow("hexadecimal") << "0x3" << 0;
        QTest::newRow("fraction") << "3.0" << 0;
        QTest::newRow("wraps to 3 in 32 bits") << "4294967299" << 0;
        QTest::newRow("device path") << "/dev/ttyS2" << 0;
        QTest::newRow("device name") << "ttyS2" << 0;
    }
    void comNumberAsCommandLinesGiveIt() {
        QFETCH(QString, text);
        QFETCH(int, number);
        QCOMPARE(ParseComNumber(text), number);
    }

    void systemTextLosesTrailingFullStopAndBlanks() {
        QCOMPARE(SystemErrorText(ENOENT), QString("No such file or directory"));
        QCOMPARE(SystemErrorText(EBUSY), QString("Device or resource busy"));
        QVERIFY(!SystemErrorText(123456).isEmpty());
        QVERIFY(!SystemErrorText(123456).endsWith(' '));
    }
};

int main(int argc, char** argv) {
    TApplication app(argc, argv);
    TestSerialTermios test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_serialtermios.moc"
