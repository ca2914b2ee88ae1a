#include "platform/UserRegistry.h"
#include "tests/common/TestSupport.h"
#include "window/Application.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QtTest/QTest>

#include <sys/stat.h>

namespace {

QStringList DamagedCopies() {
    const QFileInfo reg(UserRegistryPath());
    return QDir(reg.absolutePath())
        .entryList({reg.fileName() + ".damaged-*"}, QDir::Files, QDir::Name);
}

RegStatus SetText(RegHandle key, const QString& name, const QByteArray& utf8) {
    const QByteArray data = utf8 + '\0';
    return RegSetValueEx(key, name, REG_SZ, data.constData(), quint32(data.size()));
}

QByteArray QueryData(RegHandle key, const QString& name, quint32* type = nullptr) {
    quint32 size = 0;
    if (RegQueryValueEx(key, name, type, nullptr, &size) != ERROR_SUCCESS)
        return "<missing>";
    QByteArray data(qsizetype(size), '\0');
    if (RegQueryValueEx(key, name, type, data.data(), &size) != ERROR_SUCCESS)
        return "<failed>";
    return data;
}

// Child process: many create-and-set rounds into its own key.
int Hammer(const QString& name, int rounds) {
    for (int i = 0; i < rounds; ++i) {
        RegHandle key = 0;
        if (RegCreateKeyEx(HKEY_CURRENT_USER, "Software\\Vendrik\\" + name, KEY_ALL_ACCESS, &key) !=
            ERROR_SUCCESS)
            return 2;
        const RegStatus s = SetText(key, name + QString::number(i), QByteArray::number(i));
        RegCloseKey(key);
        if (s != ERROR_SUCCESS)
            return 3;
    }
    return 0;
}

const char Junk[] = "\x89PNG\r\n\x1a\n\0\0\0\rIHDR\xff\xfe";

const QByteArray GoodHead = "REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\Vendrik\\TformMain]\n"
                            "\"cbPort_Tag\"=\"5\"\n";

} // namespace

class TestUserRegistry : public QObject {
    Q_OBJECT
private slots:
    void valuesRoundTripThroughFileWithoutRegardToCase() {
        TempConfigHome home;
        RegHandle key = 0;
        QCOMPARE(
            RegCreateKeyEx(HKEY_CURRENT_USER, "Software\\Vendrik\\TformMain", KEY_ALL_ACCESS, &key),
            ERROR_SUCCESS);
        QCOMPARE(SetText(key, "FormVersion", "0"), ERROR_SUCCESS);
        QCOMPARE(RegCloseKey(key), ERROR_SUCCESS);
        QCOMPARE(RegQueryValueEx(key, "FormVersion", nullptr, nullptr, nullptr),
                 ERROR_INVALID_HANDLE);

        RegHandle again = 0;
        QCOMPARE(RegOpenKeyEx(HKEY_CURRENT_USER, "SOFTWARE\\vendrik\\TFORMMAIN", KEY_READ, &again),
                 ERROR_SUCCESS);
        quint32 type = 0;
        QCOMPARE(QueryData(again, "formversion", &type), QByteArray("0\0", 2));
        QCOMPARE(type, quint32(REG_SZ));
        char small[1];
        quint32 size = sizeof small;
        QCOMPARE(RegQueryValueEx(again, "FormVersion", nullptr, small, &size), ERROR_MORE_DATA);
        QCOMPARE(size, 2u);
        RegCloseKey(again);

        QCOMPARE(ReadStoreFile(), QByteArray("REGEDIT4\n\n[HKEY_CURRENT_USER\\Software]\n\n"
                                             "[HKEY_CURRENT_USER\\Software\\Vendrik]\n\n"
                                             "[HKEY_CURRENT_USER\\Software\\Vendrik\\TformMain]\n"
                                             "\"FormVersion\"=\"0\"\n\n"));
    }

    void openingAMissingKeyCreatesNothing() {
        TempConfigHome home;
        RegHandle key = 0;
        QCOMPARE(RegOpenKeyEx(HKEY_CURRENT_USER, "Software\\Vendrik", KEY_READ, &key),
                 ERROR_FILE_NOT_FOUND);
        QVERIFY(!QFileInfo::exists(home.vendrikDir()));
    }

