// The exit-code list of a --help text: laid out for an 80-column terminal, each code's
// meaning filled line by line under its own start, no word lost or split.

#include "platform/ExitCodeHelp.h"

#include <QtTest/QTest>

class TestExitCodeHelp : public QObject {
    Q_OBJECT
private slots:
    void meaningsAreFilledUnderTheirStart_data() {
        // As the programs call it: the widest code and a space or more fill the width.
        QTest::addColumn<int>("width");
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("meaning");
        const QString word = QStringLiteral("слово ");
        QTest::newRow("short") << 3 << 3 << QStringLiteral("сделано");
        // After "  3  ", 70 + 1 + 4 columns end at column 80 exactly, one more passes it.
        QTest::newRow("filling 80 columns")
            << 3 << 3 << QString(70, u'x') + QStringLiteral(" yyyy");
        QTest::newRow("one column over") << 3 << 3 << QString(70, u'x') + QStringLiteral(" yyyyy");
        QTest::newRow("several lines") << 5 << 130 << word.repeated(40).trimmed();
        QTest::newRow("doubled spaces")
            << 5 << 130 << QStringLiteral("a  b   c ") + word.repeated(20);
        QTest::newRow("word longer than a line")
            << 3 << 3 << QStringLiteral("a ") + QString(90, u'z');
    }
    void meaningsAreFilledUnderTheirStart() {
        QFETCH(int, width);
        QFETCH(int, code);
        QFETCH(QString, meaning);
        const QString text = ExitCodeHelp({{0, QStringLiteral("сделано")}, {code, meaning}}, width);
        QStringList lines = text.split(u'\n');
        QCOMPARE(lines.takeFirst(), QStringLiteral("Коды завершения:"));
        QCOMPARE(lines.takeLast(), QString()); // the text ends with a line break
        QCOMPARE(lines.takeFirst(), QStringLiteral("  0") + QString(width - 1, u' ') + "сделано");
        const QString start = QStringLiteral("  %1").arg(code).leftJustified(2 + width);
        const QString indent(2 + width, u' ');
        QVERIFY2(lines.value(0).startsWith(start), qPrintable(lines.value(0)));
        QStringList words;
        for (qsizetype i = 0; i < lines.size(); ++i) {
            const QString body = lines[i].mid(indent.size());
            QVERIFY2(lines[i].startsWith(i == 0 ? start : indent) && !body.startsWith(u' '),
                     qPrintable(lines[i]));
            const QStringList own = body.split(u' ');
            // Wider only for a word that no line could hold.
            QVERIFY2(lines[i].size() <= 80 || (own.size() == 1 && indent.size() + body.size() > 80),
                     qPrintable(lines[i]));
            // The next line's first word would not have fitted on this one.
            if (i + 1 < lines.size())
                QVERIFY2(lines[i].size() + 1 +
                                 lines[i + 1].mid(indent.size()).section(u' ', 0, 0).size() >
                             80,
                         qPrintable(lines[i]));
            words += own;
        }
        QCOMPARE(words, meaning.split(u' ', Qt::SkipEmptyParts));
    }
};

QTEST_GUILESS_MAIN(TestExitCodeHelp)
#include "tst_exitcodehelp.moc"
