// The session ends while a transfer runs with the progress window up: the transfer stops
// at its next sector, the port is let go, the settings are saved and the message loop
// ends with 0, without anyone closing the progress window.

#include "comm/VaComm.h"
#include "platform/SerialDevice.h"
#include "tests/e2e/MainWindowRig.h"
#include "ui/SessionEnd.h"
#include "window/Application.h"

#include <QCheckBox>
#include <csignal>
#include <unistd.h>

using namespace e2e;

class TestSessionEndE2E : public QObject {
    Q_OBJECT
private slots:
    void stopSignalStopsTransferAtNextSector_data() {
        QTest::addColumn<int>("signal");
        QTest::newRow("SIGTERM") << SIGTERM;
        QTest::newRow("SIGHUP") << SIGHUP;
    }
    void stopSignalStopsTransferAtNextSector() {
        QFETCH(int, signal);
        MainWindowRig rig(DeviceConfig());
        TSessionEnd sessionEnd; // after the rig's box recorder, which it stands in front of
        QVERIFY(rig.started);
        formMain->cbCheck->click();
        rig.loadProgram(ProgramBytes(40 * 256));

        int framesAtSignal = -1;
        bool transferAtSignal = false;
        QTimer sender;
        QObject::connect(&sender, &QTimer::timeout, [&] {
            if (framesAtSignal >= 0 || rig.device.Stats().writeFrames < 3)
                return;
            framesAtSignal = rig.device.Stats().writeFrames;
            transferAtSignal = formMain->TransferRunning() && formSearsh->isVisible();
            ::kill(::getpid(), signal);
        });
        bool timedOut = false;
        QTimer watchdog;
        watchdog.setSingleShot(true);
        QObject::connect(&watchdog, &QTimer::timeout, [&] {
            timedOut = true;
            formSearsh->BtnCancel->setEnabled(true);
            while (QWidget* modal = QApplication::activeModalWidget())
                modal->close();
            QCoreApplication::exit(1);
        });
        QTimer::singleShot(0, formMain, [&] {
            sender.start(5);
            watchdog.start(20000);
            formMain->BtnWrite->click(); // returns when the progress window has closed
        });
        QCOMPARE(sessionEnd.RunMessageLoop(), 0);
        QVERIFY(!timedOut);
        QVERIFY(transferAtSignal);
        // The sector under way may finish (with its retry); nothing after it is started.
        const int framesAtExit = rig.device.Stats().writeFrames;
        QVERIFY2(framesAtExit <= framesAtSignal + 2,
                 qPrintable(QStringLiteral("%1 -> %2").arg(framesAtSignal).arg(framesAtExit)));
        QVERIFY(framesAtExit < 40);
        QCOMPARE(formSearsh->stInfo->text(), WriteFailed);
        QVERIFY(!formMain->VaComm1->IsOpen());
        QVERIFY(!formSearsh->isVisible());
        // The port is free for the next program.
        TSerialDevice after;
        QVERIFY(after.Open(rig.device.SlavePath()));
        const QByteArray stored = ReadStoreFile();
        QVERIFY2(stored.contains("\"cbCheck_Checked\"=\"True\""), stored.constData());
        QVERIFY2(stored.contains("prog.bin"), stored.constData());
    }
};

int main(int argc, char** argv) {
    SelectTestPlatform();
    TApplication app(argc, argv);
    TestSessionEndE2E test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_sessionend_e2e.moc"
