#include "app/Application.h"
#include "platform/RegistryFile.h"

#include <QElapsedTimer>
#include <QRandomGenerator>
#include <QtTest/QTest>

namespace {

const QStringList MainKey = {"Software", "Vendrik", "TformMain"};

QByteArray Sz(const QByteArray& utf8) {
    return utf8 + '\0';
}

RegKey TreeWith(const RegValue& value) {
    RegKey root;
    RegKey* key = &root;
    for (const QString& part : MainKey)
        key = &key->addChild(part);
    key->setValue(value);
    return root;
}

const QByteArray ValidText = "REGEDIT4\n"
                             "\n"
                             "[HKEY_CURRENT_USER\\Software]\n"
                             "\n"
                             "[HKEY_CURRENT_USER\\Software\\Vendrik]\n"
                             "\n"
                             "[HKEY_CURRENT_USER\\Software\\Vendrik\\TformMain]\n"
                             "\"FormVersion\"=\"0\"\n"
                             "\"cbCheck_Checked\"=\"True\"\n"
                             "\"cbPort_Tag\"=\"2\"\n"
                             "\"Blob\"=hex:01,02,ff\n"
                             "\"Count\"=dword:0000002a\n"
                             "\"Path\"=hex(2):25,00\n"
                             "\"OpenDialog1_FileName\"=\"/home/op/\\\"q\\\"\\\\x.bin\"\n"
                             "\n";

const char Junk[] = "\x7f"
                    "ELF\x02\x01\x01\0\0\0\n\xff\xfe[\n\"";

} // namespace

Q_DECLARE_METATYPE(RegValue)

class TestRegistryFile : public QObject {
    Q_OBJECT
private slots:
    void everyValueTypeRoundTrips_data() {
        QTest::addColumn<quint32>("type");
        QTest::addColumn<QByteArray>("data");
        QTest::addColumn<QByteArray>("line"); // empty: not checked
        QTest::newRow("text") << quint32(REG_SZ) << Sz("0") << QByteArray("\"v\"=\"0\"");
        QTest::newRow("quotes and backslashes")
            << quint32(REG_SZ) << Sz("a\"b\\c") << QByteArray("\"v\"=\"a\\\"b\\\\c\"");
        QTest::newRow("cyrillic with blanks")
            << quint32(REG_SZ) << Sz("/home/оператор/Мои программы/прошивка 1.bin")
            << QByteArray("\"v\"=\"/home/оператор/Мои программы/прошивка 1.bin\"");
        QTest::newRow("empty text") << quint32(REG_SZ) << Sz("") << QByteArray("\"v\"=\"\"");
        QTest::newRow("nul inside text") << quint32(REG_SZ) << QByteArray("ab\0cd\0", 6)
                                         << QByteArray("\"v\"=hex(1):61,62,00,63,64,00");
        QTest::newRow("line break in text") << quint32(REG_SZ) << Sz("a\nb") << QByteArray();
        QTest::newRow("text without nul") << quint32(REG_SZ) << QByteArray("ab") << QByteArray();
        QTest::newRow("invalid utf-8 text") << quint32(REG_SZ) << Sz("\xC3\x28") << QByteArray();
        QTest::newRow("expandable") << quint32(REG_EXPAND_SZ) << Sz("%HOME%")
                                    << QByteArray("\"v\"=hex(2):25,48,4f,4d,45,25,00");
        QTest::newRow("binary") << quint32(REG_BINARY) << QByteArray("\x00\xff\x10", 3)
                                << QByteArray("\"v\"=hex:00,ff,10");
        QTest::newRow("empty binary")
            << quint32(REG_BINARY) << QByteArray() << QByteArray("\"v\"=hex:");
        QTest::newRow("dword") << quint32(REG_DWORD) << QByteArray("\x2a\0\0\0", 4)
                               << QByteArray("\"v\"=dword:0000002a");
        QTest::newRow("short dword")
            << quint32(REG_DWORD) << QByteArray("\x2a\0", 2) << QByteArray("\"v\"=hex(4):2a,00");
        QTest::newRow("unknown type")
            << quint32(0x1b) << QByteArray("\x01", 1) << QByteArray("\"v\"=hex(1b):01");
    }
    void everyValueTypeRoundTrips() {
        QFETCH(quint32, type);
        QFETCH(QByteArray, data);
        QFETCH(QByteArray, line);
        const QByteArray text = FormatRegistryText(TreeWith(RegValue{"v", type, data}));
        if (!line.isEmpty())
            QVERIFY2(text.split('\n').contains(line), text.constData());
        bool clean = false;
        const RegKey back = ParseRegistryText(text, &clean);
        QVERIFY(clean);
        const RegKey* key = back.find(MainKey);
        QVERIFY(key);
        const RegValue* v = key->value("v");
        QVERIFY(v);
        QCOMPARE(v->type, type);
        QCOMPARE(v->data, data);
    }

