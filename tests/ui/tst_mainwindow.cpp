#include "programmer/ProgramImage.h"
#include "tests/common/ModalDriver.h"
#include "tests/common/ProgramWindows.h"
#include "tests/common/TestSupport.h"
#include "tests/common/WindowManager.h"
#include "ui/AppStyle.h"
#include "ui/WindowFrame.h"
#include "ui/fHelp.h"
#include "ui/fMain.h"
#include "ui/fSearsh.h"
#include "window/Application.h"

#include <QFile>
#include <QGroupBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QToolButton>
#include <QtTest/QTest>
#include <memory>

namespace {

QString TextOf(const QObject* control) {
    if (auto box = qobject_cast<const QGroupBox*>(control))
        return box->title();
    const QVariant text = control->property("text");
    return text.isValid() ? text.toString() : QString();
}

// Answers the file dialogs for the lifetime of the object.
struct DialogAnswer {
    explicit DialogAnswer(std::optional<QString> answer) {
        TFileDialog::SetAnswer([this, answer](const TFileDialog& dialog) {
            shownWith = dialog.FileName();
            ++runs;
            return answer;
        });
    }
    ~DialogAnswer() { TFileDialog::SetAnswer({}); }
    QString shownWith;
    int runs = 0;
};

} // namespace

class TestMainWindow : public QObject {
    Q_OBJECT
    std::unique_ptr<TempConfigHome> settings_; // fresh stored settings for every test
    std::unique_ptr<TformMain> main_;
    QTemporaryDir dir_;

private slots:
    void initTestCase() { InstallVendrikStyle(); }

    void init() {
        settings_ = std::make_unique<TempConfigHome>();
        ProgramLoaded = false;
        main_ = std::make_unique<TformMain>();
    }
    void cleanup() {
        main_.reset();
        settings_.reset();
    }

