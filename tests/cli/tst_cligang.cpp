// Gang programming: eight or ten simulated devices written at once, each by its own
// process, one of them faulty.

#include "platform/SerialDevice.h"
#include "tests/cli/CliRig.h"

#include <QJsonArray>
#include <QtTest>

class TestCliGang : public QObject {
    Q_OBJECT
private slots:
    void faultOnOneDeviceFailsOnlyThatDevice_data();
    void faultOnOneDeviceFailsOnlyThatDevice();
    void ctrlCReachesEveryDevice();
};

void TestCliGang::faultOnOneDeviceFailsOnlyThatDevice_data() {
    QTest::addColumn<bool>("json");
    QTest::addColumn<int>("count");
    QTest::newRow("JSON, eight devices") << true << 8;
    QTest::newRow("table, eight devices") << false << 8;
    // More than there are COM numbers: every device by its path.
    QTest::newRow("JSON, ten devices") << true << 10;
}

void TestCliGang::faultOnOneDeviceFailsOnlyThatDevice() {
    QFETCH(bool, json);
    QFETCH(int, count);
    const int Devices = count;
    constexpr int Faulty = 5;
    std::vector<std::unique_ptr<sim::SimDevice>> devices;
    QStringList args{QStringLiteral("write"), QString(), QStringLiteral("--wait"),
                     QStringLiteral("30")};
    for (int i = 0; i < Devices; ++i) {
        // Sector 2 of one device is never acknowledged.
        devices.push_back(
            StartSim(i == Faulty ? QStringList{QStringLiteral("W:2:noreply:-1")} : QStringList{}));
        QVERIFY(devices.back());
        args << QStringLiteral("--port") << devices.back()->SlavePath();
    }
    if (json)
        args.append(QStringLiteral("--json"));
    QTemporaryDir dir;
    const QByteArray program = Pattern(4 * 256, 11);
    args[1] = dir.filePath(QStringLiteral("gang.bin"));
    QVERIFY(WriteWholeFile(args[1], program));

    const CliRun r = RunCli(args);
    QVERIFY2(r.code == 1, r.err.constData());
    for (int i = 0; i < Devices; ++i) {
        const QByteArray memory = devices[size_t(i)]->Memory();
        // The faulty device took sector 2 without acknowledging it; sector 3 never came.
        if (i == Faulty)
            QCOMPARE(memory.left(4 * 256), program.left(3 * 256) + QByteArray(256, '\xFF'));
        else
            QVERIFY2(memory.left(program.size()) == program, qPrintable(QString::number(i)));
        QCOMPARE(devices[size_t(i)]->Stats().announcements, 1);
    }
    if (json) {
        const QJsonObject j = r.json();
        QCOMPARE(j["outcome"].toString(), QStringLiteral("gang-failed"));
        const QJsonArray list = j["devices"].toArray();
        QCOMPARE(list.size(), Devices);
        for (int i = 0; i < Devices; ++i) {
            const QJsonObject d = list[i].toObject();
            QCOMPARE(d["device"].toString(), devices[size_t(i)]->SlavePath());
            QCOMPARE(d["outcome"].toString(),
                     i == Faulty ? QStringLiteral("transfer-failed") : QStringLiteral("done"));
            QCOMPARE(d["sectorsDone"].toInt(), i == Faulty ? 2 : 4);
        }
        return;
    }
    // One row per device, in the order of the ports, and the verdict.
    const QStringList lines = QString::fromUtf8(r.out).split(u'\n', Qt::SkipEmptyParts);
    QCOMPARE(lines.size(), Devices + 2);
    for (int i = 0; i < Devices; ++i) {
        const QString& row = lines[i + 1];
        QVERIFY2(row.contains(devices[size_t(i)]->SlavePath() + u' '), qPrintable(row));
        const QStringList cells = row.split(u' ', Qt::SkipEmptyParts);
        QVERIFY2(cells.contains(i == Faulty ? QStringLiteral("2/4") : QStringLiteral("4/4")),
                 qPrintable(row));
        QVERIFY2(row.contains(i == Faulty ? QStringLiteral("ошибка передачи")
                                          : QStringLiteral("готово")),
                 qPrintable(row));
    }
    QVERIFY(lines.last().contains(QStringLiteral("не все приборы готовы")));
}

void TestCliGang::ctrlCReachesEveryDevice() {
    constexpr int Devices = 3;
    std::vector<std::unique_ptr<sim::SimDevice>> devices;
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("gang.bin"));
    QVERIFY(WriteWholeFile(file, Pattern(40 * 256, 2)));
    QStringList args{QStringLiteral("write"), file, QStringLiteral("--json")};
    for (int i = 0; i < Devices; ++i) {
        devices.push_back(StartSim());
        QVERIFY(devices.back());
        args << QStringLiteral("--port") << devices.back()->SlavePath();
    }
    TChildProcess gang;
    QVERIFY(gang.Start(QStringLiteral(VENDRIK_CLI_BIN), args));
    for (const auto& d : devices)
        QTRY_VERIFY_WITH_TIMEOUT(d->Stats().writeFrames >= 2, 20000);
    // Only the parent is signalled, as a service manager or kill(1) would do it.
    gang.Interrupt();
    QVERIFY(gang.WaitForExit(20000));
    QCOMPARE(gang.ExitCode(), 130);
    const QJsonObject j = QJsonDocument::fromJson(gang.Output).object();
    QCOMPARE(j["outcome"].toString(), QStringLiteral("interrupted"));
    const QJsonArray list = j["devices"].toArray();
    QCOMPARE(list.size(), Devices);
    for (int i = 0; i < Devices; ++i) {
        QCOMPARE(list[i].toObject()["outcome"].toString(), QStringLiteral("interrupted"));
        QVERIFY(devices[size_t(i)]->Stats().writeFrames < 40);
        TSerialDevice port;
        QVERIFY(port.Open(devices[size_t(i)]->SlavePath()));
    }
}

QTEST_GUILESS_MAIN(TestCliGang)
#include "tst_cligang.moc"
