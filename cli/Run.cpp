#include "cli/Run.h"

#include "cli/Progress.h"
#include "cli/WireTrace.h"
#include "comm/VaComm.h"
#include "platform/SerialNames.h"
#include "platform/StopSignals.h"
#include "platform/Terminal.h"
#include "platform/VisibleText.h"
#include "programmer/DeviceLink.h"
#include "programmer/DevicePort.h"
#include "programmer/DeviceRun.h"
#include "programmer/ImageCompare.h"
#include "programmer/ProgramFiles.h"
#include "programmer/ProgramImage.h"
#include "programmer/Texts.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QFileInfo>
#include <QSocketNotifier>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <optional>

namespace {

constexpr int ShownDifferences = 8;
// The most a read brings back: the bytes a compare can check.
constexpr int ReadBackBytes = ReadSectorCount * SectorSize;

void Complain(TRunResult& Result, const QString& Text) {
    Result.messages.append(Text);
    // Messages carry file and device names.
    std::fprintf(stderr, "vendrik-cli: %s\n", VisibleText(Text).toUtf8().constData());
    std::fflush(stderr);
}

// The notices of the file operations go to standard error and into the result.
class TNoticeLog : public TProgramFileView {
public:
    explicit TNoticeLog(TRunResult& Result) : result_(Result) {}
    void SetProgramCaptions(const QString&, const QString&, const QString&) override {}
    void SetProgramNameHint(const QString&) override {}
    void ShowNotice(const TNotice& Notice) override { Complain(result_, Notice.text); }

private:
    TRunResult& result_;
};

// The device run without windows: "showing the progress window" runs an event loop
// until the run reports its end. The wait's limit and a stop signal end the run through
// the run itself, so every end arrives the same way, as an outcome.
class TCommandLineView : public TWindowlessRunView, public TDeviceRunObserver {
public:
    TCommandLineView(TStopSignals& Stop, TProgressReport& Report, int WaitMs, TRunResult& Result)
        : stop_(Stop), report_(Report), waitMs_(WaitMs), result_(Result) {}

    void Attach(TDeviceRun& Run) {
        run_ = &Run;
        Run.SetObserver(this);
    }
    void SetPortIndex(int Index) { portIndex_ = Index; }
    // The line that tells the operator to switch the device on.
    void SetWaitingText(const QString& Text) { waitingText_ = Text; }
    bool Interrupted() const { return interrupted_; }

    // One run of the device, with Total sectors to move.
    TRunOutcome Pass(TRunKind Kind, int Total) {
        ended_.reset();
        total_ = Total;
        transferClock_.invalidate();
        if (Kind == TRunKind::Write)
            run_->StartWrite();
        else
            run_->StartRead();
        if (!ended_) {
            // Every return of a start follows its end; should one not, the port is let
            // go all the same and the run counts as stopped.
            run_->Stop();
            TRunOutcome stopped;
            stopped.kind = Kind;
            stopped.end = TRunEnd::Stopped;
            ended_ = stopped;
        }
        return *ended_;
    }
    // Port open to announcement, and announcement to closed port; -1 where it did not
    // happen in the last pass.
    qint64 WaitMs() const { return announcedAfterMs_; }
    qint64 TransferMs() const { return transferMs_; }

    // TDeviceRunView
    int SelectedPortIndex() const override { return portIndex_; }
    bool ProgressWindowShown() const override { return looping_; }
    void ShowNotice(const TNotice& Notice) override { Complain(result_, Notice.text); }
    void ShowProgressModal() override {
        if (ended_)
            return;
        looping_ = true;
        std::optional<QSocketNotifier> stopNotifier;
        if (stop_.Descriptor() >= 0) {
            stopNotifier.emplace(stop_.Descriptor(), QSocketNotifier::Read);
            QObject::connect(&*stopNotifier, &QSocketNotifier::activated, [this] { OnStop(); });
        }
        QTimer waitTimer;
        waitTimer.setSingleShot(true);
        waitTimer.setTimerType(Qt::PreciseTimer);
        QObject::connect(&waitTimer, &QTimer::timeout, [this] { run_->GiveUpWaiting(); });
        if (waitMs_ >= 0)
            waitTimer.start(waitMs_);
        // A stop that came before the loop began ends the wait at once.
        if (interrupted_)
            run_->Stop();
        if (!ended_)
            loop_.exec();
        looping_ = false;
    }

