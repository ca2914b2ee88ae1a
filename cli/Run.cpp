#include "cli/Run.h"

#include "base/ErrorReport.h"
#include "base/MessageBox.h"
#include "cli/Progress.h"
#include "comm/VaComm.h"
#include "platform/SerialNames.h"
#include "platform/StopSignals.h"
#include "platform/Terminal.h"
#include "programmer/DevicePort.h"
#include "programmer/DeviceRun.h"
#include "programmer/ImageCompare.h"
#include "programmer/ProgramFiles.h"
#include "programmer/ProgramImage.h"

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

// The program file's fields of the main window: nothing to show here.
class TNoFileView : public TProgramFileView {
public:
    void SetProgramCaptions(const QString&, const QString&, const QString&) override {}
    void SetProgramNameHint(const QString&) override {}
};

enum class TPassEnd { PortFailed, Done, Failed, NoAnnouncement, Interrupted };

// The device run's windows, played by an event loop: "showing the progress window"
// runs the loop until the transfer has ended, the wait has run out or a stop signal
// came while the device had not announced itself yet.
class TCommandLineView : public TDeviceRunView {
public:
    TCommandLineView(TStopSignals& Stop, TProgressReport& Report, int WaitMs)
        : stop_(Stop), report_(Report), waitMs_(WaitMs) {}

    void Attach(TDeviceRun& Run) { run_ = &Run; }
    void SetPortIndex(int Index) { portIndex_ = Index; }

    TPassEnd Pass(bool Write, int Total, TRunResult& Result) {
        total_ = Total;
        waited_ = transferring_ = finished_ = false;
        lastPosition_ = 0;
        stoppedBetweenSectors_ = false;
        transferClock_.invalidate();
        status_.clear();
        if (Write)
            run_->StartWrite();
        else
            run_->StartRead();
        if (!waited_)
            return TPassEnd::PortFailed;
        Result.retries += retries_;
        retries_ = 0;
        if (!finished_) {
            // Armed: the port is still open and listening; closing the main window is
            // what lets it go.
            run_->MainWindowClosing();
            return interrupted_ ? TPassEnd::Interrupted : TPassEnd::NoAnnouncement;
        }
        Result.waitMs = announcedAfterMs_;
        if (interrupted_)
            return TPassEnd::Interrupted;
        const bool ok = status_ == (Write ? TextDataWritten : TextDataRead);
        return ok ? TPassEnd::Done : TPassEnd::Failed;
    }

    // Sectors that passed in the last pass.
    int SectorsDone() const {
        if (status_ == TextDataWritten || status_ == TextDataRead)
            return total_;
        // A stop ends the loop before the next sector starts; a failure at that sector.
        return std::max(0, stoppedBetweenSectors_ ? lastPosition_ : lastPosition_ - 1);
    }
    qint64 TransferMs() const { return transferClock_.isValid() ? transferMs_ : -1; }

    // TDeviceRunView
    int SelectedPortIndex() const override { return portIndex_; }
    // Modes 2 and 3 behave alike; the read-back is the command line's own step.
    bool WriteWithCheck() const override { return false; }
    void SetModeText(const QString&) override {}
    void SetAnimation(TRunAnimation) override {}
    void CentreProgressWindow() override {}
    bool ProgressWindowShown() const override { return looping_; }
    void SetMainWindowBusy(bool) override {}

    void SetCloseEnabled(bool Enabled) override {
        if (!Enabled) {
            // The device has announced itself and the transfer begins.
            transferring_ = true;
            announcedAfterMs_ = waitClock_.elapsed();
            transferClock_.start();
            return;
        }
        if (!transferring_)
            return;
        transferMs_ = transferClock_.elapsed();
        transferring_ = false;
        finished_ = true;
        report_.End();
        loop_.quit();
    }

