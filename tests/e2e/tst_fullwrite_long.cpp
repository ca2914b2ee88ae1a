// A file of the largest size: 512 sectors load, exactly 506 are sent (about 152 s).

#include "comm/VaComm.h"
#include "tests/e2e/MainWindowRig.h"
#include "window/Application.h"

using namespace e2e;

class TestFullWrite : public QObject {
    Q_OBJECT
private slots:
    void largestFileSendsExactly506Sectors() {
        MainWindowRig rig;
        QVERIFY(rig.started);
        const QByteArray file = ProgramBytes(131072);
        rig.loadProgram(file);
        QCOMPARE(SectorCount, 512);
        rig.run(&TformMain::BtnWriteClick, {}, 300000);
        QVERIFY(!rig.timedOut);
        QCOMPARE(formSearsh->stInfo->text(), Written);
        QCOMPARE(formSearsh->ProgressBar1->Max(), 506);
        const QList<int> sent = rig.sectorsWritten();
        QCOMPARE(sent.size(), 506);
        QCOMPARE(sent.last(), 505);
        QCOMPARE(rig.device.Stats().checksumErrors, 0);
        // The device holds the first 129536 bytes; the last 1536 were never sent.
        const QByteArray memory = rig.device.Memory();
        QCOMPARE(memory.left(129536), file.left(129536));
        QCOMPARE(memory.mid(129536), QByteArray(1536, char(0xFF)));
        QVERIFY(!formMain->VaComm1->IsOpen());
    }
};

int main(int argc, char** argv) {
    SelectTestPlatform();
    TApplication app(argc, argv);
    TestFullWrite test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_fullwrite_long.moc"
