// The wire trace (--trace): what crossed the line of a simulated device, read back from
// the file the way support would read it.

#include "cli/Arguments.h"
#include "cli/WireTrace.h"
#include "tests/cli/CliRig.h"

#include <QtTest>
#include <stdexcept>

namespace {

struct TraceLine {
    double ms = 0;
    char dir = 0;
    QString sector;
    QString what; // everything after the sector
    QByteArray bytes;
};

struct Trace {
    QStringList header; // the "#" lines
    QList<TraceLine> lines;
    QString error; // what did not parse
};

// Byte lines are "COUNT HEX... |PRINTABLE|" or "0 (nothing)"; both parts must agree.
Trace ParseTrace(const QByteArray& Text) {
    Trace t;
    for (const QString& raw : QString::fromUtf8(Text).split(u'\n', Qt::SkipEmptyParts)) {
        if (raw.startsWith(u'#')) {
            t.header.append(raw);
            continue;
        }
        const QStringList f = raw.split(u' ', Qt::SkipEmptyParts);
        TraceLine l;
        bool ok = false;
        if (f.size() >= 4)
            l.ms = f[0].toDouble(&ok);
        if (!ok || f[1].size() != 1 || !QStringLiteral("<>*").contains(f[1])) {
            t.error = raw;
            return t;
        }
        l.dir = f[1][0].toLatin1();
        l.sector = f[2];
        l.what = f.mid(3).join(u' ');
        if (l.dir != '*') {
            const int count = f[3].toInt(&ok);
            if (!ok || (count == 0 && l.what != u"0 (nothing)")) {
                t.error = raw;
                return t;
            }
            if (count > 0) {
                QByteArray hex;
                for (int i = 4; i < 4 + count && i < f.size(); ++i)
                    hex += f[i].toLatin1();
                l.bytes = QByteArray::fromHex(hex);
                QByteArray shown;
                for (char c : l.bytes)
                    shown += c >= 0x20 && c < 0x7F ? c : '.';
                if (l.bytes.size() != count ||
                    !raw.endsWith(u'|' + QString::fromLatin1(shown) + u'|')) {
                    t.error = raw;
                    return t;
                }
            }
        }
        t.lines.append(l);
    }
    return t;
}

Trace ReadTrace(const QString& Path) {
    return ParseTrace(ReadWholeFile(Path));
}

// The write frame of sector n as the device expects it.
QByteArray WriteFrame(const QByteArray& Program, int n) {
    QByteArray frame;
    frame += 'W';
    frame += char(n & 0xFF);
    frame += char(n >> 8);
    frame += Program.mid(n * 256, 256).leftJustified(256, '\xFF');
    frame += char(0x100 - sim::ByteSum(frame));
    return frame;
}

QList<TraceLine> Lines(const Trace& T, char Dir) {
    QList<TraceLine> out;
    for (const TraceLine& l : T.lines)
        if (l.dir == Dir)
            out.append(l);
    return out;
}

qsizetype IndexOf(const Trace& T, char Dir, const QString& What, qsizetype From = 0) {
    for (qsizetype i = From; i < T.lines.size(); ++i)
        if (T.lines[i].dir == Dir && (What.isEmpty() || T.lines[i].what == What))
            return i;
    return -1;
}

// Times never go back; the last line is the port closed; the trace has its end line.
bool Complete(const Trace& T, QString& Why) {
    if (!T.error.isEmpty())
        return Why = QStringLiteral("unparsed line: ") + T.error, false;
    if (T.lines.isEmpty() || T.lines.last().what != u"close")
        return Why = QStringLiteral("does not end with close"), false;
    for (qsizetype i = 1; i < T.lines.size(); ++i)
        if (T.lines[i].ms < T.lines[i - 1].ms || T.lines[i - 1].ms < 0)
            return Why = QStringLiteral("time goes back at line %1").arg(i), false;
    if (T.header.isEmpty() || !T.header.last().startsWith(QStringLiteral("# end at ")))
        return Why = QStringLiteral("no end line"), false;
    return true;
}

// A line for the trace's own tests: every call answered at once, nothing received.
class QuietLink : public TDeviceLink {
public:
    bool failWrites = false;
    void Open(int) override {}
    void Close() override {}
    void Purge() override {}
    void Write(const quint8*, int) override {
        if (failWrites)
            throw std::runtime_error("write failed: EIO");
    }
    void Wait(int) override {}
    QByteArray ReadText() override { return {}; }
    int BytesWaiting() override { return 0; }
    int ReadBlock(quint8*, int) override { return 0; }
};

} // namespace

