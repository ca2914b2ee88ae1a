// The frame protocol's calls on the line, exactly and in order, against a recording link:
// the purge before each write frame and none before a read request, the waits asked for,
// the reply read, the single retry, the limit of 506 sectors, the 128 read requests.
// Time is counted, not waited, so a reply can be placed just inside or just outside a
// wait. The bytes over a real port are tst_frameprotocol's.

#include "base/CoreApplication.h"
#include "programmer/FrameProtocol.h"
#include "programmer/ProgramImage.h"
#include "tests/programmer/RecordingLink.h"

#include <QtTest/QTest>
#include <algorithm>
#include <numeric>

namespace {

struct TRecordingSink : TProgressSink {
    int rangeMin = -1, rangeMax = -1;
    QList<int> positions;
    QString status;
    int saveAs = -1; // -1: never set
    bool stop = false;
    void SetProgressRange(int Min, int Max) override {
        rangeMin = Min;
        rangeMax = Max;
    }
    void SetProgressPosition(int Position) override { positions.append(Position); }
    void SetStatusText(const QString& Text) override { status = Text; }
    void SetSaveAsEnabled(bool Enabled) override { saveAs = Enabled ? 1 : 0; }
    bool StopRequested() const override { return stop; }
};

QByteArray ImageBytes(const TImageBuffer& Image, int Sectors) {
    return QByteArray(reinterpret_cast<const char*>(Image.data()), Sectors * SectorSize);
}

// Common columns of the two loops' tables: the replies, a stop requested once the link has
// logged that many calls (0: none), a call that raises the link's error.
void AddScriptColumns() {
    QTest::addColumn<TReplyScript>("script");
    QTest::addColumn<int>("stopAfterCalls");
    QTest::addColumn<QString>("failCall");
    QTest::addColumn<QStringList>("calls");
    QTest::addColumn<QString>("outcome");
}

} // namespace

class TestFrameSequence : public QObject {
    Q_OBJECT
private slots:
    void writeProgramMakesExactCalls_data() {
        AddScriptColumns();
        const QString done = QStringLiteral("done 3/3");
        QTest::newRow("three sectors") << TReplyScript{} << 0 << QString()
                                       << QStringList{"purge", "write W 0", "wait 300", "read !",
                                                      "purge", "write W 1", "wait 300", "read !",
                                                      "purge", "write W 2", "wait 300", "read !"}
                                       << done;
        QTest::newRow("no reply, sent once more")
            << TReplyScript{{1, TReply::Nothing()}} << 0 << QString()
            << WriteAttempt(0) + WriteAttempt(1, "read") + WriteAttempts(1, 3)
            << "done 3/3 retries=1";
        QTest::newRow("first byte not the ack, sent once more")
            << TReplyScript{{1, TReply::Text("?!")}} << 0 << QString()
            << WriteAttempt(0) + WriteAttempt(1, "read ?!") + WriteAttempts(1, 3)
            << "done 3/3 retries=1";
        QTest::newRow("bytes after the ack are ignored")
            << TReplyScript{{1, TReply::Text("!\r?")}} << 0 << QString()
            << WriteAttempt(0) + WriteAttempt(1, "read !\\x0D?") + WriteAttempt(2) << done;
        QTest::newRow("second attempt fails: nothing more is sent")
            << TReplyScript{{1, TReply::Nothing()}, {2, TReply::Text("x")}} << 0 << QString()
            << WriteAttempt(0) + WriteAttempt(1, "read") + WriteAttempt(1, "read x")
            << "sector-failed 1/3 failed=1 retries=1";
        QTest::newRow("ack just inside the wait") << TReplyScript{{0, TReply::Ack().At(299)}} << 0
                                                  << QString() << WriteAttempts(0, 3) << done;
        // Arrives during the retry's wait, after its purge, and is read with its own ack.
        QTest::newRow("ack just after the wait is no reply")
            << TReplyScript{{0, TReply::Ack().At(301)}} << 0 << QString()
            << WriteAttempt(0, "read") + WriteAttempt(0, "read !!") + WriteAttempts(1, 3)
            << "done 3/3 retries=1";
        QTest::newRow("bytes after an ack are purged before the next frame")
            << TReplyScript{{0, TReply::Ack().ThenStray("\r\n?")}} << 0 << QString()
            << WriteAttempts(0, 3) << done;
        QTest::newRow("a late ack before the retry is purged")
            << TReplyScript{{1, TReply::Nothing().ThenStray("!")}, {2, TReply::Nothing()}} << 0
            << QString() << WriteAttempt(0) + WriteAttempt(1, "read") + WriteAttempt(1, "read")
            << "sector-failed 1/3 failed=1 retries=1";
        QTest::newRow("stop between sectors")
            << TReplyScript{} << 8 << QString() << WriteAttempts(0, 2) << "stopped 2/3";
        QTest::newRow("link error on the second frame")
            << TReplyScript{} << 0 << "write 2"
            << WriteAttempt(0) + QStringList{"purge", "write W 1 throws"}
            << "link-error 1/3 reason=" + LinkErrorText;
        QTest::newRow("link error reading a reply")
            << TReplyScript{} << 0 << "read 1"
            << QStringList{"purge", "write W 0", "wait 300", "read throws"}
            << "link-error 0/3 reason=" + LinkErrorText;
    }
    void writeProgramMakesExactCalls() {
        QFETCH(TReplyScript, script);
        QFETCH(int, stopAfterCalls);
        QFETCH(QString, failCall);
        QFETCH(QStringList, calls);
        QFETCH(QString, outcome);
        LoadPatternProgram(3);
        QStringList log;
        TRecordingLink link(log);
        link.OpenScripted(script, failCall);
        TRecordingSink sink;
        // No capture of this file's own types: a unity build would warn of their linkage.
        link.OnCall = [&stop = sink.stop, &link, stopAfterCalls](const QString&) {
            stop = stop || link.calls == stopAfterCalls;
        };

        const TRunOutcome o = WriteProgram(link, sink);

        QCOMPARE(log, calls);
        QCOMPARE(OutcomeLine(o), outcome);
        QCOMPARE(sink.status,
                 QString(o.end == TRunEnd::Done ? "Данные записаны" : "Ошибка записи"));
        QCOMPARE(sink.saveAs, -1);
    }