    void writtenLayoutListsEveryKeyWithBlankLineAfter() {
        RegKey root;
        RegKey& main = root.addChild("Software").addChild("Vendrik").addChild("TformMain");
        main.setValue({"FormVersion", REG_SZ, Sz("0")});
        main.setValue({"", REG_SZ, Sz("default")});
        QCOMPARE(FormatRegistryText(root),
                 QByteArray("REGEDIT4\n\n"
                            "[HKEY_CURRENT_USER\\Software]\n\n"
                            "[HKEY_CURRENT_USER\\Software\\Vendrik]\n\n"
                            "[HKEY_CURRENT_USER\\Software\\Vendrik\\TformMain]\n"
                            "\"FormVersion\"=\"0\"\n"
                            "@=\"default\"\n\n"));
    }

    void namesMatchWithoutAsciiCaseAndKeepFirstSpelling() {
        RegKey root;
        root.addChild("TformMain").setValue({"FormVersion", REG_SZ, Sz("0")});
        RegKey& again = root.addChild("TFORMMAIN");
        QCOMPARE(root.children().size(), size_t(1));
        QCOMPARE(again.name, QString("TformMain"));
        again.setValue({"formversion", REG_SZ, Sz("7")});
        QCOMPARE(again.values().size(), size_t(1));
        QCOMPARE(again.values()[0].name, QString("FormVersion"));
        QCOMPARE(again.values()[0].data, Sz("7"));
        // Only ASCII letters fold: Cyrillic capitals name another key.
        root.addChild("ключ");
        root.addChild("КЛЮЧ");
        QCOMPARE(root.children().size(), size_t(3));
    }

