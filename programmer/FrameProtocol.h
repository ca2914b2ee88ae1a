#pragma once
// The conversation with the device once it has announced itself: one 256-byte sector
// written ("W" frame, acknowledged by "!") or read ("R" request, 260-byte reply), and
// the two loops that move a whole image. Runs on the user-interface thread inside the
// port's received-character notification; the waits keep dispatching window messages.

#include "programmer/RunOutcome.h"
#include "programmer/Texts.h"

#include <QString>
#include <QtGlobal>
#include <array>

class TDeviceLink;

enum TSectorResult { srOk = 0, srNoReply = 1, srBadReply = 2 };

constexpr int WriteSectorLimit = 506;
constexpr int ReadSectorCount = 128;
constexpr char AckChar = '!';
constexpr int WriteReplyWaitMs = 300;
constexpr int ReadReplyWaitMs = 100;
constexpr int FrameSize = 260;
constexpr int ReadRequestSize = 4;
constexpr quint8 WriteFrameLetter = 0x57; // "W"
constexpr quint8 ReadFrameLetter = 0x52;  // "R"

// One buffer for every exchange and both directions: a read reply lands over its request.
extern std::array<quint8, FrameSize> FrameBuffer;
// What the most recent write exchange read back.
extern QByteArray LastReply;

// Two's complement of the 8-bit sum of the first n bytes of FrameBuffer, so a frame that
// ends with it sums to 0.
quint8 FrameChecksum(int n);

// What the loops show and change while they run; the windows implement it.
class TProgressSink {
public:
    virtual ~TProgressSink() = default;
    virtual void SetProgressRange(int Min, int Max) = 0;
    virtual void SetProgressPosition(int Position) = 0;
    virtual void SetStatusText(const QString& Text) = 0;
    virtual void SetSaveAsEnabled(bool Enabled) = 0;
    // Asked between sectors: true ends the loop as if the sector had failed (the
    // program is shutting down under a transfer).
    virtual bool StopRequested() const { return false; }
    // Sector (from 0) of Total is about to be sent or asked for.
    virtual void SectorStarting(int /*Sector*/, int /*Total*/) {}
    // A sector failed its first attempt and is sent or asked for once more.
    virtual void SectorRetried(int /*Sector*/) {}
};

TSectorResult WriteSector(TDeviceLink& Link, int n);
TSectorResult ReadSector(TDeviceLink& Link, int n);

// The loops leave their status text ("Данные записаны", "Ошибка записи", ...) on the
// sink and return what happened; an error of the link ends the loop as LinkError
// instead of escaping it.

// Sends sectors 0 to min(SectorCount, 506) - 1 of ProgramImage, one retry per sector.
TRunOutcome WriteProgram(TDeviceLink& Link, TProgressSink& Sink);
// Reads sectors 0 to 127 into DeviceImage; sets DeviceImageValid and Save As.
TRunOutcome ReadProgram(TDeviceLink& Link, TProgressSink& Sink);