class TestCliTrace : public QObject {
    Q_OBJECT
private slots:
    void twoSectorWriteShowsTheWholeConversation();
    void gangWritesOneTracePerPort();
    void failedAndStoppedRunsLeaveACompleteTrace_data();
    void failedAndStoppedRunsLeaveACompleteTrace();
    void uncreatableTraceIsAFileErrorBeforeThePortOpens_data();
    void uncreatableTraceIsAFileErrorBeforeThePortOpens();
    void sectorComesFromTheLastFrameHeader_data();
    void sectorComesFromTheLastFrameHeader();
    void linkErrorIsTracedAndPassedOn();
    void traceFileOfAPortIsNamedAfterIt_data();
    void traceFileOfAPortIsNamedAfterIt();
    void traceArguments_data();
    void traceArguments();
};

void TestCliTrace::twoSectorWriteShowsTheWholeConversation() {
    auto device = StartSim();
    QVERIFY(device);
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("two.bin"));
    const QString tracePath = dir.filePath(QStringLiteral("trace.txt"));
    const QByteArray program = Pattern(2 * 256, 3);
    QVERIFY(WriteWholeFile(file, program));

    const CliRun r = RunCli({QStringLiteral("write"), file, QStringLiteral("--port"),
                             device->SlavePath(), QStringLiteral("--wait"), QStringLiteral("30"),
                             QStringLiteral("--trace"), tracePath, QStringLiteral("--json")});
    QVERIFY2(r.code == 0, r.err.constData());
    QCOMPARE(device->Memory().left(program.size()), program);

    const Trace t = ReadTrace(tracePath);
    QString why;
    QVERIFY2(Complete(t, why), qPrintable(why));
    QVERIFY(t.header.first().endsWith(device->SlavePath()));
    QCOMPARE(t.header.last().section(u':', 1).trimmed(),
             QStringLiteral("520 bytes sent, 3 received"));

    // The bytes on the wire, in order: the announcement, then each frame and its "!".
    const QList<TraceLine> sent = Lines(t, '>'), received = Lines(t, '<');
    QCOMPARE(sent.size(), 2);
    QCOMPARE(received.size(), 3);
    QCOMPARE(received[0].sector, QStringLiteral("-"));
    QCOMPARE(received[0].bytes, QByteArray("!"));
    const qsizetype opened = IndexOf(t, '*', QStringLiteral("open ") + device->SlavePath());
    QVERIFY(opened >= 0);
    qsizetype at = IndexOf(t, '<', {});
    QVERIFY(at > opened);
    for (int n = 0; n < 2; ++n) {
        const QString sector = QStringLiteral("W%1").arg(n);
        // A purge empties the line before each frame.
        const qsizetype purge = IndexOf(t, '*', QStringLiteral("purge"), at);
        const qsizetype frame = IndexOf(t, '>', {}, at);
        const qsizetype wait = IndexOf(t, '*', QStringLiteral("wait 300 ms"), frame);
        const qsizetype reply = IndexOf(t, '<', {}, frame);
        QVERIFY2(at < purge && purge < frame && frame < wait && wait < reply, qPrintable(sector));
        QCOMPARE(t.lines[frame].sector, sector);
        QCOMPARE(t.lines[frame].bytes.size(), 260);
        QCOMPARE(t.lines[frame].bytes, WriteFrame(program, n));
        QCOMPARE(t.lines[reply].sector, sector);
        QCOMPARE(t.lines[reply].bytes, QByteArray("!"));
        // The reply is taken when the 300 ms wait is over, not before; the upper bound only
        // catches a trace whose times are not milliseconds.
        const double after = t.lines[reply].ms - t.lines[frame].ms;
        QVERIFY2(after >= 299 && after < 5000, qPrintable(QString::number(after)));
        at = reply;
    }
    QCOMPARE(t.lines.last().sector, QStringLiteral("W1"));
}

