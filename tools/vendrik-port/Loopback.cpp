#include "tools/vendrik-port/Loopback.h"

#include "platform/ErrorText.h"
#include "platform/SerialDevice.h"
#include "tools/vendrik-port/ComMappings.h"
#include "tools/vendrik-port/PortProbe.h"

#include <QByteArray>
#include <QElapsedTimer>

namespace {
// A write frame as the program builds it ("W", sector, 256 data bytes, checksum), with
// data that runs through every byte value, flow-control characters included.
QByteArray Frame(int Index) {
    QByteArray frame(LoopbackFrameSize, '\0');
    frame[0] = 'W';
    frame[1] = char(Index);
    frame[2] = 0;
    for (int i = 0; i < 256; ++i)
        frame[3 + i] = char((i + 37 * Index) & 0xFF);
    unsigned sum = 0;
    for (int i = 0; i < LoopbackFrameSize - 1; ++i)
        sum += uchar(frame[i]);
    frame[LoopbackFrameSize - 1] = char((256 - (sum & 0xFF)) & 0xFF);
    return frame;
}

// Hands all bytes to the port; false on a failure of the line.
bool SendAll(TSerialDevice& Port, const QByteArray& Bytes, QString& Error) {
    int sent = 0;
    while (sent < Bytes.size()) {
        const int n = Port.Write(Bytes.constData() + sent, int(Bytes.size() - sent));
        if (n < 0) {
            Error = SystemErrorText(GetLastError());
            return false;
        }
        sent += n;
        if (sent < Bytes.size() &&
            Port.Wait(TSerialDevice::Writable, {}, 1000).outcome != TWaitOutcome::DeviceReady) {
            Error = QStringLiteral("порт не принимает данные");
            return false;
        }
    }
    return true;
}

// Reads until Count bytes arrived or the deadline passed; then whatever else arrives
// within a short quiet time, so extra bytes are seen too. Elapsed gets the time at which
// the Count-th byte was there.
QByteArray Collect(TSerialDevice& Port, int Count, const QElapsedTimer& Since, qint64& Elapsed,
                   bool& HungUp) {
    QByteArray got;
    Elapsed = -1;
    HungUp = false;
    const qint64 end = LoopbackLimitMs + LoopbackGraceMs;
    qint64 quietUntil = -1;
    for (;;) {
        const qint64 now = Since.elapsed();
        const qint64 stop = quietUntil >= 0 ? quietUntil : end;
        if (now >= stop)
            break;
        const TEventWaitResult woken = Port.Wait(TSerialDevice::Readable, {}, int(stop - now));
        if (woken.outcome == TWaitOutcome::TimedOut)
            break;
        if (woken.outcome != TWaitOutcome::DeviceReady || (woken.ready & TSerialDevice::HungUp)) {
            HungUp = true;
            break;
        }
        char buffer[1024];
        const int n = Port.Read(buffer, sizeof buffer);
        if (n < 0) {
            HungUp = true;
            break;
        }
        got.append(buffer, n);
        if (got.size() >= Count && Elapsed < 0) {
            Elapsed = Since.elapsed();
            quietUntil = Elapsed + 30;
        }
    }
    return got;
}

QString Hex(char c) {
    return QStringLiteral("0x%1").arg(uchar(c), 2, 16, QLatin1Char('0'));
}

// What went wrong with one frame, empty when it came back intact and in time.
QString FrameFault(const QByteArray& Sent, const QByteArray& Got, qint64 Elapsed) {
    if (Got.isEmpty())
        return QStringLiteral("не вернулось ни одного байта");
    const qsizetype common = std::min(Sent.size(), Got.size());
    qsizetype differ = 0;
    while (differ < common && Sent[differ] == Got[differ])
        ++differ;
    if (Got.size() < Sent.size())
        return QStringLiteral("вернулось только %1 байт из %2, первое расхождение на байте %3")
            .arg(Got.size())
            .arg(Sent.size())
            .arg(differ);
    if (differ < common)
        return QStringLiteral("байт %1 искажён: отправлен %2, вернулся %3")
            .arg(differ)
            .arg(Hex(Sent[differ]), Hex(Got[differ]));
    if (Got.size() > Sent.size())
        return QStringLiteral("вернулось %1 лишних байт").arg(Got.size() - Sent.size());
    if (Elapsed > LoopbackLimitMs)
        return QStringLiteral("кадр вернулся целым, но через %1 мс, а прибору на ответ дано %2 мс")
            .arg(Elapsed)
            .arg(LoopbackLimitMs);
    return {};
}
} // namespace

