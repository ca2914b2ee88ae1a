#include "tests/common/ModalDriver.h"
#include "tests/common/TestSupport.h"
#include "tests/common/WindowManager.h"
#include "ui/FileDialogs.h"
#include "window/Application.h"

#include <QFileDialog>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QtTest/QTest>

// The real dialogs (the toolkit's own, as no desktop theme runs here), driven as a
// person would answer them.
class TestFileDialogs : public QObject {
    Q_OBJECT
    QTemporaryDir dir_;

    struct Seen {
        QStringList filters;
        QFileDialog::AcceptMode mode = QFileDialog::AcceptOpen;
        bool confirmsOverwrite = true;
        bool applicationModal = false;
        QString directory;
        bool timedOut = false;
    };

    // Answers the next dialog with `typed` (accept) or cancels it when empty.
    static Seen Answer(TFileDialog& dialog, const QString& typed, bool& result) {
        Seen seen;
        ModalDriver driver([&](QWidget* modal) {
            auto* fileDialog = qobject_cast<QFileDialog*>(modal);
            if (!fileDialog)
                return;
            seen.filters = fileDialog->nameFilters();
            seen.mode = fileDialog->acceptMode();
            seen.confirmsOverwrite = !fileDialog->testOption(QFileDialog::DontConfirmOverwrite);
            seen.applicationModal = fileDialog->windowModality() == Qt::ApplicationModal;
            seen.directory = fileDialog->directory().absolutePath();
            if (typed.isEmpty()) {
                fileDialog->reject();
            } else {
                // Typed into the name field, as a person would.
                auto* nameEdit = fileDialog->findChild<QLineEdit*>("fileNameEdit");
                if (!nameEdit)
                    return;
                nameEdit->setText(typed);
                static_cast<QDialog*>(fileDialog)->accept(); // as the Save/Open button does
            }
        });
        driver.setWatchdog(10000);
        result = dialog.Execute();
        seen.timedOut = driver.timedOut;
        return seen;
    }

private slots:
    void initTestCase() { TFileDialog::SetUseNativeDialogs(false); }

    void saveDialogAddsExtensionAndReplacesWithoutQuestion() {
        TSaveDialog dialog;
        dialog.SetFilter("*.bin|*.bin");
        dialog.SetDefaultExt("bin");
        dialog.SetInitialDir(dir_.path());
        bool chosen = false;
        const Seen seen = Answer(dialog, dir_.filePath("image"), chosen);
        QVERIFY(!seen.timedOut);
        QVERIFY(chosen);
        QCOMPARE(dialog.FileName(), dir_.filePath("image.bin"));
        QCOMPARE(seen.filters, QStringList{"*.bin"});
        QCOMPARE(seen.mode, QFileDialog::AcceptSave);
        QVERIFY(!seen.confirmsOverwrite);
        QVERIFY(seen.applicationModal);
        QCOMPARE(seen.directory, dir_.path());
    }

    void openDialogAcceptsNameThatDoesNotExist() {
        TOpenDialog dialog;
        dialog.SetFilter("*.bin|*.bin");
        bool chosen = false;
        const Seen seen = Answer(dialog, dir_.filePath("not-yet.bin"), chosen);
        QVERIFY(!seen.timedOut);
        QVERIFY(chosen);
        QCOMPARE(dialog.FileName(), dir_.filePath("not-yet.bin"));
        QCOMPARE(seen.mode, QFileDialog::AcceptOpen);
    }

    void cancelledDialogKeepsFileName() {
        TOpenDialog dialog;
        dialog.SetFileName("/kept/name.bin");
        bool chosen = true;
        QVERIFY(!Answer(dialog, QString(), chosen).timedOut);
        QVERIFY(!chosen);
        QCOMPARE(dialog.FileName(), QString("/kept/name.bin"));
    }
};

int main(int argc, char** argv) {
    SelectTestPlatform();
    TApplication app(argc, argv);
    TestFileDialogs test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_filedialogs.moc"
