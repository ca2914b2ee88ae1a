// Outside text made harmless for a terminal: what each kind of control shows as, and
// that printable text, Cyrillic included, passes unchanged.
#include "platform/VisibleText.h"

#include <QtTest>

class TestVisibleText : public QObject {
    Q_OBJECT
private slots:
    void controlsShowAsEscapes_data();
    void controlsShowAsEscapes();
};

void TestVisibleText::controlsShowAsEscapes_data() {
    QTest::addColumn<QByteArray>("input"); // UTF-8, or not where validUtf8 is false
    QTest::addColumn<bool>("validUtf8");
    QTest::addColumn<QString>("shown");
    auto row = [](const char* name, const QByteArray& in, bool valid, const char* shown) {
        QTest::newRow(name) << in << valid << QString::fromUtf8(shown);
    };
    row("plain ASCII", "FT232R USB UART", true, "FT232R USB UART");
    row("Cyrillic", "Прибор «Мелдор-2» №1", true, "Прибор «Мелдор-2» №1");
    row("character outside the basic plane", "ok \xF0\x9F\x94\x8C", true, "ok \xF0\x9F\x94\x8C");
    row("clear screen", "\x1b[2J\x1b[H", true, "\\e[2J\\e[H");
    row("window title", "\x1b]0;owned\x07", true, "\\e]0;owned\\x07");
    row("line breaks and tab", "a\nb\rc\td", true, "a\\x0ab\\x0dc\\x09d");
    row("NUL and DEL", QByteArray("x\0y\x7f", 4), true, "x\\x00y\\x7f");
    row("C1 control in UTF-8",
        "\xC2\x9B"
        "31m",
        true, "\\x9b31m");
    row("backslash", "C:\\e", true, "C:\\\\e");
    row("right-to-left override", "abc\xE2\x80\xAEgpj.exe", true, "abc\\u202egpj.exe");
    row("line separator",
        "a\xE2\x80\xA8"
        "b",
        true, "a\\u2028b");
    row("byte that is no UTF-8",
        "A\xFF"
        "B",
        false, "A\\xffB");
    row("raw C1 byte",
        "\x9B"
        "2J",
        false, "\\x9b2J");
    row("overlong slash", "\xC0\xAF", false, "\\xc0\\xaf");
    row("encoded surrogate", "\xED\xA0\x80", false, "\\xed\\xa0\\x80");
    row("Cyrillic cut short", "Пр\xD0", false, "Пр\\xd0");
    row("beyond U+10FFFF", "\xF4\x90\x80\x80", false, "\\xf4\\x90\\x80\\x80");
}

void TestVisibleText::controlsShowAsEscapes() {
    QFETCH(QByteArray, input);
    QFETCH(bool, validUtf8);
    QFETCH(QString, shown);
    QCOMPARE(VisibleText(QByteArrayView(input)), shown);
    if (validUtf8)
        QCOMPARE(VisibleText(QString::fromUtf8(input)), shown);
}

QTEST_GUILESS_MAIN(TestVisibleText)
#include "tst_visibletext.moc"