    void controlsMatchTheirDesign_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("parent");
        QTest::addColumn<QRect>("geometry");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("hint");
        QTest::addColumn<bool>("enabled");
        auto row = [](const char* name, const char* kind, const char* parent, QRect geometry,
                      const QString& text, const QString& hint, bool enabled = true) {
            QTest::newRow(name) << QString(name) << QString(kind) << QString(parent) << geometry
                                << text << hint << enabled;
        };
        row("Panel1", "TPanel", "formMain", {0, 0, 258, 31}, "", "");
        row("BtnOpen", "QToolButton", "Panel1", {5, 5, 23, 22}, "", "Открыть файл с программой");
        row("BtnSaveAs", "QToolButton", "Panel1", {29, 5, 23, 22}, "",
            "Сохранить программу как ...", false);
        row("BtnRead", "QToolButton", "Panel1", {53, 5, 23, 22}, "",
            "Считать программу из прибора");
        row("BtnVerify", "QToolButton", "Panel1", {77, 5, 23, 22}, "",
            "Сравнить программу с программой прибора");
        row("cbPort", "TComboBox", "Panel1", {104, 5, 121, 21}, "", "");
        row("btnHelp", "QToolButton", "Panel1", {229, 5, 23, 22}, "", "Помощь");
        row("GroupBox2", "QGroupBox", "formMain", {0, 40, 257, 97}, " Информация о программе ", "");
        row("StaticText1", "TStaticText", "GroupBox2", {8, 24, 64, 17},
            "Имя файла:", "Имя файла с программой");
        row("StaticText2", "TStaticText", "GroupBox2", {8, 48, 81, 17},
            "Размер файла:", "Размер файла программы");
        row("StaticText3", "TStaticText", "GroupBox2", {8, 72, 55, 17},
            "Секторов:", "Размер секторов в программе");
        row("stNameFile", "TStaticText", "GroupBox2", {96, 24, 56, 17}, "stNameFile",
            "Имя файла с программой");
        row("stSizeFile", "TStaticText", "GroupBox2", {96, 48, 48, 17}, "stSizeFile",
            "Размер файла программы");
        row("stKolSect", "TStaticText", "GroupBox2", {96, 72, 49, 17}, "stKolSect",
            "Размер секторов в программе");
        row("GroupBox1", "QGroupBox", "formMain", {0, 152, 257, 81}, " Запись программы в прибор ",
            "");
        row("cbCheck", "TCheckBox", "GroupBox1", {8, 24, 145, 17}, "Записать с проверкой",
            "Установите флаг для проверки правильности записи программы");
        row("BtnWrite", "QPushButton", "GroupBox1", {8, 48, 241, 25}, "Записать программу",
            "Записать программу в прибор");
    }
    void controlsMatchTheirDesign() {
        QFETCH(QString, name);
        QFETCH(QString, kind);
        QFETCH(QString, parent);
        QFETCH(QRect, geometry);
        QFETCH(QString, text);
        QFETCH(QString, hint);
        QFETCH(bool, enabled);
        auto* control = main_->findChild<QWidget*>(name);
        QVERIFY(control);
        QCOMPARE(control->metaObject()->className(), kind);
        QCOMPARE(control->parent()->objectName(), parent);
        QCOMPARE(control->geometry(), geometry);
        QCOMPARE(TextOf(control), text);
        QCOMPARE(control->toolTip(), hint);
        QCOMPARE(control->isEnabled(), enabled);
        if (!hint.isEmpty())
            QCOMPARE(control->toolTipDuration(), 2500);
        if (kind == "QToolButton") {
            QVERIFY(static_cast<QToolButton*>(control)->autoRaise());
            QVERIFY(!static_cast<QToolButton*>(control)->icon().isNull());
        }
        if (kind == "QToolButton" || kind == "TStaticText")
            QCOMPARE(control->focusPolicy(), Qt::NoFocus);
        QCOMPARE(control->font().family(), QString("Liberation Sans"));
        QCOMPARE(control->font().pixelSize(), 11);
    }

    void publicMembersAreTheNamedControls() {
        const QList<std::pair<const char*, QObject*>> members{
            {"Panel1", main_->Panel1},           {"BtnOpen", main_->BtnOpen},
            {"BtnSaveAs", main_->BtnSaveAs},     {"BtnRead", main_->BtnRead},
            {"BtnVerify", main_->BtnVerify},     {"cbPort", main_->cbPort},
            {"btnHelp", main_->btnHelp},         {"GroupBox2", main_->GroupBox2},
            {"StaticText1", main_->StaticText1}, {"StaticText2", main_->StaticText2},
            {"StaticText3", main_->StaticText3}, {"stNameFile", main_->stNameFile},
            {"stSizeFile", main_->stSizeFile},   {"stKolSect", main_->stKolSect},
            {"GroupBox1", main_->GroupBox1},     {"cbCheck", main_->cbCheck},
            {"BtnWrite", main_->BtnWrite},       {"OpenDialog1", main_->OpenDialog1},
            {"SaveDialog1", main_->SaveDialog1}};
        for (const auto& [name, member] : members)
            QCOMPARE(main_->findChild<QObject*>(name), member);
    }

    void windowIsFixedWithCloseBoxOnly() {
        QCOMPARE(main_->objectName(), QString("formMain"));
        QCOMPARE(main_->windowTitle(), QString("Программатор Мелдор-2  v1.0"));
        QCOMPARE(main_->size(), QSize(258, 236));
        QCOMPARE(main_->minimumSize(), QSize(258, 236));
        QCOMPARE(main_->maximumSize(), QSize(258, 236));
        const Qt::WindowFlags flags = main_->windowFlags();
        QVERIFY(flags & Qt::WindowCloseButtonHint);
        QVERIFY(!(flags & Qt::WindowMinimizeButtonHint));
        QVERIFY(!(flags & Qt::WindowMaximizeButtonHint));
    }

    void toolTipsWakeAfterHalfASecond() {
        QCOMPARE(main_->style()->styleHint(QStyle::SH_ToolTip_WakeUpDelay, nullptr, main_->BtnOpen),
                 500);
    }

    void dialogsHaveBinFilterAndSaveAddsExtension() {
        QCOMPARE(main_->OpenDialog1->NameFilters(), QStringList{"*.bin"});
        QCOMPARE(main_->SaveDialog1->NameFilters(), QStringList{"*.bin"});
        QVERIFY(main_->OpenDialog1->DefaultExt().isEmpty());
        QCOMPARE(main_->SaveDialog1->DefaultExt(), QString("bin"));
    }

    void portListHasEightItemsAndNothingSelectedBeforeShow() {
        QStringList items;
        for (int i = 0; i < main_->cbPort->count(); ++i)
            items << main_->cbPort->itemText(i);
        QCOMPARE(items,
                 QStringList({"COM1", "COM2", "COM3", "COM4", "COM5", "COM6", "COM7", "COM8"}));
        QVERIFY(!main_->cbPort->isEditable());
        QCOMPARE(main_->cbPort->currentIndex(), -1);
        QCOMPARE(main_->cbPort->Tag(), 0);
    }

    void tabCyclesCheckWriteAndPortStartingAtCheck() {
        main_->show();
        QVERIFY(QTest::qWaitForWindowActive(main_.get()));
        QCOMPARE(QApplication::focusWidget(), main_->cbCheck);
        const QList<QWidget*> expected{main_->BtnWrite, main_->cbPort, main_->cbCheck};
        for (QWidget* next : expected) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            QCOMPARE(QApplication::focusWidget(), next);
        }
    }

    void showMovesFrameToStartPosition() {
        SKIP_UNDER_WINDOW_MANAGER(
            "the manager frames the window later: outerFrameLandsAtStartPosition");
        main_->show();
        QCOMPARE(main_->frameGeometry().topLeft(), QPoint(433, 301));
        main_->hide();
        main_->move(10, 20);
        main_->show();
        QCOMPARE(main_->frameGeometry().topLeft(), QPoint(433, 301));
    }

    void outerFrameLandsAtStartPosition() {
        SKIP_UNLESS_WINDOW_MANAGER();
        main_->show();
        QTRY_COMPARE(wm::OuterFrame(main_.get()).topLeft(), QPoint(433, 301));
        QVERIFY(wm::FrameExtents(main_.get()).top() > 0); // really framed, with a title bar
        // The placement code sees the same frame once the manager's extents have come.
        QTRY_COMPARE(OuterFrame(main_.get()), wm::OuterFrame(main_.get()));
        // Moved by the operator, hidden and shown again: back at the start position.
        wm::MoveFrameByManager(main_.get(), QPoint(40, 60));
        QTRY_COMPARE(wm::OuterFrame(main_.get()).topLeft(), QPoint(40, 60));
        main_->hide();
        QTRY_VERIFY(!wm::Managed(main_.get()));
        main_->show();
        QTRY_COMPARE(wm::OuterFrame(main_.get()).topLeft(), QPoint(433, 301));
    }

    // What each title bar may offer, as the windows ask the manager for it; some managers
    // draw boxes of their own anyway.
    void titleBarsOfferCloseOnly_data() {
        QTest::addColumn<QString>("window");
        QTest::addColumn<bool>("titleBar");
        QTest::newRow("main") << "formMain" << true;
        QTest::newRow("help") << "formHelp" << true;
        QTest::newRow("progress") << "formSearsh" << false;
    }
    void titleBarsOfferCloseOnly() {
        SKIP_UNLESS_WINDOW_MANAGER();
        QFETCH(QString, window);
        QFETCH(bool, titleBar);
        // The windows as the program's start-up makes them.
        main_.reset();
        const TProgramWindows program = CreateProgramWindows();
        QWidget* shown = window == "formMain"   ? static_cast<QWidget*>(formMain)
                         : window == "formHelp" ? static_cast<QWidget*>(formHelp)
                                                : static_cast<QWidget*>(formSearsh);
        formMain->show();
        if (shown != formMain) {
            shown->move(10, 10);
            shown->show();
        }
        QTRY_VERIFY(!wm::OuterFrame(shown).isEmpty());
        const wm::MotifHints motif = wm::Motif(shown);
        QVERIFY(motif.present);
        auto offers = [&](quint32 function) {
            const bool listed = motif.functions & function;
            return (motif.functions & wm::MwmFuncAll) ? !listed : listed;
        };
        const QStringList allowed = wm::AllowedActions(shown);
        QVERIFY(wm::FixedSizeHint(shown));
        if (titleBar) {
            QVERIFY(motif.flags & wm::MwmHintsFunctions);
            QVERIFY(motif.flags & wm::MwmHintsDecorations);
            QVERIFY(!offers(wm::MwmFuncMinimize));
            QVERIFY(!offers(wm::MwmFuncMaximize));
            QVERIFY(!(motif.decorations &
                      (wm::MwmDecorAll | wm::MwmDecorMinimize | wm::MwmDecorMaximize)));
            QVERIFY(offers(wm::MwmFuncClose));
            QVERIFY2(allowed.contains("_NET_WM_ACTION_CLOSE"), qPrintable(allowed.join(' ')));
            QVERIFY(wm::FrameExtents(shown).top() > 0);
        } else {
            QVERIFY(motif.flags & wm::MwmHintsDecorations);
            QCOMPARE(motif.decorations, 0u); // no title bar, no border
            QVERIFY(wm::FrameExtents(shown).isNull());
        }
        if (shown != formMain)
            shown->hide();
    }

    void showSelectsStoredPortIndex_data() {
        QTest::addColumn<int>("tag");
        QTest::addColumn<int>("index");
        QTest::newRow("nothing stored") << 0 << 0;
        QTest::newRow("COM4") << 3 << 3;
        QTest::newRow("last") << 7 << 7;
        QTest::newRow("past the list") << 8 << -1;
        QTest::newRow("negative") << -1 << -1;
    }
    void showSelectsStoredPortIndex() {
        QFETCH(int, tag);
        QFETCH(int, index);
        MessageRecorder boxes;
        main_->cbPort->SetTag(tag);
        main_->show();
        QCOMPARE(main_->cbPort->currentIndex(), index);
        QCOMPARE(main_->cbPort->Tag(), tag); // the system's selection is not a user choice
    }

    void userChoiceOfPortCopiesIndexIntoTag() {
        main_->show();
        main_->cbPort->setCurrentIndex(6); // by the program: Tag stays
        QCOMPARE(main_->cbPort->Tag(), 0);
        main_->cbPort->setFocus();
        QTest::keyClick(main_->cbPort, Qt::Key_Up); // by the user
        QCOMPARE(main_->cbPort->currentIndex(), 5);
        QCOMPARE(main_->cbPort->Tag(), 5);
    }

    void showLoadsRememberedFile() {
        const QString file = dir_.filePath("remembered.bin");
        QVERIFY(WriteWholeFile(file, QByteArray(700, '\x42')));
        MessageRecorder boxes;
        main_->OpenDialog1->SetFileName(file);
        main_->OpenDialog1->SetInitialDir("/somewhere");
        main_->show();
        QVERIFY(boxes.boxes.isEmpty());
        QVERIFY(ProgramLoaded);
        QCOMPARE(main_->stNameFile->text(), QString("remembered.bin"));
        QCOMPARE(main_->stNameFile->toolTip(), file);
        QCOMPARE(main_->stSizeFile->text(), QString("700"));
        QCOMPARE(main_->stKolSect->text(), QString("3"));
        QCOMPARE(main_->OpenDialog1->InitialDir(), QString("/somewhere"));
        QVERIFY(main_->stNameFile->width() >= main_->stNameFile->sizeHint().width());
    }

    void showWithoutRememberedFileBlanksFieldsSilently_data() {
        QTest::addColumn<QString>("name");
        QTest::newRow("nothing stored") << "";
        QTest::newRow("deleted since") << "gone.bin";
    }
    void showWithoutRememberedFileBlanksFieldsSilently() {
        QFETCH(QString, name);
        MessageRecorder boxes;
        ProgramLoaded = true;
        const QString stored = name.isEmpty() ? QString() : dir_.filePath(name);
        main_->OpenDialog1->SetFileName(stored);
        main_->OpenDialog1->SetInitialDir("/somewhere");
        main_->show();
        QVERIFY(boxes.boxes.isEmpty());
        QVERIFY(!ProgramLoaded);
        QVERIFY(main_->stNameFile->text().isEmpty());
        QVERIFY(main_->stSizeFile->text().isEmpty());
        QVERIFY(main_->stKolSect->text().isEmpty());
        QVERIFY(main_->stNameFile->toolTip().isEmpty());
        QVERIFY(main_->OpenDialog1->InitialDir().isEmpty());
        QCOMPARE(main_->OpenDialog1->FileName(), stored); // still offered next time
        QVERIFY(!main_->BtnSaveAs->isEnabled());
    }

    void showWithTooLargeRememberedFileReportsIt() {
        const QString file = dir_.filePath("huge.bin");
        QVERIFY(WriteWholeFile(file, QByteArray(MaxFileSize + 1, '\x42')));
        MessageRecorder boxes;
        main_->OpenDialog1->SetFileName(file);
        main_->show();
        QCOMPARE(boxes.boxes.size(), 1);
        QCOMPARE(boxes.boxes[0].text, QString("Размер файла превышает максимально допустимый"));
        QVERIFY(main_->stNameFile->text().isEmpty());
        QVERIFY(!ProgramLoaded);
    }

    void openButtonLoadsChoiceAndCancelChangesNothing() {
        const QString first = dir_.filePath("first.bin");
        QVERIFY(WriteWholeFile(first, QByteArray(256, '\x42')));
        MessageRecorder boxes;
        main_->show();
        {
            DialogAnswer answer(first);
            main_->BtnOpen->click();
            QCOMPARE(answer.runs, 1);
        }
        QVERIFY(ProgramLoaded);
        QCOMPARE(main_->OpenDialog1->FileName(), first);
        {
            DialogAnswer answer(std::nullopt);
            main_->BtnOpen->click();
            QCOMPARE(answer.shownWith, first); // opens with its current name filled in
        }
        QVERIFY(ProgramLoaded);
        QCOMPARE(main_->OpenDialog1->FileName(), first);
        QCOMPARE(main_->stNameFile->text(), QString("first.bin"));
        QCOMPARE(main_->stKolSect->text(), QString("1"));
        {
            DialogAnswer answer(dir_.filePath("typed-but-missing.bin"));
            main_->BtnOpen->click();
        }
        QCOMPARE(boxes.boxes.size(), 1);
        QCOMPARE(boxes.boxes[0].text, QString("Не могу считать файл"));
        QVERIFY(!ProgramLoaded);
        QVERIFY(main_->stNameFile->text().isEmpty());
        QVERIFY(main_->stNameFile->toolTip().isEmpty());
        // A file that failed is still what the dialog remembers.
        QCOMPARE(main_->OpenDialog1->FileName(), dir_.filePath("typed-but-missing.bin"));
    }

    void saveAsWritesChosenFileWithDefaultExtension() {
        MessageRecorder boxes;
        main_->show();
        main_->BtnSaveAs->setEnabled(true);
        DeviceImageValid = true;
        {
            DialogAnswer answer(dir_.filePath("device"));
            main_->BtnSaveAs->click();
        }
        QVERIFY(boxes.boxes.isEmpty());
        QCOMPARE(QFileInfo(dir_.filePath("device.bin")).size(), qint64(MaxFileSize));
        QVERIFY(!DeviceImageValid);
        QVERIFY(main_->BtnSaveAs->isEnabled());
        {
            DialogAnswer answer(std::nullopt);
            main_->BtnSaveAs->click();
            QCOMPARE(answer.shownWith, dir_.filePath("device.bin")); // last name of this run
        }
        QCOMPARE_ONE_BOX(boxes, QString(), QString(), TMessageIcon::None);
    }

    void helpButtonCentresHelpWindowAndShowsItModally() {
        // The help window as the program's start-up makes it, over its main window.
        main_.reset();
        const TProgramWindows program = StartProgram();
        TformMain* main = program.get();
        QTRY_VERIFY(!wm::ScreenFrame(main).isEmpty());
        QTRY_COMPARE(OuterFrame(main),
                     wm::ScreenFrame(main)); // the click comes after
        QRect helpFrame;
        bool memoHadFocus = false;
        bool wasModal = false;
        ModalDriver driver([&](QWidget* modal) {
            if (modal != formHelp)
                return;
            wasModal = true;
            helpFrame = wm::ScreenFrame(formHelp);
            if (helpFrame.isEmpty())
                return; // not framed by the manager yet
            memoHadFocus =
                formHelp->Memo1->hasFocus() || formHelp->focusWidget() == formHelp->Memo1;
            modal->close();
        });
        driver.setWatchdog(5000);
        main->btnHelp->click();
        QVERIFY(!driver.timedOut);
        QVERIFY(wasModal);
        QVERIFY(memoHadFocus);
        QVERIFY(!formHelp->isVisible());
        const QRect mainFrame = wm::ScreenFrame(main);
        QCOMPARE(helpFrame.top(), mainFrame.top());
        QCOMPARE(helpFrame.left(),
                 mainFrame.left() + mainFrame.width() / 2 - helpFrame.width() / 2);
        QVERIFY(helpFrame.left() < mainFrame.left()); // wider, so it reaches out on both sides
    }
};

int main(int argc, char** argv) {
    SelectTestPlatform();
    TApplication app(argc, argv);
    TestMainWindow test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_mainwindow.moc"
