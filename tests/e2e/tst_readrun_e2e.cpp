// Read runs of the real main window through the real serial link to the simulated
// device, with Save As and Compare after them.

#include "base/ErrorReport.h"
#include "comm/VaComm.h"
#include "tests/e2e/MainWindowRig.h"
#include "window/Application.h"

using namespace e2e;

class TestReadRunE2E : public QObject {
    Q_OBJECT
private slots:
    void readThenSaveAsThenCompareRefuses() {
        MainWindowRig rig;
        QByteArray memory = ProgramBytes(sim::MemoryBytes);
        rig.device.SetMemory(memory);
        QVERIFY(!ProgramLoaded); // a read needs no program
        rig.run(&TformMain::BtnReadClick);
        QVERIFY(!rig.timedOut);
        QCOMPARE(formSearsh->stInfo->text(), Read);
        QCOMPARE(formSearsh->stRezim->text(), QStringLiteral("Режим: Чтение данных"));
        QVERIFY(DeviceImageValid);
        QVERIFY(formMain->BtnSaveAs->isEnabled());
        QCOMPARE(rig.device.Stats().readRequests, 128);
        QVERIFY(!formMain->VaComm1->IsOpen());

        const QString saved = rig.files.filePath(QStringLiteral("device.bin"));
        TFileDialog::SetAnswer(
            [saved](const TFileDialog&) { return std::optional<QString>(saved); });
        formMain->BtnSaveAsClick();
        QFile f(saved);
        QVERIFY(f.open(QIODevice::ReadOnly));
        const QByteArray bytes = f.readAll();
        QCOMPARE(bytes.size(), 131072);
        QCOMPARE(bytes.left(32768), memory.left(32768));
        QCOMPARE(bytes.mid(32768), QByteArray(131072 - 32768, '\0'));

        rig.loadProgram(memory.left(1000));
        formMain->BtnVerifyClick();
        QCOMPARE(rig.boxes.boxes.size(), 1);
        QCOMPARE(rig.boxes.boxes[0].text, QStringLiteral("Один из файлов не загружен"));
    }

    void readFailureDisablesSaveAs_data() {
        QTest::addColumn<QString>("fault");
        QTest::newRow("259 bytes") << "R:3:short:2";
        QTest::newRow("261 bytes") << "R:3:long:1";
        QTest::newRow("bad checksum twice") << "R:3:badsum:2";
    }
    void readFailureDisablesSaveAs() {
        QFETCH(QString, fault);
        MainWindowRig rig(DeviceConfig("!", {fault}));
        formMain->BtnSaveAs->setEnabled(true); // as a read before would have left it
        rig.run(&TformMain::BtnReadClick);
        QVERIFY(!rig.timedOut);
        QCOMPARE(formSearsh->stInfo->text(), ReadFailed);
        QVERIFY(!DeviceImageValid);
        QVERIFY(!formMain->BtnSaveAs->isEnabled());
        QCOMPARE(formSearsh->ProgressBar1->Position(), 4);
        QVERIFY(!formMain->VaComm1->IsOpen());
    }

    void compareCountsDifferingBytesAfterRead() {
        MainWindowRig rig;
        QByteArray program = ProgramBytes(40000);
        rig.device.SetMemory(program.left(32768));
        rig.run(&TformMain::BtnReadClick);
        QCOMPARE(formSearsh->stInfo->text(), Read);
        rig.loadProgram(program.left(32768) + QByteArray(40000 - 32768, char(0xFF)), "ff.bin");
        formMain->BtnVerifyClick();
        rig.loadProgram(program.left(32768) + QByteArray(40000 - 32768, '\0'), "zero.bin");
        formMain->BtnVerifyClick();
        QCOMPARE(rig.boxes.boxes.size(), 2);
        QCOMPARE_BOX(rig.boxes, 0, QStringLiteral("Количество обнаруженных ошибок = 7232"),
                     QStringLiteral("Ошибка"), TMessageIcon::Error);
        QCOMPARE_BOX(rig.boxes, 1, QStringLiteral("OK"), QStringLiteral("Программатор"),
                     TMessageIcon::None);
    }

    void deviceSwitchedOnAfterWindowClosedStillReads() {
        MainWindowRig rig(DeviceConfig("!", {}, sim::SwitchOn::Manual));
        rig.device.SetMemory(QByteArray(sim::MemoryBytes, '\x42'));
        rig.run(&TformMain::BtnReadClick, [] { return true; }); // closed while waiting
        QVERIFY(!rig.timedOut);
        QCOMPARE(formSearsh->stInfo->text(), Searching);
        QVERIFY(formMain->VaComm1->IsOpen()); // Armed
        QVERIFY(formMain->isEnabled());
        // The transfer runs inside event processing, so watch it from a timer.
        bool lockedDuringTransfer = false;
        QTimer sampler;
        QObject::connect(&sampler, &QTimer::timeout,
                         [&] { lockedDuringTransfer |= !formMain->isEnabled(); });
        sampler.start(20);
        rig.device.SwitchOn();
        QVERIFY(MainWindowRig::spinUntil(
            [&] { return DeviceImageValid && !formMain->VaComm1->IsOpen(); }, 25000));
        QVERIFY(lockedDuringTransfer); // nothing could be started meanwhile
        QVERIFY(MainWindowRig::spinUntil([] { return formMain->isEnabled(); }, 2000));
        QVERIFY(formMain->BtnSaveAs->isEnabled());
        QVERIFY(!formSearsh->isVisible());
        QCOMPARE(int(DeviceImage[32767]), 0x42);
    }
};

int main(int argc, char** argv) {
    SelectTestPlatform();
    TApplication app(argc, argv);
    // The tests close the main window; the run of tests must go on.
    QApplication::setQuitOnLastWindowClosed(false);
    TestReadRunE2E test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_readrun_e2e.moc"