    void damagedTextReadsWhatItCan_data() {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<bool>("clean");
        QTest::addColumn<QStringList>("present"); // name=data-without-nul in TformMain
        QTest::addColumn<QStringList>("absent");
        const QByteArray head = "REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\Vendrik\\TformMain]\n";
        QTest::newRow("valid") << ValidText << true << QStringList{"cbPort_Tag=2", "FormVersion=0"}
                               << QStringList{};
        QTest::newRow("empty file") << QByteArray() << true << QStringList{} << QStringList{};
        QTest::newRow("crlf line ends") << QByteArray(ValidText).replace("\n", "\r\n") << true
                                        << QStringList{"cbCheck_Checked=True"} << QStringList{};
        QTest::newRow("cut inside text") << head + "\"a\"=\"1\"\n\"b\"=\"/home/x" << false
                                         << QStringList{"a=1"} << QStringList{"b"};
        QTest::newRow("cut inside dword") << head + "\"a\"=\"1\"\n\"n\"=dword:0000" << false
                                          << QStringList{"a=1"} << QStringList{"n"};
        QTest::newRow("cut inside header") << QByteArray("REGEDIT4\n\n[HKEY_CURRENT_USER\\Softw")
                                           << false << QStringList{} << QStringList{};
        QTest::newRow("no header line") << head.mid(10) + "\"a\"=\"1\"\n"
                                        << false << QStringList{"a=1"} << QStringList{};
        QTest::newRow("malformed lines among good ones")
            << head + "\"a\"=\"1\"\ngarbage\n\"b\"=hex:zz\n\"c\"=\"x\\q\"\n\"d\"=-\n\"e\"=\"2\"\n"
            << false << QStringList{"a=1", "e=2"} << QStringList{"b", "c", "d"};
        QTest::newRow("values of a foreign key stay out")
            << head + "\"a\"=\"1\"\n[HKEY_LOCAL_MACHINE\\X]\n\"b\"=\"2\"\n"
            << false << QStringList{"a=1"} << QStringList{"b"};
        QTest::newRow("values before any key")
            << QByteArray("REGEDIT4\n\"a\"=\"1\"\n") << false << QStringList{} << QStringList{};
        QTest::newRow("invalid utf-8 line") << head + "\"a\"=\"\xC3\x28\"\n\"b\"=\"2\"\n"
                                            << false << QStringList{"b=2"} << QStringList{"a"};
        QTest::newRow("value given twice, later wins")
            << head + "\"a\"=\"1\"\n\"A\"=\"2\"\n"
            << false << QStringList{"a=2"} << QStringList{};
        QTest::newRow("comment") << head + "; note\n\"a\"=\"1\"\n"
                                 << false << QStringList{"a=1"} << QStringList{};
        QTest::newRow("binary junk") << QByteArray::fromRawData(Junk, sizeof Junk - 1) << false
                                     << QStringList{} << QStringList{};
        QTest::newRow("continued byte list") << head + "\"h\"=hex(2):41,\\\n  42,00\n"
                                             << true << QStringList{"h=AB"} << QStringList{};
        // A byte list cut off by the next line must not swallow it, nor file the values
        // below a key line under the key before it.
        QTest::newRow("byte list cut by a key line")
            << "REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\Vendrik\\Other]\n\"h\"=hex:01,\\\n" +
                   head.mid(10) + "\"cbPort_Tag\"=\"3\"\n"
            << false << QStringList{"cbPort_Tag=3"} << QStringList{};
        QTest::newRow("byte list cut by a value line")
            << head + "\"h\"=hex:01,\\\n\"a\"=\"1\"\n"
            << false << QStringList{"a=1"} << QStringList{"h"};
        QTest::newRow("byte list cut by the end")
            << head + "\"a\"=\"1\"\n\"h\"=hex:01,\\\n"
            << false << QStringList{"a=1"} << QStringList{"h"};
        QByteArray deep = "REGEDIT4\n\n[HKEY_CURRENT_USER";
        for (int i = 0; i <= RegMaxKeyDepth; ++i)
            deep += "\\k";
        QTest::newRow("key nested too deep") << deep + "]\n\"a\"=\"1\"\n"
                                             << false << QStringList{} << QStringList{};
    }
    void damagedTextReadsWhatItCan() {
        QFETCH(QByteArray, text);
        QFETCH(bool, clean);
        QFETCH(QStringList, present);
        QFETCH(QStringList, absent);
        bool wasClean = !clean;
        const RegKey root = ParseRegistryText(text, &wasClean);
        QCOMPARE(wasClean, clean);
        const RegKey* key = root.find(MainKey);
        for (const QString& item : present) {
            const QString name = item.section(u'=', 0, 0);
            QVERIFY2(key && key->value(name), qPrintable(name));
            QByteArray data = key->value(name)->data;
            if (data.endsWith('\0'))
                data.chop(1);
            QCOMPARE(QString::fromUtf8(data), item.section(u'=', 1));
        }
        for (const QString& name : absent)
            QVERIFY2(!key || !key->value(name), qPrintable(name));
    }

    // Seeded random damage: the parser must never crash, and whatever it makes of the
    // text must format into a file that reads back clean and unchanged.
    void parserSurvivesRandomMutations() {
        QRandomGenerator random(20240611);
        const QList<QByteArray> tokens = {"[",    "]",    "\"",     "\\",    "=",
                                          "hex(", "hex:", "dword:", ",\\\n", "\n",
                                          "\r",   "@",    "\xD0",   "\0",    "]\n\""};
        QElapsedTimer clock;
        clock.start();
        int rounds = 0;
        while (clock.elapsed() < 2000) {
            QByteArray text = ValidText;
            const int edits = 1 + random.bounded(6);
            for (int e = 0; e < edits && !text.isEmpty(); ++e) {
                const int at = random.bounded(int(text.size()));
                switch (random.bounded(5)) {
                case 0:
                    text[at] = char(random.bounded(256));
                    break;
                case 1:
                    text.insert(at, tokens[random.bounded(int(tokens.size()))]);
                    break;
                case 2:
                    text.remove(at, 1 + random.bounded(20));
                    break;
                case 3:
                    text.insert(at, text.mid(random.bounded(int(text.size())), 40));
                    break;
                default:
                    text.truncate(at);
                }
            }
            bool clean = false;
            const QByteArray once = FormatRegistryText(ParseRegistryText(text, &clean));
            bool again = false;
            const QByteArray twice = FormatRegistryText(ParseRegistryText(once, &again));
            if (!again || once != twice)
                QFAIL(qPrintable("not stable for input: " + text.toPercentEncoding()));
            ++rounds;
        }
        QVERIFY(rounds > 100);
    }
};

int main(int argc, char** argv) {
    TApplication app(argc, argv);
    TestRegistryFile test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_registryfile.moc"