void TestCliTrace::gangWritesOneTracePerPort() {
    std::vector<std::unique_ptr<sim::SimDevice>> devices;
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("gang.bin"));
    const QByteArray program = Pattern(2 * 256, 5);
    QVERIFY(WriteWholeFile(file, program));
    QStringList args{QStringLiteral("write"), file, QStringLiteral("--wait"), QStringLiteral("30"),
                     QStringLiteral("--trace=") + dir.filePath(QStringLiteral("trace.txt"))};
    QStringList expected{QStringLiteral("gang.bin")};
    const auto traceName = [](QString path) {
        return QStringLiteral("trace-") + path.mid(5).replace(u'/', u'_') + ".txt";
    };
    for (int i = 0; i < 2; ++i) {
        devices.push_back(StartSim());
        QVERIFY(devices.back());
        const QString path = devices.back()->SlavePath();
        QVERIFY(path.startsWith(QStringLiteral("/dev/")));
        args << QStringLiteral("--port") << path;
        expected << traceName(path);
    }
    expected.sort();

    const CliRun r = RunCli(args);
    QVERIFY2(r.code == 0, r.err.constData());
    QCOMPARE(FolderEntries(dir.path()), expected);
    for (int i = 0; i < 2; ++i) {
        // Found by the device's name, not by place in the sorted list: pts/10 sorts
        // before pts/9.
        const QString path = devices[size_t(i)]->SlavePath();
        const Trace t = ReadTrace(dir.filePath(traceName(path)));
        QString why;
        QVERIFY2(Complete(t, why), qPrintable(why));
        // Each file holds its own device's conversation and no other's.
        QVERIFY(t.header.first().endsWith(path));
        QVERIFY(IndexOf(t, '*', QStringLiteral("open ") + path) >= 0);
        const QList<TraceLine> sent = Lines(t, '>');
        QCOMPARE(sent.size(), 2);
        for (int n = 0; n < 2; ++n) {
            QCOMPARE(sent[n].sector, QStringLiteral("W%1").arg(n));
            QCOMPARE(sent[n].bytes, WriteFrame(program, n));
        }
        QCOMPARE(Lines(t, '<').size(), 3);
    }
}

void TestCliTrace::failedAndStoppedRunsLeaveACompleteTrace_data() {
    QTest::addColumn<QString>("fault");
    QTest::addColumn<int>("framesBeforeCtrlC"); // -1: no Ctrl+C
    QTest::addColumn<int>("code");
    QTest::newRow("sector 1 never acknowledged") << "W:1:noreply:-1" << -1 << 6;
    QTest::newRow("Ctrl+C during the transfer") << QString() << 3 << 130;
}

void TestCliTrace::failedAndStoppedRunsLeaveACompleteTrace() {
    QFETCH(QString, fault);
    QFETCH(int, framesBeforeCtrlC);
    QFETCH(int, code);
    auto device = StartSim(fault.isEmpty() ? QStringList{} : QStringList{fault});
    QVERIFY(device);
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("p.bin"));
    const QString tracePath = dir.filePath(QStringLiteral("trace.txt"));
    QVERIFY(WriteWholeFile(file, Pattern(30 * 256)));
    TChildProcess child;
    QVERIFY(
        child.Start(QStringLiteral(VENDRIK_CLI_BIN),
                    {QStringLiteral("write"), file, QStringLiteral("--port"), device->SlavePath(),
                     QStringLiteral("--trace"), tracePath, QStringLiteral("--json")}));
    if (framesBeforeCtrlC >= 0) {
        QTRY_VERIFY_WITH_TIMEOUT(device->Stats().writeFrames >= framesBeforeCtrlC, 20000);
        child.Interrupt();
    }
    QVERIFY(child.WaitForExit(60000));
    QVERIFY2(child.ExitCode() == code, child.Error.constData());

    const Trace t = ReadTrace(tracePath);
    QString why;
    QVERIFY2(Complete(t, why), qPrintable(why));
    const QList<TraceLine> sent = Lines(t, '>');
    // Every frame the device took is in the trace, and only those (all were well formed).
    QCOMPARE(sent.size(), device->Stats().writeFrames);
    if (framesBeforeCtrlC < 0) {
        // Sector 1 twice, each attempt answered by nothing.
        QCOMPARE(sent.size(), 3);
        QCOMPARE(sent[1].sector, QStringLiteral("W1"));
        QCOMPARE(sent[2].bytes, sent[1].bytes);
        const QList<TraceLine> received = Lines(t, '<');
        QCOMPARE(received.size(), 4);
        for (int i = 2; i < 4; ++i) {
            QCOMPARE(received[i].sector, QStringLiteral("W1"));
            QVERIFY(received[i].bytes.isEmpty());
        }
    } else {
        QVERIFY(sent.size() >= framesBeforeCtrlC && sent.size() < 30);
    }
}

