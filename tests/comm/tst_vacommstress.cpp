// Many openings with traffic, closing inside the notification and destroying the port
// with a notification pending: nothing may leak, hang or touch a freed port.
#include "base/CoreApplication.h"
#include "tests/comm/CommTestHelpers.h"

#include <QElapsedTimer>

#include <atomic>
#include <memory>
#include <thread>

class TestVaCommStress : public QObject {
    Q_OBJECT
private slots:
    // Writes and status queries on another thread complete on the opening they found or
    // return 0 as on a closed port, while the user-interface thread opens and closes.
    void callsOnAnotherThreadRaceOpenAndClose_data() {
        QTest::addColumn<bool>("direct");
        QTest::newRow("queued writes") << false;
        QTest::newRow("direct writes") << true;
    }
    void callsOnAnotherThreadRaceOpenAndClose() {
        QFETCH(bool, direct);
        VaCommTesting::SetClosePause(0);
        PortOnPty p;
        p.port.SetDirectWrite(direct);
        p.port.Buffers()->SetReadTimeout(50);
        std::atomic<bool> stop{false};
        std::atomic<int> accepted{0}, refused{0};
        QString failure;
        std::jthread worker([&] {
            const QByteArray frame = Pattern(40);
            while (!stop) {
                try {
                    const int n = p.port.WriteBuf(frame.constData(), frame.size());
                    (n == frame.size() ? accepted : refused)++;
                    if (n != 0 && n != frame.size() && failure.isEmpty())
                        failure = QStringLiteral("WriteBuf gave %1").arg(n);
                    p.port.ReadBufUsed();
                } catch (const EVaCommError& e) {
                    if (failure.isEmpty())
                        failure = e.Message();
                }
                p.pty.drain(0); // keeps the line from filling up
            }
        });
        // At least 500 cycles, and on until the worker has met the port both open and
        // closed: a loaded machine may not schedule it inside the first ones.
        QElapsedTimer spent;
        spent.start();
        for (int i = 0; i < 500 || ((accepted == 0 || refused == 0) && !spent.hasExpired(20000));
             ++i) {
            p.port.Open();
            if (i % 2)
                QCoreApplication::processEvents();
            p.port.Close();
        }
        stop = true;
        worker.join();
        QVERIFY2(failure.isEmpty(), qPrintable(failure));
        QVERIFY(accepted > 0);
        QVERIFY(refused > 0);
        QVERIFY(WaitForLinkThreads());
    }

    void manyOpenTrafficCloseCyclesLeakNoDescriptorOrThread() {
        VaCommTesting::SetClosePause(0);
        PortOnPty shared;          // provides the pseudo-terminal and the COM1 link
        shared.port.SetPortNum(2); // never opened
        // One opening first: it creates the link's process-wide call dispatcher.
        shared.port.SetPortNum(1);
        shared.port.Open();
        shared.port.Close();
        shared.port.SetPortNum(2); // never opened again
        QVERIFY(WaitForLinkThreads());
        QCoreApplication::processEvents();
        const int fdsBefore = CountEntries("/proc/self/fd");
        const int tasksBefore = CountEntries("/proc/self/task");

        const int cycles = 500;
        int notified = 0;
        for (int i = 0; i < cycles; ++i) {
            auto port = std::make_unique<TVaComm>();
            port->SetPortNum(1);
            port->SetBaudrate(br57600);
            port->SetMonitorEvents({ceRxChar});
            const int mode = i % 4;
            bool called = false;
            TVaComm* raw = port.get();
            raw->OnRxChar = [&, raw, mode](QObject*, int) {
                called = true;
                ++notified;
                QByteArray s;
                raw->ReadText(s);
                if (mode == 0 || mode == 1)
                    raw->Close(); // inside the notification
            };
            raw->Open();
            const QByteArray frame = Pattern(64, i);
            QCOMPARE(raw->WriteBuf(frame.constData(), frame.size()), 64);
            QVERIFY(shared.pty.send("!ab"));
            if (mode == 3) {
                // Let the event thread hand over its notification, then destroy the port
                // before the user-interface thread has run it.
                QThread::msleep(5);
                port.reset();
            } else {
                QVERIFY(ServeUntil([&] { return called; }));
                if (mode == 2)
                    raw->Close();
                QVERIFY(!raw->IsOpen());
                if (mode == 1)
                    port.reset();
            }
            port.reset();
            shared.pty.drain(0);
        }
        QVERIFY(notified >= cycles * 3 / 4);
        QVERIFY(WaitForLinkThreads());
        for (int i = 0; i < 5; ++i) {
            QCoreApplication::processEvents();
            QThread::msleep(10);
        }
        QCOMPARE(CountEntries("/proc/self/fd"), fdsBefore);
        // At most as many as before: threads of earlier tests may still have been ending
        // when the count was taken, and a leak of one per cycle would show by hundreds.
        QTRY_VERIFY(CountEntries("/proc/self/task") <= tasksBefore);
    }
};

int main(int argc, char** argv) {
    TCoreApplication app(argc, argv);
    TestVaCommStress test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_vacommstress.moc"
