#pragma once
// A stand-in for the device's line that writes one compact line per call into a log (which
// a recording view may share), answers each exchange from a script and keeps time on a
// counter: Wait adds to it and returns at once, so a whole program moves in milliseconds.
// Beside the tests over a real port and the simulated device, never instead of them.
//
// Lines:
//   "open 1", "close", "purge", "wait 300"
//   "write W 5"      a frame of its letter's size (W 260, R 4) whose bytes sum to 0, the
//                    number taken from bytes 1 and 2, low byte first; otherwise " size=N"
//                    and/or " badsum" follow
//   "read !"         ReadText and what it returned ("read" alone: nothing); bytes outside
//                    printable ASCII as \xNN
//   "waiting 260"    BytesWaiting and its answer
//   "block 260 260"  ReadBlock: bytes asked for, bytes given
// A call on a closed port ends in " closed"; a call told to fail is logged as its name and
// arguments followed by " throws", and raises EProgramError.

#include "base/ProgramError.h"
#include "programmer/DeviceLink.h"
#include "programmer/ProgramImage.h"
#include "programmer/RunOutcome.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QMap>
#include <QMetaType>
#include <QString>
#include <QStringList>
#include <algorithm>
#include <cstring>
#include <functional>
#include <utility>

// What the device sends in one exchange (one frame written).
struct TReply {
    enum class TBody { Healthy, Bytes, Sector };
    // Healthy: "!" to a write frame, the sector from memory to a read request.
    TBody body = TBody::Healthy;
    QByteArray bytes; // Bytes
    int size = 260;   // Sector: cut, or padded with zero bytes, to this many bytes
    int sumError = 0; // Sector: added to its checksum byte
    int atMs = 0;     // when it arrives, after the frame was written
    // Arrives after the exchange, before the next frame (or its purge) is handed over.
    QByteArray stray;

    static TReply Text(const QByteArray& Bytes) {
        TReply r;
        r.body = TBody::Bytes;
        r.bytes = Bytes;
        return r;
    }
    static TReply Nothing() { return Text({}); }
    static TReply Ack() { return Text("!"); }
    static TReply Sector() {
        TReply r;
        r.body = TBody::Sector;
        return r;
    }
    static TReply BadSum() {
        TReply r = Sector();
        r.sumError = 1;
        return r;
    }
    static TReply SectorOfSize(int Size) {
        TReply r = Sector();
        r.size = Size;
        return r;
    }
    TReply At(int Ms) const {
        TReply r = *this;
        r.atMs = Ms;
        return r;
    }
    TReply ThenStray(const QByteArray& Bytes) const {
        TReply r = *this;
        r.stray = Bytes;
        return r;
    }
};

// Replies by exchange, counted from 0 (the first frame written); the others are a healthy
// device's.
using TReplyScript = QMap<int, TReply>;
Q_DECLARE_METATYPE(TReplyScript)

inline const QString LinkErrorText = QStringLiteral("Port error (5), Input/output error");

class TRecordingLink : public TDeviceLink {
public:
    explicit TRecordingLink(QStringList& Log) : log_(Log) {
        memory.resize(512 * SectorSize);
        for (int i = 0; i < memory.size(); ++i)
            memory[i] = char(i * 13 + i / SectorSize + 1);
    }

    // The device's memory: read replies come from it, valid write frames go into it.
    QByteArray memory;
    TReplyScript script;
    qint64 nowMs = 0;
    int calls = 0; // link calls logged so far
    // Runs as each call is logged, before it takes effect.
    std::function<void(const QString& Line)> OnCall;

    // The Nth (from 1) call of that name ("open", "write", "read", "block", ...) raises
    // the link's error.
    void FailOn(const QString& Call, int Nth) { failOn_[Call] = Nth; }
    // Opened before the exchanges under test, with nothing logged of it: the replies
    // follow Script, and FailCall ("write 2": the second write) raises the link's error.
    void OpenScripted(const TReplyScript& Script, const QString& FailCall) {
        Open(1);
        log_.clear();
        calls = 0;
        script = Script;
        if (!FailCall.isEmpty())
            FailOn(FailCall.section(u' ', 0, 0), FailCall.section(u' ', 1).toInt());
    }
    // Bytes the device sends unasked (its announcement).
    void Arrive(const QByteArray& Bytes) { input_ += Bytes; }

