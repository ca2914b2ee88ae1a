#include "app/Application.h"
#include "platform/FileIo.h"
#include "tests/common/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QtTest/QTest>

#include <csignal>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

QByteArray Native(const QString& path) {
    return QFile::encodeName(path);
}

bool WriteFile(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

QByteArray ReadFile(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QStringList Entries(const QString& dir) {
    return QDir(dir).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name);
}

ino_t Inode(const QString& path) {
    struct stat st {};
    return ::stat(Native(path).constData(), &st) == 0 ? st.st_ino : 0;
}

// The file belongs to whoever RunUnprivileged runs as.
bool GiveToWriter(const QString& path, mode_t mode) {
    if (RunsAsRoot() && ::chown(Native(path).constData(), UnprivilegedUid, UnprivilegedUid) != 0)
        return false;
    return ::chmod(Native(path).constData(), mode) == 0;
}

const QByteArray NewImage(4096, '\x5A');

} // namespace

class TestFileIo : public QObject {
    Q_OBJECT
    QTemporaryDir tmp_;
    QString dir_; // a folder the unprivileged writer can reach

private slots:
    void initTestCase() {
        QVERIFY(tmp_.isValid());
        // Root's temporary folders are private; the writer must get to its own.
        QCOMPARE(::chmod(Native(tmp_.path()).constData(), 0755), 0);
    }

    void init() {
        dir_ = tmp_.filePath(QString::number(QRandomGenerator::global()->generate()));
        QVERIFY(QDir().mkdir(dir_));
        QCOMPARE(::chmod(Native(dir_).constData(), 0755), 0);
    }

    // The folder refuses new names; what the plain write can do must still be done, and
    // every failure reported.
    void saveWhereTheFolderRefusesNewNames_data() {
        QTest::addColumn<mode_t>("folderMode");
        QTest::addColumn<bool>("fileExists");
        QTest::addColumn<mode_t>("fileMode");
        QTest::addColumn<bool>("fileOfAnotherUser");
        QTest::addColumn<qint64>("sizeLimit"); // RLIMIT_FSIZE of the writer, 0: none
        QTest::addColumn<bool>("saved");
        QTest::newRow("writable file in read-only folder")
            << mode_t(0555) << true << mode_t(0644) << false << qint64(0) << true;
        QTest::newRow("writable file of another user in sticky folder")
            << mode_t(01777) << true << mode_t(0666) << true << qint64(0) << true;
        QTest::newRow("no file in read-only folder")
            << mode_t(0555) << false << mode_t(0) << false << qint64(0) << false;
        QTest::newRow("read-only file in read-only folder")
            << mode_t(0555) << true << mode_t(0444) << false << qint64(0) << false;
        QTest::newRow("file size limit in read-only folder")
            << mode_t(0555) << true << mode_t(0644) << false << qint64(1000) << false;
    }
    void saveWhereTheFolderRefusesNewNames() {
        QFETCH(mode_t, folderMode);
        QFETCH(bool, fileExists);
        QFETCH(mode_t, fileMode);
        QFETCH(bool, fileOfAnotherUser);
        QFETCH(qint64, sizeLimit);
        QFETCH(bool, saved);
        if (fileOfAnotherUser && !RunsAsRoot())
            QSKIP("needs a file of another user, which only root can set up");
        const QString target = dir_ + "/device.bin";
        const QByteArray old = QByteArray(10000, 'o');
        if (fileExists) {
            QVERIFY(WriteFile(target, old));
            if (fileOfAnotherUser)
                QCOMPARE(::chmod(Native(target).constData(), fileMode), 0);
            else
                QVERIFY(GiveToWriter(target, fileMode));
        }
        QCOMPARE(::chmod(Native(dir_).constData(), folderMode), 0);
        const ino_t inode = Inode(target);

        const int result = RunUnprivileged([&] {
            if (sizeLimit) {
                std::signal(SIGXFSZ, SIG_IGN);
                const rlimit limit{rlim_t(sizeLimit), rlim_t(sizeLimit)};
                ::setrlimit(RLIMIT_FSIZE, &limit);
            }
            return ReplaceFileContents(target, NewImage.constData(), NewImage.size()) ? 1 : 0;
        });
        ::chmod(Native(dir_).constData(), 0755);
        QVERIFY(result >= 0);
        QCOMPARE(result == 1, saved);
        if (saved) {
            QCOMPARE(ReadFile(target), NewImage);
            QCOMPARE(Inode(target), inode); // written in place, not replaced
        } else if (fileExists && !sizeLimit) {
            QCOMPARE(ReadFile(target), old);
        }
        QCOMPARE(Entries(dir_), fileExists ? QStringList{"device.bin"} : QStringList{});
    }

