// The command line, the progress line and the result object of vendrik-cli, without a
// device.

#include "cli/Arguments.h"
#include "cli/Gang.h"
#include "cli/Progress.h"
#include "cli/RunResult.h"

#include <QJsonDocument>
#include <QtTest>

class TestCliArguments : public QObject {
    Q_OBJECT
private slots:
    void acceptsCommandLines_data();
    void acceptsCommandLines();
    void refusesCommandLines_data();
    void refusesCommandLines();
    void progressLineCountsTimeLeftFromThePaceSoFar_data();
    void progressLineCountsTimeLeftFromThePaceSoFar();
    void resultSurvivesJsonRoundTrip_data();
    void resultSurvivesJsonRoundTrip();
    void gangFailsWhenAnyDeviceFails_data();
    void gangFailsWhenAnyDeviceFails();
};

namespace {

// write a.bin with COM1..COM8, then /dev/ttyUSB0.. up to Count ports.
QStringList GangOf(int Count) {
    QStringList args{"write", "a.bin"};
    for (int i = 0; i < Count; ++i)
        args << "-p"
             << (i < 8 ? QString::number(i + 1) : QStringLiteral("/dev/ttyUSB%1").arg(i - 8));
    return args;
}

} // namespace

void TestCliArguments::acceptsCommandLines_data() {
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<int>("command");
    QTest::addColumn<QStringList>("ports");
    QTest::addColumn<bool>("verify");
    QTest::addColumn<int>("waitMs");
    QTest::addColumn<bool>("json");
    QTest::newRow("write to COM3")
        << QStringList{"write", "a.bin", "--port", "3"} << int(TCommand::Write) << QStringList{"3"}
        << false << -1 << false;
    QTest::newRow("COM spelled out, any case")
        << QStringList{"read", "a.bin", "--port=com8"} << int(TCommand::Read) << QStringList{"8"}
        << false << -1 << false;
    QTest::newRow("device path and options before the file")
        << QStringList{"--json", "-p", "/dev/ttyUSB0", "compare", "--wait", "2.5", "a.bin"}
        << int(TCommand::Compare) << QStringList{"/dev/ttyUSB0"} << false << 2500 << true;
    QTest::newRow("gang with verify")
        << QStringList{"write",  "a.bin",      "--verify", "--port", "1",
                       "--port", "/dev/pts/7", "--port",   "COM2"}
        << int(TCommand::Write) << QStringList{"1", "/dev/pts/7", "2"} << true << -1 << false;
    // More devices than COM numbers: the rest by path.
    QStringList sixtyFour = GangOf(64);
    QTest::newRow("64 ports") << sixtyFour << int(TCommand::Write)
                              << sixtyFour.filter(QRegularExpression("^(\\d|/.*)$")) << false << -1
                              << false;
    QTest::newRow("a part of a second waits a whole millisecond")
        << QStringList{"write", "a.bin", "--port", "1", "--wait=0.0001"} << int(TCommand::Write)
        << QStringList{"1"} << false << 1 << false;
}

void TestCliArguments::acceptsCommandLines() {
    QFETCH(QStringList, args);
    QFETCH(int, command);
    QFETCH(QStringList, ports);
    QFETCH(bool, verify);
    QFETCH(int, waitMs);
    QFETCH(bool, json);
    QString error;
    const std::optional<TArguments> a = ParseArguments(args, error);
    QVERIFY2(a, qPrintable(error));
    QCOMPARE(int(a->command), command);
    QCOMPARE(a->file, QStringLiteral("a.bin"));
    QCOMPARE(a->ports, ports);
    QCOMPARE(a->verify, verify);
    QCOMPARE(a->waitMs, waitMs);
    QCOMPARE(a->json, json);
}

void TestCliArguments::refusesCommandLines_data() {
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("reason");
    QTest::newRow("nothing") << QStringList{} << "не указана команда";
    QTest::newRow("unknown command")
        << QStringList{"flash", "a.bin", "--port", "1"} << "неизвестная команда";
    QTest::newRow("no file") << QStringList{"write", "--port", "1"} << "не указан файл";
    QTest::newRow("two files") << QStringList{"write", "a.bin", "b.bin", "--port", "1"}
                               << "лишний параметр";
    QTest::newRow("no port") << QStringList{"write", "a.bin"} << "не указан порт";
    QTest::newRow("port without value") << QStringList{"write", "a.bin", "--port"} << "нужен порт";
    QTest::newRow("COM9") << QStringList{"write", "a.bin", "--port", "9"} << "не подходит";
    QTest::newRow("COM0") << QStringList{"write", "a.bin", "--port", "COM0"} << "не подходит";
    QTest::newRow("relative device")
        << QStringList{"write", "a.bin", "--port", "ttyUSB0"} << "не подходит";
    QTest::newRow("same port twice, spelled differently")
        << QStringList{"write", "a.bin", "--port", "2", "--port", "com2"} << "дважды";
    QTest::newRow("65 ports") << GangOf(65) << "не больше 64";
    QTest::newRow("read from two devices into one file")
        << QStringList{"read", "a.bin", "--port", "1", "--port", "2"} << "один порт";
    QTest::newRow("verify on compare")
        << QStringList{"compare", "a.bin", "--port", "1", "--verify"} << "только у write";
    QTest::newRow("wait zero") << QStringList{"write", "a.bin", "--port", "1", "--wait", "0"}
                               << "--wait";
    QTest::newRow("wait word") << QStringList{"write", "a.bin", "--port", "1", "--wait", "soon"}
                               << "--wait";
    QTest::newRow("wait without value")
        << QStringList{"write", "a.bin", "--port", "1", "--wait"} << "--wait";
    QTest::newRow("unknown option")
        << QStringList{"write", "a.bin", "--port", "1", "--force"} << "неизвестный параметр";
    QTest::newRow("flag given a value")
        << QStringList{"write", "a.bin", "--port", "1", "--json=1"} << "неизвестный параметр";
}