    // TDeviceRunObserver
    void RunWaiting(TRunKind Kind) override {
        // Said once the port is open: from here on the device may be switched on.
        report_.Stage(waitingText_);
        kind_ = Kind;
        announcedAfterMs_ = -1;
        transferMs_ = -1;
        waitClock_.start();
    }
    void RunAnnounced() override {
        announcedAfterMs_ = waitClock_.elapsed();
        transferClock_.start();
        report_.Stage(kind_ == TRunKind::Read ? TextReading : TextWriting);
        report_.Start(total_);
    }
    void RunSector(int Sector, int) override { report_.Sector(Sector); }
    void RunEnded(const TRunOutcome& Outcome) override {
        ended_ = Outcome;
        if (transferClock_.isValid()) {
            transferMs_ = transferClock_.elapsed();
            if (Outcome.end == TRunEnd::Done)
                report_.Sector(Outcome.sectorsDone);
            report_.End();
            report_.Stage(StatusTextAfter(Outcome));
        }
        loop_.quit();
    }

private:
    void OnStop() {
        if (!stop_.Take())
            return;
        interrupted_ = true;
        // A transfer stops before its next sector, a wait at once; the run closes the port.
        run_->Stop();
    }

    TStopSignals& stop_;
    TProgressReport& report_;
    int waitMs_;
    TRunResult& result_;
    TDeviceRun* run_ = nullptr;
    int portIndex_ = 0;
    int total_ = 0;
    TRunKind kind_ = TRunKind::Write;
    QString waitingText_;
    bool looping_ = false;
    bool interrupted_ = false;
    std::optional<TRunOutcome> ended_;
    QEventLoop loop_;
    QElapsedTimer waitClock_, transferClock_;
    qint64 announcedAfterMs_ = -1, transferMs_ = -1;
};

// "%" would be taken for the port number's placeholder.
QString DeviceNameForPath(const QString& Path) {
    return QString(Path).replace(u'%', QStringLiteral("%%"));
}

} // namespace

TExitCode RunExitCode(const TRunOutcome& Outcome) {
    switch (Outcome.end) {
    case TRunEnd::Done:
        return ExitDone;
    case TRunEnd::SectorFailed:
        return ExitTransferFailed;
    case TRunEnd::Stopped:
        return ExitInterrupted;
    case TRunEnd::LinkError:
        // The line failed before any sector moved (it hung up while waiting): a port fault.
        return Outcome.sectorsTotal > 0 ? ExitTransferFailed : ExitPortError;
    case TRunEnd::PortNotOpened:
        return ExitPortError;
    case TRunEnd::NoAnnouncement:
        return ExitNoAnnouncement;
    case TRunEnd::NoProgram:
        return ExitFileError;
    }
    return ExitTransferFailed;
}

