#include "storage/IntegerText.h"
#include "storage/Registry.h"
#include "tests/common/TestSupport.h"
#include "window/Application.h"

#include <QDir>
#include <QFile>
#include <QtTest/QTest>

#include <cstdio>

namespace {

// A store holding one section, the main window's, with these value lines.
QByteArray MainSectionStore(const QByteArray& sectionBody) {
    return "REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\Vendrik\\TformMain]\n" + sectionBody + "\n";
}

bool KeyExists(const QString& path) {
    RegHandle key = 0;
    if (RegOpenKeyEx(HKEY_CURRENT_USER, path, KEY_READ, &key) != ERROR_SUCCESS)
        return false;
    RegCloseKey(key);
    return true;
}

} // namespace

class TestRegistry : public QObject {
    Q_OBJECT
private slots:
    void integerTextConversion_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("ok");
        QTest::addColumn<int>("value");
        QTest::newRow("decimal") << "42" << true << 42;
        QTest::newRow("leading blanks") << "   42" << true << 42;
        QTest::newRow("trailing blank") << "42 " << false << 0;
        QTest::newRow("plus") << "+42" << true << 42;
        QTest::newRow("minus") << "-42" << true << -42;
        QTest::newRow("dollar hex") << "$2A" << true << 42;
        QTest::newRow("0x hex") << "0x2a" << true << 42;
        QTest::newRow("0X hex") << "0X2A" << true << 42;
        QTest::newRow("negative hex") << "-$2A" << true << -42;
        QTest::newRow("hex digits without prefix") << "2A" << false << 0;
        QTest::newRow("largest") << "2147483647" << true << 2147483647;
        QTest::newRow("smallest") << "-2147483648" << true << int(-2147483648LL);
        QTest::newRow("one past largest") << "2147483648" << false << 0;
        QTest::newRow("far too large") << "99999999999" << false << 0;
        QTest::newRow("hex past largest") << "$80000000" << false << 0;
        QTest::newRow("letters") << "abc" << false << 0;
        QTest::newRow("empty") << "" << false << 0;
        QTest::newRow("sign only") << "-" << false << 0;
        QTest::newRow("prefix only") << "$" << false << 0;
        QTest::newRow("inner blank") << "4 2" << false << 0;
        QTest::newRow("arabic-indic digits") << "٤٢" << false << 0;
    }
    void integerTextConversion() {
        QFETCH(QString, text);
        QFETCH(bool, ok);
        QFETCH(int, value);
        int got = -999;
        QCOMPARE(TextToInt(text, &got), ok);
        if (ok)
            QCOMPARE(got, value);
        QCOMPARE(TextToIntDef(text, -7), ok ? value : -7);
    }

    void keyPathsResolveFromRootOrCurrentKey() {
        TempConfigHome home;
        TRegistry reg;
        QVERIFY(reg.OpenKeyPath("Software", true));
        QCOMPARE(reg.CurrentPath(), QString("Software"));
        QVERIFY(reg.OpenKeyPath("Vendrik", true));
        QCOMPARE(reg.CurrentPath(), QString("Software\\Vendrik"));
        QVERIFY(KeyExists("Software\\Vendrik"));
        QVERIFY(!reg.OpenKeyPath("\\Missing", false));
        QCOMPARE(reg.CurrentPath(), QString("Software\\Vendrik"));
        QVERIFY(reg.OpenKeyPath("\\Software", false));
        QCOMPARE(reg.CurrentPath(), QString("Software"));
        reg.ReleaseCurrentKey();
        QCOMPARE(reg.CurrentKey(), RegHandle(0));
        QCOMPARE(reg.CurrentPath(), QString());
    }

    void readOfMissingSectionGivesDefaultAndCreatesNothing() {
        TempConfigHome home;
        TRegIniFile store("Software\\Vendrik");
        QVERIFY(KeyExists("Software\\Vendrik"));
        QCOMPARE(store.ReadSectionText("TformMain", "cbPort_Tag", "dflt"), QString("dflt"));
        QCOMPARE(store.ReadInt("TformMain", "FormVersion", 3), 3);
        QVERIFY(!KeyExists("Software\\Vendrik\\TformMain"));
        QCOMPARE(store.CurrentPath(), QString("Software\\Vendrik"));
    }

    void storedValueReadsAsText_data() {
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<QString>("text");  // expected text ...
        QTest::addColumn<QString>("error"); // ... or this exception message
        QTest::newRow("text") << QByteArray("\"v\"=\"abc\"") << "abc"
                              << "";
        QTest::newRow("expandable text unexpanded")
            << QByteArray("\"v\"=hex(2):25,48,4f,4d,45,25,2f,78,00") << "%HOME%/x"
            << "";
        QTest::newRow("nul in the middle") << QByteArray("\"v\"=hex(1):61,62,00,63,64,00") << "ab"
                                           << "";
        QTest::newRow("text without nul") << QByteArray("\"v\"=hex(1):61,62") << "ab"
                                          << "";
        QTest::newRow("dword") << QByteArray("\"v\"=dword:0000002a") << ""
                               << "Invalid data type for 'v'";
        QTest::newRow("binary") << QByteArray("\"v\"=hex:01") << ""
                                << "Invalid data type for 'v'";
        QTest::newRow("empty binary") << QByteArray("\"v\"=hex:") << ""
                                      << "";
        QTest::newRow("missing") << QByteArray("\"other\"=\"1\"") << "dflt"
                                 << "";
    }
    void storedValueReadsAsText() {
        QFETCH(QByteArray, line);
        QFETCH(QString, text);
        QFETCH(QString, error);
        TempConfigHome home;
        QVERIFY(WriteStoreFile(MainSectionStore(line + "\n")));
        TRegIniFile store("Software\\Vendrik");
        store.SetAccess(KEY_READ);
        try {
            QCOMPARE(store.ReadSectionText("TformMain", "v", "dflt"), text);
            QVERIFY(error.isEmpty());
        } catch (const ERegistryException& e) {
            QCOMPARE(e.Message(), error);
        }
        QCOMPARE(store.CurrentPath(), QString("Software\\Vendrik"));
    }

    void writtenTextReachesFileByteForByte() {
        TempConfigHome home;
        const QString path = "/home/оператор/Мои программы/прошивка \"1\".bin";
        {
            TRegIniFile store("Software\\Vendrik");
            store.WriteSectionText("TformMain", "OpenDialog1_FileName", path);
            store.WriteInt("TformMain", "cbPort_Tag", -3);
        }
        const QByteArray file = ReadStoreFile();
        QVERIFY(file.contains("\"OpenDialog1_FileName\"=\"/home/оператор/Мои программы/"
                              "прошивка \\\"1\\\".bin\"\n"));
        QVERIFY(file.contains("\"cbPort_Tag\"=\"-3\"\n"));
        RegHandle key = 0;
        QCOMPARE(RegOpenKeyEx(HKEY_CURRENT_USER, "Software\\Vendrik\\TformMain", KEY_READ, &key),
                 ERROR_SUCCESS);
        quint32 type = 0, size = 0;
        QCOMPARE(RegQueryValueEx(key, "OpenDialog1_FileName", &type, nullptr, &size),
                 ERROR_SUCCESS);
        QCOMPARE(type, quint32(REG_SZ));
        QCOMPARE(size, quint32(path.toUtf8().size() + 1));
        RegCloseKey(key);
        TRegIniFile again("Software\\Vendrik");
        QCOMPARE(again.ReadSectionText("TformMain", "OpenDialog1_FileName", ""), path);
        QCOMPARE(again.ReadInt("TformMain", "cbPort_Tag", 0), -3);
    }

    // A store object reads the file once for a load or a save of the main window's four
    // values, and still sees what another instance saved meanwhile.
    void storeObjectParsesTheFileOnce_data() {
        QTest::addColumn<bool>("save");
        QTest::addColumn<QString>("otherWrite"); // "" none, "replace", "in place"
        QTest::addColumn<quint64>("parses");
        QTest::newRow("load") << false << "" << quint64(1);
        QTest::newRow("save") << true << "" << quint64(1);
        QTest::newRow("load, another instance replaces the file midway")
            << false << "replace" << quint64(2);
        QTest::newRow("load, the file rewritten in place to another length midway")
            << false << "in place" << quint64(2);
        QTest::newRow("save, another instance replaces the file midway")
            << true << "replace" << quint64(2);
    }
    void storeObjectParsesTheFileOnce() {
        QFETCH(bool, save);
        QFETCH(QString, otherWrite);
        QFETCH(quint64, parses);
        TempConfigHome home;
        QVERIFY(WriteStoreFile(MainSectionStore("\"FormVersion\"=\"0\"\n\"cbPort_Tag\"=\"1\"\n"
                                                "\"cbCheck_Checked\"=\"True\"\n")));
        const QByteArray other = MainSectionStore("\"FormVersion\"=\"0\"\n\"cbPort_Tag\"=\"7\"\n"
                                                  "\"Other\"=\"written meanwhile\"\n");
        const quint64 before = UserRegistryReads();
        {
            TRegIniFile store("Software\\Vendrik");
            if (!save)
                store.SetAccess(KEY_READ);
            const auto step = [&](const QString& ident, const QString& text) {
                if (save)
                    store.WriteSectionText("TformMain", ident, text);
                else
                    store.ReadSectionText("TformMain", ident, "");
            };
            step("FormVersion", "0");
            step("cbCheck_Checked", "False");
            if (otherWrite == "replace") {
                const QString temporary = UserRegistryPath() + ".other";
                QVERIFY(WriteWholeFile(temporary, other));
                QVERIFY(::rename(QFile::encodeName(temporary),
                                 QFile::encodeName(UserRegistryPath())) == 0);
            } else if (otherWrite == "in place") {
                QVERIFY(WriteStoreFile(other));
            }
            if (otherWrite.isEmpty()) {
                step("cbPort_Tag", "2");
            } else if (save) {
                step("cbPort_Tag", "2");
                QCOMPARE(store.ReadSectionText("TformMain", "Other", ""),
                         QString("written meanwhile"));
            } else {
                QCOMPARE(store.ReadSectionText("TformMain", "cbPort_Tag", ""), QString("7"));
            }
            step("OpenDialog1_FileName", "/home/op/x.bin");
        }
        QCOMPARE(UserRegistryReads() - before, parses);
    }

    void writeFailureRaisesTheMessageOfItsStep_data() {
        QTest::addColumn<bool>("sectionExists");
        QTest::addColumn<QString>("message");
        QTest::newRow("section cannot be created") << false << "Failed to create key TformMain";
        QTest::newRow("value cannot be set") << true << "Failed to set data for 'cbPort_Tag'";
    }
    void writeFailureRaisesTheMessageOfItsStep() {
        QFETCH(bool, sectionExists);
        QFETCH(QString, message);
        TempConfigHome home;
        if (sectionExists)
            QVERIFY(WriteStoreFile(MainSectionStore("\"a\"=\"1\"\n")));
        // A folder where the lock file belongs makes every change fail, even for root.
        QVERIFY(QDir().mkpath(UserRegistryPath() + ".lock"));
        TRegIniFile store("Software\\Vendrik");
        try {
            store.WriteSectionText("TformMain", "cbPort_Tag", "1");
            QFAIL("no exception");
        } catch (const ERegistryException& e) {
            QCOMPARE(e.Message(), message);
        }
    }
};

int main(int argc, char** argv) {
    TApplication app(argc, argv);
    TestRegistry test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_registry.moc"