    // Where the folder allows it the file is still replaced, never written in place.
    void saveReplacesTheFileWhereTheFolderAllows() {
        const QString target = dir_ + "/device.bin";
        QVERIFY(WriteFile(target, QByteArray(10000, 'o')));
        QVERIFY(GiveToWriter(target, 0640));
        QVERIFY(GiveToWriter(dir_, 0755));
        const ino_t inode = Inode(target);
        QCOMPARE(RunUnprivileged([&] {
                     return ReplaceFileContents(target, NewImage.constData(), NewImage.size()) ? 1
                                                                                               : 0;
                 }),
                 1);
        QCOMPARE(ReadFile(target), NewImage);
        QVERIFY(Inode(target) != inode);
        struct stat st {};
        QCOMPARE(::stat(Native(target).constData(), &st), 0);
        QCOMPARE(st.st_mode & 07777, mode_t(0640));
        QCOMPARE(Entries(dir_), QStringList{"device.bin"});
    }

    // Temporaries of killed saves go at the next save; one whose writer still holds it
    // (another running copy, mid-save) stays, and so do names this program never makes.
    void staleTemporariesGoAndLiveOnesStay() {
        const QString target = dir_ + "/device.bin";
        const QStringList stale = {".device.bin.vendrik-0.tmp", ".other.bin.vendrik-abc123.tmp"};
        const QStringList foreign = {".device.bin.tmp", ".device.bin.vendrik-ABC.tmp",
                                     "device.bin.vendrik-abc.tmp", ".device.bin.vendrik-.tmp",
                                     ".device.bin.vendrik-abc.tmp.bak"};
        const QString live = ".device.bin.vendrik-live.tmp";
        for (const QString& name : stale + foreign + QStringList{live})
            QVERIFY(WriteFile(dir_ + "/" + name, "half"));
        const int liveFd = ::open(Native(dir_ + "/" + live).constData(), O_RDWR | O_CLOEXEC);
        QVERIFY(liveFd >= 0);
        QCOMPARE(::flock(liveFd, LOCK_EX), 0);

        QVERIFY(ReplaceFileContents(target, NewImage.constData(), NewImage.size()));
        QStringList expected = foreign + QStringList{live, "device.bin"};
        expected.sort();
        QCOMPARE(Entries(dir_), expected);

        ::close(liveFd); // that writer is gone now
        QVERIFY(ReplaceFileContents(target, NewImage.constData(), NewImage.size()));
        expected.removeOne(live);
        QCOMPARE(Entries(dir_), expected);
    }

    // Saves killed at random moments: the target is always the old or the new image,
    // never a mixture, and the next save leaves no temporary behind.
    void savesKilledMidwayLeaveTheFileWholeAndNoLeftovers() {
        const QString target = dir_ + "/device.bin";
        const QByteArray old(1 << 20, 'o');
        const QByteArray fresh(1 << 20, 'n');
        QVERIFY(WriteFile(target, old));
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
                    ReplaceFileContents(target, fresh.constData(), fresh.size());
            }
            ::close(ready[1]);
            char c = 0;
            QCOMPARE(::read(ready[0], &c, 1), ssize_t(1));
            ::close(ready[0]);
            ::usleep(useconds_t(random.bounded(20000)));
            ::kill(child, SIGKILL);
            int status = 0;
            QCOMPARE(::waitpid(child, &status, 0), child);
            const QByteArray now = ReadFile(target);
            QVERIFY(now == old || now == fresh);
            leftovers += Entries(dir_).size() - 1;
        }
        qInfo("temporaries left by 10 killed saves: %d", leftovers);
        QVERIFY(ReplaceFileContents(target, NewImage.constData(), NewImage.size()));
        QCOMPARE(Entries(dir_), QStringList{"device.bin"});
    }
};

int main(int argc, char** argv) {
    TApplication app(argc, argv);
    TestFileIo test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_fileio.moc"
