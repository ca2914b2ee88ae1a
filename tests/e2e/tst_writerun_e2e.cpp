// Write runs of the real main window through the real serial link to the simulated
// device, and what the operator can do around them.

#include "base/ErrorReport.h"
#include "comm/VaComm.h"
#include "tests/e2e/MainWindowRig.h"
#include "window/Application.h"

#include <QDialog>
#include <QDir>
#include <QKeyEvent>
#include <QLineEdit>
#include <unistd.h>

using namespace e2e;

namespace {
// This process's descriptors open on Path (also after the line was removed).
QList<int> DescriptorsOn(const QString& Path) {
    QList<int> fds;
    const QByteArray path = Path.toLocal8Bit();
    for (const QString& n :
         QDir(QStringLiteral("/proc/self/fd"))
             .entryList(QDir::System | QDir::AllEntries | QDir::NoDotAndDotDot)) {
        char target[512];
        const ssize_t len =
            ::readlink(qPrintable(QStringLiteral("/proc/self/fd/") + n), target, sizeof target);
        const QByteArray t(target, len > 0 ? int(len) : 0);
        if (t == path || t == path + " (deleted)")
            fds.append(n.toInt());
    }
    std::sort(fds.begin(), fds.end());
    return fds;
}
} // namespace

class TestWriteRunE2E : public QObject {
    Q_OBJECT
private slots:
    void writeSendsFileByteForByteAndReleasesPort() {
        MainWindowRig rig;
        QVERIFY(rig.started);
        const QByteArray file = ProgramBytes(1300); // 6 sectors, the last one partial
        rig.loadProgram(file);
        QVERIFY(ProgramLoaded);
        formMain->move(120, 80);
        rig.run(&TformMain::BtnWriteClick);
        QVERIFY(!rig.timedOut);
        QCOMPARE(formSearsh->stInfo->text(), Written);
        QCOMPARE(formSearsh->stRezim->text(), QStringLiteral("Режим: Запись данных"));
        QVERIFY(rig.sawCloseDisabled);
        QCOMPARE(rig.sectorsWritten(), (QList<int>{0, 1, 2, 3, 4, 5}));
        QByteArray padded = file + QByteArray(6 * 256 - file.size(), char(0xFF));
        const QList<QByteArray> frames = rig.device.WriteFrames();
        for (int s = 0; s < 6; ++s)
            QCOMPARE(frames[s].mid(3, 256), padded.mid(s * 256, 256));
        QCOMPARE(rig.device.Stats().checksumErrors, 0);
        QCOMPARE(formSearsh->ProgressBar1->Max(), 6);
        QCOMPARE(formSearsh->ProgressBar1->Position(), 6);
        QVERIFY(!formMain->VaComm1->IsOpen());
        // Centred on the main window wherever it stands.
        const QSize outer = formSearsh->frameGeometry().size();
        QCOMPARE(rig.shownAt,
                 QPoint(rig.mainAtShow.left() + rig.mainAtShow.width() / 2 - outer.width() / 2,
                        rig.mainAtShow.top() + rig.mainAtShow.height() / 2 - outer.height() / 2));
        QVERIFY(rig.boxes.boxes.isEmpty());
    }

    // The operator tries to get away from a running write: the progress window's close
    // command, or (under a window manager) the main window's close command, a click on
    // Open and keys on the main window. The progress window stays, nothing else starts,
    // and the device receives every frame of the file the run started with.
    void transferHoldsAgainstCloseCommandsAndInput_data() {
        QTest::addColumn<QString>("route");
        QTest::newRow("close()") << "close()";
        QTest::newRow("manager's close") << "manager";
        QTest::newRow("alt+F4") << "alt+F4";
        QTest::newRow("main window: close, click on Open, keys") << "main";
    }
    void transferHoldsAgainstCloseCommandsAndInput() {
        QFETCH(QString, route);
        if (route != "close()")
            SKIP_UNLESS_WINDOW_MANAGER();
        MainWindowRig rig;
        const QByteArray file = ProgramBytes(8 * 256);
        rig.loadProgram(file);
        QTRY_VERIFY(!wm::ScreenFrame(formMain).isEmpty());
        int dialogs = 0;
        TFileDialog::SetAnswer([&](const TFileDialog&) {
            ++dialogs;
            return std::optional<QString>();
        });
        bool tried = false;
        bool hiddenWhileTransferring = false;
        QTimer operatorHand;
        QObject::connect(&operatorHand, &QTimer::timeout, [&] {
            const bool transferring =
                formSearsh->stInfo->text() == QStringLiteral("Идет запись...");
            if (transferring && !formSearsh->isVisible())
                hiddenWhileTransferring = true;
            if (tried || !transferring || rig.device.Stats().writeFrames < 2)
                return;
            if (UnderWindowManager() &&
                (wm::OuterFrame(formSearsh).isEmpty() || !formSearsh->isActiveWindow()))
                return;
            tried = true;
            if (route == "close()") {
                formSearsh->close();
            } else if (route == "manager") {
                wm::SendCloseCommand(formSearsh);
            } else if (route == "alt+F4") {
                QVERIFY(wm::PressKeys("alt+F4"));
            } else {
                wm::SendCloseCommand(formMain);
                QVERIFY(wm::ClickAt(
                    formMain->BtnOpen->mapToGlobal(formMain->BtnOpen->rect().center())));
                QVERIFY(wm::PressKeys("Tab space Return alt+F4"));
            }
        });
        operatorHand.start(20);
        rig.run(&TformMain::BtnWriteClick);
        operatorHand.stop();
        QVERIFY(!rig.timedOut);
        QVERIFY(tried);
        QVERIFY(!hiddenWhileTransferring);
        QCOMPARE(formSearsh->stInfo->text(), Written);
        QCOMPARE(rig.sectorsWritten(), (QList<int>{0, 1, 2, 3, 4, 5, 6, 7}));
        const QList<QByteArray> frames = rig.device.WriteFrames();
        for (int s = 0; s < 8; ++s)
            QCOMPARE(frames[s].mid(3, 256), file.mid(s * 256, 256));
        QCOMPARE(dialogs, 0);
        QVERIFY(rig.boxes.boxes.isEmpty());
        QVERIFY(formMain->isVisible());
        QVERIFY(formMain->isEnabled());
    }

