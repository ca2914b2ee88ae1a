#include "base/ProgramError.h"
#include "tests/common/ModalDriver.h"
#include "tests/common/ProgramWindows.h"
#include "tests/common/TestSupport.h"
#include "tests/common/WindowManager.h"
#include "ui/WindowFrame.h"
#include "ui/fMain.h"
#include "ui/fSearsh.h"
#include "window/Application.h"

#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QElapsedTimer>
#include <QtTest/QTest>
#include <memory>

namespace {
// Counts the close events a window receives, whatever becomes of them.
class CloseCounter : public QObject {
public:
    explicit CloseCounter(QObject* watched) { watched->installEventFilter(this); }
    int count = 0;

protected:
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Close)
            ++count;
        return false;
    }
};
} // namespace

class TestProgressWindow : public QObject {
    Q_OBJECT
    std::unique_ptr<TformSearsh> form_;

private slots:
    void init() { form_ = std::make_unique<TformSearsh>(); }
    void cleanup() { form_.reset(); }

    void controlsMatchTheirDesign_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("parent");
        QTest::addColumn<QRect>("geometry");
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("pixelSize");
        QTest::addColumn<bool>("bold");
        QTest::newRow("Panel1") << "Panel1"
                                << "TPanel"
                                << "formSearsh" << QRect(0, 0, 298, 101) << "" << 11 << false;
        QTest::newRow("Animate1") << "Animate1"
                                  << "TAnimate"
                                  << "Panel1" << QRect(8, 3, 48, 45) << "" << 11 << false;
        QTest::newRow("stRezim") << "stRezim"
                                 << "QLabel"
                                 << "Panel1" << QRect(64, 16, 193, 17) << "stRezim" << 13 << true;
        QTest::newRow("ProgressBar1") << "ProgressBar1"
                                      << "TProgressBar"
                                      << "Panel1" << QRect(8, 51, 281, 16) << "" << 11 << false;
        QTest::newRow("stInfo") << "stInfo"
                                << "QLabel"
                                << "Panel1" << QRect(8, 73, 201, 20) << "stInfo" << 13 << true;
        QTest::newRow("BtnCancel")
            << "BtnCancel"
            << "QPushButton"
            << "Panel1" << QRect(216, 72, 75, 21) << "Закрыть" << 11 << false;
    }
    void controlsMatchTheirDesign() {
        QFETCH(QString, name);
        QFETCH(QString, kind);
        QFETCH(QString, parent);
        QFETCH(QRect, geometry);
        QFETCH(QString, text);
        QFETCH(int, pixelSize);
        QFETCH(bool, bold);
        auto* control = form_->findChild<QWidget*>(name);
        QVERIFY(control);
        QCOMPARE(control->metaObject()->className(), kind);
        QCOMPARE(control->parent()->objectName(), parent);
        QCOMPARE(control->geometry(), geometry);
        if (auto bar = qobject_cast<QProgressBar*>(control)) {
            QVERIFY(!bar->isTextVisible());
        } else {
            const QVariant shown = control->property("text");
            QCOMPARE(shown.isValid() ? shown.toString() : QString(), text);
        }
        QCOMPARE(control->font().pixelSize(), pixelSize);
        QCOMPARE(control->font().bold(), bold);
        QCOMPARE(control->focusPolicy() != Qt::NoFocus, name == "BtnCancel");
    }

    void windowAndControlsStartAsDesigned() {
        QCOMPARE(form_->windowTitle(), QString("formSearsh"));
        QVERIFY(form_->windowFlags() & Qt::FramelessWindowHint);
        QCOMPARE(form_->size(), QSize(298, 101));
        QCOMPARE(form_->minimumSize(), form_->maximumSize());
        QCOMPARE(form_->ProgressBar1->Min(), 0);
        QCOMPARE(form_->ProgressBar1->Max(), 512);
        QCOMPARE(form_->ProgressBar1->Position(), 0);
        QCOMPARE(form_->Animate1->CommonAVI(), aviFindComputer);
        QVERIFY(!form_->Animate1->Active());
        QCOMPARE(form_->stInfo->frameShadow(), QFrame::Sunken);
        QVERIFY(form_->stInfo->frameShape() != QFrame::NoFrame);
        QVERIFY(form_->BtnCancel->isEnabled());
    }

    void placementHalvesRoundTowardZero_data() {
        QTest::addColumn<QRect>("mainFrame");
        QTest::addColumn<QSize>("outer");
        QTest::addColumn<QPoint>("centred");
        QTest::addColumn<QPoint>("belowTop");
        QTest::newRow("start position")
            << QRect(433, 301, 266, 265) << QSize(298, 101) << QPoint(417, 383) << QPoint(417, 301);
        QTest::newRow("odd sizes")
            << QRect(433, 301, 265, 263) << QSize(299, 101) << QPoint(416, 382) << QPoint(416, 301);
        QTest::newRow("off the left and top") << QRect(-300, -50, 265, 263) << QSize(505, 367)
                                              << QPoint(-420, -102) << QPoint(-420, -50);
    }
    void placementHalvesRoundTowardZero() {
        QFETCH(QRect, mainFrame);
        QFETCH(QSize, outer);
        QFETCH(QPoint, centred);
        QFETCH(QPoint, belowTop);
        QCOMPARE(CentredOver(mainFrame, outer), centred);
        QCOMPARE(CentredBelowTop(mainFrame, outer), belowTop);
    }

    void centreOverPlacesOuterFrameOverMainWindow() {
        SKIP_UNDER_WINDOW_MANAGER("frames come later there: centredOnMainWindowsRealFrame");
        MessageRecorder boxes;
        TformMain main;
        main.show();
        main.move(-100, 40);
        form_->CentreOver(&main);
        const QRect m = main.frameGeometry();
        QCOMPARE(form_->frameGeometry().topLeft(),
                 QPoint(m.left() + m.width() / 2 - 149, m.top() + m.height() / 2 - 50));
    }

    void closeButtonEndsModalShowingAndEscapeDoesNot() {
        form_->Animate1->SetActive(true);
        int polls = 0;
        bool escapeIgnored = false;
        bool wasModal = false;
        ModalDriver driver([&](QWidget* modal) {
            if (modal != form_.get())
                return;
            wasModal = QApplication::activeModalWidget() == form_.get();
            if (++polls == 1) {
                QTest::keyClick(form_.get(), Qt::Key_Escape);
                escapeIgnored = form_->isVisible();
                return;
            }
            QTest::mouseClick(form_->BtnCancel, Qt::LeftButton);
        });
        driver.setWatchdog(5000);
        QCOMPARE(form_->ShowModal(), TModalForm::mrCancel);
        QVERIFY(!driver.timedOut);
        QVERIFY(wasModal);
        QVERIFY(escapeIgnored);
        QVERIFY(polls >= 2);
        QVERIFY(!form_->isVisible());
        QVERIFY(!form_->Animate1->Active());
        QCOMPARE(form_->Animate1->CurrentFrame(), 0);
    }

    // The platform's close command is the Close button's: while the button is disabled
    // (a transfer runs) it is refused, otherwise it stops the clip and closes the window.
    void closeCommandFollowsCloseButton_data() {
        QTest::addColumn<QString>("route");
        QTest::addColumn<bool>("closeEnabled");
        for (const char* route : {"close()", "manager", "alt+F4"}) {
            QTest::addRow("%s, waiting", route) << QString(route) << true;
            QTest::addRow("%s, transferring", route) << QString(route) << false;
        }
    }
    void closeCommandFollowsCloseButton() {
        QFETCH(QString, route);
        QFETCH(bool, closeEnabled);
        if (route != "close()")
            SKIP_UNLESS_WINDOW_MANAGER();
        MessageRecorder boxes;
        // The windows as the program's start-up makes them: the main window owns this one.
        const TProgramWindows program = CreateProgramWindows();
        TformMain& main = *program;
        TformSearsh& progress = *formSearsh;
        main.show();
        QTRY_VERIFY(!wm::ScreenFrame(&main).isEmpty());
        progress.BtnCancel->setEnabled(closeEnabled);
        progress.Animate1->SetActive(true);
        CloseCounter closes(&progress);
        bool sent = false;
        QElapsedTimer sentAt;
        bool stayedWithClipRunning = false;
        ModalDriver driver([&](QWidget* modal) {
            if (modal != &progress)
                return;
            // A key pressed while the server still moves the focus can be lost; an
            // operator presses again when nothing happened.
            if (sent && route == "alt+F4" && closes.count == 0 && sentAt.hasExpired(1500))
                sent = false;
            if (!sent) {
                // The command goes to a window the manager has mapped and focused.
                if (UnderWindowManager() &&
                    (wm::OuterFrame(&progress).isEmpty() || !progress.isActiveWindow()))
                    return;
                sent = true;
                sentAt.start();
                if (route == "close()")
                    progress.close();
                else if (route == "manager")
                    wm::SendCloseCommand(&progress);
                else
                    QVERIFY(wm::PressKeys("alt+F4"));
                return;
            }
            if (closes.count > 0 && progress.isVisible()) {
                // Refused: still up, clip still playing. Let the "transfer" end.
                stayedWithClipRunning = progress.Animate1->Active();
                progress.BtnCancel->setEnabled(true);
                progress.BtnCancel->click();
            }
        });
        driver.setWatchdog(10000);
        progress.CentreOver(&main);
        progress.ShowModal();
        QVERIFY(!driver.timedOut);
        QVERIFY(closes.count >= 1);
        QVERIFY(!progress.isVisible());
        QVERIFY(!progress.Animate1->Active());
        QCOMPARE(progress.Animate1->CurrentFrame(), 0);
        QCOMPARE(stayedWithClipRunning, !closeEnabled);
    }

    // Placed by the frames the manager really drew, wherever the operator moved the main
    // window and at every showing.
    void centredOnMainWindowsRealFrame_data() {
        QTest::addColumn<QPoint>("mainAt");
        QTest::addColumn<bool>("undecorate");
        QTest::newRow("start position") << QPoint(433, 301) << false;
        QTest::newRow("moved up left") << QPoint(120, 80) << false;
        QTest::newRow("moved down right") << QPoint(900, 700) << false;
        QTest::newRow("partly off the left") << QPoint(-60, 200) << false;
        // The manager changes the frame without moving the window: the toolkit's copy of
        // the frame, taken at the last move, is then out of date.
        QTest::newRow("frame changed since the last move") << QPoint(300, 250) << true;
    }
    void centredOnMainWindowsRealFrame() {
        SKIP_UNLESS_WINDOW_MANAGER();
        QFETCH(QPoint, mainAt);
        QFETCH(bool, undecorate);
        MessageRecorder boxes;
        const TProgramWindows program = CreateProgramWindows();
        TformMain& main = *program;
        TformSearsh& progress = *formSearsh;
        main.show();
        QTRY_VERIFY(!wm::OuterFrame(&main).isEmpty());
        wm::MoveFrameByManager(&main, mainAt);
        QTRY_COMPARE(wm::OuterFrame(&main).topLeft(), mainAt);
        if (undecorate) {
            const QMargins before = wm::FrameExtents(&main);
            wm::SetDecorated(&main, false);
            QTRY_VERIFY(wm::FrameExtents(&main) != before);
        }
        // The operator's click comes after the manager's reports of the move.
        QTRY_COMPARE(OuterFrame(&main), wm::OuterFrame(&main));
        for (int showing = 1; showing <= 2; ++showing) {
            QRect shownAt;
            QPoint hintedAt;
            bool positionHinted = false;
            ModalDriver driver([&](QWidget* modal) {
                if (modal != &progress || wm::OuterFrame(&progress).isEmpty())
                    return;
                shownAt = wm::OuterFrame(&progress);
                positionHinted = wm::PositionHint(&progress);
                hintedAt = wm::HintedPosition(&progress);
                progress.close();
            });
            driver.setWatchdog(10000);
            progress.CentreOver(&main);
            progress.ShowModal();
            QVERIFY(!driver.timedOut);
            QVERIFY(positionHinted); // the manager does not place it by its own rules
            const QRect mainFrame = wm::OuterFrame(&main);
            QCOMPARE(shownAt.size(), QSize(298, 101)); // no frame of the manager's
            const QRect expected(CentredOver(mainFrame, QSize(298, 101)), QSize(298, 101));
            QCOMPARE(hintedAt, expected.topLeft()); // asked for, not kept on the screen
            // Where it lies partly off the screen, the manager may pull it back on (openbox
            // does so for every dialog): its own rule.
            if (progress.screen()->geometry().contains(expected))
                QCOMPARE(shownAt.topLeft(), expected.topLeft());
        }
    }

    void windowCanBeShownModallyAgainAndAgain() {
        ModalDriver driver([&](QWidget* modal) { modal->close(); });
        driver.setWatchdog(5000);
        form_->stInfo->setText("Данные записаны");
        QCOMPARE(form_->ShowModal(), TModalForm::mrCancel);
        QCOMPARE(form_->ShowModal(), TModalForm::mrCancel);
        QVERIFY(!driver.timedOut);
        QCOMPARE(form_->stInfo->text(), QString("Данные записаны")); // nothing clears it
    }

    void showModalOfVisibleWindowIsRefused() {
        form_->show();
        QVERIFY_THROWS_EXCEPTION(EProgramError, form_->ShowModal());
    }

    void clipLoopsWhilePlayingAndStopsOnFirstFrame() {
        TAnimate* animate = form_->Animate1;
        animate->SetCommonAVI(aviFindFile);
        QVERIFY(animate->FrameCount() > 1);
        QCOMPARE(animate->size(), QSize(48, 45));
        animate->SetActive(true);
        QVERIFY(animate->Active());
        // Frame after frame, and round again from the first.
        int last = 0;
        int highest = 0;
        bool wrapped = false;
        auto advancesAndWraps = [&] {
            const int frame = animate->CurrentFrame();
            wrapped = wrapped || frame < last;
            highest = std::max(highest, frame);
            last = frame;
            return wrapped && highest == animate->FrameCount() - 1;
        };
        QTRY_VERIFY_WITH_TIMEOUT(advancesAndWraps(), 10000);
        animate->SetActive(false);
        QVERIFY(!animate->Active());
        QCOMPARE(animate->CurrentFrame(), 0);
        // Choosing a clip closes the one that was playing.
        animate->SetActive(true);
        animate->SetCommonAVI(aviNone);
        QVERIFY(!animate->Active());
        QCOMPARE(animate->FrameCount(), 0);
        animate->SetActive(true);
        QVERIFY(!animate->Active());
    }

    void progressPastRangeShowsFullAndEmptyRangeIsNotBusy_data() {
        QTest::addColumn<int>("max");
        QTest::addColumn<int>("position");
        QTest::addColumn<double>("filled");
        QTest::newRow("first read step") << 512 << 1 << 1.0 / 512;
        QTest::newRow("read after creation") << 512 << 128 << 0.25;
        QTest::newRow("read past a short write") << 100 << 128 << 1.0;
        QTest::newRow("empty write, start") << 0 << 0 << 0.0;
        QTest::newRow("read after empty write") << 0 << 5 << 1.0;
    }
    void progressPastRangeShowsFullAndEmptyRangeIsNotBusy() {
        QFETCH(int, max);
        QFETCH(int, position);
        QFETCH(double, filled);
        TProgressBar* bar = form_->ProgressBar1;
        bar->SetMax(max);
        bar->SetPosition(position);
        QCOMPARE(bar->Position(), position);
        QVERIFY(bar->maximum() > bar->minimum()); // never the busy indicator
        const double shown =
            double(bar->value() - bar->minimum()) / (bar->maximum() - bar->minimum());
        QCOMPARE(shown, filled);
    }
};

int main(int argc, char** argv) {
    SelectTestPlatform();
    TApplication app(argc, argv);
    TempConfigHome settings; // the main window keeps its settings there
    TestProgressWindow test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_progresswindow.moc"
