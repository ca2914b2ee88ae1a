// Waiting on event descriptors, alone and beside a serial device: which outcome a wait
// reports, and which event or readiness it names.
#include "platform/EventFd.h"
#include "platform/SerialDevice.h"
#include "tests/common/TestSupport.h"

#include <QtTest/QTest>

#include <array>

Q_DECLARE_METATYPE(TWaitOutcome)
Q_DECLARE_METATYPE(TEventWaitResult)

char* toString(const TEventWaitResult& r) {
    return QTest::toString(
        QString("outcome %1 event %2 ready %3").arg(int(r.outcome)).arg(r.event).arg(r.ready));
}

class TestEventWait : public QObject {
    Q_OBJECT
private slots:
    void eventWaitNamesFirstSetEvent_data() {
        QTest::addColumn<QList<bool>>("set");
        QTest::addColumn<TWaitOutcome>("outcome");
        QTest::addColumn<int>("event");
        QTest::newRow("none set") << QList<bool>{false, false, false} << TWaitOutcome::TimedOut
                                  << -1;
        QTest::newRow("the last") << QList<bool>{false, false, true} << TWaitOutcome::Event << 2;
        QTest::newRow("the middle") << QList<bool>{false, true, false} << TWaitOutcome::Event << 1;
        QTest::newRow("first and last")
            << QList<bool>{true, false, true} << TWaitOutcome::Event << 0;
    }
    void eventWaitNamesFirstSetEvent() {
        QFETCH(QList<bool>, set);
        QFETCH(TWaitOutcome, outcome);
        QFETCH(int, event);
        std::array<TEventFd, 3> events;
        for (int i = 0; i < 3; ++i) {
            QVERIFY(events[i].IsValid());
            if (set[i])
                events[i].Set();
            QCOMPARE(events[i].Wait(0), set[i] ? TWaitOutcome::Event : TWaitOutcome::TimedOut);
        }
        const TEventWaitResult result = WaitForEvents({&events[0], &events[1], &events[2]}, 20);
        QCOMPARE(result.outcome, outcome);
        QCOMPARE(result.event, event);
        // Waiting does not consume: the events stay set until cleared.
        for (int i = 0; i < 3; ++i) {
            QCOMPARE(events[i].IsSet(), set[i]);
            events[i].Clear();
            QVERIFY(!events[i].IsSet());
        }
    }

    void deviceWaitReportsReadiness_data() {
        QTest::addColumn<int>("want");
        QTest::addColumn<QByteArray>("incoming");
        QTest::addColumn<bool>("eventSet");
        QTest::addColumn<bool>("hangUp");
        QTest::addColumn<TEventWaitResult>("expected");
        const int readable = TSerialDevice::Readable, writable = TSerialDevice::Writable;
        QTest::newRow("room to write") << writable << QByteArray() << false << false
                                       << TEventWaitResult{TWaitOutcome::DeviceReady, -1, writable};
        QTest::newRow("bytes waiting") << readable << QByteArray("x") << false << false
                                       << TEventWaitResult{TWaitOutcome::DeviceReady, -1, readable};
        QTest::newRow("nothing to read") << readable << QByteArray() << false << false
                                         << TEventWaitResult{TWaitOutcome::TimedOut};
        QTest::newRow("event wins over a ready device") << writable << QByteArray() << true << false
                                                        << TEventWaitResult{TWaitOutcome::Event, 0};
        QTest::newRow("only the event watched")
            << 0 << QByteArray("x") << false << false << TEventWaitResult{TWaitOutcome::TimedOut};
        // A hung-up line also reads as readable (the read then fails).
        QTest::newRow("far end hung up")
            << readable << QByteArray() << false << true
            << TEventWaitResult{TWaitOutcome::DeviceReady, -1, readable | TSerialDevice::HungUp};
    }
    void deviceWaitReportsReadiness() {
        QFETCH(int, want);
        QFETCH(QByteArray, incoming);
        QFETCH(bool, eventSet);
        QFETCH(bool, hangUp);
        QFETCH(TEventWaitResult, expected);
        PtyPair pty;
        QVERIFY(pty.ok());
        TSerialDevice device;
        QVERIFY(device.Open(pty.slavePath));
        TEventFd event;
        if (eventSet)
            event.Set();
        if (!incoming.isEmpty()) {
            QVERIFY(pty.send(incoming));
            // The bytes reach the device's side a moment after the write.
            QTRY_VERIFY([&] {
                int n = 0;
                return device.InQueue(n) && n == incoming.size();
            }());
        }
        if (hangUp)
            pty.closeMaster();
        QCOMPARE(device.Wait(want, {&event}, 20), expected);
    }
};

QTEST_GUILESS_MAIN(TestEventWait)
#include "tst_eventwait.moc"
