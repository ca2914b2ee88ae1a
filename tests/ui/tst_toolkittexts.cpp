// The toolkit's own texts (its file dialog, the help text's context menu) are Russian
// like the program's, whatever the operator's locale: the test runs in the C locale.

#include "tests/common/ModalDriver.h"
#include "tests/common/ProgramWindows.h"
#include "tests/common/TestSupport.h"
#include "tests/common/WindowManager.h"
#include "ui/fHelp.h"
#include "window/Application.h"

#include <QAbstractButton>
#include <QFileDialog>
#include <QLabel>
#include <QMenu>
#include <QPlainTextEdit>
#include <QRegularExpression>
#include <QtTest/QTest>

#include <memory>

namespace {

// The texts, without accelerator marks and shortcuts, that hold a Latin letter (other
// than the program's own file pattern).
QStringList WithLatinLetters(const QStringList& texts) {
    QStringList latin;
    for (QString t : texts) {
        t = t.section(QLatin1Char('\t'), 0, 0).remove(QLatin1Char('&')).trimmed();
        if (t.contains(QRegularExpression(QStringLiteral("[A-Za-z]"))) &&
            !t.contains(QStringLiteral("*.bin")))
            latin.append(t);
    }
    return latin;
}

QStringList FileDialogTexts() {
    QFileDialog dialog;
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setNameFilter(QStringLiteral("*.bin"));
    QStringList texts;
    ModalDriver driver([&](QWidget* modal) {
        if (modal != &dialog)
            return;
        for (const QLabel* l : dialog.findChildren<QLabel*>())
            if (l->isVisible())
                texts.append(l->text());
        for (const QAbstractButton* b : dialog.findChildren<QAbstractButton*>())
            if (b->isVisible())
                texts.append(b->text().isEmpty() ? b->toolTip() : b->text());
        dialog.reject();
    });
    driver.setWatchdog(10000);
    dialog.exec();
    return texts;
}

QStringList HelpMenuTexts() {
    TProgramWindows windows = CreateProgramWindows();
    formHelp->Memo1->selectAll(); // every entry of the menu enabled
    std::unique_ptr<QMenu> menu(formHelp->Memo1->createStandardContextMenu());
    QStringList texts;
    for (const QAction* a : menu->actions())
        if (!a->isSeparator())
            texts.append(a->text());
    return texts;
}

} // namespace

class TestToolkitTexts : public QObject {
    Q_OBJECT
private slots:
    void toolkitTextsAreRussian_data() {
        QTest::addColumn<int>("window");
        QTest::addColumn<int>("atLeast"); // texts expected, so that an empty list cannot pass
        QTest::newRow("file dialog") << 0 << 6;
        QTest::newRow("help text's context menu") << 1 << 2;
    }
    void toolkitTextsAreRussian() {
        QFETCH(int, window);
        QFETCH(int, atLeast);
        const QStringList texts = window == 0 ? FileDialogTexts() : HelpMenuTexts();
        QVERIFY2(texts.size() >= atLeast, qPrintable(texts.join(QStringLiteral(" | "))));
        const QStringList latin = WithLatinLetters(texts);
        QVERIFY2(latin.isEmpty(), qPrintable(latin.join(QStringLiteral(" | "))));
    }
};

int main(int argc, char** argv) {
    // The operator's locale must not matter.
    qputenv("LC_ALL", "C");
    qputenv("LANG", "C");
    qunsetenv("LANGUAGE");
    SelectTestPlatform();
    TApplication app(argc, argv);
    TempConfigHome settings;
    SetUpApplication(QStringLiteral("/usr/bin/Vendrik"));
    TestToolkitTexts test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_toolkittexts.moc"