    void readOnlyHandleRefusesWrites() {
        TempConfigHome home;
        RegHandle key = 0;
        QCOMPARE(RegCreateKeyEx(HKEY_CURRENT_USER, "Software", KEY_READ, &key), ERROR_SUCCESS);
        const QByteArray before = ReadStoreFile();
        QCOMPARE(SetText(key, "x", "1"), ERROR_ACCESS_DENIED);
        RegHandle sub = 0;
        QCOMPARE(RegCreateKeyEx(key, "Sub", KEY_ALL_ACCESS, &sub), ERROR_ACCESS_DENIED);
        QCOMPARE(ReadStoreFile(), before);
        RegCloseKey(key);
    }

    void fileAndFolderArePrivateAndNoTemporaryIsLeft() {
        TempConfigHome home;
        RegHandle key = 0;
        QCOMPARE(RegCreateKeyEx(HKEY_CURRENT_USER, "Software", KEY_ALL_ACCESS, &key),
                 ERROR_SUCCESS);
        RegCloseKey(key);
        struct stat st {};
        QCOMPARE(::stat(QFile::encodeName(home.vendrikDir()).constData(), &st), 0);
        QCOMPARE(st.st_mode & 0777, 0700u);
        QCOMPARE(::stat(QFile::encodeName(UserRegistryPath()).constData(), &st), 0);
        QCOMPARE(st.st_mode & 0777, 0600u);
        QCOMPARE(QDir(home.vendrikDir()).entryList(QDir::Files | QDir::Hidden),
                 QStringList({"user.reg", "user.reg.lock"}));
    }

    void damagedFileIsKeptAsideBeforeItIsReplaced_data() {
        QTest::addColumn<QByteArray>("damaged");
        QTest::addColumn<bool>("tagReadable");
        QTest::newRow("truncated") << GoodHead + "\"OpenDialog1_FileName\"=\"/ho" << true;
        QTest::newRow("junk") << QByteArray::fromRawData(Junk, sizeof Junk - 1) << false;
        QTest::newRow("malformed lines")
            << GoodHead + "\"cbCheck_Checked\"=True\n[broken\n\"x\"=\"1\"\n"
            << true;
        QTest::newRow("byte list cut by a key line")
            << "REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\Vendrik\\Other]\n\"h\"=hex:01,\\\n" +
                   GoodHead.mid(10)
            << true;
        QByteArray huge = GoodHead;
        huge.reserve(UserRegistryReadCap + 2 * 1024 * 1024);
        for (int i = 0; huge.size() <= UserRegistryReadCap + 1024 * 1024; ++i)
            huge += "\"filler" + QByteArray::number(i) + "\"=\"" + QByteArray(100, 'x') + "\"\n";
        QTest::newRow("huge") << huge << true;
    }
    void damagedFileIsKeptAsideBeforeItIsReplaced() {
        QFETCH(QByteArray, damaged);
        QFETCH(bool, tagReadable);
        TempConfigHome home;
        QVERIFY(WriteStoreFile(damaged));

        RegHandle key = 0;
        QCOMPARE(
            RegCreateKeyEx(HKEY_CURRENT_USER, "Software\\Vendrik\\TformMain", KEY_ALL_ACCESS, &key),
            ERROR_SUCCESS);
        QCOMPARE(QueryData(key, "cbPort_Tag"),
                 tagReadable ? QByteArray("5\0", 2) : QByteArray("<missing>"));
        QCOMPARE(SetText(key, "FormVersion", "0"), ERROR_SUCCESS);

        QStringList copies = DamagedCopies();
        QCOMPARE(copies.size(), 1);
        QVERIFY(ReadWholeFile(home.vendrikDir() + "/" + copies[0]) == damaged);
        bool clean = false;
        const TRegKey now = ParseRegistryText(ReadStoreFile(), &clean);
        QVERIFY(clean);
        QVERIFY(now.Find({"Software", "Vendrik", "TformMain"})->Value("FormVersion"));
        QCOMPARE(QueryData(key, "cbPort_Tag"),
                 tagReadable ? QByteArray("5\0", 2) : QByteArray("<missing>"));

        // Damaged again: a second copy, the first one untouched.
        QVERIFY(WriteStoreFile("junk again"));
        QCOMPARE(SetText(key, "FormVersion", "1"), ERROR_SUCCESS);
        copies = DamagedCopies();
        QCOMPARE(copies.size(), 2);
        QVERIFY(ReadWholeFile(home.vendrikDir() + "/" + copies[0]) == damaged ||
                ReadWholeFile(home.vendrikDir() + "/" + copies[1]) == damaged);
        RegCloseKey(key);
    }

