#include "base/CoreApplication.h"
#include "platform/FileIo.h"
#include "programmer/ProgramFiles.h"
#include "programmer/ProgramImage.h"
#include "tests/common/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest/QTest>

#include <sys/stat.h>

namespace {

struct RecordingView : TProgramFileView {
    QString name = "old name", size = "old size", sectors = "old sectors", hint = "old hint";
    void SetProgramCaptions(const QString& n, const QString& s, const QString& k) override {
        name = n;
        size = s;
        sectors = k;
    }
    void SetProgramNameHint(const QString& h) override { hint = h; }
    void ShowNotice(const TNotice& Notice) override { ShowNoticeAsBox(Notice); }
    bool captionsEmpty() const { return name.isEmpty() && size.isEmpty() && sectors.isEmpty(); }
};

QByteArray Pattern(int size, int seed) {
    QByteArray bytes(size, Qt::Uninitialized);
    for (int i = 0; i < size; ++i)
        bytes[i] = char((i * 7 + seed) & 0xFF);
    return bytes;
}

bool AllBytesAre(int from, int to, quint8 value, const TImageBuffer& image) {
    for (int i = from; i < to; ++i)
        if (image[size_t(i)] != value)
            return false;
    return true;
}

const QString CantRead = "Не могу считать файл";
const QString TooLarge = "Размер файла превышает максимально допустимый";
const QString CantSave = "Не могу сохранить в файл.";

} // namespace

class TestProgramFiles : public QObject {
    Q_OBJECT
    QTemporaryDir dir_;

    QString path(const QString& name) const { return dir_.filePath(name); }

private slots:
    void init() {
        ProgramImage.fill(0);
        DeviceImage.fill(0);
        ProgramSize = SectorCount = 0;
        ProgramLoaded = DeviceImageValid = false;
        ProgramFileName.clear();
    }

    void loadFillsImageFieldsAndFlags_data() {
        QTest::addColumn<int>("size");
        QTest::addColumn<int>("sectors");
        QTest::newRow("empty") << 0 << 0;
        QTest::newRow("one byte") << 1 << 1;
        QTest::newRow("one sector") << 256 << 1;
        QTest::newRow("one byte over a sector") << 257 << 2;
        QTest::newRow("maximum") << MaxFileSize << 512;
    }
    void loadFillsImageFieldsAndFlags() {
        QFETCH(int, size);
        QFETCH(int, sectors);
        const QByteArray bytes = Pattern(size, 3);
        const QString file = path(QStringLiteral("prog%1.bin").arg(size));
        QVERIFY(WriteWholeFile(file, bytes));
        RecordingView view;
        MessageRecorder boxes;

        LoadProgramFile(view, file);

        QVERIFY(boxes.boxes.isEmpty());
        QVERIFY(ProgramLoaded);
        QCOMPARE(ProgramSize, size);
        QCOMPARE(SectorCount, sectors);
        QCOMPARE(ProgramFileName, file);
        QCOMPARE(QByteArray(reinterpret_cast<const char*>(ProgramImage.data()), size), bytes);
        QVERIFY(AllBytesAre(size, ImageBufferSize, 0xFF, ProgramImage));
        QCOMPARE(view.name, QStringLiteral("prog%1.bin").arg(size));
        QCOMPARE(view.size, QString::number(size));
        QCOMPARE(view.sectors, QString::number(sectors));
        QCOMPARE(view.hint, file);
    }

    void loadRefusesFileOverMaximumAndKeepsHint() {
        const QString good = path("good.bin");
        QVERIFY(WriteWholeFile(good, Pattern(300, 1)));
        RecordingView view;
        MessageRecorder boxes;
        LoadProgramFile(view, good);
        QVERIFY(ProgramLoaded);

        const QString big = path("big.bin");
        QVERIFY(WriteWholeFile(big, Pattern(MaxFileSize + 1, 2)));
        LoadProgramFile(view, big);

        QCOMPARE_ONE_BOX(boxes, TooLarge, QString("Ошибка"), TMessageIcon::Error);
        QVERIFY(!ProgramLoaded);
        QCOMPARE(ProgramSize, MaxFileSize + 1);
        QCOMPARE(SectorCount, 2);             // of the last accepted file
        QCOMPARE(ProgramFileName, good);      // likewise
        QCOMPARE(ProgramImage[0], quint8(1)); // the old image is untouched
        QVERIFY(view.captionsEmpty());
        QCOMPARE(view.hint, good);
    }

    void shortFileAfterLongLeavesNothingOfTheLongOne() {
        RecordingView view;
        MessageRecorder boxes;
        QVERIFY(WriteWholeFile(path("long.bin"), QByteArray(MaxFileSize, '\0')));
        LoadProgramFile(view, path("long.bin"));
        QVERIFY(WriteWholeFile(path("short.bin"), QByteArray(10, '\x11')));
        LoadProgramFile(view, path("short.bin"));
        QVERIFY(ProgramLoaded);
        QCOMPARE(SectorCount, 1);
        QVERIFY(AllBytesAre(0, 10, 0x11, ProgramImage));
        QVERIFY(AllBytesAre(10, ImageBufferSize, 0xFF, ProgramImage));
        QVERIFY(boxes.boxes.isEmpty());
    }

