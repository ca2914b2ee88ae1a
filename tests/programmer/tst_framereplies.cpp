// Which bytes count as a sector's reply, in real time through the real port against the
// simulated device: the write and read waits from both sides, and bytes left waiting
// before a write frame.

#include "base/CoreApplication.h"
#include "platform/ThreadPriority.h"
#include "programmer/FrameProtocol.h"
#include "programmer/ProgramImage.h"
#include "tests/programmer/SimLink.h"

#include <QtTest/QTest>
#include <algorithm>

namespace {

// The waits as the device's timing fixes them; not the code's constants, which a row
// must not follow when they change.
constexpr int WriteWaitMs = 300;
constexpr int ReadWaitMs = 100;

// How far inside or outside its wait a row's reply is sent. Measured with a busy loop on
// each core beside other builds, single exchanges: a reply 10 ms inside the write wait was
// refused in 4 of 40, one 20 ms after it taken in 1 of 40, one 40 ms after it in 2 of 100
// (the wait overran by up to 190 ms); 25 to 30 ms either side, 0 wrong of 100 for writes,
// 1 of 100 for reads. 30 ms keeps the write rows 20 ms inside 250 and 350 ms, so a write
// wait moved by 50 ms fails a row.
constexpr int MarginMs = 30;
// A scheduling stall carries a reply across the edge of its wait now and then; a wrong
// wait carries it across every time. So a row passes at the first of this many exchanges
// that comes out as it says.
constexpr int Exchanges = 3;

// Records the loop's retries and status. Before sector `stallBefore` is sent it has the
// device send `unasked` (if any) and waits until a stray byte waits at the port, so it is
// there when the frame goes out.
struct StallingSink : TProgressSink {
    StallingSink(SimLink& link, int stallBefore, QByteArray unasked)
        : link_(link), stallBefore_(stallBefore), unasked_(std::move(unasked)) {}
    void SetProgressRange(int, int) override {}
    void SetProgressPosition(int Position) override {
        if (Position != stallBefore_ + 1) // Position i + 1 comes before sector i
            return;
        if (!unasked_.isEmpty())
            link_.device.SendUnasked(unasked_);
        link_.waitForInput(1);
        waitingBeforeFrame = link_.port.ReadBufUsed();
    }
    void SetStatusText(const QString& Text) override { status = Text; }
    void SetSaveAsEnabled(bool) override {}
    void SectorRetried(int Sector) override { retried.append(Sector); }

    int waitingBeforeFrame = -1;
    QList<int> retried;
    QString status;

private:
    SimLink& link_;
    int stallBefore_;
    QByteArray unasked_;
};

void FillProgram(int sectors) {
    for (int i = 0; i < sectors * SectorSize; ++i)
        ProgramImage[size_t(i)] = quint8(i * 5 + i / SectorSize);
    ProgramSize = sectors * SectorSize;
    SectorCount = sectors;
    ProgramLoaded = true;
}

QList<int> SectorsOf(const QList<QByteArray>& frames) {
    QList<int> sectors;
    for (const QByteArray& f : frames)
        sectors.append(quint8(f[1]) | (quint8(f[2]) << 8));
    return sectors;
}

} // namespace

class TestFrameReplies : public QObject {
    Q_OBJECT
private slots:
    // The waits run on this thread: where the process may (as root), it is given the
    // highest priority, so another build beside the test does not stretch a wait past a
    // reply it should not see. The port's threads, made later, start from it.
    void initTestCase() { SetThreadRelativePriority(CurrentThreadId(), CurrentThreadNice(), 15); }