    void ShowProgressModal() override {
        waited_ = true;
        looping_ = true;
        waitClock_.start();
        std::optional<QSocketNotifier> stopNotifier;
        if (stop_.Descriptor() >= 0) {
            stopNotifier.emplace(stop_.Descriptor(), QSocketNotifier::Read);
            QObject::connect(&*stopNotifier, &QSocketNotifier::activated, [this] { OnStop(); });
        }
        QTimer waitTimer;
        waitTimer.setSingleShot(true);
        waitTimer.setTimerType(Qt::PreciseTimer);
        QObject::connect(&waitTimer, &QTimer::timeout, [this] {
            if (!transferring_ && !finished_)
                loop_.quit();
        });
        if (waitMs_ >= 0)
            waitTimer.start(waitMs_);
        // A signal that came before the loop began is still waiting in the pipe.
        if (!interrupted_)
            loop_.exec();
        looping_ = false;
    }

    // TProgressSink
    void SetProgressRange(int, int) override {}
    void SetProgressPosition(int Position) override {
        if (!transferring_)
            return;
        lastPosition_ = Position;
        stoppedBetweenSectors_ = false;
        if (Position > 0)
            report_.Sector(Position - 1);
    }
    void SetStatusText(const QString& Text) override {
        status_ = Text;
        if (Text == TextSearching)
            return; // said with the device's name before the run starts
        if (Text == TextDataWritten || Text == TextDataRead)
            report_.Sector(total_);
        report_.Stage(Text);
        if (Text == TextWriting || Text == TextReading)
            report_.Start(total_);
    }
    void SetSaveAsEnabled(bool) override {}
    void SectorRetried(int) override { ++retries_; }

private:
    void OnStop() {
        if (!stop_.Take())
            return;
        interrupted_ = true;
        if (transferring_) {
            // The loop stops before its next sector and the run closes the port.
            stoppedBetweenSectors_ = true;
            run_->MainWindowClosing();
            return;
        }
        loop_.quit();
    }

    TStopSignals& stop_;
    TProgressReport& report_;
    int waitMs_;
    TDeviceRun* run_ = nullptr;
    int portIndex_ = 0;
    int total_ = 0;
    int retries_ = 0;
    int lastPosition_ = 0;
    bool stoppedBetweenSectors_ = false;
    bool waited_ = false, looping_ = false, transferring_ = false, finished_ = false;
    bool interrupted_ = false;
    QString status_;
    QEventLoop loop_;
    QElapsedTimer waitClock_, transferClock_;
    qint64 announcedAfterMs_ = 0, transferMs_ = 0;
};

TExitCode PassExitCode(TPassEnd End) {
    switch (End) {
    case TPassEnd::PortFailed:
        return ExitPortError;
    case TPassEnd::Done:
        return ExitDone;
    case TPassEnd::Failed:
        return ExitTransferFailed;
    case TPassEnd::NoAnnouncement:
        return ExitNoAnnouncement;
    case TPassEnd::Interrupted:
        return ExitInterrupted;
    }
    return ExitTransferFailed;
}

// "%" would be taken for the port number's placeholder.
QString DeviceNameForPath(const QString& Path) {
    return QString(Path).replace(u'%', QStringLiteral("%%"));
}

void Complain(TRunResult& Result, const QString& Text) {
    Result.messages.append(Text);
    std::fprintf(stderr, "vendrik-cli: %s\n", Text.toUtf8().constData());
    std::fflush(stderr);
}

} // namespace

