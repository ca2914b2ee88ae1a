// The three stored settings through the real main window: destroying and re-creating
// the window stands in for the next start of the program.

#include "base/ErrorReport.h"
#include "programmer/ProgramImage.h"
#include "storage/Placemnt.h"
#include "tests/common/ProgramWindows.h"
#include "tests/common/TestSupport.h"
#include "ui/fMain.h"
#include "window/Application.h"

#include <QDir>
#include <QFile>
#include <QToolButton>
#include <QtTest/QTest>
#include <memory>

namespace {

const QByteArray KeysHead = "REGEDIT4\n\n[HKEY_CURRENT_USER\\Software]\n\n"
                            "[HKEY_CURRENT_USER\\Software\\Vendrik]\n\n";

QByteArray Section(const QByteArray& check, const QByteArray& tag, const QByteArray& file) {
    return "[HKEY_CURRENT_USER\\Software\\Vendrik\\TformMain]\n\"FormVersion\"=\"0\"\n"
           "\"cbCheck_Checked\"=\"" +
           check + "\"\n\"cbPort_Tag\"=\"" + tag + "\"\n\"OpenDialog1_FileName\"=\"" + file +
           "\"\n\n";
}

// A new start of the program, named like the real executable.
TProgramWindows Start() {
    ProgramLoaded = false;
    return StartProgram();
}

} // namespace

class TestMainWindowSettings : public QObject {
    Q_OBJECT
    QTemporaryDir files_;

private slots:
    void init() { SetApplicationTitle("Vendrik"); }
    void cleanup() { TFileDialog::SetAnswer({}); }

    void componentIsBoundToTheWindow() {
        TempConfigHome home;
        TformMain window;
        QCOMPARE(window.findChild<TFormStorage*>("FormStorage1"), window.FormStorage1);
        QCOMPARE(window.FormStorage1->DefaultStoreSection(), QString("TformMain"));
        QCOMPARE(StoredTexts(window.FormStorage1->StoredProps),
                 QStringList({"cbCheck.Checked", "cbPort.Tag", "OpenDialog1.FileName"}));
        QVERIFY(window.FormStorage1->UseRegistry);
        QCOMPARE(int(window.FormStorage1->Options), 0);
    }

    void firstStartStoresDefaultsAndChoicesComeBackAtNextStart() {
        TempConfigHome home;
        MessageRecorder boxes;
        const QString program = files_.filePath("Мои программы/прошивка 1.bin");
        QVERIFY(QDir().mkpath(QFileInfo(program).absolutePath()));
        QVERIFY(WriteWholeFile(program, QByteArray(700, '\x42')));

        auto window = Start();
        QCOMPARE(ReadStoreFile(), KeysHead);
        QCOMPARE(window->cbPort->currentIndex(), 0);
        QVERIFY(!window->cbCheck->isChecked());
        QVERIFY(!ProgramLoaded);
        window->close();
        window.reset();
        QCOMPARE(ReadStoreFile(), KeysHead + Section("False", "0", ""));

        window = Start();
        window->cbCheck->setChecked(true);
        window->cbPort->setCurrentIndex(2);
        window->cbPortChange(); // what the user's choice of COM3 runs
        TFileDialog::SetAnswer([&](const TFileDialog&) { return std::optional(program); });
        QTest::mouseClick(window->BtnOpen, Qt::LeftButton);
        QVERIFY(ProgramLoaded);
        window->close();
        window.reset();
        QCOMPARE(ReadStoreFile(), KeysHead + Section("True", "2", program.toUtf8()));

        window = Start();
        QVERIFY(window->cbCheck->isChecked());
        QCOMPARE(window->cbPort->currentText(), QString("COM3"));
        QVERIFY(ProgramLoaded);
        QCOMPARE(ProgramSize, 700);
        QCOMPARE(window->stNameFile->text(), QString("прошивка 1.bin"));
        QCOMPARE(window->OpenDialog1->FileName(), program);
        QVERIFY(boxes.boxes.isEmpty());
    }

    void storedFileThatNoLongerExistsIsOfferedAndWrittenBack() {
        TempConfigHome home;
        MessageRecorder boxes;
        const QByteArray gone = "/nowhere/old firmware.bin";
        QVERIFY(WriteStoreFile(KeysHead + Section("False", "12", gone)));
        auto window = Start();
        QVERIFY(!ProgramLoaded);
        QCOMPARE(window->stNameFile->text(), QString());
        QCOMPARE(window->OpenDialog1->FileName(), QString(gone));
        QCOMPARE(window->cbPort->Tag(), 12);
        QCOMPARE(window->cbPort->currentIndex(), -1);
        window->close();
        QCOMPARE(ReadStoreFile(), KeysHead + Section("False", "12", gone));
        QVERIFY(boxes.boxes.isEmpty());
    }

    void versionOfWrongTypeIsReportedAndTheWindowStillComesUp() {
        TempConfigHome home;
        MessageRecorder boxes;
        const QByteArray stored = KeysHead +
                                  "[HKEY_CURRENT_USER\\Software\\Vendrik\\TformMain]\n"
                                  "\"FormVersion\"=dword:00000000\n\"cbPort_Tag\"=\"3\"\n\n";
        QVERIFY(WriteStoreFile(stored));
        auto window = Start();
        QCOMPARE_ONE_BOX(boxes, QString("Invalid data type for 'FormVersion'"), QString("Vendrik"),
                         TMessageIcon::Error);
        QCOMPARE(window->cbPort->currentIndex(), 0); // the window's own show handler ran
        window->cbPort->setCurrentIndex(5);
        window->cbPortChange();
        window->close();
        window.reset();
        QCOMPARE(ReadStoreFile(), stored);
        QCOMPARE(boxes.boxes.size(), 1);
    }

    void damagedStoreStillStartsAndIsKeptAside() {
        TempConfigHome home;
        MessageRecorder boxes;
        const QByteArray damaged = KeysHead + Section("True", "4", "/x.bin").left(125);
        QVERIFY(WriteStoreFile(damaged));
        auto window = Start();
        QVERIFY(window->isVisible());
        QVERIFY(window->cbCheck->isChecked());
        QCOMPARE(window->cbPort->currentIndex(), 4);
        window->close();
        const QStringList copies =
            QDir(home.vendrikDir()).entryList({"user.reg.damaged-*"}, QDir::Files);
        QCOMPARE(copies.size(), 1);
        QCOMPARE(ReadWholeFile(home.vendrikDir() + "/" + copies[0]), damaged);
        QCOMPARE(ReadStoreFile(), KeysHead + Section("True", "4", ""));
        QVERIFY(boxes.boxes.isEmpty());
    }
};

int main(int argc, char** argv) {
    TApplication app(argc, argv);
    TestMainWindowSettings test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_mainwindowsettings.moc"