void TestCliTrace::uncreatableTraceIsAFileErrorBeforeThePortOpens_data() {
    QTest::addColumn<QString>("trace"); // below the test's folder
    QTest::newRow("folder missing") << "missing/trace.txt";
    QTest::newRow("a folder") << ".";
}

void TestCliTrace::uncreatableTraceIsAFileErrorBeforeThePortOpens() {
    QFETCH(QString, trace);
    auto device = StartSim();
    QVERIFY(device);
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("p.bin"));
    QVERIFY(WriteWholeFile(file, Pattern(256)));
    const QString tracePath = dir.filePath(trace);
    const CliRun r = RunCli({QStringLiteral("write"), file, QStringLiteral("--port"),
                             device->SlavePath(), QStringLiteral("--wait"), QStringLiteral("5"),
                             QStringLiteral("--trace"), tracePath, QStringLiteral("--json")});
    QCOMPARE(r.code, 3);
    QCOMPARE(r.json()["outcome"].toString(), QStringLiteral("file-error"));
    QVERIFY2(r.errText().contains(tracePath), r.err.constData());
    QCOMPARE(device->Stats().opens, 0);
}

void TestCliTrace::sectorComesFromTheLastFrameHeader_data() {
    QTest::addColumn<QList<QByteArray>>("writes"); // an empty one opens the port again
    QTest::addColumn<QStringList>("sectors");      // of each write
    const QByteArray w300("W\x2C\x01", 3), r127("R\x7F\x00\x2F", 4), short1("W\x01", 2);
    QTest::newRow("low byte first") << QList<QByteArray>{w300} << QStringList{"W300"};
    QTest::newRow("read request") << QList<QByteArray>{r127} << QStringList{"R127"};
    QTest::newRow("too short for a header keeps the last")
        << QList<QByteArray>{short1, w300, short1} << QStringList{"-", "W300", "W300"};
    QTest::newRow("not a frame letter keeps the last")
        << QList<QByteArray>{r127, QByteArray("D\x05\x00", 3)} << QStringList{"R127", "R127"};
    QTest::newRow("a new opening starts without a sector")
        << QList<QByteArray>{w300, {}, short1} << QStringList{"W300", "-"};
}

void TestCliTrace::sectorComesFromTheLastFrameHeader() {
    QFETCH(QList<QByteArray>, writes);
    QFETCH(QStringList, sectors);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("t.txt"));
    {
        QuietLink inner;
        TTracingLink traced(inner);
        QString error;
        QVERIFY(traced.Begin(path, QStringLiteral("/dev/null"), error));
        for (const QByteArray& w : writes) {
            if (w.isEmpty())
                traced.Open(1);
            else
                traced.Write(reinterpret_cast<const quint8*>(w.constData()), int(w.size()));
        }
        traced.Close();
    }
    const Trace t = ReadTrace(path);
    QVERIFY2(t.error.isEmpty(), qPrintable(t.error));
    const QList<TraceLine> sent = Lines(t, '>');
    QCOMPARE(sent.size(), sectors.size());
    for (qsizetype i = 0; i < sent.size(); ++i)
        QCOMPARE(sent[i].sector, sectors[i]);
    QCOMPARE(t.lines.last().sector, sectors.last());
}

void TestCliTrace::linkErrorIsTracedAndPassedOn() {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("t.txt"));
    {
        QuietLink inner;
        inner.failWrites = true;
        TTracingLink traced(inner);
        QString error;
        QVERIFY(traced.Begin(path, QStringLiteral("/dev/null"), error));
        const QByteArray frame("W\x00\x00", 3);
        QVERIFY_THROWS_EXCEPTION(
            std::runtime_error,
            traced.Write(reinterpret_cast<const quint8*>(frame.constData()), 3));
    }
    const Trace t = ReadTrace(path);
    QVERIFY2(t.error.isEmpty(), qPrintable(t.error));
    QCOMPARE(t.lines.size(), 2);
    QCOMPARE(t.lines[0].dir, '>');
    QCOMPARE(t.lines[1].what, QStringLiteral("error: write failed: EIO"));
}