bool RunLoopback(int Number, const std::function<void(const QString&)>& Print) {
    TPortFacts facts;
    const TComMapping mapping = ComMapping(Number);
    facts.number = Number;
    facts.target = mapping.target;
    facts.mapped = mapping.mapped;
    TSerialDevice port;
    if (!OpenLikeProgram(port, facts)) {
        Print(Diagnose(facts).line);
        return false;
    }
    Print(QStringLiteral("COM%1 (%2): петля, %3 кадров по %4 байт на 57600 8N1, на каждый "
                         "не более %5 мс.")
              .arg(Number)
              .arg(facts.target)
              .arg(LoopbackFrames)
              .arg(LoopbackFrameSize)
              .arg(LoopbackLimitMs));
    TSerialDevice::Counters before;
    uint32_t ignored = 0;
    port.LineErrors(before, ignored);

    bool ok = true;
    int silent = 0;
    qint64 worst = 0;
    for (int i = 0; i < LoopbackFrames; ++i) {
        const QByteArray frame = Frame(i);
        port.Flush(true, true);
        QString error;
        QElapsedTimer since;
        since.start();
        if (!SendAll(port, frame, error)) {
            Print(QStringLiteral("кадр %1: не отправлен: %2").arg(i + 1).arg(error));
            return false;
        }
        since.start(); // the device's time runs from the frame being handed over
        qint64 elapsed = -1;
        bool hungUp = false;
        const QByteArray got = Collect(port, LoopbackFrameSize, since, elapsed, hungUp);
        QString fault = FrameFault(frame, got, elapsed);
        if (fault.isEmpty() && hungUp)
            fault = QStringLiteral("линия оборвалась");
        if (got.isEmpty())
            ++silent;
        if (fault.isEmpty()) {
            worst = std::max(worst, elapsed);
            Print(QStringLiteral("кадр %1: цел, вернулся за %2 мс").arg(i + 1).arg(elapsed));
        } else {
            ok = false;
            Print(QStringLiteral("кадр %1: %2").arg(i + 1).arg(fault));
        }
        if (hungUp) {
            Print(QStringLiteral("линия оборвалась (адаптер отключён?)"));
            return false;
        }
    }

    TSerialDevice::Counters after;
    if (!port.LineErrors(after, ignored) || !before.valid || !after.valid) {
        Print(QStringLiteral("счётчиков ошибок линии драйвер этого порта не ведёт."));
    } else {
        const int frameErrors = after.frame - before.frame,
                  overruns = after.overrun - before.overrun, parity = after.parity - before.parity,
                  breaks = after.brk - before.brk;
        Print(QStringLiteral("ошибки линии за проверку: кадровых %1, переполнений %2, чётности %3, "
                             "разрывов (break) %4.")
                  .arg(frameErrors)
                  .arg(overruns)
                  .arg(parity)
                  .arg(breaks));
        if (frameErrors || overruns || parity || breaks)
            ok = false;
    }
    if (ok)
        Print(QStringLiteral("Петля в порядке: все кадры вернулись целыми, худшее время %1 мс.")
                  .arg(worst));
    else if (silent == LoopbackFrames)
        Print(QStringLiteral("Петля не работает: ничего не вернулось. Вставлена ли заглушка "
                             "(на разъёме DB-9 соединены контакты 2 и 3)?"));
    else
        Print(QStringLiteral("Петля неисправна: адаптер или кабель портят данные, прибор тут ни "
                             "при чём."));
    return ok;
}
