// vendrik-cli leaves a port as it found it for another program holding it too, and shows
// names from outside (file and device names) without letting them drive the terminal.

#include "cli/Run.h"
#include "tests/cli/CliRig.h"

#include <QtTest>
#include <cerrno>
#include <termios.h>

class TestCliPortCare : public QObject {
    Q_OBJECT
private slots:
    void runLeavesAHeldPortAsFound_data();
    void runLeavesAHeldPortAsFound();
    void namesFromOutsideArePrintedHarmless_data();
    void namesFromOutsideArePrintedHarmless();

private:
    QTemporaryDir dir_;
};

void TestCliPortCare::runLeavesAHeldPortAsFound_data() {
    QTest::addColumn<bool>("foreignExclusive");
    QTest::newRow("shared with a terminal program") << false;
    QTest::newRow("made exclusive by the other program") << true;
}

void TestCliPortCare::runLeavesAHeldPortAsFound() {
    QFETCH(bool, foreignExclusive);
    if (foreignExclusive && !RunsAsRoot())
        QSKIP("only root opens a terminal another program made exclusive");
    auto device = StartSim();
    QVERIFY(device);
    TForeignHolder other(device->SlavePath(), B2400, foreignExclusive);
    QVERIFY(other.ok());
    const TLineState found = other.state();
    QVERIFY(found.valid && found.speed == B2400);
    const QString file = dir_.filePath(QStringLiteral("one.bin"));
    QVERIFY(WriteWholeFile(file, Pattern(256)));

    const CliRun r = RunCli({QStringLiteral("write"), file, QStringLiteral("--port"),
                             device->SlavePath(), QStringLiteral("--json")});
    QVERIFY2(r.code == 0, qPrintable(r.errText()));
    QCOMPARE(device->Stats().writeFrames, 1);
    QCOMPARE(other.state(), found);
    QCOMPARE(UnprivilegedOpenError(device->SlavePath()), foreignExclusive ? EBUSY : 0);
}

void TestCliPortCare::namesFromOutsideArePrintedHarmless_data() {
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("port");
    QTest::addColumn<QString>("shown");
    const QString evil = QStringLiteral("x\x1b]0;owned\x07\x1b[2J\ny");
    const QString seen = QStringLiteral("x\\e]0;owned\\x07\\e[2J\\x0ay");
    QTest::newRow("program file name") << evil + QStringLiteral(".bin") << QString() << seen;
    QTest::newRow("device path") << QString() << QStringLiteral("/nonexistent/") + evil << seen;
}

void TestCliPortCare::namesFromOutsideArePrintedHarmless() {
    QFETCH(QString, file);
    QFETCH(QString, port);
    QFETCH(QString, shown);
    if (file.isEmpty()) {
        file = dir_.filePath(QStringLiteral("plain.bin"));
        QVERIFY(WriteWholeFile(file, Pattern(256)));
    } else {
        file = dir_.filePath(file); // empty: the run refuses it, naming it
        QVERIFY(WriteWholeFile(file, QByteArray()));
    }
    if (port.isEmpty())
        port = dir_.filePath(QStringLiteral("no-such-port"));
    const CliRun r = RunCli({QStringLiteral("write"), file, QStringLiteral("--port"), port});
    QVERIFY2(r.code != 0, qPrintable(r.errText()));
    const QByteArray printed = r.out + r.err;
    QVERIFY2(printed.contains(shown.toUtf8()), printed.constData());
    for (const char control : {'\x1b', '\x07'})
        QVERIFY2(!printed.contains(control), printed.toPercentEncoding(" /:").constData());
    // Every line is one of the program's: the name's line break was not carried out.
    for (const QByteArray& line : printed.split('\n'))
        QVERIFY2(line.isEmpty() || line.startsWith("vendrik-cli: ") || line.contains(": "),
                 line.constData());
}

QTEST_GUILESS_MAIN(TestCliPortCare)
#include "tst_cliportcare.moc"