void TestCliTrace::traceFileOfAPortIsNamedAfterIt_data() {
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("port");
    QTest::addColumn<QString>("expected");
    QTest::newRow("COM number") << "trace.txt"
                                << "3"
                                << "trace-COM3.txt";
    QTest::newRow("USB adapter") << "trace.txt"
                                 << "/dev/ttyUSB0"
                                 << "trace-ttyUSB0.txt";
    QTest::newRow("pseudo-terminal") << "out/trace.txt"
                                     << "/dev/pts/5"
                                     << "out/trace-pts_5.txt";
    QTest::newRow("by-id name") << "t.log"
                                << "/dev/serial/by-id/usb-A B:1"
                                << "t-serial_by-id_usb-A_B_1.log";
    QTest::newRow("outside /dev") << "t.txt"
                                  << "/tmp/p"
                                  << "t-tmp_p.txt";
    QTest::newRow("last extension") << "t.2024.txt"
                                    << "1"
                                    << "t.2024-COM1.txt";
    QTest::newRow("no extension") << "/var/log/trace"
                                  << "2"
                                  << "/var/log/trace-COM2";
    QTest::newRow("dot in a folder, not the name") << "a.d/trace"
                                                   << "2"
                                                   << "a.d/trace-COM2";
    QTest::newRow("hidden file") << "logs/.trace"
                                 << "2"
                                 << "logs/.trace-COM2";
}

void TestCliTrace::traceFileOfAPortIsNamedAfterIt() {
    QFETCH(QString, file);
    QFETCH(QString, port);
    QFETCH(QString, expected);
    QCOMPARE(TraceFileForPort(file, port), expected);
}

void TestCliTrace::traceArguments_data() {
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("trace");   // empty: refused
    QTest::addColumn<QString>("refusal"); // part of the reason
    QTest::newRow("separate value")
        << QStringList{"write", "a.bin", "-p", "1", "--trace", "t.txt"} << "t.txt" << QString();
    QTest::newRow("inline value") << QStringList{"read", "a.bin", "--trace=t.txt", "-p", "1"}
                                  << "t.txt" << QString();
    QTest::newRow("gang of distinct ports")
        << QStringList{"write", "a.bin", "-p", "1", "-p", "/dev/ttyUSB0", "--trace", "t.txt"}
        << "t.txt" << QString();
    QTest::newRow("no value") << QStringList{"write", "a.bin", "-p", "1", "--trace"} << QString()
                              << "--trace";
    QTest::newRow("empty value") << QStringList{"write", "a.bin", "-p", "1", "--trace="}
                                 << QString() << "--trace";
    QTest::newRow("over the program file")
        << QStringList{"write", "a.bin", "-p", "1", "--trace", "./a.bin"} << QString() << "a.bin";
    QTest::newRow("over the image a read saves")
        << QStringList{"read", "a.bin", "-p", "1", "--trace", "a.bin"} << QString() << "a.bin";
    QTest::newRow("gang device over the program file")
        << QStringList{"compare", "t-COM2.bin", "-p", "1", "-p", "2", "--trace", "t.bin"}
        << QString() << "t-COM2.bin";
    QTest::newRow("two ports, one file name")
        << QStringList{"write", "a.bin", "-p", "/dev/pts/5", "-p", "/dev/pts_5", "--trace", "t"}
        << QString() << "t-pts_5";
}

void TestCliTrace::traceArguments() {
    QFETCH(QStringList, args);
    QFETCH(QString, trace);
    QFETCH(QString, refusal);
    QString error;
    const std::optional<TArguments> a = ParseArguments(args, error);
    if (trace.isEmpty()) {
        QVERIFY(!a);
        QVERIFY2(error.contains(refusal), qPrintable(error));
    } else {
        QVERIFY2(a, qPrintable(error));
        QCOMPARE(a->trace, trace);
    }
}

QTEST_GUILESS_MAIN(TestCliTrace)
#include "tst_clitrace.moc"