void TestCliArguments::refusesCommandLines() {
    QFETCH(QStringList, args);
    QFETCH(QString, reason);
    QString error;
    QVERIFY(!ParseArguments(args, error));
    QVERIFY2(error.contains(reason), qPrintable(error));
}

void TestCliArguments::progressLineCountsTimeLeftFromThePaceSoFar_data() {
    QTest::addColumn<int>("done");
    QTest::addColumn<int>("total");
    QTest::addColumn<qint64>("elapsedMs");
    QTest::addColumn<QString>("line");
    QTest::newRow("nothing done yet: no estimate")
        << 0 << 32 << qint64(400) << "Сектор 0 из 32  0%  прошло 0:00";
    QTest::newRow("a quarter in 3 s leaves 9 s")
        << 8 << 32 << qint64(3000) << "Сектор 8 из 32  25%  прошло 0:03  осталось 0:09";
    QTest::newRow("percent rounds down")
        << 1 << 3 << qint64(1000) << "Сектор 1 из 3  33%  прошло 0:01  осталось 0:02";
    QTest::newRow("a full write: minutes")
        << 253 << 506 << qint64(76000) << "Сектор 253 из 506  50%  прошло 1:16  осталось 1:16";
    QTest::newRow("hours") << 1 << 2 << qint64(3725000)
                           << "Сектор 1 из 2  50%  прошло 1:02:05  осталось 1:02:05";
    QTest::newRow("all done") << 4 << 4 << qint64(1200)
                              << "Сектор 4 из 4  100%  прошло 0:01  осталось 0:00";
    QTest::newRow("empty program") << 0 << 0 << qint64(0) << "Сектор 0 из 0  100%  прошло 0:00";
}

void TestCliArguments::progressLineCountsTimeLeftFromThePaceSoFar() {
    QFETCH(int, done);
    QFETCH(int, total);
    QFETCH(qint64, elapsedMs);
    QFETCH(QString, line);
    QCOMPARE(ProgressLine(done, total, elapsedMs), line);
}

void TestCliArguments::resultSurvivesJsonRoundTrip_data() {
    QTest::addColumn<int>("code");
    for (TExitCode code :
         {ExitDone, ExitGangFailed, ExitBadArguments, ExitFileError, ExitPortError,
          ExitNoAnnouncement, ExitTransferFailed, ExitDiffers, ExitInterrupted, ExitKilled})
        QTest::newRow(qPrintable(OutcomeName(code))) << int(code);
}

void TestCliArguments::resultSurvivesJsonRoundTrip() {
    QFETCH(int, code);
    TRunResult r;
    r.command = QStringLiteral("compare");
    r.port = QStringLiteral("/dev/pts/4");
    r.device = QStringLiteral("/dev/pts/4");
    r.file = QStringLiteral("прошивка.bin");
    r.code = TExitCode(code);
    r.sectorsDone = 17;
    r.sectorsTotal = 128;
    r.retries = 2;
    r.waitMs = 210;
    r.transferMs = 1700;
    r.totalMs = 2400;
    r.comparedBytes = 2048;
    r.differingBytes = 3;
    r.firstDifferences = {5, 700, 2047};
    r.messages = {QStringLiteral("Не могу открыть порт")};
    // Through text, as the gang's parent gets it from a child.
    const QByteArray text = QJsonDocument(ToJson(r)).toJson(QJsonDocument::Compact);
    const TRunResult back = FromJson(QJsonDocument::fromJson(text).object());
    QCOMPARE(int(back.code), code);
    QCOMPARE(back.file, r.file);
    QCOMPARE(back.sectorsDone, 17);
    QCOMPARE(back.retries, 2);
    QCOMPARE(back.waitMs, 210);
    QCOMPARE(back.verifyMs, -1);
    QCOMPARE(back.totalMs, 2400);
    QCOMPARE(back.differingBytes, 3);
    QCOMPARE(back.firstDifferences, r.firstDifferences);
    QCOMPARE(back.messages, r.messages);
    QCOMPARE(QJsonDocument::fromJson(text).object()["exitCode"].toInt(), code);
}

void TestCliArguments::gangFailsWhenAnyDeviceFails_data() {
    QTest::addColumn<QList<int>>("codes");
    QTest::addColumn<int>("expected");
    QTest::newRow("all done") << QList<int>{0, 0, 0} << int(ExitDone);
    QTest::newRow("one differs") << QList<int>{0, 7, 0} << int(ExitGangFailed);
    QTest::newRow("one port missing") << QList<int>{4, 0} << int(ExitGangFailed);
    QTest::newRow("one killed") << QList<int>{0, int(ExitKilled)} << int(ExitGangFailed);
    // A stop request counts where it stopped a device, even beside a failed one.
    QTest::newRow("one stopped") << QList<int>{0, 130, 0} << int(ExitInterrupted);
    QTest::newRow("one failed, one stopped") << QList<int>{6, 130} << int(ExitInterrupted);
}

void TestCliArguments::gangFailsWhenAnyDeviceFails() {
    QFETCH(QList<int>, codes);
    QFETCH(int, expected);
    QList<TRunResult> devices;
    for (int code : codes) {
        TRunResult r;
        r.code = TExitCode(code);
        devices.append(r);
    }
    QCOMPARE(int(GangExitCode(devices)), expected);
}

QTEST_GUILESS_MAIN(TestCliArguments)
#include "tst_cliarguments.moc"