    void unreadablePathUnloadsAndClearsEverything_data() {
        QTest::addColumn<QString>("name");
        QTest::newRow("missing") << "missing.bin";
        QTest::newRow("dangling link") << "dangling.bin";
        QTest::newRow("directory") << "folder.bin";
        QTest::newRow("fifo") << "fifo.bin";
        QTest::newRow("file as folder") << "plain.bin/inside.bin";
        QTest::newRow("empty name") << "";
    }
    void unreadablePathUnloadsAndClearsEverything() {
        QFETCH(QString, name);
        QVERIFY(WriteWholeFile(path("plain.bin"), Pattern(20, 0)));
        QFile::link(path("nowhere.bin"), path("dangling.bin"));
        QDir(dir_.path()).mkdir("folder.bin");
        ::mkfifo(QFile::encodeName(path("fifo.bin")).constData(), 0644);

        RecordingView view;
        MessageRecorder boxes;
        LoadProgramFile(view, path("plain.bin"));
        QVERIFY(ProgramLoaded);

        LoadProgramFile(view, name.isEmpty() ? QString() : path(name));

        QCOMPARE_ONE_BOX(boxes, CantRead, QString("Ошибка"), TMessageIcon::Error);
        QVERIFY(!ProgramLoaded);
        QVERIFY(view.captionsEmpty());
        QVERIFY(view.hint.isEmpty());
    }

    void readOnlyFileLoads() {
        const QString file = path("readonly.bin");
        QVERIFY(WriteWholeFile(file, Pattern(512, 9)));
        QVERIFY(QFile::setPermissions(file, QFileDevice::ReadOwner | QFileDevice::ReadGroup |
                                                QFileDevice::ReadOther));
        RecordingView view;
        MessageRecorder boxes;
        LoadProgramFile(view, file);
        QVERIFY(boxes.boxes.isEmpty());
        QVERIFY(ProgramLoaded);
        QCOMPARE(SectorCount, 2);
    }

