// The receive and transmit threads: notifications on the user-interface thread, the
// transmit queue, and a line that hangs up.
#include "base/CoreApplication.h"
#include "base/ErrorReport.h"
#include "comm/TransmitQueue.h"
#include "tests/comm/CommTestHelpers.h"

#include <QElapsedTimer>
#include <QTimer>

#include <atomic>
#include <thread>

class TestVaCommThreads : public QObject {
    Q_OBJECT
private slots:
    void init() { VaCommTesting::SetClosePause(0); }
    void cleanup() { QVERIFY(WaitForLinkThreads()); }

    void handlerThatReadsNothingSeesOldAndNewBytesNextTime() {
        PortOnPty p;
        QList<int> counts;
        p.port.OnRxChar = [&](QObject* sender, int count) {
            QCOMPARE(sender, &p.port);
            counts.append(count);
        };
        p.port.Open();
        QVERIFY(p.pty.send("abc"));
        QTRY_COMPARE(counts.size(), 1);
        QCOMPARE(counts[0], 3);
        // Left unread, the bytes are not notified again until more arrive.
        DelayWithMessages(100);
        QCOMPARE(counts.size(), 1);
        QVERIFY(p.pty.send("de"));
        QTRY_COMPARE(counts.size(), 2);
        QCOMPARE(counts[1], 5);
        p.port.Close();
    }

    void notificationWithEmptyQueueCallsNoHandler() {
        PortOnPty p;
        int calls = 0;
        p.port.OnRxChar = [&](QObject*, int) { ++calls; };
        p.port.Open();
        p.port.DispatchEvents(EV_RXCHAR);
        QCOMPARE(calls, 0);
        p.port.Close();
    }

    void longHandlerIsNeverReenteredAndOneNotificationFollows() {
        PortOnPty p;
        int depth = 0, maxDepth = 0, calls = 0, lastCount = 0;
        QTimer feeder;
        feeder.setInterval(50);
        int sent = 1;
        QObject::connect(&feeder, &QTimer::timeout, [&] {
            p.pty.send("x");
            ++sent;
        });
        p.port.OnRxChar = [&](QObject*, int count) {
            ++calls;
            maxDepth = std::max(maxDepth, ++depth);
            lastCount = count;
            if (calls == 1) {
                feeder.start();
                DelayWithMessages(1500);
                feeder.stop();
            } else {
                QByteArray s;
                p.port.ReadText(s);
            }
            --depth;
        };
        p.port.Open();
        QVERIFY(p.pty.send("x"));
        QTRY_COMPARE_WITH_TIMEOUT(calls, 2, 5000);
        QCOMPARE(maxDepth, 1);
        // All bytes, the first one included, are reported by the one that followed.
        QCOMPARE(lastCount, sent);
        DelayWithMessages(200);
        QCOMPARE(calls, 2);
        p.port.Close();
    }

    void closeInsideHandlerEndsNotifications() {
        PortOnPty p;
        int calls = 0;
        p.port.OnRxChar = [&](QObject*, int) {
            ++calls;
            p.port.Close();
        };
        p.port.Open();
        QVERIFY(p.pty.send("!"));
        QTRY_COMPARE(calls, 1);
        QVERIFY(!p.port.IsOpen());
        QVERIFY(WaitForLinkThreads());
        QVERIFY(p.pty.send("more"));
        DelayWithMessages(100);
        QCOMPARE(calls, 1);
    }

    void handlerExceptionIsReportedAndNextBytesStillNotify() {
        PortOnPty p;
        MessageRecorder boxes;
        SetApplicationTitle("Vendrik");
        int calls = 0;
        p.port.OnRxChar = [&](QObject*, int) {
            ++calls;
            QByteArray s;
            p.port.ReadText(s);
            if (calls == 1)
                throw EVaCommError("Read error (5), Input/output error");
        };
        p.port.Open();
        QVERIFY(p.pty.send("a"));
        QTRY_COMPARE(boxes.boxes.size(), 1);
        QCOMPARE(boxes.boxes[0].text, QString("Read error (5), Input/output error."));
        QCOMPARE(boxes.boxes[0].icon, TMessageIcon::Error);
        QVERIFY(p.pty.send("b"));
        QTRY_COMPARE(calls, 2);
        QCOMPARE(boxes.boxes.size(), 1);
        p.port.Close();
    }

    void queuedWriteReturnsAtOnceAndBytesArriveInOrder() {
        PortOnPty p;
        int txEmpty = 0;
        p.port.OnTxEmpty = [&](QObject*) { ++txEmpty; };
        p.port.Open();
        const QByteArray frame = Pattern(260);
        QElapsedTimer t;
        t.start();
        QCOMPARE(p.port.WriteBuf(frame.constData(), frame.size()), 260);
        QVERIFY(t.elapsed() < 100);
        QCOMPARE(p.pty.receive(260, 2000), frame);
        QTRY_COMPARE(txEmpty, 1);
        p.port.Close();
    }

