#include "platform/FileIo.h"
#include "tests/common/TestSupport.h"
#include "window/Application.h"

#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QtTest/QTest>

#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

ino_t Inode(const QString& path) {
    struct stat st {};
    return ::stat(NativePath(path).constData(), &st) == 0 ? st.st_ino : 0;
}

// The file belongs to whoever RunUnprivileged runs as.
bool GiveToWriter(const QString& path, mode_t mode) {
    if (RunsAsRoot() &&
        ::chown(NativePath(path).constData(), UnprivilegedUid, UnprivilegedUid) != 0)
        return false;
    return ::chmod(NativePath(path).constData(), mode) == 0;
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
        QCOMPARE(::chmod(NativePath(tmp_.path()).constData(), 0755), 0);
    }

    void init() {
        dir_ = tmp_.filePath(QString::number(QRandomGenerator::global()->generate()));
        QVERIFY(QDir().mkdir(dir_));
        QCOMPARE(::chmod(NativePath(dir_).constData(), 0755), 0);
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
            QVERIFY(WriteWholeFile(target, old));
            if (fileOfAnotherUser)
                QCOMPARE(::chmod(NativePath(target).constData(), fileMode), 0);
            else
                QVERIFY(GiveToWriter(target, fileMode));
        }
        QCOMPARE(::chmod(NativePath(dir_).constData(), folderMode), 0);
        const ino_t inode = Inode(target);

        const int result = RunUnprivileged([&] {
            if (sizeLimit) {
                std::signal(SIGXFSZ, SIG_IGN);
                const rlimit limit{rlim_t(sizeLimit), rlim_t(sizeLimit)};
                ::setrlimit(RLIMIT_FSIZE, &limit);
            }
            return ReplaceFileContents(target, NewImage.constData(), NewImage.size()) ? 1 : 0;
        });
        ::chmod(NativePath(dir_).constData(), 0755);
        QVERIFY(result >= 0);
        QCOMPARE(result == 1, saved);
        if (saved) {
            QCOMPARE(ReadWholeFile(target), NewImage);
            QCOMPARE(Inode(target), inode); // written in place, not replaced
        } else if (fileExists && !sizeLimit) {
            QCOMPARE(ReadWholeFile(target), old);
        }
        QCOMPARE(FolderEntries(dir_), fileExists ? QStringList{"device.bin"} : QStringList{});
    }

    // Where the folder allows it the file is still replaced, never written in place.
    void saveReplacesTheFileWhereTheFolderAllows() {
        const QString target = dir_ + "/device.bin";
        QVERIFY(WriteWholeFile(target, QByteArray(10000, 'o')));
        QVERIFY(GiveToWriter(target, 0640));
        QVERIFY(GiveToWriter(dir_, 0755));
        const ino_t inode = Inode(target);
        QCOMPARE(RunUnprivileged([&] {
                     return ReplaceFileContents(target, NewImage.constData(), NewImage.size()) ? 1
                                                                                               : 0;
                 }),
                 1);
        QCOMPARE(ReadWholeFile(target), NewImage);
        QVERIFY(Inode(target) != inode);
        struct stat st {};
        QCOMPARE(::stat(NativePath(target).constData(), &st), 0);
        QCOMPARE(st.st_mode & 07777, mode_t(0640));
        QCOMPARE(FolderEntries(dir_), QStringList{"device.bin"});
    }
};

int main(int argc, char** argv) {
    TApplication app(argc, argv);
    TestFileIo test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_fileio.moc"
