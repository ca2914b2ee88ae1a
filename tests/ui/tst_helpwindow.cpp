#include "tests/common/ModalDriver.h"
#include "tests/common/TestSupport.h"
#include "tests/common/WindowManager.h"
#include "ui/fHelp.h"
#include "window/Application.h"

#include <QPlainTextEdit>
#include <QScrollBar>
#include <QtTest/QTest>

namespace {
// The text as the operator must read it, kept here apart from the window's resource.
const QStringList Expected{
    "Программирование прибора Мелдор-2",
    "",
    "1. Выключите прибор",
    "2. Подключите прибор к ПК по интерфейсу RS232(см. руководство пользователя)",
    "3. Запустите программу Vendrik.exe",
    "4. Загрузите файл с программой (Кнопка 'Загрузить файл с программой')",
    "5. Установите галочку 'Записать с проверкой'",
    "6. Нажмите кнопку записать программу. (При этом откроется окно ожидания связи с ",
    "прибором)",
    "7. Включите прибор. (После включения прибора начнется запись программы в прибор)",
    "По окончании записи программы прибор перейдет в рабочий режим.",
    "",
    "Чтение программы из прибора Мелдор-2",
    "1. Выключите прибор",
    "2. Подключите прибор к ПК по интерфейсу RS232(см. руководство пользователя)",
    "3. Запустите программу Vendrik.exe",
    "4. Загрузите файл с программой (Кнопка 'Загрузить файл с программой')",
    "6. Нажмите кнопку записать программу. (При этом откроется окно ожидания связи с ",
    "прибором)",
    "7. Включите прибор. (После включения прибора начнется запись программы в прибор)",
    "По окончании записи программы прибор перейдет в рабочий режим.",
    "8. Для сохранения программы нажмите кнопку 'Сохранить программу как...'",
    "",
    "Сравнение программы из файла с программой прибора Мелдор-2",
    "1. Считайте программу из прибора",
    "2. Загрузите файл с программой (Кнопка 'Загрузить файл с программой')",
    "3. Сравните файлы (Кнопка 'Сравните программу с программой прибора')",
};
} // namespace

class TestHelpWindow : public QObject {
    Q_OBJECT
private slots:
    void memoHoldsTheTwentySevenLinesExactly() {
        TformHelp help;
        const QStringList lines = help.Memo1->toPlainText().split(u'\n');
        QCOMPARE(lines.size(), 27);
        for (int i = 0; i < lines.size(); ++i)
            QCOMPARE(lines[i], Expected[i]);
        QCOMPARE(help.Memo1->document()->blockCount(), 27);
    }

    void windowIsFixedWithWrappingEditableMemo() {
        TformHelp help;
        QCOMPARE(help.windowTitle(), QString("Файл справки"));
        QCOMPARE(help.size(), QSize(497, 338));
        QCOMPARE(help.minimumSize(), help.maximumSize());
        QVERIFY(!(help.windowFlags() & Qt::WindowMinimizeButtonHint));
        QVERIFY(!(help.windowFlags() & Qt::WindowMaximizeButtonHint));
        QCOMPARE(help.Memo1->geometry(), QRect(0, 0, 497, 338));
        QCOMPARE(help.Memo1->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
        QCOMPARE(help.Memo1->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
        QCOMPARE(help.Memo1->lineWrapMode(), QPlainTextEdit::WidgetWidth);
        QVERIFY(!help.Memo1->isReadOnly());
    }

    void editsAndScrollPositionSurviveClosing() {
        TformHelp help;
        int showings = 0;
        bool focused = false;
        ModalDriver driver([&](QWidget* modal) {
            if (modal != &help)
                return;
            focused = help.focusWidget() == help.Memo1;
            if (++showings == 1) {
                help.Memo1->moveCursor(QTextCursor::End);
                QTest::keyClicks(help.Memo1, "!");
                help.Memo1->verticalScrollBar()->setValue(
                    help.Memo1->verticalScrollBar()->maximum());
            }
            modal->close();
        });
        driver.setWatchdog(5000);
        help.ShowModal();
        const int scrolled = help.Memo1->verticalScrollBar()->value();
        help.ShowModal();
        QVERIFY(!driver.timedOut);
        QCOMPARE(showings, 2);
        QVERIFY(focused);
        QVERIFY(help.Memo1->toPlainText().endsWith("прибора')!"));
        QVERIFY(scrolled > 0);
        QCOMPARE(help.Memo1->verticalScrollBar()->value(), scrolled);
    }
};

int main(int argc, char** argv) {
    SelectTestPlatform();
    TApplication app(argc, argv);
    TestHelpWindow test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_helpwindow.moc"
