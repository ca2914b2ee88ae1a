// The operator closes the main window while a transfer runs with the progress window
// hidden: the program's real message loop must end promptly and cleanly, with the
// settings saved.

#include "comm/VaComm.h"
#include "tests/e2e/MainWindowRig.h"
#include "window/Application.h"

using namespace e2e;

class TestShutdownE2E : public QObject {
    Q_OBJECT
private slots:
    void closingMainWindowDuringHiddenTransferEndsMessageLoop() {
        MainWindowRig rig(DeviceConfig("!", {}, sim::SwitchOn::Manual));
        rig.loadProgram(ProgramBytes(20 * 256));
        rig.run(&TformMain::BtnWriteClick, [] { return true; }); // closed while waiting
        QVERIFY(formMain->VaComm1->IsOpen());

        bool openWhenClosed = false;
        QTimer closer;
        QObject::connect(&closer, &QTimer::timeout, [&] {
            if (rig.device.Stats().writeFrames >= 2 && formMain->isVisible()) {
                formMain->close();
                openWhenClosed = formMain->VaComm1->IsOpen();
            }
        });
        QTimer watchdog;
        watchdog.setSingleShot(true);
        QObject::connect(&watchdog, &QTimer::timeout, [] { QCoreApplication::exit(1); });
        QTimer::singleShot(0, [&] {
            rig.device.SwitchOn();
            closer.start(20);
            watchdog.start(15000);
        });
        QElapsedTimer clock;
        clock.start();
        QCOMPARE(QApplication::exec(), 0); // closing the main window ended the program
        QVERIFY(clock.elapsed() < 5000);
        QVERIFY(openWhenClosed); // the port was not closed under the transfer
        QVERIFY(!formMain->VaComm1->IsOpen());
        QVERIFY(rig.device.Stats().writeFrames < 20);
        QCOMPARE(formSearsh->stInfo->text(), WriteFailed);
        // The settings were saved as at any close: the program file is remembered.
        QVERIFY(ReadStoreFile().contains("prog.bin"));
    }
};

int main(int argc, char** argv) {
    SelectTestPlatform();
    TApplication app(argc, argv);
    TestShutdownE2E test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_shutdown_e2e.moc"