TRunResult RunOnDevice(const TArguments& Args, TStopSignals& Stop) {
    QElapsedTimer total;
    total.start();
    TRunResult result;
    result.command = CommandName(Args.command);
    result.port = Args.ports.value(0);
    result.file = Args.file;
    const int com = ComNumber(result.port);
    result.device = ResolveSerialDevice(com ? QStringLiteral("COM%1").arg(com) : result.port);
    // A COM link (or a by-id name) is told by the device it leads to.
    if (const QString target = QFileInfo(result.device).canonicalFilePath(); !target.isEmpty())
        result.device = target;

    // Every message of the shared code comes here instead of a window.
    const MessageBoxHandler previous = SetMessageBoxHandler(
        [&result](const QString& Text, const QString&, MsgIcon) { Complain(result, Text); });
    auto finish = [&](TExitCode Code) {
        result.code = Code;
        result.totalMs = total.elapsed();
        SetMessageBoxHandler(previous);
        return result;
    };

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

    TProgressReport report(StandardErrorIsTerminal(), Args.quiet);
    TCommandLineView view(Stop, report, Args.waitMs);
    view.SetPortIndex(com ? com - 1 : 0);
    TVaComm port;
    ConfigureDevicePort(port);
    if (!com)
        port.SetDeviceName(DeviceNameForPath(result.port));
    TDeviceRun run(port, view);
    view.Attach(run);
    port.OnRxChar = [&run](QObject*, int) { run.Received(); };

    const bool write = Args.command == TCommand::Write;
    const int writeTotal = std::min(SectorCount, WriteSectorLimit);
    result.sectorsTotal = write ? writeTotal : ReadSectorCount;
    report.Stage(QStringLiteral("%1: %2").arg(result.device, TextSearching));
    TPassEnd end = view.Pass(write, result.sectorsTotal, result);
    result.sectorsDone = view.SectorsDone();
    result.transferMs = view.TransferMs();
    if (end == TPassEnd::PortFailed) {
        if (!run.PortErrorText().isEmpty())
            Complain(result, run.PortErrorText());
        return finish(ExitPortError);
    }
    if (end == TPassEnd::NoAnnouncement)
        Complain(result, QStringLiteral("Прибор не включился за %1 с").arg(Args.waitMs / 1000.0));
    if (end == TPassEnd::Interrupted)
        Complain(result, QStringLiteral("Прервано: порт закрыт"));
    if (end == TPassEnd::Failed)
        Complain(result, QStringLiteral("%1: сектор %2 не прошёл и со второй попытки")
                             .arg(write ? TextWriteError : TextReadError)
                             .arg(result.sectorsDone));
    if (end != TPassEnd::Done)
        return finish(PassExitCode(end));

    if (Args.command == TCommand::Read) {
        SaveDeviceImageAs(Args.file);
        // Save As leaves the image valid only when it could not write the file.
        return finish(DeviceImageValid ? ExitFileError : ExitDone);
    }
    if (write && !Args.verify)
        return finish(ExitDone);

    int length = ComparedLength();
    if (write) {
        // The read-back waits for a fresh announcement, as a Read in the window does: the
        // device announces itself only when switched on.
        QElapsedTimer verifyClock;
        verifyClock.start();
        report.Stage(QStringLiteral("%1: проверка: выключите и снова включите прибор. %2")
                         .arg(result.device, TextSearching));
        TRunResult readBack;
        end = view.Pass(false, ReadSectorCount, readBack);
        result.retries += readBack.retries;
        result.verifyMs = verifyClock.elapsed();
        if (end == TPassEnd::PortFailed && !run.PortErrorText().isEmpty())
            Complain(result, run.PortErrorText());
        if (end == TPassEnd::NoAnnouncement)
            Complain(result, QStringLiteral("Прибор не включился для проверки за %1 с")
                                 .arg(Args.waitMs / 1000.0));
        if (end == TPassEnd::Interrupted)
            Complain(result, QStringLiteral("Прервано: порт закрыт"));
        if (end == TPassEnd::Failed)
            Complain(result, QStringLiteral("Проверка: %1").arg(TextReadError));
        if (end != TPassEnd::Done)
            return finish(PassExitCode(end));
        // The bytes the write sent, as far as a read brings them back (128 sectors).
        length = std::min(writeTotal, ReadSectorCount) * SectorSize;
        if (writeTotal > ReadSectorCount)
            Complain(result, QStringLiteral("Проверены первые %1 байт: чтение приносит только "
                                            "%2 секторов")
                                 .arg(length)
                                 .arg(ReadSectorCount));
    }
    const TImageDifferences found = ImageDifferencesWithin(length, ShownDifferences);
    result.comparedBytes = length;
    result.differingBytes = found.count;
    result.firstDifferences = found.firstOffsets;
    return finish(found.count > 0 ? ExitDiffers : ExitDone);
}

bool LoadProgramForRun(const QString& File, TRunResult& Result) {
    const MessageBoxHandler previous = SetMessageBoxHandler(
        [&Result](const QString& Text, const QString&, MsgIcon) { Complain(Result, Text); });
    TNoFileView fileView;
    LoadProgramFile(fileView, File);
    SetMessageBoxHandler(previous);
    return ProgramLoaded;
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