    void writeNotificationRunsInsideReceiveHandlerWhileItDelays() {
        PortOnPty p;
        bool inHandler = false, txEmptyInside = false;
        int handled = 0;
        p.port.OnTxEmpty = [&](QObject*) { txEmptyInside = inHandler; };
        p.port.OnRxChar = [&](QObject*, int) {
            inHandler = true;
            QByteArray s;
            p.port.ReadText(s);
            p.port.WriteBuf("reply", 5);
            DelayWithMessages(300);
            inHandler = false;
            ++handled;
        };
        p.port.Open();
        QVERIFY(p.pty.send("!"));
        QVERIFY(ServeUntil([&] { return handled == 1; }));
        QVERIFY(txEmptyInside);
        QCOMPARE(p.pty.receive(5, 1000), QByteArray("reply"));
        p.port.Close();
    }

    void queueTakesWriteSizeAndRefusesMoreAfterWriteTimeout_data() {
        QTest::addColumn<int>("count");
        QTest::addColumn<bool>("accepted");
        QTest::newRow("exactly WriteSize") << 2048 << true;
        QTest::newRow("one more") << 2049 << false;
    }
    void queueTakesWriteSizeAndRefusesMoreAfterWriteTimeout() {
        QFETCH(int, count);
        QFETCH(bool, accepted);
        PortOnPty p;
        p.port.Buffers()->SetWriteTimeout(200);
        p.port.Open();
        StallLine(p.pty);
        const QByteArray block = Pattern(count);
        QElapsedTimer t;
        t.start();
        try {
            QCOMPARE(p.port.WriteBuf(block.constData(), count), count);
            QVERIFY(accepted);
            QVERIFY(t.elapsed() < 100);
        } catch (const EVaCommError& e) {
            QVERIFY(!accepted);
            QCOMPARE(e.Message(), QString("Output buffer is full. Please check comm status."));
            QVERIFY(t.elapsed() >= 200);
        }
        p.port.Close();
    }

    void closeEndsWriteWaitingForRoomAtOnce() {
        PortOnPty p;
        p.port.Buffers()->SetWriteTimeout(15000);
        p.port.Open();
        StallLine(p.pty);
        const QByteArray full = Pattern(2048);
        QCOMPARE(p.port.WriteBuf(full.constData(), full.size()), 2048);
        std::atomic<bool> done{false};
        std::atomic<int> result{-1};
        std::jthread writer([&] {
            try {
                result = p.port.WriteBuf("abc", 3);
            } catch (const EVaCommError&) {
                result = -2; // waited out its time
            }
            done = true;
        });
        QThread::msleep(50); // lets the writer start waiting for room
        QVERIFY(!done);
        p.port.Close();
        // Within the usual wait of a test, not the write's 15 s.
        QTRY_VERIFY(done);
        QCOMPARE(result.load(), 0);
    }

    void blocksQueuedDuringStalledWriteGoOutInOrder() {
        PortOnPty p;
        p.port.Open();
        StallLine(p.pty);
        QByteArray expected;
        for (int i = 0; i < 3; ++i) {
            const QByteArray block = Pattern(300, i + 1);
            QCOMPARE(p.port.WriteBuf(block.constData(), block.size()), 300);
            expected += block;
        }
        // The far end takes what stalled the line (zeros), then the queued blocks.
        QByteArray got;
        QDeadlineTimer deadline(3000);
        while (got.size() < expected.size() && !deadline.hasExpired()) {
            got += p.pty.receive(4096, 20);
            qsizetype zeros = 0;
            while (zeros < got.size() && got[zeros] == '\0')
                ++zeros;
            got.remove(0, zeros);
            QCoreApplication::processEvents();
        }
        QCOMPARE(got, expected);
        p.port.Close();
    }

    void onlyFirstClearQueueWaitsForAcknowledgement() {
        PortOnPty p;
        p.port.Open();
        // The write thread is idle: the first purge is acknowledged at once.
        QElapsedTimer t;
        t.start();
        p.port.PurgeReadWrite();
        QVERIFY(t.elapsed() < 500);
        // Now the thread is blocked handing over "queue empty"; a later purge does not
        // need it.
        QVERIFY(p.port.WriteBuf("abc", 3) == 3);
        QThread::msleep(100);
        t.restart();
        p.port.PurgeReadWrite();
        QVERIFY(t.elapsed() < 500);
        p.port.Close();
    }

