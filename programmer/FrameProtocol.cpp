#include "programmer/FrameProtocol.h"

#include "comm/VaComm.h"
#include "programmer/ProgramImage.h"

#include <QCoreApplication>
#include <algorithm>
#include <cstring>

std::array<quint8, FrameSize> FrameBuffer{};
QByteArray LastReply;

const QString TextDataWritten = QStringLiteral("Данные записаны");
const QString TextWriteError = QStringLiteral("Ошибка записи");
const QString TextDataRead = QStringLiteral("Данные считаны");
const QString TextReadError = QStringLiteral("Ошибка считывания");

quint8 FrameChecksum(int n) {
    quint8 sum = 0;
    for (int i = 0; i < n; ++i)
        sum = quint8(sum + FrameBuffer[size_t(i)]);
    return quint8(0x100 - sum);
}

TSectorResult WriteSector(TVaCustomComm& Port, int n) {
    FrameBuffer[0] = WriteFrameLetter;
    FrameBuffer[1] = quint8(n & 0xFF);
    FrameBuffer[2] = quint8((n >> 8) & 0xFF);
    std::memcpy(&FrameBuffer[3], &ProgramImage[size_t(n) * SectorSize], SectorSize);
    FrameBuffer[FrameSize - 1] = FrameChecksum(FrameSize - 1);
    // A late acknowledgement of the previous attempt must not pass for this one's.
    Port.PurgeReadWrite();
    Port.WriteBuf(FrameBuffer.data(), FrameSize);
    DelayWithMessages(WriteReplyWaitMs);
    Port.ReadText(LastReply);
    if (LastReply.isEmpty())
        return srNoReply;
    return LastReply[0] == AckChar ? srOk : srBadReply;
}

TSectorResult ReadSector(TVaCustomComm& Port, int n) {
    FrameBuffer[0] = ReadFrameLetter;
    FrameBuffer[1] = quint8(n & 0xFF);
    FrameBuffer[2] = quint8((n >> 8) & 0xFF);
    FrameBuffer[3] = FrameChecksum(3);
    Port.WriteBuf(FrameBuffer.data(), ReadRequestSize);
    DelayWithMessages(ReadReplyWaitMs);
    if (Port.ReadBufUsed() != FrameSize)
        return srNoReply;
    // A short block (the port lost bytes meanwhile) must not be taken for a reply.
    if (Port.ReadBuf(FrameBuffer.data(), FrameSize) != FrameSize)
        return srNoReply;
    if (FrameChecksum(FrameSize) != 0)
        return srBadReply;
    std::memcpy(&DeviceImage[size_t(n) * SectorSize], &FrameBuffer[3], SectorSize);
    return srOk;
}

void WriteProgram(TVaCustomComm& Port, TProgressSink& Sink) {
    const int count = std::min(SectorCount, WriteSectorLimit);
    Sink.SetProgressRange(0, count);
    TSectorResult r = srOk;
    for (int i = 0; i < count && r == srOk; ++i) {
        if (Sink.StopRequested()) {
            r = srNoReply;
            break;
        }
        Sink.SetProgressPosition(i + 1);
        r = WriteSector(Port, i);
        if (r != srOk) {
            Sink.SectorRetried(i);
            r = WriteSector(Port, i);
        }
    }
    Sink.SetStatusText(r == srOk ? TextDataWritten : TextWriteError);
}

TSectorResult ReadProgram(TVaCustomComm& Port, TProgressSink& Sink) {
    DeviceImageValid = false;
    Sink.SetProgressPosition(0);
    TSectorResult r = srOk;
    for (int k = 1; k <= ReadSectorCount && r == srOk; ++k) {
        QCoreApplication::processEvents();
        if (Sink.StopRequested()) {
            r = srNoReply;
            break;
        }
        Sink.SetProgressPosition(k);
        r = ReadSector(Port, k - 1);
        if (r != srOk) {
            Sink.SectorRetried(k - 1);
            r = ReadSector(Port, k - 1);
        }
    }
    if (r != srOk) {
        Sink.SetStatusText(TextReadError);
        DeviceImageValid = false;
        Sink.SetSaveAsEnabled(false);
    } else {
        Sink.SetStatusText(TextDataRead);
        Sink.SetSaveAsEnabled(true);
        DeviceImageValid = true;
    }
    return r;
}
