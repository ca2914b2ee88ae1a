// Settings of the port that need no device: defaults, setter rules, names, error texts.
#include "base/CoreApplication.h"
#include "comm/VaComm.h"
#include "tests/common/TestSupport.h"

#include <QtTest/QTest>

class TestVaCommSettings : public QObject {
    Q_OBJECT
private slots:
    void newComponentHasDocumentedDefaults() {
        TVaComm c;
        QVERIFY(!c.IsOpen());
        QVERIFY(!c.AutoOpen());
        QCOMPARE(c.Baudrate(), br1200);
        QCOMPARE(c.Parity(), paNone);
        QCOMPARE(c.Databits(), db8);
        QCOMPARE(c.Stopbits(), sb1);
        QVERIFY(c.Options().IsEmpty());
        QCOMPARE(c.PortNum(), 0);
        QCOMPARE(c.DeviceName(), QString("COM%d"));
        QVERIFY(c.MonitorEvents() == (TVaCommEvents{ceError, ceRxChar, ceTxEmpty}));
        QCOMPARE(c.EventPriority(), tpNormal);
        QCOMPARE(c.WritePriority(), tpHighest);
        QVERIFY(!c.DirectWrite());
        QVERIFY(c.UpdateDCB());
        QCOMPARE(c.UserBaudrate(), 0);
        const TVaBuffers* b = c.Buffers();
        QCOMPARE((QList<int>{b->ReadSize(), b->WriteSize(), b->ReadTimeout(), b->WriteTimeout(),
                             b->XonLimit(), b->XoffLimit()}),
                 (QList<int>{4096, 2048, 1000, 1000, 1024, 1024}));
        const TVaEventChars* e = c.EventChars();
        QCOMPARE(
            (QList<int>{e->XonChar(), e->XoffChar(), e->ErrorChar(), e->EventChar(), e->EofChar()}),
            (QList<int>{0x11, 0x13, 0, 0, 0}));
        const TVaFlowControl* f = c.FlowControl();
        QVERIFY(!f->OutCtsFlow() && !f->OutDsrFlow() && !f->XonXoffOut() && !f->XonXoffIn() &&
                !f->DsrSensitivity() && !f->TxContinueOnXoff());
        QCOMPARE(f->ControlDtr(), dtrDisabled);
        QCOMPARE(f->ControlRts(), rtsDisabled);
    }

    void propertiesAreReachableByName() {
        TVaComm c;
        QVERIFY(c.setProperty("PortNum", 5));
        QCOMPARE(c.PortNum(), 5);
        QVERIFY(c.setProperty("Baudrate", QVariant::fromValue(br57600)));
        QCOMPARE(c.Baudrate(), br57600);
        QCOMPARE(c.property("DeviceName").toString(), QString("COM%d"));
    }

    void deviceNameIsFilledWithPortNumber_data() {
        QTest::addColumn<QString>("format");
        QTest::addColumn<int>("port");
        QTest::addColumn<QString>("name");
        QTest::newRow("COM8") << "COM%d" << 8 << "COM8";
        QTest::newRow("no placeholder") << "/dev/ttyUSB0" << 3 << "/dev/ttyUSB0";
        QTest::newRow("percent sign kept") << "a%%b%d" << 2 << "a%b2";
        QTest::newRow("other placeholder literal") << "x%s" << 1 << "x%s";
    }
    void deviceNameIsFilledWithPortNumber() {
        QFETCH(QString, format);
        QFETCH(int, port);
        QFETCH(QString, name);
        TVaComm c;
        c.SetDeviceName(format);
        c.SetPortNum(port);
        QCOMPARE(c.GetDeviceName(), name);
    }

    void baudrateAndUserBaudrateResetEachOther() {
        TVaComm c;
        c.SetUserBaudrate(12345);
        QCOMPARE(c.Baudrate(), brUser);
        c.SetBaudrate(br57600);
        QCOMPARE(c.UserBaudrate(), 0);
        c.SetUserBaudrate(12345);
        QCOMPARE(c.Baudrate(), brUser);
        QCOMPARE(c.UserBaudrate(), 12345);
        // Setting the value it already has changes nothing, even off brUser.
        c.SetBaudrate(br9600);
        c.SetUserBaudrate(0);
        QCOMPARE(c.Baudrate(), br9600);
    }