    // A file past the limits is kept aside whole; the program's save still goes through,
    // what fits of the file stays, and what is written reads back clean and small.
    void hostileFileIsKeptAsideAndTheSaveStaysBounded_data() {
        QTest::addColumn<QByteArray>("hostile");
        QTest::addColumn<QString>("keptKey"); // from the hostile file; empty: none fits
        QTest::newRow("7607 key lines 250 deep") << DeepKeysStore(7607, 250) << QString();
        QTest::newRow("short keys") << ManyKeysStore(4000000) << "Software\\Vendrik\\k0";
        QTest::newRow("values of the main window's key")
            << ManyValuesStore(4000000) << "Software\\Vendrik\\TformMain";
    }
    void hostileFileIsKeptAsideAndTheSaveStaysBounded() {
        QFETCH(QByteArray, hostile);
        QFETCH(QString, keptKey);
        TempConfigHome home;
        QVERIFY(WriteStoreFile(hostile));
        RegHandle key = 0;
        QCOMPARE(
            RegCreateKeyEx(HKEY_CURRENT_USER, "Software\\Vendrik\\TformMain", KEY_ALL_ACCESS, &key),
            ERROR_SUCCESS);
        for (const char* name :
             {"FormVersion", "cbCheck_Checked", "cbPort_Tag", "OpenDialog1_FileName"})
            QCOMPARE(SetText(key, name, "1"), ERROR_SUCCESS);
        RegCloseKey(key);

        const QStringList copies = DamagedCopies();
        QCOMPARE(copies.size(), 1);
        QVERIFY(ReadWholeFile(home.vendrikDir() + "/" + copies[0]) == hostile);
        const QByteArray written = ReadStoreFile();
        qInfo("%lld bytes read, %lld written back", qint64(hostile.size()), qint64(written.size()));
        // Half the cap at most, so that later saves find room.
        QVERIFY(written.size() <= RegMaxTextBytes / 2 + 1024);
        bool clean = false;
        const TRegKey now = ParseRegistryText(written, &clean);
        QVERIFY(clean);
        const TRegKey* main = now.Find({"Software", "Vendrik", "TformMain"});
        QVERIFY(main && main->Value("OpenDialog1_FileName"));
        if (!keptKey.isEmpty())
            QVERIFY(now.Find(keptKey.split(u'\\')));
        // The next save finds a sound file: nothing more is kept aside.
        QCOMPARE(
            RegOpenKeyEx(HKEY_CURRENT_USER, "Software\\Vendrik\\TformMain", KEY_ALL_ACCESS, &key),
            ERROR_SUCCESS);
        QCOMPARE(SetText(key, "cbPort_Tag", "2"), ERROR_SUCCESS);
        RegCloseKey(key);
        QCOMPARE(DamagedCopies().size(), 1);
    }