    void purgeWhileTheWriteThreadNotifies_data() {
        QTest::addColumn<bool>("fromOtherThread");
        // The frame protocol's case: the purge comes from the user-interface thread, which
        // the write thread is waiting for. It needs no answer.
        QTest::newRow("from the thread it waits for") << false;
        // Here no answer can come while the user-interface thread is blocked.
        QTest::newRow("from another thread") << true;
    }
    void purgeWhileTheWriteThreadNotifies() {
        QFETCH(bool, fromOtherThread);
        PortOnPty p;
        QString message;
        qint64 took = -1;
        int calls = 0;
        // Inside the "queue empty" notification the write thread certainly waits for this
        // thread; what is written meanwhile stays queued.
        p.port.OnTxEmpty = [&](QObject*) {
            if (calls++ != 0)
                return;
            QCOMPARE(p.port.WriteBuf("def", 3), 3);
            QElapsedTimer t;
            t.start();
            auto purge = [&] {
                try {
                    p.port.PurgeReadWrite();
                } catch (const EVaCommError& e) {
                    message = e.Message();
                }
            };
            if (fromOtherThread)
                std::thread(purge).join();
            else
                purge();
            took = t.elapsed();
        };
        p.port.SetMonitorEvents({ceRxChar, ceTxEmpty});
        p.port.Open();
        QCOMPARE(p.port.WriteBuf("abc", 3), 3);
        QTRY_VERIFY(took >= 0);
        if (fromOtherThread) {
            QVERIFY2(took >= TTransmitQueue::ClearAcknowledgeMs - 100,
                     qPrintable(QString::number(took)));
            QCOMPARE(message, QString("Error clearing buffers (110), Connection timed out"));
        } else {
            QVERIFY2(took < 1000, qPrintable(QString::number(took)));
            QCOMPARE(message, QString());
        }
        // A purge that failed left the queue as it was; one that worked emptied it.
        QCOMPARE(p.port.WriteBuf("ghi", 3), 3);
        const QByteArray expected = fromOtherThread ? "abcdefghi" : "abcghi";
        QByteArray got;
        QDeadlineTimer deadline(5000);
        while (got.size() < expected.size() && !deadline.hasExpired()) {
            QCoreApplication::processEvents();
            got += p.pty.receive(int(expected.size() - got.size()), 10);
        }
        QCOMPARE(got, expected);
        p.port.Close();
    }

    void hangUpDuringTrafficFailsCleanlyWithoutSpinning() {
        PortOnPty p;
        int calls = 0;
        p.port.OnRxChar = [&](QObject*, int) {
            ++calls;
            QByteArray s;
            p.port.ReadText(s);
        };
        p.port.Open();
        QVERIFY(p.pty.send("!"));
        QTRY_COMPARE(calls, 1);
        p.pty.closeMaster();
        QCOMPARE(p.port.WriteBuf("abc", 3), 3);
        const double cpuBefore = ProcessCpuMs();
        QElapsedTimer wall;
        wall.start();
        DelayWithMessages(500);
        const double cpuShare = (ProcessCpuMs() - cpuBefore) / double(wall.elapsed());
        QVERIFY2(cpuShare < 0.2, qPrintable(QString("cpu share %1").arg(cpuShare)));
        // The write thread ended on the failed status query of its error report; the
        // event thread waits only for the stop.
        QTRY_COMPARE(VaCommTesting::LiveThreads(), 1);
        QCOMPARE(calls, 1);
        try {
            p.port.ReadBufUsed();
            QFAIL("status of a hung-up line was read");
        } catch (const EVaCommError& e) {
            QCOMPARE(e.Message(), QString("Error retrieving statistics (5), Input/output error"));
        }
        char buf[8];
        try {
            p.port.ReadBuf(buf, 8);
            QFAIL("read of a hung-up line succeeded");
        } catch (const EVaCommError& e) {
            QCOMPARE(e.Message(), QString("Read error (5), Input/output error"));
        }
        p.port.Close();
    }

    void directWriteSendsInCallersThread() {
        PortOnPty p;
        p.port.SetDirectWrite(true);
        p.port.Buffers()->SetReadTimeout(100);
        p.port.Open();
        QCOMPARE(VaCommTesting::LiveThreads(), 1);
        QCOMPARE(p.port.WriteBuf("direct", 6), 6);
        QCOMPARE(p.pty.receive(6, 1000), QByteArray("direct"));
        // A line that takes nothing: 0 after ReadTimeout, no error.
        StallLine(p.pty);
        const QByteArray big = Pattern(8192);
        QElapsedTimer t;
        t.start();
        QCOMPARE(p.port.WriteBuf(big.constData(), big.size()), 0);
        QVERIFY(t.elapsed() >= 100);
        p.port.Close();
    }
};

int main(int argc, char** argv) {
    TCoreApplication app(argc, argv);
    TestVaCommThreads test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_vacommthreads.moc"