    // Armed, the operator opened the file dialog; the device announces itself and the
    // transfer runs inside the dialog's loop with the progress window hidden. The dialog
    // takes no input until the transfer has ended (a loop started from it would hold the
    // transfer), and a file chosen afterwards is loaded after the transfer.
    void fileDialogLeftOpenWaitsForHiddenTransfer() {
        MainWindowRig rig(DeviceConfig("!", {}, sim::SwitchOn::Manual));
        const QByteArray file = ProgramBytes(6 * 256);
        rig.loadProgram(file);
        const QString other = rig.files.filePath(QStringLiteral("other.bin"));
        QFile otherFile(other);
        QVERIFY(otherFile.open(QIODevice::WriteOnly));
        otherFile.write(QByteArray(3 * 256, '\x11'));
        otherFile.close();
        rig.run(&TformMain::BtnWriteClick, [] { return true; }); // closed while waiting
        QVERIFY(formMain->VaComm1->IsOpen());

        // The open dialog, as a modal dialog of its own with a file-name field (the real
        // one's file-system thread works inside uninstrumented Qt, which ThreadSanitizer
        // cannot follow).
        TFileDialog::SetAnswer([](const TFileDialog&) -> std::optional<QString> {
            QDialog dialog(QApplication::activeWindow());
            dialog.setWindowModality(Qt::ApplicationModal);
            QLineEdit name(&dialog);
            name.setObjectName(QStringLiteral("fileNameEdit"));
            QObject::connect(&name, &QLineEdit::returnPressed, &dialog, &QDialog::accept);
            if (dialog.exec() != QDialog::Accepted)
                return std::nullopt;
            return name.text();
        });
        bool switchedOn = false;
        bool typed = false;
        bool heldDuringTransfer = false;
        ModalDriver driver([&](QWidget* modal) {
            auto* dialog = qobject_cast<QDialog*>(modal);
            if (!dialog)
                return;
            if (!switchedOn) {
                switchedOn = true;
                rig.device.SwitchOn();
                return;
            }
            const int frames = rig.device.Stats().writeFrames;
            if (!typed && frames >= 2 && frames < 6) {
                typed = true;
                auto* name = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
                QVERIFY(name);
                const QString before = name->text();
                for (QChar c : other + u'\r') {
                    const int key = c == u'\r' ? int(Qt::Key_Return) : int(c.toUpper().unicode());
                    QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier, QString(c));
                    QCoreApplication::sendEvent(name, &press);
                }
                heldDuringTransfer = !dialog->isEnabled() && !formMain->isEnabled() &&
                                     name->text() == before && dialog->isVisible();
                return;
            }
            if (typed && !formMain->VaComm1->IsOpen() && dialog->isEnabled() &&
                dialog->isVisible()) {
                dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))->setText(other);
                dialog->accept();
            }
        });
        driver.setWatchdog(20000);
        formMain->BtnOpenClick();
        TFileDialog::SetAnswer({});
        QVERIFY(!driver.timedOut);
        QVERIFY(typed);
        QVERIFY(heldDuringTransfer);
        QCOMPARE(rig.sectorsWritten(), (QList<int>{0, 1, 2, 3, 4, 5}));
        const QList<QByteArray> frames = rig.device.WriteFrames();
        for (int s = 0; s < 6; ++s)
            QCOMPARE(frames[s].mid(3, 256), file.mid(s * 256, 256));
        QCOMPARE(formSearsh->stInfo->text(), Written);
        QVERIFY(formMain->isEnabled());
        QCOMPARE(formMain->stNameFile->text(), QStringLiteral("other.bin")); // after the transfer
    }

    void writeOfEmptyFileSendsNothing() {
        MainWindowRig rig;
        rig.loadProgram(QByteArray());
        QVERIFY(ProgramLoaded);
        rig.run(&TformMain::BtnWriteClick);
        QVERIFY(!rig.timedOut);
        QCOMPARE(formSearsh->stInfo->text(), Written);
        QCOMPARE(rig.device.Stats().writeFrames, 0);
        QCOMPARE(formSearsh->ProgressBar1->Max(), 0);
        QVERIFY(!formMain->VaComm1->IsOpen());
    }

    void writeRetriesOnceAndFailsOnSecondFailure_data() {
        QTest::addColumn<QStringList>("faults");
        QTest::addColumn<QList<int>>("sent");
        QTest::addColumn<QString>("status");
        QTest::newRow("no reply once")
            << QStringList{"W:1:noreply:1"} << QList<int>{0, 1, 1, 2} << Written;
        QTest::newRow("late acknowledgement")
            << QStringList{"W:0:late:1:400"} << QList<int>{0, 0, 1, 2} << Written;
        QTest::newRow("two failures")
            << QStringList{"W:1:noreply:2"} << QList<int>{0, 1, 1} << WriteFailed;
        QTest::newRow("wrong ack, then noise") << QStringList{"W:2:wrongack:1", "W:2:noise:1"}
                                               << QList<int>{0, 1, 2, 2} << WriteFailed;
    }
    void writeRetriesOnceAndFailsOnSecondFailure() {
        QFETCH(QStringList, faults);
        QFETCH(QList<int>, sent);
        QFETCH(QString, status);
        MainWindowRig rig(DeviceConfig("!", faults));
        rig.loadProgram(ProgramBytes(3 * 256));
        rig.run(&TformMain::BtnWriteClick);
        QVERIFY(!rig.timedOut);
        QCOMPARE(rig.sectorsWritten(), sent);
        QCOMPARE(formSearsh->stInfo->text(), status);
        QVERIFY(!formMain->VaComm1->IsOpen());
        QVERIFY(!formMain->BtnSaveAs->isEnabled()); // a write never touches Save As
    }

    void announcementMustBeShortAndContainAck_data() {
        QTest::addColumn<QByteArray>("announcement");
        QTest::addColumn<bool>("starts");
        QTest::newRow("!") << QByteArray("!") << true;
        QTest::newRow("CR !") << QByteArray("\r!") << true;
        QTest::newRow("ab!") << QByteArray("ab!") << true;
        QTest::newRow("! CR LF") << QByteArray("!\r\n") << true; // "!" need not come last
        QTest::newRow("abc") << QByteArray("abc") << false;
        QTest::newRow("!!!!") << QByteArray("!!!!") << false;
    }
    void announcementMustBeShortAndContainAck() {
        QFETCH(QByteArray, announcement);
        QFETCH(bool, starts);
        MainWindowRig rig(DeviceConfig(announcement));
        rig.loadProgram(ProgramBytes(256));
        QElapsedTimer clock;
        clock.start();
        rig.run(&TformMain::BtnWriteClick, [&] { return !starts && clock.elapsed() > 800; });
        QVERIFY(!rig.timedOut);
        QCOMPARE(rig.device.Stats().announcements, 1);
        QCOMPARE(rig.device.Stats().writeFrames, starts ? 1 : 0);
        QCOMPARE(formSearsh->stInfo->text(), starts ? Written : Searching);
        QCOMPARE(formMain->VaComm1->IsOpen(), !starts); // ignored: still listening (Armed)
    }

    void deviceHangingUpLeavesClosableWindowAndFreePort() {
        MainWindowRig rig(DeviceConfig("!", {"W:2:hangup"}));
        rig.loadProgram(ProgramBytes(5 * 256));
        SetApplicationTitle(QStringLiteral("Vendrik"));
        // The simulated device keeps its own descriptor on the line; the program's must
        // be gone by the time the error box waits for the operator.
        const QString line = rig.device.SlavePath();
        const QList<int> devicesOwn = DescriptorsOn(line);
        QList<int> whileBoxUp{-1};
        rig.boxes.onBox = [&](const RecordedBox&) { whileBoxUp = DescriptorsOn(line); };
        rig.run(&TformMain::BtnWriteClick);
        QCOMPARE(whileBoxUp, devicesOwn);
        QVERIFY(!rig.timedOut); // the operator could close the window
        QVERIFY(rig.device.Stats().hungUp);
        QCOMPARE(formSearsh->stInfo->text(), WriteFailed);
        QVERIFY(!formMain->VaComm1->IsOpen());
        QVERIFY(formSearsh->BtnCancel->isEnabled());
        // The link's error went to the general error report, with its own text.
        QCOMPARE(rig.boxes.boxes.size(), 1);
        QVERIFY2(rig.boxes.boxes[0].text.contains(QStringLiteral("Input/output error")),
                 qPrintable(rig.boxes.boxes[0].text));
        QCOMPARE(rig.boxes.boxes[0].caption, QStringLiteral("Vendrik"));
        QCOMPARE(rig.boxes.boxes[0].icon, TMessageIcon::Error);
    }
};

int main(int argc, char** argv) {
    SelectTestPlatform();
    TApplication app(argc, argv);
    // The tests close the main window; the run of tests must go on.
    QApplication::setQuitOnLastWindowClosed(false);
    TestWriteRunE2E test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_writerun_e2e.moc"