    void Open(int PortNum) override {
        Record(QStringLiteral("open"), QStringLiteral("open %1").arg(PortNum));
        open_ = true;
    }
    void Close() override {
        Record(QStringLiteral("close"), QStringLiteral("close"));
        open_ = false;
    }
    void Purge() override {
        ExchangeOver();
        Record(QStringLiteral("purge"), QStringLiteral("purge"));
        input_.clear();
    }
    void Write(const quint8* Data, int Count) override {
        ExchangeOver();
        Record(QStringLiteral("write"), FrameLine(Data, Count));
        StartExchange(Data, Count);
    }
    void Wait(int Ms) override {
        Record(QStringLiteral("wait"), QStringLiteral("wait %1").arg(Ms));
        nowMs += Ms;
    }
    QByteArray ReadText() override {
        Deliver();
        Record(QStringLiteral("read"), QStringLiteral("read"), Printable(input_));
        return std::exchange(input_, {});
    }
    int BytesWaiting() override {
        Deliver();
        Record(QStringLiteral("waiting"), QStringLiteral("waiting"),
               QString::number(input_.size()));
        return int(input_.size());
    }
    int ReadBlock(quint8* Data, int Count) override {
        Deliver();
        const int given = std::min(Count, int(input_.size()));
        Record(QStringLiteral("block"), QStringLiteral("block %1").arg(Count),
               QString::number(given));
        std::memcpy(Data, input_.constData(), size_t(given));
        input_.remove(0, given);
        return given;
    }

private:
    struct TArrival {
        qint64 atMs;
        QByteArray bytes;
    };

    static QString Printable(const QByteArray& Bytes) {
        QString s;
        for (char c : Bytes) {
            const auto b = quint8(c);
            if (b >= 0x20 && b < 0x7F && b != '\\')
                s += QChar(b);
            else
                s += QString::asprintf("\\x%02X", b);
        }
        return s;
    }

    static int SectorOf(const quint8* Data, int Count) {
        return Count >= 3 ? Data[1] | (Data[2] << 8) : -1;
    }

    static bool SumsToZero(const quint8* Data, int Count) {
        quint8 sum = 0;
        for (int i = 0; i < Count; ++i)
            sum = quint8(sum + Data[i]);
        return sum == 0;
    }

    static QString FrameLine(const quint8* Data, int Count) {
        if (Count < 1)
            return QStringLiteral("write size=%1").arg(Count);
        QString line = QStringLiteral("write %1 %2").arg(QChar(Data[0])).arg(SectorOf(Data, Count));
        const int expected = Data[0] == 'W' ? 260 : Data[0] == 'R' ? 4 : -1;
        if (Count != expected)
            line += QStringLiteral(" size=%1").arg(Count);
        if (!SumsToZero(Data, Count))
            line += QStringLiteral(" badsum");
        return line;
    }

    void Record(const QString& Name, const QString& Head, const QString& Result = {}) {
        ++calls;
        const bool fails = ++count_[Name] == failOn_.value(Name, 0);
        QString line = Head;
        if (fails)
            line += QStringLiteral(" throws");
        else if (!Result.isEmpty())
            line += QLatin1Char(' ') + Result;
        if (!open_ && Name != QStringLiteral("open") && Name != QStringLiteral("close"))
            line += QStringLiteral(" closed");
        log_ << line;
        if (fails)
            throw EProgramError(LinkErrorText);
        if (OnCall)
            OnCall(line);
    }

