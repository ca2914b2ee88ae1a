// The application's real message box (no recorder): what it shows, that it is modal to
// the whole application, where it appears and that the platform's close command
// dismisses it like its OK button.

#include "base/MessageBox.h"
#include "tests/common/ModalDriver.h"
#include "tests/common/TestSupport.h"
#include "tests/common/WindowManager.h"
#include "window/Application.h"

#include <QElapsedTimer>
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
        // No window shown yet: the box of the start-up load, before the main window.
        QTest::addColumn<bool>("ownerShown");
        QTest::newRow("error") << "Не могу открыть порт"
                               << "Ошибка" << int(TMessageIcon::Error) << int(QMessageBox::Critical)
                               << true;
        QTest::newRow("warning") << "Программа не загружена"
                                 << "Программатор" << int(TMessageIcon::Warning)
                                 << int(QMessageBox::Warning) << true;
        QTest::newRow("empty, no icon")
            << ""
            << "" << int(TMessageIcon::None) << int(QMessageBox::NoIcon) << true;
        QTest::newRow("no window shown yet")
            << "Не могу считать файл"
            << "Ошибка" << int(TMessageIcon::Error) << int(QMessageBox::Critical) << false;
    }
    void realBoxShowsTextCaptionIconAndOneOk() {
        QFETCH(QString, text);
        QFETCH(QString, caption);
        QFETCH(int, icon);
        QFETCH(int, shownIcon);
        QFETCH(bool, ownerShown);
        QWidget owner;
        owner.resize(200, 100);
        if (ownerShown) {
            owner.show();
            QVERIFY(QTest::qWaitForWindowExposed(&owner));
        }
        const QRect screen = QGuiApplication::primaryScreen()->geometry();
        const auto centred = [&](const QRect& r) {
            return qAbs(r.center().x() - screen.center().x()) <= 1 &&
                   qAbs(r.center().y() - screen.center().y()) <= 1;
        };
        QElapsedTimer sinceFramed;
        QString seenText, seenCaption;
        int seenIcon = -1, buttons = 0;
        bool ownerBlocked = false;
        QRect frame;
        QStringList titles;
        ModalDriver driver([&](QWidget* modal) {
            auto* box = qobject_cast<QMessageBox*>(modal);
            if (!box || (UnderWindowManager() && wm::OuterFrame(box).isEmpty()))
                return;
            // A box framed otherwise than it expected moves once more, at once.
            if (!sinceFramed.isValid())
                sinceFramed.start();
            if (!centred(wm::ScreenFrame(box)) && sinceFramed.elapsed() < 3000)
                return;
            seenText = box->text();
            seenCaption = box->windowTitle();
            seenIcon = box->icon();
            buttons = box->buttons().size();
            ownerBlocked = QApplication::activeModalWidget() == box && box->isModal();
            frame = wm::ScreenFrame(box);
            if (UnderWindowManager())
                titles = QStringList{wm::TitleProperty(box, "_NET_WM_NAME"),
                                     wm::TitleProperty(box, "WM_NAME")};
            if (UnderWindowManager())
                wm::SendCloseCommand(box); // the manager's close works as OK
            else
                box->button(QMessageBox::Ok)->click();
        });
        driver.setWatchdog(10000);
        ShowMessageBox(text, caption, TMessageIcon(icon));
        QVERIFY(!driver.timedOut);
        QCOMPARE(seenText, text);
        QCOMPARE(seenCaption, caption);
        QCOMPARE(seenIcon, shownIcon);
        QCOMPARE(buttons, 1);
        QVERIFY(ownerBlocked);
        // The title bar shows the caption as it is, an empty one too (WM_NAME holds it in
        // the compound-text encoding).
        if (UnderWindowManager()) {
            QCOMPARE(titles.value(0), caption);
            QCOMPARE(titles.value(1).isEmpty(), caption.isEmpty());
        }
        // The whole frame in the middle of the monitor.
        const QString where = QStringLiteral("%1,%2 %3x%4 on %5x%6")
                                  .arg(frame.x())
                                  .arg(frame.y())
                                  .arg(frame.width())
                                  .arg(frame.height())
                                  .arg(screen.width())
                                  .arg(screen.height());
        QVERIFY2(centred(frame), qPrintable(where));
    }
};

int main(int argc, char** argv) {
    SelectTestPlatform();
    TApplication app(argc, argv);
    TestMessageBox test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_messagebox.moc"
