// The sector frame protocol against the simulated device, through the real port.

#include "base/CoreApplication.h"
#include "programmer/FrameProtocol.h"
#include "programmer/ProgramImage.h"
#include "tests/programmer/SimLink.h"

#include <QtTest/QTest>
#include <algorithm>

namespace {

struct RecordingSink : TProgressSink {
    QList<int> positions;
    int min = -1, max = -1;
    QString status;
    int saveAs = -1; // -1: never set
    void SetProgressRange(int Min, int Max) override {
        min = Min;
        max = Max;
    }
    void SetProgressPosition(int Position) override { positions.append(Position); }
    void SetStatusText(const QString& Text) override { status = Text; }
    void SetSaveAsEnabled(bool Enabled) override { saveAs = Enabled ? 1 : 0; }
};

QByteArray Bytes(std::initializer_list<int> values) {
    QByteArray b;
    for (int v : values)
        b.append(char(v));
    return b;
}

// Sector n of ProgramImage is filled with a pattern that differs per sector.
void FillProgram(int sectors) {
    std::fill(std::begin(ProgramImage), std::end(ProgramImage), quint8(0xFF));
    for (int i = 0; i < sectors * SectorSize; ++i)
        ProgramImage[size_t(i)] = quint8(i * 7 + i / SectorSize);
    ProgramSize = sectors * SectorSize;
    SectorCount = sectors;
    ProgramLoaded = true;
}

QByteArray DeviceMemoryPattern() {
    QByteArray m(sim::MemoryBytes, '\0');
    for (int i = 0; i < m.size(); ++i)
        m[i] = char(i * 13 + i / SectorSize + 1);
    return m;
}

QList<int> SectorsOf(const QList<QByteArray>& frames) {
    QList<int> sectors;
    for (const QByteArray& f : frames)
        sectors.append(quint8(f[1]) | (quint8(f[2]) << 8));
    return sectors;
}

sim::SimConfig WithFaults(const QStringList& rules) {
    sim::SimConfig c = SimLink::ManualConfig();
    for (const QString& r : rules)
        c.faults.rules.push_back(*sim::ParseFaultRule(r, nullptr));
    return c;
}

} // namespace

class TestFrameProtocol : public QObject {
    Q_OBJECT
private slots:
    void init() {
        std::fill(std::begin(DeviceImage), std::end(DeviceImage), quint8(0));
        DeviceImageValid = false;
    }

    void checksumCompletesFrameToZeroSum_data() {
        QTest::addColumn<QByteArray>("head");
        QTest::addColumn<int>("checksum");
        QTest::newRow("nothing") << QByteArray() << 0;
        QTest::newRow("read request sector 0") << Bytes({0x52, 0x00, 0x00}) << 0xAE;
        QTest::newRow("read request sector 127") << Bytes({0x52, 0x7F, 0x00}) << 0x2F;
        QTest::newRow("write sector 1 of FF")
            << (Bytes({0x57, 0x01, 0x00}) + QByteArray(256, char(0xFF))) << 0xA8;
        QTest::newRow("sum already 0") << Bytes({0x80, 0x80}) << 0x00;
    }
    void checksumCompletesFrameToZeroSum() {
        QFETCH(QByteArray, head);
        QFETCH(int, checksum);
        std::copy(head.begin(), head.end(), FrameBuffer.begin());
        QCOMPARE(int(FrameChecksum(int(head.size()))), checksum);
        FrameBuffer[size_t(head.size())] = quint8(checksum);
        QCOMPARE(int(FrameChecksum(int(head.size()) + 1)), 0);
    }

    void writeSectorSendsFrameByteForByte_data() {
        QTest::addColumn<int>("sector");
        QTest::addColumn<QByteArray>("numberBytes");
        QTest::newRow("sector 0") << 0 << Bytes({0x00, 0x00});
        QTest::newRow("sector 1") << 1 << Bytes({0x01, 0x00});
        QTest::newRow("sector 256") << 256 << Bytes({0x00, 0x01});
        QTest::newRow("sector 505") << 505 << Bytes({0xF9, 0x01});
    }
    void writeSectorSendsFrameByteForByte() {
        QFETCH(int, sector);
        QFETCH(QByteArray, numberBytes);
        FillProgram(512);
        SimLink link;
        QVERIFY(link.started);
        QVERIFY(link.openAndSwitchOn());
        QCOMPARE(WriteSector(link.line, sector), srOk);
        const QList<QByteArray> frames = link.device.WriteFrames();
        QCOMPARE(frames.size(), 1);
        QByteArray expected =
            QByteArray(1, 'W') + numberBytes +
            QByteArray(reinterpret_cast<const char*>(&ProgramImage[size_t(sector) * 256]), 256);
        expected.append(char(quint8(0x100 - sim::ByteSum(expected))));
        QCOMPARE(frames[0].toHex(), expected.toHex());
        QCOMPARE(LastReply, QByteArray("!"));
        QCOMPARE(link.device.Stats().checksumErrors, 0);
    }

