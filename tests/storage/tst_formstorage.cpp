#include "TestWindow.h"
#include "base/ErrorReport.h"
#include "tests/common/TestSupport.h"
#include "window/Application.h"

#include <QDir>
#include <QFile>
#include <QMap>
#include <QtTest/QTest>

namespace {

const QByteArray KeysHead = "REGEDIT4\n\n[HKEY_CURRENT_USER\\Software]\n\n"
                            "[HKEY_CURRENT_USER\\Software\\Vendrik]\n\n";
const QByteArray SectionHead = "[HKEY_CURRENT_USER\\Software\\Vendrik\\TTestWindow]\n";

QByteArray Section(const QByteArray& version, const QByteArray& check, const QByteArray& tag,
                   const QByteArray& file) {
    return SectionHead + "\"FormVersion\"=\"" + version + "\"\n\"cbCheck_Checked\"=\"" + check +
           "\"\n\"cbPort_Tag\"=\"" + tag + "\"\n\"OpenDialog1_FileName\"=\"" + file + "\"\n\n";
}

// The section's values by name, whatever their order in the file.
QMap<QString, QString> SectionValues(const QString& key = "Software\\Vendrik") {
    QMap<QString, QString> values;
    bool clean = false;
    const TRegKey root = ParseRegistryText(ReadStoreFile(), &clean);
    const TRegKey* section = root.Find((key + "\\TTestWindow").split(u'\\'));
    if (section)
        for (const TRegValue& v : section->Values())
            values.insert(v.name, QString::fromUtf8(v.data.left(v.data.indexOf('\0'))));
    return values;
}

QMap<QString, QString> Expected(const QString& check, const QString& tag, const QString& file) {
    return {{"FormVersion", "0"},
            {"cbCheck_Checked", check},
            {"cbPort_Tag", tag},
            {"OpenDialog1_FileName", file}};
}

} // namespace

class TestFormStorage : public QObject {
    Q_OBJECT
private slots:
    void init() { SetApplicationTitle("Vendrik"); }

    void storedVersionDecidesWhetherToRestore_data() {
        QTest::addColumn<QByteArray>("version"); // empty: not stored
        QTest::addColumn<bool>("restored");
        QTest::newRow("same") << QByteArray("0") << true;
        QTest::newRow("missing") << QByteArray() << true;
        QTest::newRow("older") << QByteArray("-1") << false;
        QTest::newRow("not a number") << QByteArray("abc") << true;
        QTest::newRow("newer") << QByteArray("7") << true;
    }
    void storedVersionDecidesWhetherToRestore() {
        QFETCH(QByteArray, version);
        QFETCH(bool, restored);
        TempConfigHome home;
        MessageRecorder boxes;
        QByteArray stored = Section(version, "True", "3", "/s.bin");
        if (version.isEmpty())
            stored.replace("\"FormVersion\"=\"\"\n", "");
        QVERIFY(WriteStoreFile(KeysHead + stored));
        TTestWindow window;
        window.show();
        QCOMPARE(window.shown[0].checked, restored);
        QCOMPARE(window.shown[0].tag, restored ? 3 : 0);
        window.close();
        QCOMPARE(SectionValues(),
                 restored ? Expected("True", "3", "/s.bin") : Expected("False", "0", ""));
        QVERIFY(boxes.boxes.isEmpty());
    }

    void propertyOfWrongTypeFailsAlone() {
        TempConfigHome home;
        MessageRecorder boxes;
        QVERIFY(WriteStoreFile(KeysHead + SectionHead +
                               "\"cbCheck_Checked\"=\"true\"\n\"cbPort_Tag\"=dword:00000005\n"
                               "\"OpenDialog1_FileName\"=hex(2):2f,78,00\n\n"));
        TTestWindow window;
        window.show();
        QCOMPARE(window.shown[0].checked, true);
        QCOMPARE(window.shown[0].tag, 0);
        QCOMPARE(window.shown[0].fileName, QString("/x"));
        QVERIFY(boxes.boxes.isEmpty());
    }

