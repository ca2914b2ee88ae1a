// Block and text reads, line status and purging on a pseudo-terminal.
#include "base/CoreApplication.h"
#include "tests/comm/CommTestHelpers.h"

#include <QElapsedTimer>
#include <sys/ioctl.h>

static int QueuedAtSlave(const PtyPair& pty) {
    int n = -1;
    return ::ioctl(pty.slave, FIONREAD, &n) == 0 ? n : -1;
}

class TestVaCommIo : public QObject {
    Q_OBJECT
private slots:
    void init() { VaCommTesting::SetClosePause(0); }
    void cleanup() { QVERIFY(WaitForLinkThreads()); }

    void readBufReturnsAtOnceWithWhatWaits() {
        PortOnPty p;
        p.port.SetMonitorEvents({});
        p.port.Open();
        QVERIFY(p.pty.send("hello"));
        QTRY_COMPARE(p.port.ReadBufUsed(), 5);
        char buf[100] = {};
        QElapsedTimer t;
        t.start();
        QCOMPARE(p.port.ReadBuf(buf, sizeof buf), 5);
        QCOMPARE(QByteArray(buf, 5), QByteArray("hello"));
        QCOMPARE(p.port.ReadBuf(buf, sizeof buf), 0);
        // Waiting would mean the read timeout (1000 ms); a loaded machine may add a little.
        QVERIFY2(t.elapsed() < 800, "ReadBuf waited instead of returning at once");
        p.port.Close();
    }

    void readTextTakesEverythingWaiting() {
        PortOnPty p;
        p.port.SetMonitorEvents({});
        p.port.Open();
        QByteArray s("stale");
        p.port.ReadText(s);
        QVERIFY(s.isEmpty());
        QVERIFY(p.pty.send(QByteArray("!\0x", 3)));
        QTRY_COMPARE(p.port.ReadBufUsed(), 3);
        p.port.ReadText(s);
        QCOMPARE(s, QByteArray("!\0x", 3));
        QCOMPARE(p.port.ReadBufUsed(), 0);
        p.port.Close();
    }

    void bytesWrittenBeforeOpenAreNotDelivered() {
        PortOnPty p;
        p.port.SetMonitorEvents({});
        QVERIFY(p.pty.send("old"));
        // The pty moves written bytes to the far side asynchronously: wait until they
        // are really queued there, or the flush at open could come before them.
        QTRY_COMPARE(QueuedAtSlave(p.pty), 3);
        p.port.Open();
        QThread::msleep(20);
        QCOMPARE(p.port.ReadBufUsed(), 0);
        p.port.Close();
    }

    void purgeReadWriteDiscardsReceivedBytes() {
        PortOnPty p;
        p.port.SetMonitorEvents({});
        p.port.Open();
        QVERIFY(p.pty.send(Pattern(260)));
        QTRY_COMPARE(p.port.ReadBufUsed(), 260);
        LineStatus st;
        p.port.GetLineStatus(st);
        QCOMPARE(st.InQueue, 260u);
        QCOMPARE(st.Errors, 0u);
        p.port.PurgeReadWrite();
        QCOMPARE(p.port.ReadBufUsed(), 0);
        p.port.Close();
        p.port.PurgeReadWrite(); // closed: nothing, no error
    }

    void purgeEmptiesTransmitQueueUnlessReceiveOnly_data() {
        QTest::addColumn<quint32>("flags");
        QTest::addColumn<bool>("emptied");
        QTest::newRow("receive abort and clear") << 10u << false;
        QTest::newRow("receive abort only") << 2u << true;
        QTest::newRow("all") << 15u << true;
    }
    void purgeEmptiesTransmitQueueUnlessReceiveOnly() {
        QFETCH(quint32, flags);
        QFETCH(bool, emptied);
        PortOnPty p;
        p.port.SetMonitorEvents({});
        p.port.Buffers()->SetWriteTimeout(100);
        p.port.Open();
        StallLine(p.pty);
        QCOMPARE(p.port.WriteBuf(Pattern(2048).constData(), 2048), 2048);
        p.port.Purge(flags);
        // A full queue refuses one more byte; an emptied one takes a whole queue's worth.
        bool accepted = true;
        try {
            accepted = p.port.WriteBuf(Pattern(2048).constData(), 2048) == 2048;
        } catch (const EVaCommError& e) {
            QCOMPARE(e.Message(), QString("Output buffer is full. Please check comm status."));
            accepted = false;
        }
        QCOMPARE(accepted, emptied);
        p.port.Close();
    }
};

int main(int argc, char** argv) {
    TCoreApplication app(argc, argv);
    TestVaCommIo test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_vacommio.moc"