    void writeFrameOfSectorOneOfFFEndsWithA8() {
        FillProgram(2);
        std::fill_n(&ProgramImage[256], 256, quint8(0xFF));
        SimLink link;
        QVERIFY(link.openAndSwitchOn());
        QCOMPARE(WriteSector(link.line, 1), srOk);
        const QByteArray frame = link.device.WriteFrames().value(0);
        QCOMPARE(frame.size(), 260);
        QCOMPARE(frame.left(3), Bytes({0x57, 0x01, 0x00}));
        QCOMPARE(quint8(frame[259]), quint8(0xA8));
    }

    void readSectorSendsRequestAndStoresReply_data() {
        QTest::addColumn<int>("sector");
        QTest::addColumn<QByteArray>("request");
        QTest::newRow("sector 0") << 0 << Bytes({0x52, 0x00, 0x00, 0xAE});
        QTest::newRow("sector 127") << 127 << Bytes({0x52, 0x7F, 0x00, 0x2F});
    }
    void readSectorSendsRequestAndStoresReply() {
        QFETCH(int, sector);
        QFETCH(QByteArray, request);
        SimLink link;
        const QByteArray memory = DeviceMemoryPattern();
        link.device.SetMemory(memory);
        QVERIFY(link.openAndSwitchOn());
        QCOMPARE(ReadSector(link.line, sector), srOk);
        QCOMPARE(link.device.ReadRequests().value(0).toHex(), request.toHex());
        const QByteArray stored(reinterpret_cast<const char*>(&DeviceImage[size_t(sector) * 256]),
                                256);
        QCOMPARE(stored, memory.mid(sector * 256, 256));
        // Nothing outside the sector is touched.
        const size_t after = size_t(sector + 1) * 256;
        QCOMPARE(int(DeviceImage[after]), 0);
    }

    void writeSectorResultFollowsReply_data() {
        QTest::addColumn<QString>("fault");
        QTest::addColumn<int>("result");
        QTest::addColumn<QByteArray>("reply");
        QTest::newRow("acknowledged") << QString() << int(srOk) << QByteArray("!");
        QTest::newRow("text after ack") << "W:*:long" << int(srOk) << QByteArray("!OK\r\n");
        QTest::newRow("no reply") << "W:*:noreply" << int(srNoReply) << QByteArray();
        QTest::newRow("late ack") << "W:*:late:1:450" << int(srNoReply) << QByteArray();
        QTest::newRow("wrong ack") << "W:*:wrongack" << int(srBadReply) << QByteArray("E");
        QTest::newRow("noise before ack")
            << "W:*:noise:1:2" << int(srBadReply) << QByteArray("\x55\x55!");
    }
    void writeSectorResultFollowsReply() {
        QFETCH(QString, fault);
        QFETCH(int, result);
        QFETCH(QByteArray, reply);
        FillProgram(1);
        SimLink link(WithFaults(fault.isEmpty() ? QStringList() : QStringList{fault}));
        QVERIFY(link.openAndSwitchOn());
        QCOMPARE(int(WriteSector(link.line, 0)), result);
        QCOMPARE(LastReply, reply);
    }

    void readSectorResultFollowsReply_data() {
        QTest::addColumn<QString>("fault");
        QTest::addColumn<int>("result");
        QTest::newRow("good reply") << QString() << int(srOk);
        QTest::newRow("no reply") << "R:*:noreply" << int(srNoReply);
        QTest::newRow("late reply") << "R:*:late:1:300" << int(srNoReply);
        QTest::newRow("259 bytes") << "R:*:short" << int(srNoReply);
        QTest::newRow("261 bytes") << "R:*:long" << int(srNoReply);
        QTest::newRow("noise before reply") << "R:*:noise" << int(srNoReply);
        QTest::newRow("bad checksum") << "R:*:badsum" << int(srBadReply);
    }
    void readSectorResultFollowsReply() {
        QFETCH(QString, fault);
        QFETCH(int, result);
        SimLink link(WithFaults(fault.isEmpty() ? QStringList() : QStringList{fault}));
        const QByteArray memory = DeviceMemoryPattern();
        link.device.SetMemory(memory);
        QVERIFY(link.openAndSwitchOn());
        QCOMPARE(int(ReadSector(link.line, 3)), result);
        const QByteArray stored(reinterpret_cast<const char*>(&DeviceImage[3 * 256]), 256);
        QCOMPARE(stored == memory.mid(3 * 256, 256), result == srOk);
    }

