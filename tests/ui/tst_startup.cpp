#include "base/ErrorReport.h"
#include "programmer/ProgramImage.h"
#include "tests/common/TestSupport.h"
#include "ui/Startup.h"
#include "ui/fHelp.h"
#include "ui/fMain.h"
#include "ui/fSearsh.h"
#include "window/Application.h"

#include <QtTest/QTest>

class TestStartup : public QObject {
    Q_OBJECT
private slots:
    void setUpTakesTitleFromExecutableAndLeavesCaptionsAlone() {
        SetUpApplication("/opt/tools/VENDRIK");
        QCOMPARE(ApplicationTitle(), QString("Vendrik"));
        QVERIFY(QGuiApplication::applicationDisplayName() == QCoreApplication::applicationName());
        QVERIFY(!QApplication::windowIcon().isNull());
        QCOMPARE(QApplication::windowIcon().availableSizes().value(0), QSize(32, 32));
        QCOMPARE(QApplication::style()->styleHint(QStyle::SH_ToolTip_WakeUpDelay), 500);
    }

    void windowsAreCreatedHiddenAndOwnedByTheMainWindow() {
        TempConfigHome config; // nothing stored: a first run
        MessageRecorder boxes;
        CreateWindows();
        QVERIFY(formMain && formSearsh && formHelp);
        QVERIFY(!formMain->isVisible() && !formSearsh->isVisible() && !formHelp->isVisible());
        QVERIFY(formMain->isWindow() && !formMain->parentWidget());
        // Owned windows are dialogs of the main window: no task-bar entry of their own.
        QCOMPARE(formSearsh->parentWidget(), formMain);
        QCOMPARE(formHelp->parentWidget(), formMain);
        QCOMPARE(formSearsh->windowType(), Qt::Dialog);
        QCOMPARE(formHelp->windowType(), Qt::Dialog);

        formMain->show();
        QVERIFY(formMain->isVisible());
        QVERIFY(boxes.boxes.isEmpty());
        QCOMPARE(formMain->cbPort->currentText(), QString("COM1"));
        QVERIFY(!formMain->cbCheck->isChecked());
        QVERIFY(formMain->stNameFile->text().isEmpty());
        QVERIFY(!ProgramLoaded);
        QVERIFY(formMain->close());
        QVERIFY(!formMain->isVisible());

        DestroyWindows();
        QVERIFY(!formMain && !formSearsh && !formHelp);
    }
};

int main(int argc, char** argv) {
    TApplication app(argc, argv);
    TempConfigHome settings; // the main window keeps its settings there
    TestStartup test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_startup.moc"
