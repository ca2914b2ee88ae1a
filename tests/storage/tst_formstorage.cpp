#include "TestWindow.h"
#include "app/Application.h"
#include "app/ErrorReport.h"
#include "tests/common/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QMap>
#include <QtTest/QTest>

namespace {

QByteArray ReadAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void WriteFile(const QByteArray& bytes) {
    QDir().mkpath(QFileInfo(UserRegistryPath()).absolutePath());
    QFile f(UserRegistryPath());
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(bytes);
}

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
    const RegKey root = ParseRegistryText(ReadAll(UserRegistryPath()), &clean);
    const RegKey* section = root.find((key + "\\TTestWindow").split(u'\\'));
    if (section)
        for (const RegValue& v : section->values())
            values.insert(v.name, QString::fromUtf8(v.data.left(v.data.indexOf('\0'))));
    return values;
}

QMap<QString, QString> Expected(const QString& check, const QString& tag, const QString& file) {
    return {{"FormVersion", "0"},
            {"cbCheck_Checked", check},
            {"cbPort_Tag", tag},
            {"OpenDialog1_FileName", file}};
}

QStringList DamagedCopies(const TempConfigHome& home) {
    return QDir(home.vendrikDir()).entryList({"user.reg.damaged-*"}, QDir::Files);
}

} // namespace

class TestFormStorage : public QObject {
    Q_OBJECT
private slots:
    void init() { SetApplicationTitle("Vendrik"); }

    void firstStartCreatesEmptyKeyAndStoresFourValuesAtClose() {
        TempConfigHome home;
        MessageRecorder boxes;
        TTestWindow window;
        window.show();
        QCOMPARE(ReadAll(UserRegistryPath()), KeysHead);
        QCOMPARE(window.shown.size(), 1);
        QCOMPARE(window.shown[0].tag, 0);
        QCOMPARE(window.shown[0].checked, false);
        window.close();
        QCOMPARE(window.closes, 1);
        QCOMPARE(ReadAll(UserRegistryPath()), KeysHead + Section("0", "False", "0", ""));
        QVERIFY(boxes.boxes.isEmpty());
    }

    void settingsComeBackAtNextStart() {
        TempConfigHome home;
        MessageRecorder boxes;
        const QString path = "/home/оператор/Мои программы/прошивка 2.bin";
        {
            TTestWindow first;
            first.show();
            first.cbCheck->setChecked(true);
            first.cbPort->Tag = 2;
            first.OpenDialog1->FileName = path;
            first.close();
        }
        QCOMPARE(ReadAll(UserRegistryPath()), KeysHead + Section("0", "True", "2", path.toUtf8()));
        TTestWindow next;
        next.show();
        QCOMPARE(next.shown.size(), 1);
        QCOMPARE(next.shown[0].checked, true);
        QCOMPARE(next.shown[0].tag, 2);
        QCOMPARE(next.shown[0].fileName, path);
        QVERIFY(boxes.boxes.isEmpty());
    }

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
        WriteFile(KeysHead + stored);
        TTestWindow window;
        window.show();
        QCOMPARE(window.shown[0].checked, restored);
        QCOMPARE(window.shown[0].tag, restored ? 3 : 0);
        window.close();
        QCOMPARE(SectionValues(),
                 restored ? Expected("True", "3", "/s.bin") : Expected("False", "0", ""));
        QVERIFY(boxes.boxes.isEmpty());
    }

    void versionOfWrongTypeIsReportedAndNothingIsSaved() {
        TempConfigHome home;
        MessageRecorder boxes;
        const QByteArray stored =
            KeysHead + SectionHead + "\"FormVersion\"=dword:00000000\n\"cbPort_Tag\"=\"3\"\n\n";
        WriteFile(stored);
        {
            TTestWindow window;
            window.show();
            QCOMPARE(window.shown.size(), 1);
            QCOMPARE(window.shown[0].tag, 0);
            window.cbPort->Tag = 5;
            window.close();
            QCOMPARE(window.closes, 1);
        }
        QCOMPARE(ReadAll(UserRegistryPath()), stored);
        QCOMPARE(boxes.boxes.size(), 1);
        // "'" sorts before ".", so the report adds no full stop here.
        QCOMPARE(boxes.boxes[0].text, QString("Invalid data type for 'FormVersion'"));
        QCOMPARE(boxes.boxes[0].caption, QString("Vendrik"));
        QCOMPARE(boxes.boxes[0].icon, MsgIcon::Error);
    }

    void propertyOfWrongTypeFailsAlone() {
        TempConfigHome home;
        MessageRecorder boxes;
        WriteFile(KeysHead + SectionHead +
                  "\"cbCheck_Checked\"=\"true\"\n\"cbPort_Tag\"=dword:00000005\n"
                  "\"OpenDialog1_FileName\"=hex(2):2f,78,00\n\n");
        TTestWindow window;
        window.show();
        QCOMPARE(window.shown[0].checked, true);
        QCOMPARE(window.shown[0].tag, 0);
        QCOMPARE(window.shown[0].fileName, QString("/x"));
        QVERIFY(boxes.boxes.isEmpty());
    }

    void otherExecutableNameUsesAnotherKey() {
        TempConfigHome home;
        WriteFile(KeysHead + Section("0", "True", "3", "/s.bin"));
        TTestWindow window("/opt/tools/Other.exe");
        QCOMPARE(window.FormStorage1->DefaultStoreKey(), QString("Software\\Other"));
        window.show();
        QCOMPARE(window.shown[0].tag, 0);
        window.close();
        QVERIFY(ReadAll(UserRegistryPath())
                    .contains("[HKEY_CURRENT_USER\\Software\\Other\\TTestWindow]\n"
                              "\"FormVersion\"=\"0\"\n\"cbCheck_Checked\"=\"False\"\n"));
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
        QCOMPARE(ReadAll(UserRegistryPath()), KeysHead);
        window.refuseClose = false;
        window.close();
        QCOMPARE(ReadAll(UserRegistryPath()), KeysHead + Section("0", "False", "0", ""));
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
            QCOMPARE(ReadAll(UserRegistryPath()), KeysHead + Section("0", "False", "4", ""));
        } else {
            QCOMPARE(boxes.boxes.size(), 2);
            QCOMPARE(boxes.boxes[1].text, QString("Failed to create key TTestWindow."));
            QCOMPARE(ReadAll(UserRegistryPath()), KeysHead);
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
        QCOMPARE(ReadAll(UserRegistryPath()), KeysHead + Section("0", "False", "7", ""));
    }

    void damagedStoreStillStartsAndIsKeptAsideBeforeReplacement() {
        TempConfigHome home;
        MessageRecorder boxes;
        const QByteArray damaged = KeysHead + SectionHead +
                                   "\"cbPort_Tag\"=\"3\"\n\x01\x02junk\xff\n"
                                   "\"OpenDialog1_FileName\"=\"/trunc";
        WriteFile(damaged);
        {
            TTestWindow window;
            window.show();
            QCOMPARE(window.shown[0].tag, 3);
            QCOMPARE(window.shown[0].fileName, QString());
            window.close();
        }
        QVERIFY(boxes.boxes.isEmpty());
        const QStringList copies = DamagedCopies(home);
        QCOMPARE(copies.size(), 1);
        QCOMPARE(ReadAll(home.vendrikDir() + "/" + copies[0]), damaged);
        bool clean = false;
        ParseRegistryText(ReadAll(UserRegistryPath()), &clean);
        QVERIFY(clean);
        QCOMPARE(SectionValues(), Expected("False", "3", ""));
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
