#include "platform/RegistryFile.h"
#include "tests/common/TestSupport.h"
#include "window/Application.h"

#include <QElapsedTimer>
#include <QRandomGenerator>
#include <QtTest/QTest>

namespace {

const QStringList MainKey = {"Software", "Vendrik", "TformMain"};

QByteArray Sz(const QByteArray& utf8) {
    return utf8 + '\0';
}

TRegKey TreeWith(const TRegValue& value) {
    TRegKey root;
    TRegKey* key = &root;
    for (const QString& part : MainKey)
        key = &key->AddChild(part);
    key->SetValue(value);
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

const QByteArray Head = "REGEDIT4\n\n";

QByteArray KeyLine(const QByteArray& path) {
    return "[HKEY_CURRENT_USER\\" + path + "]\n";
}

// "k<i>" followed by `depth` - 1 levels named `name`.
QByteArray DeepPath(int i, int depth, const QByteArray& name = "a") {
    QByteArray path = "k" + QByteArray::number(i);
    for (int level = 1; level < depth; ++level)
        path += "\\" + name;
    return path;
}

QByteArray SiblingKeys(int count) {
    QByteArray text = Head;
    for (int i = 0; i < count; ++i)
        text += KeyLine("k" + QByteArray::number(i));
    return text;
}

QByteArray Values(int count) {
    QByteArray text = Head + KeyLine("k");
    for (int i = 0; i < count; ++i)
        text += "\"v" + QByteArray::number(i) + "\"=\"1\"\n";
    return text;
}

QByteArray HexValue(const QByteArray& name, int bytes, bool continued) {
    QByteArray line = "\"" + name + "\"=hex:";
    for (int i = 0; i < bytes; ++i) {
        line += i ? "," : "";
        if (continued && i && i % 25 == 0)
            line += "\\\n  ";
        line += "00";
    }
    return line + "\n";
}

// "path" names a key that must exist; "path|name" a value of it.
bool Holds(const TRegKey& root, const QString& item) {
    const TRegKey* key = root.Find(item.section(u'|', 0, 0).split(u'\\'));
    return key && (!item.contains(u'|') || key->Value(item.section(u'|', 1)));
}

const char Junk[] = "\x7f"
                    "ELF\x02\x01\x01\0\0\0\n\xff\xfe[\n\"";

} // namespace

Q_DECLARE_METATYPE(TRegValue)

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
        const QByteArray text = FormatRegistryText(TreeWith(TRegValue{"v", type, data}));
        if (!line.isEmpty())
            QVERIFY2(text.split('\n').contains(line), text.constData());
        bool clean = false;
        const TRegKey back = ParseRegistryText(text, &clean);
        QVERIFY(clean);
        const TRegKey* key = back.Find(MainKey);
        QVERIFY(key);
        const TRegValue* v = key->Value("v");
        QVERIFY(v);
        QCOMPARE(v->type, type);
        QCOMPARE(v->data, data);
    }

    void writtenLayoutListsEveryKeyWithBlankLineAfter() {
        TRegKey root;
        TRegKey& main = root.AddChild("Software").AddChild("Vendrik").AddChild("TformMain");
        main.SetValue({"FormVersion", REG_SZ, Sz("0")});
        main.SetValue({"", REG_SZ, Sz("default")});
        QCOMPARE(FormatRegistryText(root),
                 QByteArray("REGEDIT4\n\n"
                            "[HKEY_CURRENT_USER\\Software]\n\n"
                            "[HKEY_CURRENT_USER\\Software\\Vendrik]\n\n"
                            "[HKEY_CURRENT_USER\\Software\\Vendrik\\TformMain]\n"
                            "\"FormVersion\"=\"0\"\n"
                            "@=\"default\"\n\n"));
    }

    void namesMatchWithoutAsciiCaseAndKeepFirstSpelling() {
        TRegKey root;
        root.AddChild("TformMain").SetValue({"FormVersion", REG_SZ, Sz("0")});
        TRegKey& again = root.AddChild("TFORMMAIN");
        QCOMPARE(root.Children().size(), size_t(1));
        QCOMPARE(again.name, QString("TformMain"));
        again.SetValue({"formversion", REG_SZ, Sz("7")});
        QCOMPARE(again.Values().size(), size_t(1));
        QCOMPARE(again.Values()[0].name, QString("FormVersion"));
        QCOMPARE(again.Values()[0].data, Sz("7"));
        // Only ASCII letters fold: Cyrillic capitals name another key.
        root.AddChild("ключ");
        root.AddChild("КЛЮЧ");
        QCOMPARE(root.Children().size(), size_t(3));
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
        const TRegKey root = ParseRegistryText(text, &wasClean);
        QCOMPARE(wasClean, clean);
        const TRegKey* key = root.Find(MainKey);
        for (const QString& item : present) {
            const QString name = item.section(u'=', 0, 0);
            QVERIFY2(key && key->Value(name), qPrintable(name));
            QByteArray data = key->Value(name)->data;
            if (data.endsWith('\0'))
                data.chop(1);
            QCOMPARE(QString::fromUtf8(data), item.section(u'=', 1));
        }
        for (const QString& name : absent)
            QVERIFY2(!key || !key->Value(name), qPrintable(name));
    }

    // Each limit from both sides: just within is kept and the file clean; one past is
    // refused as damage, and what came before it is kept.
    void limitsKeepWhatIsWithinAndRefuseWhatIsPast_data() {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<bool>("clean");
        QTest::addColumn<QStringList>("present");
        QTest::addColumn<QStringList>("absent");
        const QString deepest = DeepPath(0, RegMaxKeyDepth);
        QTest::newRow("depth at the limit")
            << Head + KeyLine(DeepPath(0, RegMaxKeyDepth)) + "\"v\"=\"1\"\n"
            << true << QStringList{deepest + "|v"} << QStringList{};
        QTest::newRow("depth past the limit")
            << Head + KeyLine("prev") + KeyLine(DeepPath(0, RegMaxKeyDepth + 1)) + "\"v\"=\"1\"\n"
            << false << QStringList{"prev"} << QStringList{"k0", "prev|v"};
        QTest::newRow("keys at the limit")
            << SiblingKeys(RegMaxKeyCount) << true << QStringList{"k4095"} << QStringList{};
        QTest::newRow("keys past the limit") << SiblingKeys(RegMaxKeyCount + 1) << false
                                             << QStringList{"k4095"} << QStringList{"k4096"};
        QTest::newRow("a key line that would pass the key limit creates nothing on its way")
            << SiblingKeys(RegMaxKeyCount - 2) + KeyLine("x\\y\\z") + KeyLine("k0") +
                   "\"v\"=\"1\"\n"
            << false << QStringList{"k4093", "k0|v"} << QStringList{"x"};
        QTest::newRow("values at the limit")
            << Values(RegMaxValueCount) << true << QStringList{"k|v16383"} << QStringList{};
        QTest::newRow("values past the limit")
            << Values(RegMaxValueCount + 1) << false << QStringList{"k|v16383"}
            << QStringList{"k|v16384"};
        QTest::newRow("value data at the limit")
            << Head + KeyLine("k") + HexValue("b", RegMaxValueBytes, false) << true
            << QStringList{"k|b"} << QStringList{};
        QTest::newRow("value data past the limit")
            << Head + KeyLine("k") + HexValue("b", RegMaxValueBytes + 1, false) + "\"a\"=\"1\"\n"
            << false << QStringList{"k|a"} << QStringList{"k|b"};
        const qsizetype nameAtLimit = RegMaxLineBytes - QByteArray("[HKEY_CURRENT_USER\\]").size();
        QTest::newRow("line at the limit")
            << Head + KeyLine(QByteArray(nameAtLimit, 'n')) << true
            << QStringList{QString(nameAtLimit, u'n')} << QStringList{};
        QTest::newRow("line past the limit, and the values below it")
            << Head + KeyLine("k") + KeyLine(QByteArray(nameAtLimit + 1, 'n')) + "\"a\"=\"1\"\n"
            << false << QStringList{"k"} << QStringList{QString(nameAtLimit + 1, u'n'), "k|a"};
        // Joined, the lines pass the line limit: read over, without swallowing what follows.
        QTest::newRow("continued byte list past the line limit")
            << Head + KeyLine("k") + HexValue("b", RegMaxLineBytes / 3 + 1, true) + "\"a\"=\"1\"\n"
            << false << QStringList{"k|a"} << QStringList{"k|b"};
        // 100-byte names 32 levels deep: each line's keys, every one written with its
        // full path, cost about 54 KB of text, so the text cap stops the reader before
        // the key count does.
        QByteArray costly = Head;
        for (int i = 0; i < 100; ++i)
            costly += KeyLine(DeepPath(i, RegMaxKeyDepth, QByteArray(100, 'n')));
        QTest::newRow("keys written with their full paths pass the text cap")
            << costly << false << QStringList{DeepPath(0, RegMaxKeyDepth, QByteArray(100, 'n'))}
            << QStringList{"k99"};
    }
    void limitsKeepWhatIsWithinAndRefuseWhatIsPast() {
        QFETCH(QByteArray, text);
        QFETCH(bool, clean);
        QFETCH(QStringList, present);
        QFETCH(QStringList, absent);
        bool wasClean = !clean;
        const TRegKey root = ParseRegistryText(text, &wasClean);
        QCOMPARE(wasClean, clean);
        for (const QString& item : present)
            QVERIFY2(Holds(root, item), qPrintable(item.left(80)));
        for (const QString& item : absent)
            QVERIFY2(!Holds(root, item), qPrintable(item.left(80)));
        // What was kept is what a save writes: within every limit, and read back whole.
        const TRegTreeSize size = MeasureRegistryTree(root);
        const QByteArray written = FormatRegistryText(root);
        QVERIFY(size.WithinLimits());
        QCOMPARE(size.textBytes, written.size());
        bool again = false;
        const TRegKey reread = ParseRegistryText(written, &again);
        QVERIFY(again);
        QCOMPARE(MeasureRegistryTree(reread).keys, size.keys);
        QCOMPARE(MeasureRegistryTree(reread).values, size.values);
    }

    // Files that took gigabytes to read and hundreds of megabytes to write back.
    void hostileFilesReadInLittleMemory_data() {
        QTest::addColumn<QByteArray>("text");
        QTest::newRow("7607 key lines 250 deep (4 MB)") << DeepKeysStore(7607, 250);
        QTest::newRow("short keys (4 MB)") << ManyKeysStore(4000000);
        QTest::newRow("values of one key (4 MB)") << ManyValuesStore(4000000);
        QTest::newRow("blank lines (4 MB)") << "REGEDIT4\n" + QByteArray(4000000, '\n');
        QTest::newRow("one line (4 MB)") << Head + KeyLine(QByteArray(4000000, 'n'));
    }
    void hostileFilesReadInLittleMemory() {
        QFETCH(QByteArray, text);
        qint64 written = -1;
        const qint64 growth = PeakGrowthInChild(
            [&] {
                bool clean = true;
                return qint64(FormatRegistryText(ParseRegistryText(text, &clean)).size());
            },
            &written);
        QVERIFY(growth >= 0);
        qInfo("%lld bytes read: peak %.1f MB above the start, %lld bytes written back",
              qint64(text.size()), growth / 1048576.0, written);
        QVERIFY(written >= 0 && written <= text.size());
#ifndef __SANITIZE_ADDRESS__ // its shadow memory and quarantine say nothing about the reader
        QVERIFY2(growth < 32 * 1024 * 1024, qPrintable(QString::number(growth)));
#endif
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