    void storeKeyComesFromExecutableName_data() {
        QTest::addColumn<QString>("executable");
        QTest::addColumn<bool>("usesTitle");
        QTest::addColumn<QString>("company");
        QTest::addColumn<QString>("key");
        QTest::newRow("plain") << "/usr/bin/Vendrik" << false << ""
                               << "Software\\Vendrik";
        QTest::newRow("extension") << "C:\\Tools\\Vendrik.exe" << false << ""
                                   << "Software\\Vendrik";
        QTest::newRow("last dot only") << "/opt/a.b/My.Tool.exe" << false << ""
                                       << "Software\\My.Tool";
        QTest::newRow("other name") << "/opt/tools/Other" << false << ""
                                    << "Software\\Other";
        QTest::newRow("company") << "/usr/bin/Vendrik" << false << "Acme"
                                 << "Software\\Acme\\Vendrik";
        QTest::newRow("title") << "/usr/bin/whatever" << true << ""
                               << "Software\\Vendrik";
    }
    void storeKeyComesFromExecutableName() {
        QFETCH(QString, executable);
        QFETCH(bool, usesTitle);
        QFETCH(QString, company);
        QFETCH(QString, key);
        TempConfigHome home;
        KeyUsesTitle = usesTitle;
        KeyCompanyPrefix = company;
        struct Reset {
            ~Reset() {
                KeyUsesTitle = false;
                KeyCompanyPrefix.clear();
            }
        } reset;
        TTestWindow window(executable);
        QCOMPARE(window.FormStorage1->DefaultStoreKey(), key);
        window.show();
        window.close();
        QVERIFY(
            ReadStoreFile().contains("[HKEY_CURRENT_USER\\" + key.toUtf8() + "\\TTestWindow]\n"));
    }

    void windowNeverShownWritesNothing() {
        TempConfigHome home;
        {
            TTestWindow window;
            window.close();
        }
        QVERIFY(!QFileInfo::exists(home.vendrikDir()));
    }

    void refusedCloseSavesNothing() {
        TempConfigHome home;
        TTestWindow window;
        window.show();
        window.refuseClose = true;
        window.close();
        QVERIFY(window.isVisible());
        QCOMPARE(ReadStoreFile(), KeysHead);
        window.refuseClose = false;
        window.close();
        QCOMPARE(ReadStoreFile(), KeysHead + Section("0", "False", "0", ""));
    }

    void failedSaveIsReportedAndTriedAgainAtDestruction_data() {
        QTest::addColumn<bool>("repairedBeforeDestruction");
        QTest::newRow("second try succeeds") << true;
        QTest::newRow("second try fails too") << false;
    }
    void failedSaveIsReportedAndTriedAgainAtDestruction() {
        QFETCH(bool, repairedBeforeDestruction);
        TempConfigHome home;
        MessageRecorder boxes;
        const QString lock = UserRegistryPath() + ".lock";
        {
            TTestWindow window;
            window.show();
            window.cbPort->Tag = 4;
            QVERIFY(QFile::remove(lock));
            QVERIFY(QDir().mkpath(lock)); // every change now fails
            window.close();
            QVERIFY(!window.isVisible());
            QCOMPARE(window.closes, 1);
            QCOMPARE(boxes.boxes.size(), 1);
            QCOMPARE(boxes.boxes[0].text, QString("Failed to create key TTestWindow."));
            if (repairedBeforeDestruction)
                QVERIFY(QDir().rmdir(lock));
        }
        if (repairedBeforeDestruction) {
            QCOMPARE(boxes.boxes.size(), 1);
            QCOMPARE(ReadStoreFile(), KeysHead + Section("0", "False", "4", ""));
        } else {
            QCOMPARE(boxes.boxes.size(), 2);
            QCOMPARE(boxes.boxes[1].text, QString("Failed to create key TTestWindow."));
            QCOMPARE(ReadStoreFile(), KeysHead);
        }
    }

    void everyShowRestoresAndACompletedSaveIsNotRepeatedAtDestruction() {
        TempConfigHome home;
        {
            TTestWindow window;
            window.show();
            window.close();
            // Another instance saves meanwhile.
            TRegIniFile(QStringLiteral("Software\\Vendrik"))
                .WriteSectionText("TTestWindow", "cbPort_Tag", "6");
            window.show();
            QCOMPARE(window.shown.size(), 2);
            QCOMPARE(window.shown[1].tag, 6);
            window.close();
            TRegIniFile(QStringLiteral("Software\\Vendrik"))
                .WriteSectionText("TTestWindow", "cbPort_Tag", "7");
        }
        QCOMPARE(ReadStoreFile(), KeysHead + Section("0", "False", "7", ""));
    }

    void removedStorageGivesTheWindowItsHooksBack() {
        TempConfigHome home;
        TTestWindow window;
        delete window.FormStorage1;
        window.show();
        QCOMPARE(window.shown.size(), 1);
        window.refuseClose = true;
        window.close();
        QVERIFY(window.isVisible());
        window.refuseClose = false;
        window.close();
        QCOMPARE(window.closes, 1);
        QVERIFY(!QFileInfo::exists(home.vendrikDir()));
    }
};

int main(int argc, char** argv) {
    TApplication app(argc, argv);
    TestFormStorage test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_formstorage.moc"