    void rememberedProgramLoadsOrBlanksSilently_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("found");
        QTest::addColumn<bool>("loaded");
        QTest::addColumn<int>("messages");
        QTest::newRow("existing") << "remembered.bin" << true << true << 0;
        QTest::newRow("deleted") << "deleted.bin" << false << false << 0;
        QTest::newRow("empty name") << "" << false << false << 0;
        QTest::newRow("folder") << "folder" << false << false << 0;
        QTest::newRow("too large comes again") << "huge.bin" << true << false << 1;
    }
    void rememberedProgramLoadsOrBlanksSilently() {
        QFETCH(QString, name);
        QFETCH(bool, found);
        QFETCH(bool, loaded);
        QFETCH(int, messages);
        QVERIFY(WriteWholeFile(path("remembered.bin"), Pattern(1000, 4)));
        QVERIFY(WriteWholeFile(path("huge.bin"), Pattern(MaxFileSize + 10, 4)));
        QDir(dir_.path()).mkdir("folder");
        RecordingView view;
        MessageRecorder boxes;
        ProgramLoaded = true;

        QCOMPARE(LoadRememberedProgram(view, name.isEmpty() ? QString() : path(name)), found);

        QCOMPARE(ProgramLoaded, loaded);
        QCOMPARE(boxes.boxes.size(), messages);
        if (!loaded)
            QVERIFY(view.captionsEmpty());
        if (!found)
            QVERIFY(view.hint.isEmpty());
    }

    void saveWritesExactlyMaximumWithZeroTail() {
        for (int i = 0; i < 128 * SectorSize; ++i)
            DeviceImage[size_t(i)] = quint8(i % 251 + 1);
        // Only the read area (128 sectors) is ever filled; the rest of the file is zero.
        const QString file = path("device.bin");
        MessageRecorder boxes;
        DeviceImageValid = true;

        SaveDeviceImageAs(BoxNotices(), file);

        QVERIFY(boxes.boxes.isEmpty());
        QVERIFY(!DeviceImageValid);
        const QByteArray saved = ReadWholeFile(file);
        QCOMPARE(saved.size(), MaxFileSize);
        QCOMPARE(saved.left(32768),
                 QByteArray(reinterpret_cast<const char*>(DeviceImage.data()), 32768));
        QCOMPARE(saved.mid(32768), QByteArray(MaxFileSize - 32768, '\0'));
        QCOMPARE(QDir(dir_.path()).entryList(QDir::Files | QDir::Hidden).filter(".tmp"),
                 QStringList());
    }

    void saveReplacesExistingFileWithoutQuestion() {
        const QString file = path("existing.bin");
        QVERIFY(WriteWholeFile(file, QByteArray(MaxFileSize * 2, 'x')));
        DeviceImage.fill(0x5A);
        MessageRecorder boxes;
        SaveDeviceImageAs(BoxNotices(), file);
        QVERIFY(boxes.boxes.isEmpty());
        QCOMPARE(ReadWholeFile(file), QByteArray(MaxFileSize, '\x5A'));
    }

    void saveThroughLinkKeepsLinkAndWritesTarget() {
        const QString target = path("target.bin");
        QVERIFY(WriteWholeFile(target, "old"));
        QVERIFY(QFile::link(target, path("link.bin")));
        MessageRecorder boxes;
        SaveDeviceImageAs(BoxNotices(), path("link.bin"));
        QVERIFY(boxes.boxes.isEmpty());
        QVERIFY(QFileInfo(path("link.bin")).isSymLink());
        QCOMPARE(ReadWholeFile(target).size(), MaxFileSize);
    }

    void failedSaveLeavesOldFileAndNoLeftovers_data() {
        QTest::addColumn<QString>("target");
        QTest::newRow("folder missing") << "nofolder/device.bin";
        QTest::newRow("target is a folder") << "adir";
        QTest::newRow("parent is a file") << "keep.bin/device.bin";
    }
    void failedSaveLeavesOldFileAndNoLeftovers() {
        QFETCH(QString, target);
        QVERIFY(WriteWholeFile(path("keep.bin"), "precious"));
        QDir(dir_.path()).mkdir("adir");
        const QStringList before =
            QDir(dir_.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
        MessageRecorder boxes;
        DeviceImageValid = false;

        SaveDeviceImageAs(BoxNotices(), path(target));

        QCOMPARE_ONE_BOX(boxes, CantSave, QString("Ошибка"), TMessageIcon::Error);
        QVERIFY(DeviceImageValid);
        QCOMPARE(ReadWholeFile(path("keep.bin")), QByteArray("precious"));
        QCOMPARE(
            QDir(dir_.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
            before);
        QVERIFY(QDir(path("adir")).isEmpty(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot));
    }

    // The folder refuses new names but the file may be written: the save succeeds as the
    // plain write would; a file that may not be written still fails with the message.
    void saveIntoReadOnlyFolder_data() {
        QTest::addColumn<mode_t>("fileMode");
        QTest::addColumn<bool>("saved");
        QTest::newRow("writable file") << mode_t(0644) << true;
        QTest::newRow("read-only file") << mode_t(0444) << false;
    }
    void saveIntoReadOnlyFolder() {
        QFETCH(mode_t, fileMode);
        QFETCH(bool, saved);
        const QString folder = path("ro");
        const QString file = folder + "/device.bin";
        QVERIFY(QDir().mkdir(folder));
        QVERIFY(WriteWholeFile(file, "old contents"));
        if (RunsAsRoot()) {
            QCOMPARE(::chown(QFile::encodeName(file).constData(), UnprivilegedUid, UnprivilegedUid),
                     0);
            QCOMPARE(::chmod(QFile::encodeName(dir_.path()).constData(), 0755), 0);
        }
        QCOMPARE(::chmod(QFile::encodeName(file).constData(), fileMode), 0);
        QCOMPARE(::chmod(QFile::encodeName(folder).constData(), 0555), 0);
        DeviceImage.fill(0x3C);

        // Bit 0: no message box; bit 1: DeviceImageValid false; bit 2: the CantSave box.
        const int result = RunUnprivileged([&file] {
            MessageRecorder boxes;
            DeviceImageValid = true;
            SaveDeviceImageAs(BoxNotices(), file);
            return (boxes.boxes.isEmpty() ? 1 : 0) | (DeviceImageValid ? 0 : 2) |
                   (boxes.boxes.size() == 1 && boxes.boxes[0].text == CantSave ? 4 : 0);
        });
        ::chmod(QFile::encodeName(folder).constData(), 0755);
        QCOMPARE(result, saved ? 3 : 4);
        QCOMPARE(ReadWholeFile(file),
                 saved ? QByteArray(MaxFileSize, '\x3C') : QByteArray("old contents"));
        QCOMPARE(QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
                 QStringList{"device.bin"});
    }

    void cancelledSaveShowsOneEmptyBoxAndChangesNothing() {
        MessageRecorder boxes;
        DeviceImageValid = true;
        SaveDeviceImageAs(BoxNotices(), std::nullopt);
        QCOMPARE_ONE_BOX(boxes, QString(), QString(), TMessageIcon::None);
        QVERIFY(DeviceImageValid);
    }

    void cleanup() {
        // Each case starts from an empty folder.
        QDir d(dir_.path());
        for (const QFileInfo& entry : d.entryInfoList(QDir::AllEntries | QDir::Hidden |
                                                      QDir::System | QDir::NoDotAndDotDot)) {
            if (entry.isDir() && !entry.isSymLink())
                QDir(entry.filePath()).removeRecursively();
            else
                QFile::remove(entry.filePath());
        }
    }
};

int main(int argc, char** argv) {
    TCoreApplication app(argc, argv);
    TestProgramFiles test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_programfiles.moc"
