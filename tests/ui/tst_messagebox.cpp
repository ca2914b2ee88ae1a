// The application's real message box (no recorder): what it shows, that it is modal to
// the whole application, where it appears and that the platform's close command
// dismisses it like its OK button.

#include "app/Application.h"
#include "base/MessageBox.h"
#include "tests/common/ModalDriver.h"
#include "tests/common/TestSupport.h"
#include "tests/common/WindowManager.h"

#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QtTest/QTest>

class TestMessageBox : public QObject {
    Q_OBJECT
private slots:
    void realBoxShowsTextCaptionIconAndOneOk_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("caption");
        QTest::addColumn<int>("icon");
        QTest::addColumn<int>("shownIcon");
        QTest::newRow("error") << "Не могу открыть порт"
                               << "Ошибка" << int(MsgIcon::Error) << int(QMessageBox::Critical);
        QTest::newRow("warning") << "Программа не загружена"
                                 << "Программатор" << int(MsgIcon::Warning)
                                 << int(QMessageBox::Warning);
        QTest::newRow("empty, no icon") << ""
                                        << "" << int(MsgIcon::None) << int(QMessageBox::NoIcon);
    }
    void realBoxShowsTextCaptionIconAndOneOk() {
        QFETCH(QString, text);
        QFETCH(QString, caption);
        QFETCH(int, icon);
        QFETCH(int, shownIcon);
        QWidget owner;
        owner.resize(200, 100);
        owner.show();
        QVERIFY(QTest::qWaitForWindowExposed(&owner));
        QString seenText, seenCaption;
        int seenIcon = -1, buttons = 0;
        bool ownerBlocked = false;
        QRect frame;
        ModalDriver driver([&](QWidget* modal) {
            auto* box = qobject_cast<QMessageBox*>(modal);
            if (!box || (UnderWindowManager() && wm::OuterFrame(box).isEmpty()))
                return;
            seenText = box->text();
            seenCaption = box->windowTitle();
            seenIcon = box->icon();
            buttons = box->buttons().size();
            ownerBlocked = QApplication::activeModalWidget() == box && box->isModal();
            frame = wm::ScreenFrame(box);
            if (UnderWindowManager())
                wm::SendCloseCommand(box); // the manager's close works as OK
            else
                box->button(QMessageBox::Ok)->click();
        });
        driver.setWatchdog(10000);
        ShowMessageBox(text, caption, MsgIcon(icon));
        QVERIFY(!driver.timedOut);
        QCOMPARE(seenText, text);
        QCOMPARE(seenCaption, caption);
        QCOMPARE(seenIcon, shownIcon);
        QCOMPARE(buttons, 1);
        QVERIFY(ownerBlocked);
        // In the middle of the monitor, to within the frame the box cannot know before it
        // is first framed: its border across, its title bar down.
        const QRect screen = owner.screen()->geometry();
        QVERIFY2(qAbs(frame.center().x() - screen.center().x()) <= 2,
                 qPrintable(QStringLiteral("%1,%2 %3x%4 on %5x%6")
                                .arg(frame.x())
                                .arg(frame.y())
                                .arg(frame.width())
                                .arg(frame.height())
                                .arg(screen.width())
                                .arg(screen.height())));
        QVERIFY2(qAbs(frame.center().y() - screen.center().y()) <= 20,
                 qPrintable(QStringLiteral("%1,%2 %3x%4 on %5x%6")
                                .arg(frame.x())
                                .arg(frame.y())
                                .arg(frame.width())
                                .arg(frame.height())
                                .arg(screen.width())
                                .arg(screen.height())));
    }
};

int main(int argc, char** argv) {
    SelectTestPlatform();
    TApplication app(argc, argv);
    TestMessageBox test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_messagebox.moc"
