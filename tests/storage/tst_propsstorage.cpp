#include "TestWindow.h"
#include "base/ProgramError.h"
#include "storage/RXProps.h"
#include "window/Application.h"

#include <QMap>
#include <QtTest/QTest>

namespace {

// A storage over a map, recording every write in order.
struct MapStorage {
    QMap<QString, QString> values; // ident -> text
    QStringList written;           // "ident=text"
    QString failOn;                // ident whose read or write throws
    TPropsStorage storage;

    MapStorage() {
        storage.Section = "TformMain";
        storage.OnReadText = [this](const QString& section, const QString& ident,
                                    const QString& def) {
            if (section != "TformMain")
                throw EProgramError("wrong section " + section);
            if (ident == failOn)
                throw EProgramError("Invalid data type for '" + ident + "'");
            return values.value(ident, def);
        };
        storage.OnWriteText = [this](const QString&, const QString& ident, const QString& text) {
            if (ident == failOn)
                throw EProgramError("Failed to set data for '" + ident + "'");
            written.append(ident + "=" + text);
        };
    }
};

} // namespace

class TestPropsStorage : public QObject {
    Q_OBJECT
private slots:
    void bindingDropsLinesItCannotBind_data() {
        QTest::addColumn<QStringList>("lines");
        QTest::addColumn<QStringList>("kept");
        QTest::newRow("valid lines kept in order")
            << QStringList{"cbCheck.Checked", "cbPort.Tag", "OpenDialog1.FileName"}
            << QStringList{"cbCheck.Checked", "cbPort.Tag", "OpenDialog1.FileName"};
        QTest::newRow("no dot or an empty side")
            << QStringList{"cbCheckChecked", ".Checked", "cbCheck.", " . ", "cbPort.Tag"}
            << QStringList{"cbPort.Tag"};
        QTest::newRow("component the window lacks")
            << QStringList{"ghost.Tag", "cbPort.Tag"} << QStringList{"cbPort.Tag"};
        QTest::newRow("other case and blanks")
            << QStringList{" CBCHECK . checked ", "opendialog1.FILENAME"}
            << QStringList{" CBCHECK . checked ", "opendialog1.FILENAME"};
        QTest::newRow("splits at the first dot") << QStringList{"OpenDialog1.FileName.Extra"}
                                                 << QStringList{"OpenDialog1.FileName.Extra"};
    }
    void bindingDropsLinesItCannotBind() {
        QFETCH(QStringList, lines);
        QFETCH(QStringList, kept);
        TTestWindow window;
        TStoredPropList list;
        for (const QString& line : lines)
            list.append(line);
        TPropsStorage::ResolveStoredList(&window, list, true);
        QCOMPARE(StoredTexts(list), kept);
        for (const TStoredLine& line : list)
            QVERIFY(line.Object);
    }

    void renamingFollowsComponentAndDropsDestroyedOnes() {
        TTestWindow window;
        TStoredPropList list{"CBCHECK.Checked", " cbport . Tag ", "OpenDialog1.FileName"};
        TPropsStorage::ResolveStoredList(&window, list, true);
        delete window.OpenDialog1;
        window.OpenDialog1 = nullptr;
        TPropsStorage::ResolveStoredList(&window, list, false);
        QCOMPARE(StoredTexts(list), QStringList({"cbCheck.Checked", "cbPort.Tag"}));
    }

    void identsUseCurrentComponentNameAndDeclaredPropertyName() {
        TTestWindow window;
        window.cbCheck->setChecked(true);
        window.cbPort->Tag = -5;
        window.OpenDialog1->FileName = "  /tmp/a b.bin \t";
        window.OpenDialog1->Kind = TestDialog::Gamma;
        TStoredPropList list{"CBCHECK.CHECKED",  "cbport.tag",        "OpenDialog1.filename",
                             "OpenDialog1.Kind", "OpenDialog1.Ratio", "cbPort.NoSuchProperty",
                             "cbCheck.checkable"};
        TPropsStorage::ResolveStoredList(&window, list, true);
        MapStorage map;
        map.storage.WriteComponentProps(&window, list);
        QCOMPARE(map.written, QStringList({"cbCheck_Checked=True", "cbPort_Tag=-5",
                                           "OpenDialog1_FileName=/tmp/a b.bin",
                                           "OpenDialog1_Kind=Gamma", "OpenDialog1_Ratio=0.5"}));
        QCOMPARE(map.storage.Owner, nullptr);
    }

    void emptyStringIsWrittenButNamelessEnumerationIsNot() {
        TTestWindow window;
        window.OpenDialog1->Kind = TestDialog::Mode(3); // no name for 3
        TStoredPropList list{"OpenDialog1.FileName", "OpenDialog1.Kind"};
        TPropsStorage::ResolveStoredList(&window, list, true);
        MapStorage map;
        map.storage.WriteComponentProps(&window, list);
        QCOMPARE(map.written, QStringList({"OpenDialog1_FileName="}));
    }

