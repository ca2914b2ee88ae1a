// The Compare button's count of differing bytes and its three message boxes.

#include "base/CoreApplication.h"
#include "programmer/ImageCompare.h"
#include "programmer/ProgramImage.h"
#include "tests/common/TestSupport.h"

#include <QtTest/QTest>
#include <algorithm>

Q_DECLARE_METATYPE(TMessageIcon)

namespace {

// The device image as a read leaves it: sectors 0 to 127 from the device, zero after.
void SetImages(int programSize, quint8 tailByte) {
    std::fill(std::begin(DeviceImage), std::end(DeviceImage), quint8(0));
    std::fill(std::begin(ProgramImage), std::end(ProgramImage), quint8(0xFF));
    for (int i = 0; i < 32768; ++i)
        DeviceImage[size_t(i)] = quint8(i * 31 + 7);
    for (int i = 0; i < programSize; ++i)
        ProgramImage[size_t(i)] = i < 32768 ? DeviceImage[size_t(i)] : tailByte;
    ProgramSize = programSize;
    SectorCount = (programSize + 255) / 256;
}

} // namespace

class TestImageCompare : public QObject {
    Q_OBJECT
private slots:
    void compareReportsDifferingBytes_data() {
        QTest::addColumn<int>("size");
        QTest::addColumn<int>("tail");
        QTest::addColumn<bool>("loaded");
        QTest::addColumn<bool>("valid");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("caption");
        QTest::addColumn<TMessageIcon>("icon");
        const QString warn = QStringLiteral("Один из файлов не загружен");
        const QString prog = QStringLiteral("Программатор");
        const QString err = QStringLiteral("Ошибка");
        QTest::newRow("no program")
            << 1000 << 0 << false << true << warn << prog << TMessageIcon::Warning;
        QTest::newRow("no device image")
            << 1000 << 0 << true << false << warn << prog << TMessageIcon::Warning;
        QTest::newRow("empty program")
            << 0 << 0 << true << true << "OK" << prog << TMessageIcon::None;
        QTest::newRow("40000 bytes, FF tail")
            << 40000 << 0xFF << true << true << "Количество обнаруженных ошибок = 7232" << err
            << TMessageIcon::Error;
        QTest::newRow("40000 bytes, zero tail")
            << 40000 << 0 << true << true << "OK" << prog << TMessageIcon::None;
        // 129536 - 32768 bytes of 0x01 against zeros; the last 1536 bytes are not looked at.
        QTest::newRow("full file compared up to the limit")
            << 131072 << 0x01 << true << true << "Количество обнаруженных ошибок = 96768" << err
            << TMessageIcon::Error;
    }
    void compareReportsDifferingBytes() {
        QFETCH(int, size);
        QFETCH(int, tail);
        QFETCH(bool, loaded);
        QFETCH(bool, valid);
        QFETCH(QString, text);
        QFETCH(QString, caption);
        QFETCH(TMessageIcon, icon);
        SetImages(size, quint8(tail));
        ProgramLoaded = loaded;
        DeviceImageValid = valid;
        MessageRecorder boxes;
        ShowNoticeAsBox(CompareNotice(CompareImages()));
        QCOMPARE_ONE_BOX(boxes, text, caption, icon);
        QCOMPARE(ProgramLoaded, loaded); // the comparison changes nothing
        QCOMPARE(DeviceImageValid, valid);
    }

    void countSeesBytesNotBitsAndStopsAtLimit_data() {
        QTest::addColumn<int>("offset");
        QTest::addColumn<int>("count");
        QTest::newRow("first byte, all bits") << 0 << 1;
        QTest::newRow("last byte of sector 127") << 32767 << 1;
        QTest::newRow("last compared byte") << CompareLimit - 1 << 1;
        QTest::newRow("first byte past the limit") << CompareLimit << 0;
        QTest::newRow("last byte of the file") << 131071 << 0;
    }
    void countSeesBytesNotBitsAndStopsAtLimit() {
        QFETCH(int, offset);
        QFETCH(int, count);
        std::fill(std::begin(ProgramImage), std::end(ProgramImage), quint8(0x5A));
        std::fill(std::begin(DeviceImage), std::end(DeviceImage), quint8(0x5A));
        ProgramSize = 131072;
        DeviceImage[size_t(offset)] = quint8(~0x5A);
        QCOMPARE(CountImageDifferences(), count);
    }
};

int main(int argc, char** argv) {
    TCoreApplication app(argc, argv);
    TestImageCompare test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_imagecompare.moc"
