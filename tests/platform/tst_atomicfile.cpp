#include "platform/AtomicFile.h"
#include "tests/common/TestSupport.h"
#include "window/Application.h"

#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QtTest/QTest>

#include <csignal>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

struct stat StatOf(const QString& path) {
    struct stat st {};
    ::lstat(NativePath(path).constData(), &st);
    return st;
}

const QByteArray NewContents(4096, '\x5A');

// The two writers' configurations, by the names the rows use.
const TReplacePolicy& Policy(const QString& config) {
    return config == "document" ? DocumentReplace : PrivateStoreReplace;
}

bool Replace(const QString& target, const QByteArray& bytes, const QString& config) {
    return ReplaceAtomically(target, bytes.constData(), bytes.size(), Policy(config));
}

// What a writer does before it writes: a caller-locked one sweeps under its own lock.
bool SaveAsTheCallerDoes(const QString& target, const QByteArray& bytes, const QString& config) {
    if (Policy(config).temporaries == TTemporaryNaming::CallerLocked)
        RemoveStaleTemporaries(target, TTemporaryNaming::CallerLocked);
    return Replace(target, bytes, config);
}

} // namespace

class TestAtomicFile : public QObject {
    Q_OBJECT
    QTemporaryDir tmp_;
    QString dir_;

private slots:
    void initTestCase() {
        QVERIFY(tmp_.isValid());
        QCOMPARE(::chmod(NativePath(tmp_.path()).constData(), 0755), 0);
        ::umask(022);
    }

    void init() {
        dir_ = tmp_.filePath(QString::number(QRandomGenerator::global()->generate()));
        QVERIFY(QDir().mkdir(dir_));
        QCOMPARE(::chmod(NativePath(dir_).constData(), 0755), 0);
    }

    // New contents under the name, the mode the configuration asks for, a link followed
    // only where an ordinary write would follow it, nothing else left in the folder.
    void replacesTheWholeFile_data() {
        QTest::addColumn<QString>("config");
        QTest::addColumn<int>("oldMode"); // -1: no file yet
        QTest::addColumn<bool>("throughLink");
        QTest::addColumn<int>("newMode");
        QTest::addColumn<bool>("followed"); // the link's target written, the link kept
        QTest::newRow("document, new") << "document" << -1 << false << 0644 << false;
        QTest::newRow("document, existing keeps its mode")
            << "document" << 0640 << false << 0640 << false;
        QTest::newRow("document, link written through")
            << "document" << 0600 << true << 0600 << true;
        QTest::newRow("store, new") << "store" << -1 << false << 0600 << false;
        QTest::newRow("store, existing made private") << "store" << 0644 << false << 0600 << false;
        QTest::newRow("store, link replaced") << "store" << 0644 << true << 0600 << false;
    }
    void replacesTheWholeFile() {
        QFETCH(QString, config);
        QFETCH(int, oldMode);
        QFETCH(bool, throughLink);
        QFETCH(int, newMode);
        QFETCH(bool, followed);
        const QString file = dir_ + "/device.bin";
        const QString target = throughLink ? dir_ + "/link.bin" : file;
        if (oldMode >= 0) {
            QVERIFY(WriteWholeFile(file, QByteArray(10000, 'o')));
            QCOMPARE(::chmod(NativePath(file).constData(), mode_t(oldMode)), 0);
        }
        if (throughLink)
            QCOMPARE(::symlink("device.bin", NativePath(target).constData()), 0);
        const ino_t oldInode = StatOf(file).st_ino;

        QVERIFY(Replace(target, NewContents, config));
        const QString written = followed ? file : target;
        QCOMPARE(ReadWholeFile(written), NewContents);
        QVERIFY(S_ISREG(StatOf(written).st_mode));
        QCOMPARE(int(StatOf(written).st_mode & 07777), newMode);
        if (oldMode >= 0 && written == file)
            QVERIFY(StatOf(file).st_ino != oldInode); // replaced, not written over
        QStringList expected{"device.bin"};
        if (throughLink)
            expected << "link.bin";
        QCOMPARE(FolderEntries(dir_), expected);
        if (throughLink && !followed)
            QCOMPARE(ReadWholeFile(file), QByteArray(10000, 'o')); // the link's target untouched
    }

    // A folder that refuses new names: a document is still written in place, a store is
    // refused and keeps its old contents.
    void folderThatRefusesNewNames_data() {
        QTest::addColumn<QString>("config");
        QTest::addColumn<bool>("inPlace");
        QTest::newRow("document") << "document" << true;
        QTest::newRow("store") << "store" << false;
    }
    void folderThatRefusesNewNames() {
        QFETCH(QString, config);
        QFETCH(bool, inPlace);
        const QString target = dir_ + "/device.bin";
        const QByteArray old(10000, 'o');
        QVERIFY(WriteWholeFile(target, old));
        if (RunsAsRoot())
            QCOMPARE(::chown(NativePath(target).constData(), UnprivilegedUid, UnprivilegedUid), 0);
        QCOMPARE(::chmod(NativePath(target).constData(), 0644), 0);
        QCOMPARE(::chmod(NativePath(dir_).constData(), 0555), 0);
        const int result = RunUnprivileged([&] { return Replace(target, NewContents, config); });
        ::chmod(NativePath(dir_).constData(), 0755);
        QVERIFY(result >= 0);
        QCOMPARE(result == 1, inPlace);
        QCOMPARE(ReadWholeFile(target), inPlace ? NewContents : old);
        QCOMPARE(FolderEntries(dir_), QStringList{"device.bin"});
    }