    // Files of up to 512 sectors load, but a write sends at most 506.
    void writeSendsAtMost506Sectors_data() {
        QTest::addColumn<int>("sectors");
        QTest::addColumn<int>("frames");
        QTest::newRow("empty program") << 0 << 0;
        QTest::newRow("one sector") << 1 << 1;
        QTest::newRow("257 sectors: numbers past a byte") << 257 << 257;
        QTest::newRow("505 sectors") << 505 << 505;
        QTest::newRow("506 sectors") << 506 << 506;
        QTest::newRow("507 sectors") << 507 << 506;
        QTest::newRow("512 sectors") << 512 << 506;
    }
    void writeSendsAtMost506Sectors() {
        QFETCH(int, sectors);
        QFETCH(int, frames);
        LoadPatternProgram(sectors);
        QStringList log;
        TRecordingLink link(log);
        link.Open(1);
        log.clear();
        link.calls = 0;
        TRecordingSink sink;

        const TRunOutcome o = WriteProgram(link, sink);

        QCOMPARE(log, WriteAttempts(0, frames));
        QCOMPARE(OutcomeLine(o), QStringLiteral("done %1/%1").arg(frames));
        QCOMPARE(sink.status, QStringLiteral("Данные записаны"));
        QCOMPARE(sink.rangeMin, 0);
        QCOMPARE(sink.rangeMax, frames);
        QList<int> positions(frames);
        std::iota(positions.begin(), positions.end(), 1);
        QCOMPARE(sink.positions, positions);
        QCOMPARE(link.memory.left(frames * SectorSize), ImageBytes(ProgramImage, frames));
        QCOMPARE(link.nowMs, qint64(frames) * 300);
    }

