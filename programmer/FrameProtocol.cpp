#include "programmer/FrameProtocol.h"

#include "base/ProgramError.h"
#include "programmer/DeviceLink.h"
#include "programmer/ProgramImage.h"

#include <QCoreApplication>
#include <algorithm>
#include <cstring>

std::array<quint8, FrameSize> FrameBuffer{};
QByteArray LastReply;

quint8 FrameChecksum(int n) {
    quint8 sum = 0;
    for (int i = 0; i < n; ++i)
        sum = quint8(sum + FrameBuffer[size_t(i)]);
    return quint8(0x100 - sum);
}

namespace {

void PutSectorNumber(quint8 Letter, int n) {
    FrameBuffer[0] = Letter;
    FrameBuffer[1] = quint8(n & 0xFF);
    FrameBuffer[2] = quint8((n >> 8) & 0xFF);
}

// The skeleton both loops share: sectors 0 to Count - 1, a stop request looked at before
// each, one retry per sector, the first sector that fails twice ends it. A read lets
// window messages through before each sector as well.
template <class Exchange>
TRunOutcome MoveSectors(TRunKind Kind, int Count, TProgressSink& Sink, bool DispatchFirst,
                        Exchange SectorExchange) {
    TRunOutcome o;
    o.kind = Kind;
    o.sectorsTotal = Count;
    try {
        for (int i = 0; i < Count; ++i) {
            if (DispatchFirst)
                QCoreApplication::processEvents();
            if (Sink.StopRequested()) {
                o.end = TRunEnd::Stopped;
                return o;
            }
            Sink.SetProgressPosition(i + 1);
            Sink.SectorStarting(i, Count);
            if (SectorExchange(i) != srOk) {
                ++o.retries;
                Sink.SectorRetried(i);
                if (SectorExchange(i) != srOk) {
                    o.end = TRunEnd::SectorFailed;
                    o.failedSector = i;
                    return o;
                }
            }
            ++o.sectorsDone;
        }
    } catch (...) {
        o.end = TRunEnd::LinkError;
        o.failure = std::current_exception();
        o.reason = ExceptionMessage(o.failure);
    }
    return o;
}

} // namespace

TSectorResult WriteSector(TDeviceLink& Link, int n) {
    PutSectorNumber(WriteFrameLetter, n);
    std::memcpy(&FrameBuffer[3], &ProgramImage[size_t(n) * SectorSize], SectorSize);
    FrameBuffer[FrameSize - 1] = FrameChecksum(FrameSize - 1);
    // A late acknowledgement of the previous attempt must not pass for this one's.
    Link.Purge();
    Link.Write(FrameBuffer.data(), FrameSize);
    Link.Wait(WriteReplyWaitMs);
    LastReply = Link.ReadText();
    if (LastReply.isEmpty())
        return srNoReply;
    return LastReply[0] == AckChar ? srOk : srBadReply;
}

TSectorResult ReadSector(TDeviceLink& Link, int n) {
    PutSectorNumber(ReadFrameLetter, n);
    FrameBuffer[3] = FrameChecksum(3);
    Link.Write(FrameBuffer.data(), ReadRequestSize);
    Link.Wait(ReadReplyWaitMs);
    if (Link.BytesWaiting() != FrameSize)
        return srNoReply;
    // A short block (the port lost bytes meanwhile) must not be taken for a reply.
    if (Link.ReadBlock(FrameBuffer.data(), FrameSize) != FrameSize)
        return srNoReply;
    if (FrameChecksum(FrameSize) != 0)
        return srBadReply;
    std::memcpy(&DeviceImage[size_t(n) * SectorSize], &FrameBuffer[3], SectorSize);
    return srOk;
}

TRunOutcome WriteProgram(TDeviceLink& Link, TProgressSink& Sink) {
    const int count = std::min(SectorCount, WriteSectorLimit);
    Sink.SetProgressRange(0, count);
    const TRunOutcome o = MoveSectors(TRunKind::Write, count, Sink, false,
                                      [&Link](int n) { return WriteSector(Link, n); });
    Sink.SetStatusText(StatusTextAfter(o));
    return o;
}

TRunOutcome ReadProgram(TDeviceLink& Link, TProgressSink& Sink) {
    DeviceImageValid = false;
    Sink.SetProgressPosition(0);
    const TRunOutcome o = MoveSectors(TRunKind::Read, ReadSectorCount, Sink, true,
                                      [&Link](int n) { return ReadSector(Link, n); });
    const bool done = o.end == TRunEnd::Done;
    Sink.SetStatusText(StatusTextAfter(o));
    Sink.SetSaveAsEnabled(done);
    DeviceImageValid = done;
    return o;
}