    void settingsObjectsNotifyOncePerCopy() {
        TVaEventChars target, source;
        int notified = 0;
        target.ChangeHandler = [&] { ++notified; };
        source.SetEofChar('?');
        source.SetEventChar('!');
        target.Assign(source);
        QCOMPARE(notified, 1);
        QCOMPARE(target.EofChar(), '?');
        QCOMPARE(target.EventChar(), '!');
        // An unchanged character still notifies.
        target.SetEofChar('?');
        QCOMPARE(notified, 2);

        TVaBuffers buffers;
        int buffersNotified = 0;
        buffers.ChangeHandler = [&] { ++buffersNotified; };
        buffers.SetReadTimeout(5);
        buffers.SetWriteTimeout(5);
        buffers.SetReadSize(4096);
        QCOMPARE(buffersNotified, 0);
        buffers.SetWriteSize(100);
        QCOMPARE(buffersNotified, 1);

        TVaFlowControl flow;
        int flowNotified = 0;
        flow.ChangeHandler = [&] { ++flowNotified; };
        flow.SetOutCtsFlow(false);
        QCOMPARE(flowNotified, 0);
        flow.SetControlRts(rtsHandshake);
        QCOMPARE(flowNotified, 1);
    }

    void endChangeNotifiesEvenWhenSetterRaises() {
        TVaComm c;
        TVaBuffers source;
        source.SetWriteSize(77);
        int endCount = 0;
        c.Buffers()->ChangeHandler = [&] {
            ++endCount;
            throw EVaCommError("refused");
        };
        QVERIFY_THROWS_EXCEPTION(EVaCommError, c.Buffers()->Assign(source));
        QCOMPARE(endCount, 1);
        QCOMPARE(c.Buffers()->UpdateCount, 0);
        QCOMPARE(c.Buffers()->WriteSize(), 77);
    }

    void commErrorFormatsTakeCodeAndTextLiterally_data() {
        QTest::addColumn<QString>("format");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("message");
        QTest::newRow("code and text") << "Read error (%d), %s"
                                       << "Input/output error"
                                       << "Read error (5), Input/output error";
        QTest::newRow("no placeholders") << "Output buffer is full. Please check comm status."
                                         << "x"
                                         << "Output buffer is full. Please check comm status.";
        QTest::newRow("text with placeholders stays") << "(%s) %d"
                                                      << "%d%s"
                                                      << "(%d%s) 5";
        QTest::newRow("escaped name")
            << "Can't open specified device " + EscapeFormatText("CO%dM") + " (Error %d, %s)"
            << "Busy"
            << "Can't open specified device CO%dM (Error 5, Busy)";
    }
    void commErrorFormatsTakeCodeAndTextLiterally() {
        QFETCH(QString, format);
        QFETCH(QString, text);
        QFETCH(QString, message);
        QCOMPARE(FormatCommError(format, 5, text), message);
    }

    void operationsOnClosedPortDoNothing() {
        TVaComm c;
        char buf[8];
        QByteArray s("old");
        QCOMPARE(c.ReadBuf(buf, 8), 0);
        c.ReadText(s);
        QVERIFY(s.isEmpty());
        QCOMPARE(c.ReadBufUsed(), 0);
        QCOMPARE(c.WriteBuf("abc", 3), 0);
        c.Purge(15);
        c.PurgeReadWrite();
        LineStatus st;
        st.InQueue = 9;
        c.GetLineStatus(st);
        QCOMPARE(st.InQueue, 0u);
        bool closed = false;
        c.OnClose = [&](QObject*) { closed = true; };
        QElapsedTimer t;
        t.start();
        c.Close();
        QVERIFY(t.elapsed() < 100);
        QVERIFY(!closed);
    }

    void waitEventStaysSetUntilReset() {
        TVaWaitEvent e;
        QElapsedTimer t;
        t.start();
        QCOMPARE(e.WaitFor(50), TVaHandleObject::WaitTimeout);
        QVERIFY(t.elapsed() >= 50);
        e.Signal();
        e.Signal();
        QCOMPARE(e.WaitFor(0), TVaHandleObject::WaitSignaled);
        QCOMPARE(e.WaitFor(TVaHandleObject::Infinite), TVaHandleObject::WaitSignaled);
        e.Reset();
        QCOMPARE(e.WaitFor(0), TVaHandleObject::WaitTimeout);
    }

    void delayDispatchesOnceForZero() {
        bool ran = false;
        QMetaObject::invokeMethod(
            qApp, [&] { ran = true; }, Qt::QueuedConnection);
        DelayWithMessages(0);
        QVERIFY(ran);
    }

    void delayWaitsFullTimeAndServesTimers() {
        int fired = 0;
        QTimer timer;
        timer.setInterval(50);
        QObject::connect(&timer, &QTimer::timeout, [&] { ++fired; });
        timer.start();
        QElapsedTimer t;
        t.start();
        DelayWithMessages(300);
        const qint64 took = t.elapsed();
        QVERIFY2(took >= 300, qPrintable(QString::number(took)));
        QVERIFY2(took < 1000, qPrintable(QString::number(took)));
        QVERIFY(fired >= 3);
    }
};

int main(int argc, char** argv) {
    TCoreApplication app(argc, argv);
    TestVaCommSettings test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_vacommsettings.moc"