TRunResult RunOnDevice(const TArguments& Args, TStopSignals& Stop) {
    QElapsedTimer total;
    total.start();
    TRunResult result;
    result.command = CommandName(Args.command);
    result.port = Args.ports.value(0);
    result.file = Args.file;
    const int com = ParseComNumber(result.port);
    result.device = ResolveSerialDevice(com ? QStringLiteral("COM%1").arg(com) : result.port);
    // A COM link (or a by-id name) is told by the device it leads to.
    if (const QString target = QFileInfo(result.device).canonicalFilePath(); !target.isEmpty())
        result.device = target;
    auto finish = [&](TExitCode Code) {
        result.code = Code;
        result.totalMs = total.elapsed();
        return result;
    };

    const bool write = Args.command == TCommand::Write;
    if (Args.command != TCommand::Read) {
        if (!LoadProgramForRun(Args.file, result))
            return finish(ExitFileError);
    } else {
        // Found out before the device is read, not after.
        const QFileInfo target(Args.file);
        if (target.isDir() || !QFileInfo(target.absolutePath()).isDir()) {
            Complain(result,
                     QStringLiteral("Не могу сохранить в файл. (нет папки %1 или это папка)")
                         .arg(target.absolutePath()));
            return finish(ExitFileError);
        }
    }
    const int writeTotal = std::min(SectorCount, WriteSectorLimit);
    if (write && ProgramSize > writeTotal * SectorSize) {
        result.bytesNotSent = ProgramSize - writeTotal * SectorSize;
        Complain(result, QStringLiteral("предупреждение: прибор принимает %1 секторов (%2 байт), "
                                        "последние %3 байт файла не будут записаны")
                             .arg(WriteSectorLimit)
                             .arg(WriteSectorLimit * SectorSize)
                             .arg(result.bytesNotSent));
    }

    TProgressReport report(StandardErrorIsTerminal(), Args.quiet);
    TCommandLineView view(Stop, report, Args.waitMs, result);
    view.SetPortIndex(com ? com - 1 : 0);
    TVaComm port;
    ConfigureDevicePort(port);
    if (!com)
        port.SetDeviceName(DeviceNameForPath(result.port));
    TCommLink link(port);
    TTracingLink traced(link);
    if (QString why; !Args.trace.isEmpty() && !traced.Begin(Args.trace, result.device, why)) {
        Complain(result, why);
        return finish(ExitFileError);
    }
    TDeviceRun run(Args.trace.isEmpty() ? static_cast<TDeviceLink&>(link) : traced, view);
    view.Attach(run);
    port.OnRxChar = [&run](QObject*, int) { run.Received(); };
    port.OnHangUp = [&run, &result](QObject*) {
        run.LineLost(QStringLiteral("связь с %1 потеряна: устройство отключено или закрыто "
                                    "на другой стороне")
                         .arg(result.device));
    };

    // What one pass came to, in the operator's words; its exit code.
    auto judge = [&](const TRunOutcome& o, bool readBack) {
        result.retries += o.retries;
        switch (o.end) {
        case TRunEnd::Done:
        case TRunEnd::NoProgram:
            break;
        case TRunEnd::PortNotOpened:
        case TRunEnd::LinkError:
            if (!o.reason.isEmpty())
                Complain(result, o.reason);
            break;
        case TRunEnd::NoAnnouncement:
            Complain(result, (readBack ? QStringLiteral("Прибор не включился для проверки за %1 с")
                                       : QStringLiteral("Прибор не включился за %1 с"))
                                 .arg(Args.waitMs / 1000.0));
            break;
        case TRunEnd::Stopped:
            Complain(result, QStringLiteral("Прервано: порт закрыт"));
            break;
        case TRunEnd::SectorFailed:
            Complain(result, QStringLiteral("%1%2: сектор %3 не прошёл и со второй попытки")
                                 .arg(readBack ? QStringLiteral("Проверка: ") : QString(),
                                      StatusTextAfter(o))
                                 .arg(o.failedSector));
            break;
        }
        return RunExitCode(o);
    };

    result.sectorsTotal = write ? writeTotal : ReadSectorCount;
    view.SetWaitingText(QStringLiteral("%1: порт открыт, включите прибор").arg(result.device));
    const TRunOutcome pass =
        view.Pass(write ? TRunKind::Write : TRunKind::Read, result.sectorsTotal);
    result.sectorsDone = pass.sectorsDone;
    result.waitMs = view.WaitMs();
    result.transferMs = view.TransferMs();
    if (const TExitCode code = judge(pass, false); code != ExitDone)
        return finish(code);

    if (Args.command == TCommand::Read) {
        TNoticeLog notices(result);
        return finish(SaveDeviceImageAs(notices, Args.file) == TSaveResult::Saved ? ExitDone
                                                                                  : ExitFileError);
    }
    if (write && !Args.verify)
        return finish(ExitDone);

    if (write) {
        // The read-back waits for a fresh announcement, as a Read in the window does: the
        // device announces itself only when switched on.
        QElapsedTimer verifyClock;
        verifyClock.start();
        view.SetWaitingText(
            QStringLiteral("%1: проверка: выключите и снова включите прибор").arg(result.device));
        const TRunOutcome readBack = view.Pass(TRunKind::Read, ReadSectorCount);
        result.verifyMs = verifyClock.elapsed();
        if (const TExitCode code = judge(readBack, true); code != ExitDone)
            return finish(code);
    }
    // What a read brings back (128 sectors): after a write, of the sectors it sent (the
    // 0xFF after the file included); for compare, of the file.
    const int length = write ? std::min(writeTotal * SectorSize, ReadBackBytes)
                             : std::min(ProgramSize, ReadBackBytes);
    if (ProgramSize > length)
        Complain(result, QStringLiteral("Проверены первые %1 байт: чтение приносит только "
                                        "%2 секторов")
                             .arg(length)
                             .arg(ReadSectorCount));
    const TImageDifferences found = ImageDifferencesWithin(length, ShownDifferences);
    result.comparedBytes = length;
    result.differingBytes = found.count;
    result.firstDifferences = found.firstOffsets;
    return finish(found.count > 0 ? ExitDiffers : ExitDone);
}

bool LoadProgramForRun(const QString& File, TRunResult& Result) {
    TNoticeLog notices(Result);
    if (LoadProgramFile(notices, File) != TLoadResult::Loaded)
        return false;
    // A truncated download must not be flashed as a success.
    if (ProgramSize == 0) {
        ProgramLoaded = false;
        Complain(Result, QStringLiteral("Файл программы пуст: %1").arg(File));
        return false;
    }
    return true;
}

QString SummaryLine(const TRunResult& r) {
    QString line = QStringLiteral("%1: %2, секторов %3 из %4, повторов %5, %6 с")
                       .arg(PortLabel(r), OutcomeText(r.code))
                       .arg(r.sectorsDone)
                       .arg(r.sectorsTotal)
                       .arg(r.retries)
                       .arg(QString::number(r.totalMs / 1000.0, 'f', 1));
    if (r.differingBytes >= 0) {
        line += QStringLiteral("; отличающихся байт %1 из %2")
                    .arg(r.differingBytes)
                    .arg(r.comparedBytes);
        QStringList offsets;
        for (int offset : r.firstDifferences)
            offsets.append(QStringLiteral("0x%1").arg(offset, 5, 16, QLatin1Char('0')));
        if (!offsets.isEmpty())
            line += QStringLiteral(", первые по смещениям ") + offsets.join(QStringLiteral(", "));
    }
    return line;
}