    void replyCountsOnlyInsideItsWait_data() {
        QTest::addColumn<bool>("write");
        QTest::addColumn<int>("replyMs");
        QTest::addColumn<bool>("accepted");
        QTest::newRow("write ack before the wait ends") << true << WriteWaitMs - MarginMs << true;
        QTest::newRow("write ack after the wait") << true << WriteWaitMs + MarginMs << false;
        QTest::newRow("read reply before the wait ends") << false << ReadWaitMs - MarginMs << true;
        QTest::newRow("read reply after the wait") << false << ReadWaitMs + MarginMs << false;
    }
    void replyCountsOnlyInsideItsWait() {
        QFETCH(bool, write);
        QFETCH(int, replyMs);
        QFETCH(bool, accepted);
        const int sector = 2;
        const int replyBytes = write ? 1 : FrameSize;
        FillProgram(sector + 1);
        SimLink link(SimLink::WithFaults(
            {QStringLiteral("%1:%2:late:-1:%3").arg(write ? 'W' : 'R').arg(sector).arg(replyMs)}));
        QByteArray memory(sim::MemoryBytes, '\0');
        for (int i = 0; i < memory.size(); ++i)
            memory[i] = char(i * 11 + 3);
        link.device.SetMemory(memory);
        QVERIFY(link.openAndSwitchOn());
        std::fill(std::begin(DeviceImage), std::end(DeviceImage), quint8(0));

        QStringList seen;
        int exchanges = 0;
        TSectorResult r = srBadReply;
        while (exchanges < Exchanges) {
            ++exchanges;
            r = write ? WriteSector(link.line, sector) : ReadSector(link.line, sector);
            seen.append(r == srOk ? QStringLiteral("taken") : QStringLiteral("refused"));
            if ((r == srOk) == accepted)
                break;
            if (r != srOk) { // gone before the next exchange, or it would count there
                QVERIFY(link.waitForInput(replyBytes));
                QByteArray late;
                link.port.ReadText(late);
            }
        }
        QVERIFY2(r == (accepted ? srOk : srNoReply),
                 qPrintable(QStringLiteral("replies %1").arg(seen.join(QStringLiteral(", ")))));
        QCOMPARE(link.device.Stats().faults, exchanges); // every reply was held back
        if (write)
            QCOMPARE(LastReply, accepted ? QByteArray("!") : QByteArray());
        const QByteArray stored(reinterpret_cast<const char*>(&DeviceImage[sector * SectorSize]),
                                SectorSize);
        QCOMPARE(stored == memory.mid(sector * SectorSize, SectorSize), !write && accepted);
        // A refused reply was on its way: it was refused for its time, not its absence.
        if (!accepted)
            QVERIFY(link.waitForInput(replyBytes));
    }

    void strayBytesBeforeFrameAreNotTakenForItsReply_data() {
        QTest::addColumn<QStringList>("faults");
        QTest::addColumn<int>("stallBefore");
        QTest::addColumn<QByteArray>("unasked");
        QTest::addColumn<QList<int>>("sent");
        QTest::addColumn<QList<int>>("retried");
        // Unpurged, the stray byte would lead the next reply and make a good one bad.
        QTest::newRow("CR after the announcement")
            << QStringList() << 0 << QByteArray("\r") << QList<int>{0, 1, 2} << QList<int>{};
        QTest::newRow("CR trailing the previous ack")
            << QStringList{"W:0:trail:1:400"} << 1 << QByteArray() << QList<int>{0, 1, 2}
            << QList<int>{};
        // Unpurged, a stray "!" would pass for the ack of a frame left unanswered.
        QTest::newRow("stray ack before an unanswered frame")
            << QStringList{"W:1:noreply:1"} << 1 << QByteArray("!") << QList<int>{0, 1, 1, 2}
            << QList<int>{1};
    }
    void strayBytesBeforeFrameAreNotTakenForItsReply() {
        QFETCH(QStringList, faults);
        QFETCH(int, stallBefore);
        QFETCH(QByteArray, unasked);
        QFETCH(QList<int>, sent);
        QFETCH(QList<int>, retried);
        FillProgram(3);
        SimLink link(SimLink::WithFaults(faults));
        QVERIFY(link.openAndSwitchOn());
        StallingSink sink(link, stallBefore, unasked);
        WriteProgram(link.line, sink);
        QCOMPARE(sink.waitingBeforeFrame, 1); // the stray byte was there when the frame went
        QCOMPARE(SectorsOf(link.device.WriteFrames()), sent);
        QCOMPARE(sink.retried, retried);
        QCOMPARE(sink.status, TextDataWritten);
        QCOMPARE(LastReply, QByteArray("!"));
    }
};

int main(int argc, char** argv) {
    TCoreApplication app(argc, argv);
    TestFrameReplies test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_framereplies.moc"