    void readProgramMakesExactCalls_data() {
        AddScriptColumns();
        // Sectors that must be in DeviceImage afterwards.
        QTest::addColumn<int>("sectorsRead");
        QTest::newRow("128 sectors")
            << TReplyScript{} << 0 << QString() << ReadAttempts(0, 128) << "done 128/128" << 128;
        QTest::newRow("bad checksum, asked once more")
            << TReplyScript{{5, TReply::BadSum()}} << 0 << QString()
            << ReadAttempts(0, 6) + ReadAttempts(5, 128) << "done 128/128 retries=1" << 128;
        QTest::newRow("bad checksum twice")
            << TReplyScript{{5, TReply::BadSum()}, {6, TReply::BadSum()}} << 0 << QString()
            << ReadAttempts(0, 6) + ReadAttempt(5) << "sector-failed 5/128 failed=5 retries=1" << 5;
        // Nothing is purged or taken, so the retry's reply queues behind the short one.
        QTest::newRow("short reply stays queued and sinks the retry")
            << TReplyScript{{3, TReply::SectorOfSize(259)}} << 0 << QString()
            << ReadAttempts(0, 3) + ReadAttempt(3, 259) + ReadAttempt(3, 519)
            << "sector-failed 3/128 failed=3 retries=1" << 3;
        QTest::newRow("long reply")
            << TReplyScript{{3, TReply::SectorOfSize(261)}} << 0 << QString()
            << ReadAttempts(0, 3) + ReadAttempt(3, 261) + ReadAttempt(3, 521)
            << "sector-failed 3/128 failed=3 retries=1" << 3;
        QTest::newRow("reply just inside the wait")
            << TReplyScript{{0, TReply::Sector().At(99)}} << 0 << QString() << ReadAttempts(0, 128)
            << "done 128/128" << 128;
        QTest::newRow("reply just after the wait")
            << TReplyScript{{0, TReply::Sector().At(101)}} << 0 << QString()
            << ReadAttempt(0, 0) + ReadAttempt(0, 520) << "sector-failed 0/128 failed=0 retries=1"
            << 0;
        QTest::newRow("stray bytes before a request are not purged")
            << TReplyScript{{2, TReply::Sector().ThenStray("x")}} << 0 << QString()
            << ReadAttempts(0, 3) + ReadAttempt(3, 261) + ReadAttempt(3, 521)
            << "sector-failed 3/128 failed=3 retries=1" << 3;
        QTest::newRow("stop between sectors")
            << TReplyScript{} << 12 << QString() << ReadAttempts(0, 3) << "stopped 3/128" << 3;
        QTest::newRow("link error taking a reply")
            << TReplyScript{} << 0 << "block 2"
            << ReadAttempt(0) +
                   QStringList{"write R 1", "wait 100", "waiting 260", "block 260 throws"}
            << "link-error 1/128 reason=" + LinkErrorText << 1;
    }
    void readProgramMakesExactCalls() {
        QFETCH(TReplyScript, script);
        QFETCH(int, stopAfterCalls);
        QFETCH(QString, failCall);
        QFETCH(QStringList, calls);
        QFETCH(QString, outcome);
        QFETCH(int, sectorsRead);
        std::fill(std::begin(DeviceImage), std::end(DeviceImage), quint8(0));
        DeviceImageValid = true;
        QStringList log;
        TRecordingLink link(log);
        link.OpenScripted(script, failCall);
        TRecordingSink sink;
        // No capture of this file's own types: a unity build would warn of their linkage.
        link.OnCall = [&stop = sink.stop, &link, stopAfterCalls](const QString&) {
            stop = stop || link.calls == stopAfterCalls;
        };

        const TRunOutcome o = ReadProgram(link, sink);

        QCOMPARE(log, calls);
        QCOMPARE(OutcomeLine(o), outcome);
        const bool done = o.end == TRunEnd::Done;
        QCOMPARE(sink.status, QString(done ? "Данные считаны" : "Ошибка считывания"));
        QCOMPARE(sink.saveAs, done ? 1 : 0);
        QCOMPARE(DeviceImageValid, done);
        QCOMPARE(ImageBytes(DeviceImage, sectorsRead), link.memory.left(sectorsRead * SectorSize));
        // The sector that failed, and all after it, were not touched.
        QCOMPARE(ImageBytes(DeviceImage, 512).mid(sectorsRead * SectorSize),
                 QByteArray((512 - sectorsRead) * SectorSize, '\0'));
    }
};

int main(int argc, char** argv) {
    TCoreApplication app(argc, argv);
    TestFrameSequence test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_framesequence.moc"
