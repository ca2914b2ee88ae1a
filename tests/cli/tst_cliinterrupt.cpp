// Ctrl+C and SIGTERM: vendrik-cli stops at the next sector, closes the port, leaves an
// output file alone and ends with its own code.

#include "platform/SerialDevice.h"
#include "tests/cli/CliRig.h"

#include <QtTest>
#include <csignal>

class TestCliInterrupt : public QObject {
    Q_OBJECT
private slots:
    void stopsAtTheNextSector_data();
    void stopsAtTheNextSector();
};

void TestCliInterrupt::stopsAtTheNextSector_data() {
    QTest::addColumn<QString>("command");
    QTest::addColumn<int>("signal");
    QTest::addColumn<bool>("oldOutput");         // read: an output file exists beforehand
    QTest::addColumn<int>("framesBeforeSignal"); // -1: before the device is switched on
    QTest::newRow("write, Ctrl+C") << "write" << SIGINT << false << 3;
    QTest::newRow("write, SIGTERM") << "write" << SIGTERM << false << 3;
    QTest::newRow("read over an old file, Ctrl+C") << "read" << SIGINT << true << 5;
    QTest::newRow("read to a new file, Ctrl+C") << "read" << SIGINT << false << 5;
    QTest::newRow("waiting for the device, Ctrl+C") << "write" << SIGINT << false << -1;
}

void TestCliInterrupt::stopsAtTheNextSector() {
    QFETCH(QString, command);
    QFETCH(int, signal);
    QFETCH(bool, oldOutput);
    QFETCH(int, framesBeforeSignal);
    QTemporaryDir dir;
    sim::SimConfig config;
    if (framesBeforeSignal < 0)
        config.switchOn = sim::SwitchOn::Manual;
    sim::SimDevice device(config);
    QVERIFY(device.Start());
    const bool read = command == u"read";
    const QString file = dir.filePath(QStringLiteral("image.bin"));
    const QByteArray before = read ? QByteArray("an earlier image") : Pattern(40 * 256);
    if (!read || oldOutput)
        QVERIFY(WriteWholeFile(file, before));

    TChildProcess child;
    QVERIFY(child.Start(
        QStringLiteral(VENDRIK_CLI_BIN),
        {command, file, QStringLiteral("--port"), device.SlavePath(), QStringLiteral("--json")}));
    auto frames = [&] {
        const sim::SimStats s = device.Stats();
        return read ? s.readRequests : s.writeFrames;
    };
    if (framesBeforeSignal < 0)
        QTRY_COMPARE_WITH_TIMEOUT(device.Stats().opens, 1, 20000);
    else
        QTRY_VERIFY_WITH_TIMEOUT(frames() >= framesBeforeSignal, 20000);
    const int atSignal = frames();
    if (signal == SIGINT)
        child.Interrupt();
    else
        child.Terminate();
    QVERIFY(child.WaitForExit(20000));
    QVERIFY2(child.ExitCode() == 130, child.Error.constData());
    // The sector under way may finish (with its retry); nothing after it is started.
    const int atExit = frames();
    QVERIFY2(atExit <= atSignal + 2,
             qPrintable(QStringLiteral("%1 -> %2").arg(atSignal).arg(atExit)));
    const QJsonObject j = QJsonDocument::fromJson(child.Output).object();
    QCOMPARE(j["outcome"].toString(), QStringLiteral("interrupted"));
    QVERIFY(j["sectorsDone"].toInt() < j["sectorsTotal"].toInt());
    QVERIFY(j["sectorsDone"].toInt() >= atSignal - 1);
    QVERIFY(j["sectorsDone"].toInt() <= atExit);
    // The port is free for the next program.
    TSerialDevice after;
    QVERIFY(after.Open(device.SlavePath()));
    if (read && oldOutput)
        QCOMPARE(ReadWholeFile(file), before);
    if (read && !oldOutput)
        QVERIFY(!QFileInfo::exists(file));
}

QTEST_GUILESS_MAIN(TestCliInterrupt)
#include "tst_cliinterrupt.moc"
