// meldor2-sim names the files it was given when it cannot use them: shown harmless.
#include "tests/common/TestSupport.h"

#include <QtTest>

class TestSimOutput : public QObject {
    Q_OBJECT
private slots:
    void fileNamesInMessagesAreShownHarmless_data();
    void fileNamesInMessagesAreShownHarmless();
};

void TestSimOutput::fileNamesInMessagesAreShownHarmless_data() {
    QTest::addColumn<QString>("option");
    QTest::newRow("memory to load") << "--load";
    QTest::newRow("log file") << "--log";
}

void TestSimOutput::fileNamesInMessagesAreShownHarmless() {
    QFETCH(QString, option);
    QTemporaryDir dir;
    // In a folder that does not exist: neither loads nor opens.
    const QString name = dir.filePath(QStringLiteral("нет\x1b]0;owned\x07/x\x1b[2J\n.bin"));
    QByteArray output;
    const int code =
        RunChildProcess(QStringLiteral(VENDRIK_SIM_BIN), {option, name}, {}, output, 30000);
    QCOMPARE(code, 2);
    QVERIFY2(output.contains(QStringLiteral("нет\\e]0;owned\\x07/x\\e[2J\\x0a.bin").toUtf8()),
             output.constData());
    QVERIFY2(!output.contains('\x1b') && !output.contains('\x07'),
             output.toPercentEncoding(" /:").constData());
}

QTEST_GUILESS_MAIN(TestSimOutput)
#include "tst_simoutput.moc"