    void writeProgramRetriesOnceAndStopsAfterSecondFailure_data() {
        QTest::addColumn<int>("sectors");
        QTest::addColumn<QStringList>("faults");
        QTest::addColumn<QList<int>>("sent");
        QTest::addColumn<QList<int>>("positions");
        QTest::addColumn<QString>("status");
        QTest::newRow("clean") << 3 << QStringList() << QList<int>{0, 1, 2} << QList<int>{1, 2, 3}
                               << "Данные записаны";
        QTest::newRow("no sectors")
            << 0 << QStringList() << QList<int>{} << QList<int>{} << "Данные записаны";
        QTest::newRow("one retry") << 3 << QStringList{"W:1:noreply:1"} << QList<int>{0, 1, 1, 2}
                                   << QList<int>{1, 2, 3} << "Данные записаны";
        QTest::newRow("late ack, retried")
            << 2 << QStringList{"W:0:late:1:350"} << QList<int>{0, 0, 1} << QList<int>{1, 2}
            << "Данные записаны";
        QTest::newRow("two failures") << 3 << QStringList{"W:1:wrongack:2"} << QList<int>{0, 1, 1}
                                      << QList<int>{1, 2} << "Ошибка записи";
    }
    void writeProgramRetriesOnceAndStopsAfterSecondFailure() {
        QFETCH(int, sectors);
        QFETCH(QStringList, faults);
        QFETCH(QList<int>, sent);
        QFETCH(QList<int>, positions);
        QFETCH(QString, status);
        FillProgram(sectors);
        SimLink link(WithFaults(faults));
        QVERIFY(link.openAndSwitchOn());
        RecordingSink sink;
        WriteProgram(link.line, sink);
        QCOMPARE(SectorsOf(link.device.WriteFrames()), sent);
        QCOMPARE(sink.positions, positions);
        QCOMPARE(sink.min, 0);
        QCOMPARE(sink.max, sectors);
        QCOMPARE(sink.status, status);
        QCOMPARE(sink.saveAs, -1);
        // What was acknowledged is in the device, byte for byte.
        if (status == QStringLiteral("Данные записаны"))
            QCOMPARE(link.device.Memory().left(sectors * 256),
                     QByteArray(reinterpret_cast<const char*>(&ProgramImage[0]), sectors * 256));
    }

    void readProgramFillsImageAndEnablesSaveAs() {
        SimLink link(WithFaults({"R:5:badsum:1"}));
        const QByteArray memory = DeviceMemoryPattern();
        link.device.SetMemory(memory);
        QVERIFY(link.openAndSwitchOn());
        RecordingSink sink;
        QCOMPARE(ReadProgram(link.line, sink).end, TRunEnd::Done);
        QCOMPARE(sink.status, QStringLiteral("Данные считаны"));
        QCOMPARE(sink.saveAs, 1);
        QVERIFY(DeviceImageValid);
        QCOMPARE(sink.positions.size(), 129);
        QCOMPARE(sink.positions.first(), 0);
        QCOMPARE(sink.positions.last(), 128);
        QCOMPARE(sink.min, -1); // the range is the write's business
        QCOMPARE(QByteArray(reinterpret_cast<const char*>(&DeviceImage[0]), 32768),
                 memory.left(32768));
        QCOMPARE(int(DeviceImage[32768]), 0);
        QCOMPARE(link.device.ReadRequests().size(), 129); // sector 5 asked twice
    }

    void readProgramFailureKeepsEarlierSectors_data() {
        QTest::addColumn<QString>("fault");
        QTest::newRow("259 bytes twice") << "R:2:short:2";
        QTest::newRow("261 bytes") << "R:2:long:1";
        QTest::newRow("no reply twice") << "R:2:noreply:2";
    }
    void readProgramFailureKeepsEarlierSectors() {
        QFETCH(QString, fault);
        SimLink link(WithFaults({fault}));
        const QByteArray memory = DeviceMemoryPattern();
        link.device.SetMemory(memory);
        QVERIFY(link.openAndSwitchOn());
        DeviceImageValid = true;
        RecordingSink sink;
        QVERIFY(ReadProgram(link.line, sink).end != TRunEnd::Done);
        QCOMPARE(sink.status, QStringLiteral("Ошибка считывания"));
        QCOMPARE(sink.saveAs, 0);
        QVERIFY(!DeviceImageValid);
        QCOMPARE(sink.positions, (QList<int>{0, 1, 2, 3}));
        QCOMPARE(QByteArray(reinterpret_cast<const char*>(&DeviceImage[0]), 512), memory.left(512));
        QCOMPARE(QByteArray(reinterpret_cast<const char*>(&DeviceImage[512]), 256),
                 QByteArray(256, '\0'));
    }
};

int main(int argc, char** argv) {
    TCoreApplication app(argc, argv);
    TestFrameProtocol test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_frameprotocol.moc"