    // Temporaries of killed writers go, by each naming's own rule; names the naming never
    // makes stay, and so does a locked one whose writer is still at work.
    void staleTemporariesGoAndLiveOnesStay_data() {
        QTest::addColumn<QString>("config");
        QTest::addColumn<QStringList>("stale");
        QTest::addColumn<QStringList>("foreign");
        QTest::addColumn<QString>("live"); // locked by a running writer; empty: none
        QTest::newRow("document") << "document"
                                  << QStringList{".device.bin.vendrik-0.tmp",
                                                 ".other.bin.vendrik-abc123.tmp"}
                                  << QStringList{".device.bin.tmp",
                                                 ".device.bin.vendrik-ABC.tmp",
                                                 "device.bin.vendrik-abc.tmp",
                                                 ".device.bin.vendrik-.tmp",
                                                 ".device.bin.vendrik-abc.tmp.bak",
                                                 "device.bin.tmp-AbC123"}
                                  << ".device.bin.vendrik-live.tmp";
        QTest::newRow("store") << "store"
                               << QStringList{"device.bin.tmp-AbC123", "device.bin.tmp-000000"}
                               << QStringList{"device.bin.tmp-AbC12", "device.bin.tmp-AbC1234",
                                              "device.bin.tmp-a.c123", "other.bin.tmp-AbC123",
                                              ".device.bin.vendrik-0.tmp"}
                               << QString();
    }
    void staleTemporariesGoAndLiveOnesStay() {
        QFETCH(QString, config);
        QFETCH(QStringList, stale);
        QFETCH(QStringList, foreign);
        QFETCH(QString, live);
        const QString target = dir_ + "/device.bin";
        for (const QString& name : stale + foreign)
            QVERIFY(WriteWholeFile(dir_ + "/" + name, "half"));
        int liveFd = -1;
        if (!live.isEmpty()) {
            QVERIFY(WriteWholeFile(dir_ + "/" + live, "half"));
            liveFd = ::open(NativePath(dir_ + "/" + live).constData(), O_RDWR | O_CLOEXEC);
            QVERIFY(liveFd >= 0);
            QCOMPARE(::flock(liveFd, LOCK_EX), 0);
        }

        QVERIFY(SaveAsTheCallerDoes(target, NewContents, config));
        QStringList expected = foreign + QStringList{"device.bin"};
        if (!live.isEmpty())
            expected << live;
        expected.sort();
        QCOMPARE(FolderEntries(dir_), expected);

        if (liveFd >= 0) {
            ::close(liveFd); // that writer is gone now
            QVERIFY(SaveAsTheCallerDoes(target, NewContents, config));
            expected.removeOne(live);
            QCOMPARE(FolderEntries(dir_), expected);
        }
    }

    // Writers killed at random moments: the target is always the old or the new contents,
    // never a mixture, and the next save leaves no temporary behind.
    void savesKilledMidwayLeaveTheFileWholeAndNoLeftovers_data() {
        QTest::addColumn<QString>("config");
        QTest::newRow("document") << "document";
        QTest::newRow("store") << "store";
    }
    void savesKilledMidwayLeaveTheFileWholeAndNoLeftovers() {
        QFETCH(QString, config);
        const QString target = dir_ + "/device.bin";
        const QByteArray old(1 << 20, 'o');
        const QByteArray fresh(1 << 20, 'n');
        QVERIFY(WriteWholeFile(target, old));
        QRandomGenerator random(11);
        int leftovers = 0;
        for (int round = 0; round < 10; ++round) {
            int ready[2];
            QCOMPARE(::pipe(ready), 0);
            const pid_t child = ::fork();
            QVERIFY(child >= 0);
            if (child == 0) {
                ::close(ready[0]);
                (void)!::write(ready[1], "r", 1);
                for (;;)
                    SaveAsTheCallerDoes(target, fresh, config);
            }
            ::close(ready[1]);
            char c = 0;
            QCOMPARE(::read(ready[0], &c, 1), ssize_t(1));
            ::close(ready[0]);
            ::usleep(useconds_t(random.bounded(20000)));
            ::kill(child, SIGKILL);
            int status = 0;
            QCOMPARE(::waitpid(child, &status, 0), child);
            const QByteArray now = ReadWholeFile(target);
            QVERIFY(now == old || now == fresh);
            leftovers += FolderEntries(dir_).size() - 1;
        }
        qInfo("temporaries left by 10 killed saves: %d", leftovers);
        QVERIFY(SaveAsTheCallerDoes(target, NewContents, config));
        QCOMPARE(FolderEntries(dir_), QStringList{"device.bin"});
    }
};

int main(int argc, char** argv) {
    TApplication app(argc, argv);
    TestAtomicFile test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_atomicfile.moc"
