// Every way a run of vendrik-cli can end, each with its own exit code, the same outcome
// in its JSON, and what the device and the port saw.

#include "cli/RunResult.h"
#include "platform/SerialDevice.h"
#include "tests/cli/CliRig.h"

#include <QtTest>

class TestCliExitCodes : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void endsWithItsOwnCode_data();
    void endsWithItsOwnCode();
    void helpListsCommandsAndExitCodes();
    void exitCodesListedAsTheTableHasThem_data();
    void exitCodesListedAsTheTableHasThem();

private:
    QTemporaryDir dir_;
    QString small_;
};

void TestCliExitCodes::initTestCase() {
    small_ = dir_.filePath(QStringLiteral("small.bin"));
    QVERIFY(WriteWholeFile(small_, Pattern(3 * 256)));
    QVERIFY(WriteWholeFile(dir_.filePath(QStringLiteral("large.bin")), Pattern(131073)));
}

void TestCliExitCodes::endsWithItsOwnCode_data() {
    QTest::addColumn<QStringList>("args"); // "PORT" stands for the simulated device
    QTest::addColumn<QStringList>("faults");
    QTest::addColumn<QString>("port"); // sim, held (by another program), manual (never on)
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("outcome");
    QTest::addColumn<QString>("message");
    QTest::addColumn<int>("writeFrames");
    QTest::addColumn<int>("retries");

    const QString small = QStringLiteral("SMALL");
    QTest::newRow("done after one retry") << QStringList{"write", small, "--port", "PORT"}
                                          << QStringList{"W:1:noreply:1"} << "sim" << 0 << "done"
                                          << "" << 4 << 1;
    QTest::newRow("bad arguments: the port is not touched")
        << QStringList{"write", small, "--port", "PORT", "--wait", "never"} << QStringList{}
        << "sim" << 2 << ""
        << "--wait" << 0 << 0;
    QTest::newRow("program file missing") << QStringList{"write", "MISSING", "--port", "PORT"}
                                          << QStringList{} << "sim" << 3 << "file-error"
                                          << "Не могу считать файл" << 0 << 0;
    QTest::newRow("program file too large")
        << QStringList{"write", "LARGE", "--port", "PORT"} << QStringList{} << "sim" << 3
        << "file-error"
        << "Размер файла превышает максимально допустимый" << 0 << 0;
    QTest::newRow("read into a missing folder: the device is not read")
        << QStringList{"read", "NOFOLDER", "--port", "PORT"} << QStringList{} << "sim" << 3
        << "file-error"
        << "Не могу сохранить в файл." << 0 << 0;
    QTest::newRow("no such device")
        << QStringList{"write", small, "--port", "/dev/vendrik-cli-no-such-port"} << QStringList{}
        << "sim" << 4 << "port-error"
        << "Specified device not found" << 0 << 0;
    QTest::newRow("port held by another program") << QStringList{"write", small, "--port", "PORT"}
                                                  << QStringList{} << "held" << 4 << "port-error"
                                                  << "Не могу открыть порт" << 0 << 0;
    QTest::newRow("device never switched on within --wait")
        << QStringList{"write", small, "--port", "PORT", "--wait", "0.5"} << QStringList{}
        << "manual" << 5 << "no-announcement"
        << "Прибор не включился за 0.5 с" << 0 << 0;
    QTest::newRow("a sector fails twice")
        << QStringList{"write", small, "--port", "PORT"} << QStringList{"W:1:noreply:2"} << "sim"
        << 6 << "transfer-failed"
        << "сектор 1 не прошёл" << 3 << 1;
    QTest::newRow("the line drops during the transfer")
        << QStringList{"write", small, "--port", "PORT"} << QStringList{"W:1:hangup:1"} << "sim"
        << 6 << "transfer-failed"
        << "Ошибка записи" << 1 << -1;
}