    // The store refuses what its file could not hold, just past each limit, and takes
    // what is just within.
    void changesPastTheLimitsAreRefused_data() {
        QTest::addColumn<QByteArray>("before"); // the file; empty: none
        QTest::addColumn<QString>("subKey");    // created below HKEY_CURRENT_USER
        QTest::addColumn<int>("valueBytes");    // then a text value of this size, or -1
        QTest::addColumn<RegStatus>("status");
        const QString deep = QString("k\\").repeated(RegMaxKeyDepth - 1) + "k";
        QTest::newRow("key at the depth limit") << QByteArray() << deep << -1 << ERROR_SUCCESS;
        QTest::newRow("key past the depth limit")
            << QByteArray() << deep + "\\k" << -1 << ERROR_INVALID_PARAMETER;
        const QString longName(RegMaxLineBytes - 21, u'n');
        QTest::newRow("key line at the line limit")
            << QByteArray() << longName << -1 << ERROR_SUCCESS;
        QTest::newRow("key line past the line limit")
            << QByteArray() << longName + "n" << -1 << ERROR_INVALID_PARAMETER;
        QTest::newRow("value at the size limit")
            << QByteArray() << "k" << int(RegMaxValueBytes) << ERROR_SUCCESS;
        QTest::newRow("value past the size limit")
            << QByteArray() << "k" << int(RegMaxValueBytes) + 1 << ERROR_INVALID_PARAMETER;
        QByteArray full = "REGEDIT4\n\n";
        for (int i = 0; i < RegMaxKeyCount; ++i)
            full += "[HKEY_CURRENT_USER\\k" + QByteArray::number(i) + "]\n\n";
        QTest::newRow("new key in a sound file that holds the most keys")
            << full << "k" << -1 << ERROR_NOT_ENOUGH_QUOTA;
        QTest::newRow("existing key in a sound file that holds the most keys")
            << full << "k7" << 1 << ERROR_SUCCESS;
    }
    void changesPastTheLimitsAreRefused() {
        QFETCH(QByteArray, before);
        QFETCH(QString, subKey);
        QFETCH(int, valueBytes);
        QFETCH(RegStatus, status);
        TempConfigHome home;
        if (!before.isEmpty())
            QVERIFY(WriteStoreFile(before));
        const QByteArray old = ReadStoreFile();
        RegHandle key = 0;
        RegStatus got = RegCreateKeyEx(HKEY_CURRENT_USER, subKey, KEY_ALL_ACCESS, &key);
        if (got == ERROR_SUCCESS && valueBytes >= 0) {
            got = SetText(key, "v", QByteArray(valueBytes - 1, 'x'));
            RegCloseKey(key);
        }
        QCOMPARE(got, status);
        bool clean = false;
        ParseRegistryText(ReadStoreFile(), &clean);
        QVERIFY(clean);
        if (status != ERROR_SUCCESS && valueBytes < 0)
            QCOMPARE(ReadStoreFile(), old);
        QCOMPARE(ReadStoreFile().contains("\"v\"="), status == ERROR_SUCCESS && valueBytes >= 0);
        QVERIFY(DamagedCopies().isEmpty());
    }

    void fileThatCannotBeReadIsNeitherWaitedOnNorReplaced() {
        TempConfigHome home;
        QDir().mkpath(home.vendrikDir());
        QCOMPARE(::mkfifo(QFile::encodeName(UserRegistryPath()).constData(), 0600), 0);
        RegHandle key = 0;
        QCOMPARE(RegOpenKeyEx(HKEY_CURRENT_USER, "Software", KEY_READ, &key), ERROR_FILE_NOT_FOUND);
        QVERIFY(RegCreateKeyEx(HKEY_CURRENT_USER, "Software", KEY_ALL_ACCESS, &key) !=
                ERROR_SUCCESS);
        struct stat st {};
        QCOMPARE(::stat(QFile::encodeName(UserRegistryPath()).constData(), &st), 0);
        QVERIFY(S_ISFIFO(st.st_mode));
        QVERIFY(DamagedCopies().isEmpty());
    }

    // A save that changes nothing still takes the lock, and clears up then.
    void leftoverTemporaryOfAKilledWriterIsRemoved_data() {
        QTest::addColumn<bool>("changes");
        QTest::newRow("save that changes a value") << true;
        QTest::newRow("save that changes nothing") << false;
    }
    void leftoverTemporaryOfAKilledWriterIsRemoved() {
        QFETCH(bool, changes);
        TempConfigHome home;
        QVERIFY(WriteStoreFile(GoodHead));
        const QString dir = home.vendrikDir() + "/";
        for (const char* name : {"user.reg.tmp-AbC123", "user.reg.tmp-000000"})
            QVERIFY(WriteWholeFile(dir + name, "half a file"));
        // Not names mkostemp gives: someone else's.
        for (const char* name : {"user.reg.tmp-AbC12", "user.reg.tmp-AbC1234",
                                 "user.reg.tmp-a.c123", "other.reg.tmp-AbC123"})
            QVERIFY(WriteWholeFile(dir + name, "keep"));
        RegHandle key = 0;
        QCOMPARE(
            RegOpenKeyEx(HKEY_CURRENT_USER, "Software\\Vendrik\\TformMain", KEY_ALL_ACCESS, &key),
            ERROR_SUCCESS);
        QCOMPARE(SetText(key, "cbPort_Tag", changes ? "6" : "5"), ERROR_SUCCESS);
        RegCloseKey(key);
        QStringList left =
            QDir(home.vendrikDir()).entryList({"*.tmp-*"}, QDir::Files | QDir::Hidden);
        left.sort();
        QCOMPARE(left, QStringList({"other.reg.tmp-AbC123", "user.reg.tmp-AbC12",
                                    "user.reg.tmp-AbC1234", "user.reg.tmp-a.c123"}));
    }