    void storedTextIsAppliedByKind_data() {
        QTest::addColumn<QString>("line");
        QTest::addColumn<QString>("ident");
        QTest::addColumn<QVariant>("stored"); // invalid: nothing stored
        QTest::addColumn<QVariant>("expected");
        const QString tag = "cbPort.Tag", tagId = "cbPort_Tag";
        QTest::newRow("int decimal") << tag << tagId << QVariant("12") << QVariant(12);
        QTest::newRow("int with blanks") << tag << tagId << QVariant(" 42 ") << QVariant(42);
        QTest::newRow("int dollar hex") << tag << tagId << QVariant("$2A") << QVariant(42);
        QTest::newRow("int 0x hex") << tag << tagId << QVariant("0x2A") << QVariant(42);
        QTest::newRow("int negative") << tag << tagId << QVariant("-1") << QVariant(-1);
        QTest::newRow("int letters") << tag << tagId << QVariant("abc") << QVariant(0);
        QTest::newRow("int empty") << tag << tagId << QVariant("") << QVariant(0);
        QTest::newRow("int out of range") << tag << tagId << QVariant("99999999999") << QVariant(0);
        QTest::newRow("int missing") << tag << tagId << QVariant() << QVariant(5);
        const QString chk = "cbCheck.Checked", chkId = "cbCheck_Checked";
        QTest::newRow("bool True") << chk << chkId << QVariant("True") << QVariant(true);
        QTest::newRow("bool TRUE") << chk << chkId << QVariant("TRUE") << QVariant(true);
        QTest::newRow("bool true blanks") << chk << chkId << QVariant(" true ") << QVariant(true);
        QTest::newRow("bool digit") << chk << chkId << QVariant("1") << QVariant(false);
        QTest::newRow("bool other word") << chk << chkId << QVariant("yes") << QVariant(false);
        QTest::newRow("bool empty") << chk << chkId << QVariant("") << QVariant(false);
        const QString file = "OpenDialog1.FileName", fileId = "OpenDialog1_FileName";
        QTest::newRow("string trimmed")
            << file << fileId << QVariant("  /a b/с.bin \t") << QVariant("/a b/с.bin");
        QTest::newRow("string empty") << file << fileId << QVariant("") << QVariant("");
        QTest::newRow("string missing keeps own, trimmed")
            << file << fileId << QVariant() << QVariant("/own.bin");
        const QString kind = "OpenDialog1.Kind", kindId = "OpenDialog1_Kind";
        QTest::newRow("enum any case")
            << kind << kindId << QVariant("bEtA") << QVariant::fromValue(TestDialog::Beta);
        QTest::newRow("enum unknown name")
            << kind << kindId << QVariant("Delta") << QVariant::fromValue(TestDialog::Alpha);
        const QString ratio = "OpenDialog1.Ratio", ratioId = "OpenDialog1_Ratio";
        QTest::newRow("double") << ratio << ratioId << QVariant("2.25") << QVariant(2.25);
        QTest::newRow("double unreadable") << ratio << ratioId << QVariant("x") << QVariant(0.5);
    }
    void storedTextIsAppliedByKind() {
        QFETCH(QString, line);
        QFETCH(QString, ident);
        QFETCH(QVariant, stored);
        QFETCH(QVariant, expected);
        TTestWindow window;
        window.cbPort->Tag = 5;
        window.OpenDialog1->FileName = " /own.bin ";
        TStoredPropList list{line};
        TPropsStorage::ResolveStoredList(&window, list, true);
        MapStorage map;
        if (stored.isValid())
            map.values.insert(ident, stored.toString());
        map.storage.ReadComponentProps(&window, list);
        QObject* target = list.first().Object;
        const QString property = line.section(u'.', 1);
        QCOMPARE(target->property(property.toLatin1()), expected);
    }

    void unreadablePropertyFailsAloneAndUnwritableOneStopsTheSave() {
        TTestWindow window;
        window.cbPort->Tag = 7;
        TStoredPropList list{"cbCheck.Checked", "cbPort.Tag", "OpenDialog1.FileName"};
        TPropsStorage::ResolveStoredList(&window, list, true);
        MapStorage map;
        map.values = {
            {"cbCheck_Checked", "True"}, {"cbPort_Tag", "3"}, {"OpenDialog1_FileName", "/x.bin"}};
        map.failOn = "cbPort_Tag";
        map.storage.ReadComponentProps(&window, list);
        QCOMPARE(window.cbCheck->isChecked(), true);
        QCOMPARE(window.cbPort->Tag, 7);
        QCOMPARE(window.OpenDialog1->FileName, QString("/x.bin"));

        try {
            map.storage.WriteComponentProps(&window, list);
            QFAIL("write failure was swallowed");
        } catch (const EProgramError& e) {
            QCOMPARE(e.Message(), QString("Failed to set data for 'cbPort_Tag'"));
        }
        QCOMPARE(map.written, QStringList({"cbCheck_Checked=True"}));
        QCOMPARE(map.storage.Owner, nullptr);
    }
};

int main(int argc, char** argv) {
    TApplication app(argc, argv);
    TestPropsStorage test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_propsstorage.moc"