    void StartExchange(const quint8* Data, int Count) {
        const TReply reply = script.value(exchange_++);
        const int sector = SectorOf(Data, Count);
        const bool validWrite = Count == 260 && Data[0] == 'W' && SumsToZero(Data, Count);
        if (validWrite && sector >= 0 && sector < 512)
            std::memcpy(memory.data() + sector * SectorSize, Data + 3, SectorSize);
        QByteArray bytes;
        const bool sectorReply =
            reply.body == TReply::TBody::Sector ||
            (reply.body == TReply::TBody::Healthy && Count > 0 && Data[0] == 'R');
        if (sectorReply) {
            bytes = QByteArray(260, '\0');
            bytes[0] = 'D';
            bytes[1] = char(sector & 0xFF);
            bytes[2] = char(sector >> 8);
            if (sector >= 0 && sector < 512)
                std::memcpy(bytes.data() + 3, memory.constData() + sector * SectorSize, SectorSize);
            quint8 sum = 0;
            for (int i = 0; i < 259; ++i)
                sum = quint8(sum + quint8(bytes[i]));
            bytes[259] = char(quint8(0x100 - sum + reply.sumError));
            bytes.resize(reply.size, '\0');
        } else if (reply.body == TReply::TBody::Healthy) {
            bytes = "!";
        } else {
            bytes = reply.bytes;
        }
        pending_.append({nowMs + reply.atMs, bytes});
        stray_ = reply.stray;
    }

    // Moves what has arrived by now into the input queue, in order of arrival.
    void Deliver() {
        std::stable_sort(pending_.begin(), pending_.end(),
                         [](const TArrival& a, const TArrival& b) { return a.atMs < b.atMs; });
        while (!pending_.isEmpty() && pending_.first().atMs <= nowMs)
            input_ += pending_.takeFirst().bytes;
    }

    // The previous exchange is over: its stray bytes have come in meanwhile.
    void ExchangeOver() {
        Deliver();
        input_ += std::exchange(stray_, {});
    }

    QStringList& log_;
    QByteArray input_;
    QList<TArrival> pending_;
    QByteArray stray_;
    int exchange_ = 0;
    bool open_ = false;
    QHash<QString, int> count_;
    QHash<QString, int> failOn_;
};

// Only the link's lines of a log shared with a view ("view ...") and an observer
// ("event ...").
inline QStringList LinkLines(const QStringList& Log) {
    QStringList lines;
    for (const QString& l : Log)
        if (!l.startsWith(QStringLiteral("view ")) && !l.startsWith(QStringLiteral("event ")))
            lines << l;
    return lines;
}

// An outcome in one line: "done 3/3", "sector-failed 1/3 failed=1 retries=1",
// "link-error 1/3 reason=...".
inline QString OutcomeLine(const TRunOutcome& O) {
    QString s =
        QStringLiteral("%1 %2/%3").arg(RunEndName(O.end)).arg(O.sectorsDone).arg(O.sectorsTotal);
    if (O.failedSector >= 0)
        s += QStringLiteral(" failed=%1").arg(O.failedSector);
    if (O.retries > 0)
        s += QStringLiteral(" retries=%1").arg(O.retries);
    if (!O.reason.isEmpty())
        s += QStringLiteral(" reason=") + O.reason;
    return s;
}

// A program of Sectors sectors, each with its own pattern, 0xFF after it.
inline void LoadPatternProgram(int Sectors) {
    std::fill(std::begin(ProgramImage), std::end(ProgramImage), quint8(0xFF));
    for (int i = 0; i < Sectors * SectorSize; ++i)
        ProgramImage[size_t(i)] = quint8(i ^ (i >> 8));
    ProgramSize = Sectors * SectorSize;
    SectorCount = Sectors;
    ProgramLoaded = true;
}

// One write attempt as the line sees it, ending in the reply that was read.
inline QStringList WriteAttempt(int Sector, const QString& Read = QStringLiteral("read !")) {
    return {QStringLiteral("purge"), QStringLiteral("write W %1").arg(Sector),
            QStringLiteral("wait 300"), Read};
}

inline QStringList WriteAttempts(int From, int To) {
    QStringList calls;
    for (int n = From; n < To; ++n)
        calls += WriteAttempt(n);
    return calls;
}

// One read attempt; a reply of 260 bytes is then taken.
inline QStringList ReadAttempt(int Sector, int Waiting = 260) {
    QStringList calls{QStringLiteral("write R %1").arg(Sector), QStringLiteral("wait 100"),
                      QStringLiteral("waiting %1").arg(Waiting)};
    if (Waiting == 260)
        calls << QStringLiteral("block 260 260");
    return calls;
}

inline QStringList ReadAttempts(int From, int To) {
    QStringList calls;
    for (int n = From; n < To; ++n)
        calls += ReadAttempt(n);
    return calls;
}