    // Writers killed at random moments of their saves: whatever they leave, the file stays
    // readable and the next save leaves no temporary behind.
    void savesKilledMidwayLeaveNothingAfterTheNextSave() {
        TempConfigHome home;
        QRandomGenerator random(7);
        int leftovers = 0;
        for (int round = 0; round < 12; ++round) {
            QProcess writer;
            writer.setProcessChannelMode(QProcess::ForwardedChannels);
            const QString name = "K" + QString::number(round);
            writer.start(QCoreApplication::applicationFilePath(), {"--hammer", name, "1000000"});
            QVERIFY(writer.waitForStarted(10000));
            // Wait for its first save, then let it run a few milliseconds more.
            QTRY_VERIFY_WITH_TIMEOUT(ReadStoreFile().contains("\\Vendrik\\" + name.toUtf8() + "]"),
                                     20000);
            QTest::qWait(1 + random.bounded(30));
            writer.kill();
            QVERIFY(writer.waitForFinished(10000));
            leftovers += QDir(home.vendrikDir()).entryList({"user.reg.tmp-*"}, QDir::Files).size();
            bool clean = false;
            ParseRegistryText(ReadStoreFile(), &clean);
            QVERIFY(clean);
        }
        qInfo("temporaries left by 12 killed writers: %d", leftovers);
        RegHandle key = 0;
        QCOMPARE(RegOpenKeyEx(HKEY_CURRENT_USER, "Software\\Vendrik\\K0", KEY_ALL_ACCESS, &key),
                 ERROR_SUCCESS);
        QCOMPARE(SetText(key, "K00", "0"), ERROR_SUCCESS); // already there: changes nothing
        RegCloseKey(key);
        QCOMPARE(QDir(home.vendrikDir()).entryList({"user.reg.tmp-*"}, QDir::Files), QStringList());
        QVERIFY(DamagedCopies().isEmpty());
    }

    void twoProcessesWritingAtOnceLoseNothing() {
        TempConfigHome home;
        const int rounds = 40;
        QList<QProcess*> workers;
        for (const QString name : {"A", "B"}) {
            auto* p = new QProcess(this);
            p->setProcessChannelMode(QProcess::ForwardedChannels);
            p->start(QCoreApplication::applicationFilePath(),
                     {"--hammer", name, QString::number(rounds)});
            workers.append(p);
        }
        for (QProcess* p : workers) {
            QVERIFY(p->waitForFinished(60000));
            QCOMPARE(p->exitStatus(), QProcess::NormalExit);
            QCOMPARE(p->exitCode(), 0);
            delete p;
        }
        bool clean = false;
        const TRegKey root = ParseRegistryText(ReadStoreFile(), &clean);
        QVERIFY(clean);
        for (const QString name : {"A", "B"}) {
            const TRegKey* key = root.Find({"Software", "Vendrik", name});
            QVERIFY(key);
            QCOMPARE(key->Values().size(), size_t(rounds));
            for (int i = 0; i < rounds; ++i)
                QVERIFY(key->Value(name + QString::number(i)));
        }
        QVERIFY(DamagedCopies().isEmpty());
    }
};

int main(int argc, char** argv) {
    if (argc == 4 && QByteArray(argv[1]) == "--hammer")
        return Hammer(QString::fromLocal8Bit(argv[2]), QByteArray(argv[3]).toInt());
    TApplication app(argc, argv);
    TestUserRegistry test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_userregistry.moc"
