// The end of the operator's session (a stop signal) closes the program's real windows as
// closing the main window does: settings saved, port closed, the message loop ended with
// 0, and no window left open that would wait for the operator.

#include "comm/VaComm.h"
#include "tests/common/ProgramWindows.h"
#include "tests/common/TestSupport.h"
#include "tests/common/WindowManager.h"
#include "ui/FileDialogs.h"
#include "ui/SessionEnd.h"
#include "ui/fHelp.h"
#include "ui/fMain.h"
#include "ui/fSearsh.h"
#include "window/Application.h"

#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QToolButton>
#include <QtTest/QTest>

#include <csignal>
#include <unistd.h>

namespace {

// What is open when the session ends.
enum class TOpen { Nothing, MessageBox, FileDialog, HelpWindow, ProgressWindow };

// Qt's log, where boxes go once the session is ending.
QStringList logged;
void Record(QtMsgType, const QMessageLogContext&, const QString& text) {
    logged.append(text);
}

} // namespace

Q_DECLARE_METATYPE(TOpen)

class TestSessionEnd : public QObject {
    Q_OBJECT
private slots:
    void stopSignalClosesAsTheMainWindowDoes_data() {
        QTest::addColumn<int>("signal");
        QTest::addColumn<TOpen>("open");
        QTest::addColumn<bool>("saveFails");
        QTest::newRow("SIGTERM") << SIGTERM << TOpen::Nothing << false;
        QTest::newRow("SIGHUP") << SIGHUP << TOpen::Nothing << false;
        QTest::newRow("SIGINT") << SIGINT << TOpen::Nothing << false;
        QTest::newRow("SIGTERM, message box open") << SIGTERM << TOpen::MessageBox << false;
        QTest::newRow("SIGHUP, file dialog open") << SIGHUP << TOpen::FileDialog << false;
        QTest::newRow("SIGTERM, help window open") << SIGTERM << TOpen::HelpWindow << false;
        QTest::newRow("SIGHUP, waiting for the device") << SIGHUP << TOpen::ProgressWindow << false;
        QTest::newRow("SIGTERM, the save fails") << SIGTERM << TOpen::Nothing << true;
    }
    void stopSignalClosesAsTheMainWindowDoes() {
        QFETCH(int, signal);
        QFETCH(TOpen, open);
        QFETCH(bool, saveFails);
        TempConfigHome home;
        PtyPair line; // COM3: a port nobody answers on
        QVERIFY(home.linkComPort(3, line.slavePath));
        QTemporaryDir files;
        const QString program = files.filePath(QStringLiteral("prog.bin"));
        QVERIFY(WriteWholeFile(program, QByteArray(700, '\x5a')));

        TSessionEnd sessionEnd;
        TProgramWindows windows = StartProgram();
        QTRY_VERIFY(formMain->isVisible());
        // The operator's choices.
        formMain->cbCheck->click();
        formMain->cbPort->setCurrentIndex(2);
        emit formMain->cbPort->activated(2);
        TFileDialog::SetAnswer([&](const TFileDialog&) { return std::optional<QString>(program); });
        formMain->BtnOpen->click();
        TFileDialog::SetAnswer({});
        QCOMPARE(formMain->stNameFile->text(), QStringLiteral("prog.bin"));
        if (saveFails) {
            // The store's lock cannot be made: every save fails after the restore.
            const QString lock = home.vendrikDir() + QStringLiteral("/user.reg.lock");
            QFile::remove(lock);
            QVERIFY(QDir().mkpath(lock + QStringLiteral("/x")));
        }

        // Opens the window of the row inside the loop, then sends the signal once it is up.
        TFileDialog::SetUseNativeDialogs(false);
        QTimer::singleShot(0, formMain, [open] {
            switch (open) {
            case TOpen::Nothing:
                break;
            case TOpen::MessageBox:
                formMain->BtnVerify->click(); // no image read: a warning box
                break;
            case TOpen::FileDialog:
                formMain->BtnOpen->click();
                break;
            case TOpen::HelpWindow:
                formMain->btnHelp->click();
                break;
            case TOpen::ProgressWindow:
                formMain->BtnWrite->click();
                break;
            }
        });
        bool sent = false;
        bool portOpenAtSignal = false;
        QWidget* openAtSignal = nullptr;
        QTimer sender;
        QObject::connect(&sender, &QTimer::timeout, [&] {
            QWidget* modal = QApplication::activeModalWidget();
            if (sent || (open != TOpen::Nothing && !modal))
                return;
            if (open == TOpen::ProgressWindow && !formMain->VaComm1->IsOpen())
                return;
            sent = true;
            openAtSignal = modal;
            portOpenAtSignal = formMain->VaComm1->IsOpen();
            ::kill(::getpid(), signal);
        });
        sender.start(10);
        bool timedOut = false;
        QTimer watchdog;
        watchdog.setSingleShot(true);
        QObject::connect(&watchdog, &QTimer::timeout, [&] {
            timedOut = true;
            while (QWidget* modal = QApplication::activeModalWidget())
                modal->close();
            QCoreApplication::exit(1);
        });
        watchdog.start(10000);
        logged.clear();
        const QtMessageHandler previousLog = qInstallMessageHandler(Record);
        const int exitCode = sessionEnd.RunMessageLoop();
        qInstallMessageHandler(previousLog);
        TFileDialog::SetUseNativeDialogs(true);

        QVERIFY(!timedOut); // nothing waited for the operator
        QCOMPARE(exitCode, 0);
        QVERIFY(sent);
        QCOMPARE(openAtSignal != nullptr, open != TOpen::Nothing);
        QCOMPARE(portOpenAtSignal, open == TOpen::ProgressWindow);
        QVERIFY(!formMain->isVisible());
        QVERIFY(!formMain->VaComm1->IsOpen());
        QVERIFY(!QApplication::activeModalWidget());
        QVERIFY(sessionEnd.Ending());
        if (saveFails) {
            // Reported on standard error, the close not held up.
            QVERIFY2(logged.join('\n').contains(QStringLiteral("Failed to")),
                     qPrintable(logged.join('\n')));
            QVERIFY(!ReadStoreFile().contains("cbCheck_Checked=\"True\""));
            return;
        }
        const QByteArray stored = ReadStoreFile();
        QVERIFY2(stored.contains("\"cbCheck_Checked\"=\"True\""), stored.constData());
        QVERIFY2(stored.contains("\"cbPort_Tag\"=\"2\""), stored.constData());
        QVERIFY2(stored.contains("\"OpenDialog1_FileName\"=\"" + program.toUtf8() + "\""),
                 stored.constData());
    }

    // The handlers are the program's only while it runs: afterwards the signal is as before.
    void previousHandlerComesBack() {
        struct sigaction before {};
        QCOMPARE(::sigaction(SIGHUP, nullptr, &before), 0);
        {
            TSessionEnd sessionEnd;
            struct sigaction during {};
            QCOMPARE(::sigaction(SIGHUP, nullptr, &during), 0);
            QVERIFY(during.sa_handler != before.sa_handler); // the pipe's handler
        }
        struct sigaction after {};
        QCOMPARE(::sigaction(SIGHUP, nullptr, &after), 0);
        QVERIFY(after.sa_handler == before.sa_handler);
    }
};

int main(int argc, char** argv) {
    SelectTestPlatform();
    TApplication app(argc, argv);
    TestSessionEnd test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_sessionend.moc"