void TestCliExitCodes::endsWithItsOwnCode() {
    QFETCH(QStringList, args);
    QFETCH(QStringList, faults);
    QFETCH(QString, port);
    QFETCH(int, code);
    QFETCH(QString, outcome);
    QFETCH(QString, message);
    QFETCH(int, writeFrames);
    QFETCH(int, retries);

    sim::SimConfig config;
    for (const QString& text : faults)
        config.faults.rules.push_back(*sim::ParseFaultRule(text, nullptr));
    if (port == u"manual")
        config.switchOn = sim::SwitchOn::Manual;
    sim::SimDevice device(config);
    QVERIFY(device.Start());
    TSerialDevice holder;
    if (port == u"held")
        QVERIFY(holder.Open(device.SlavePath()));
    for (QString& a : args) {
        a.replace(QStringLiteral("PORT"), device.SlavePath());
        a.replace(QStringLiteral("SMALL"), small_);
        a.replace(QStringLiteral("MISSING"), dir_.filePath(QStringLiteral("missing.bin")));
        a.replace(QStringLiteral("LARGE"), dir_.filePath(QStringLiteral("large.bin")));
        a.replace(QStringLiteral("NOFOLDER"), dir_.filePath(QStringLiteral("no/such/out.bin")));
    }
    args.append(QStringLiteral("--json"));

    const CliRun r = RunCli(args);
    QVERIFY2(r.code == code, qPrintable(QStringLiteral("%1: %2").arg(r.code).arg(r.errText())));
    QVERIFY2(r.errText().contains(message), qPrintable(r.errText()));
    QCOMPARE(device.Stats().writeFrames, writeFrames);
    if (code == 2) {
        // Refused before anything was opened, and no JSON to misread.
        QCOMPARE(device.Stats().opens, 0);
        QVERIFY(r.out.isEmpty());
        return;
    }
    const QJsonObject j = r.json();
    QCOMPARE(j["outcome"].toString(), outcome);
    QCOMPARE(j["exitCode"].toInt(), code);
    QVERIFY(j["messages"].toArray().size() >= (code == 0 ? 0 : 1));
    if (retries >= 0)
        QCOMPARE(j["retries"].toInt(), retries);
    if (code == 3)
        QCOMPARE(device.Stats().opens, 0);
    if (code == 5) {
        // The limit holds: never before it, and not seconds after it on a busy machine.
        const int totalMs = j["timings"].toObject()["totalMs"].toInt();
        QVERIFY2(totalMs >= 500 && totalMs < 1900, qPrintable(QString::number(totalMs)));
    }
    // Whatever happened, the port is free again for the next program.
    if (port != u"held" && !faults.join(u' ').contains(QStringLiteral("hangup"))) {
        TSerialDevice after;
        QVERIFY(after.Open(device.SlavePath()));
    }
}

void TestCliExitCodes::helpListsCommandsAndExitCodes() {
    const CliRun r = RunCli({QStringLiteral("--help")});
    QCOMPARE(r.code, 0);
    const QString text = QString::fromUtf8(r.out);
    for (const char* word : {"write ФАЙЛ", "read ФАЙЛ", "compare ФАЙЛ", "--verify", "--wait",
                             "--json", "Коды завершения", "130"})
        QVERIFY2(text.contains(QString::fromUtf8(word)), word);
}

void TestCliExitCodes::exitCodesListedAsTheTableHasThem_data() {
    QTest::addColumn<QStringList>("listed");
    QTest::newRow("--help") << HelpExitCodes(QString::fromUtf8(RunCli({"--help"}).out));
    QTest::newRow("manual page") << ManPageExitCodes(VENDRIK_MAN_DIR "/vendrik-cli.1");
}

void TestCliExitCodes::exitCodesListedAsTheTableHasThem() {
    QFETCH(QStringList, listed);
    QCOMPARE(listed, ExitCodeLines(ExitCodeMeanings()));
}

QTEST_GUILESS_MAIN(TestCliExitCodes)
#include "tst_cliexitcodes.moc"
