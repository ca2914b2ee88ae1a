#include "cli/Gang.h"

#include "cli/WireTrace.h"
#include "platform/ChildProcess.h"
#include "platform/SerialNames.h"
#include "platform/StopSignals.h"
#include "platform/VisibleText.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QJsonArray>
#include <QJsonDocument>
#include <QSocketNotifier>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <memory>
#include <optional>
#include <vector>

namespace {

// After a stop request a child reaches its next sector within a second (a sector and its
// retry); one that has not ended by then is stopped or stuck, and gets SIGTERM (with
// SIGCONT, so that a stopped one can act on it), then SIGKILL.
constexpr int StopGraceMs = 3000;
constexpr int TerminateGraceMs = 3000;
// A child whose pipes have ended is about to end itself: how soon to look again.
constexpr int ReapRetryMs = 2;

QStringList ChildArguments(const TArguments& Args, const QString& Port) {
    QStringList a{CommandName(Args.command), Args.file,
                  QStringLiteral("--port"),  Port,
                  QStringLiteral("--json"),  QStringLiteral("--quiet")};
    if (Args.verify)
        a.append(QStringLiteral("--verify"));
    if (Args.waitMs >= 0)
        a << QStringLiteral("--wait") << QString::number(Args.waitMs / 1000.0, 'f', 3);
    if (!Args.trace.isEmpty())
        a << QStringLiteral("--trace") << TraceFileForPort(Args.trace, Port);
    return a;
}

// The child's JSON, or what can be said of a child that printed none.
TRunResult ChildResult(const TChildProcess& Child, const TArguments& Args, const QString& Port) {
    const QJsonDocument doc = QJsonDocument::fromJson(Child.Output);
    if (doc.isObject())
        return FromJson(doc.object());
    TRunResult r;
    r.command = CommandName(Args.command);
    r.port = Port;
    r.file = Args.file;
    r.code = Child.TermSignal() ? ExitKilled : ExitTransferFailed;
    r.messages.append(
        Child.TermSignal()
            ? QStringLiteral("процесс прибора завершён сигналом %1").arg(Child.TermSignal())
            : QStringLiteral("процесс прибора не дал итога (код %1): %2")
                  .arg(Child.ExitCode())
                  .arg(QString::fromUtf8(Child.Error).trimmed()));
    return r;
}

enum class TEscalation { None, Terminated, Killed };

struct TGangMember {
    TChildProcess process;
    // Enabled while their pipe is open; the child ends soon after both have ended.
    std::unique_ptr<QSocketNotifier> output, error;
    bool done = false;
    TEscalation escalation = TEscalation::None;
    QStringList notes; // what the parent did to it, after the child's own messages
};

bool PipesEnded(const TGangMember& Member) {
    return Member.process.OutputDescriptor() < 0 && Member.process.ErrorDescriptor() < 0;
}

} // namespace

TExitCode GangExitCode(const QList<TRunResult>& Devices) {
    // A stop request counts only where it stopped a device: one that came after every
    // device had ended changes nothing.
    bool failed = false;
    for (const TRunResult& d : Devices) {
        if (d.code == ExitInterrupted)
            return ExitInterrupted;
        failed = failed || d.code != ExitDone;
    }
    return failed ? ExitGangFailed : ExitDone;
}

TGangResult RunGang(const QString& Program, const TArguments& Args, TStopSignals& Stop) {
    QElapsedTimer clock;
    clock.start();
    TGangResult gang;
    std::vector<std::unique_ptr<TGangMember>> members;
    // The children share a process group of their own: a signal to it reaches them all,
    // and a terminal's Ctrl+C reaches only this process, which passes it on once. Each
    // gets SIGTERM when this process ends, however it ends.
    TChildOptions options;
    options.processGroup = 0;
    for (const QString& port : Args.ports) {
        auto member = std::make_unique<TGangMember>();
        const bool started = member->process.Start(Program, ChildArguments(Args, port), options);
        if (started && options.processGroup == 0)
            options.processGroup = member->process.ProcessGroup();
        member->done = !started;
        TRunResult r;
        r.command = CommandName(Args.command);
        r.port = port;
        r.file = Args.file;
        r.code = ExitTransferFailed;
        if (!started)
            r.messages.append(QStringLiteral("процесс для порта не запустился"));
        gang.devices.append(r);
        members.push_back(std::move(member));
    }

    QEventLoop loop;
    QTimer reapTimer;
    reapTimer.setSingleShot(true);
    reapTimer.setTimerType(Qt::PreciseTimer);
    auto collect = [&] {
        bool all = true, waiting = false;
        for (size_t i = 0; i < members.size(); ++i) {
            TGangMember& m = *members[i];
            if (m.done)
                continue;
            if (!PipesEnded(m)) {
                all = false;
                continue;
            }
            if (!m.process.WaitForExit(0)) {
                all = false;
                waiting = true;
                continue;
            }
            m.done = true;
            TRunResult& r = gang.devices[qsizetype(i)];
            r = ChildResult(m.process, Args, Args.ports[qsizetype(i)]);
            r.messages.append(m.notes);
            if (!Args.quiet) {
                std::fprintf(stderr, "%s: %s\n", PortLabel(r).toUtf8().constData(),
                             OutcomeText(r.code).toUtf8().constData());
                std::fflush(stderr);
            }
        }
        if (all)
            loop.quit();
        else if (waiting && !reapTimer.isActive())
            reapTimer.start(ReapRetryMs);
    };
    QObject::connect(&reapTimer, &QTimer::timeout, collect);

    auto onPipe = [&](TGangMember& m) {
        // Disabled while read, so that no notifier watches a descriptor the read closed.
        m.output->setEnabled(false);
        m.error->setEnabled(false);
        m.process.ReadAvailable();
        m.output->setEnabled(m.process.OutputDescriptor() >= 0);
        m.error->setEnabled(m.process.ErrorDescriptor() >= 0);
        if (PipesEnded(m))
            collect();
    };
    for (const auto& member : members) {
        if (member->done)
            continue;
        TGangMember& m = *member;
        m.output =
            std::make_unique<QSocketNotifier>(m.process.OutputDescriptor(), QSocketNotifier::Read);
        m.error =
            std::make_unique<QSocketNotifier>(m.process.ErrorDescriptor(), QSocketNotifier::Read);
        for (QSocketNotifier* n : {m.output.get(), m.error.get()})
            QObject::connect(n, &QSocketNotifier::activated, [&] { onPipe(m); });
    }

    QTimer escalate;
    escalate.setSingleShot(true);
    escalate.setTimerType(Qt::PreciseTimer);
    QObject::connect(&escalate, &QTimer::timeout, [&] {
        bool terminated = false;
        for (const auto& member : members) {
            TGangMember& m = *member;
            if (m.done)
                continue;
            if (m.escalation == TEscalation::None) {
                m.process.Terminate();
                m.process.Continue();
                m.escalation = TEscalation::Terminated;
                m.notes.append(QStringLiteral("не остановился за %1 с: послан SIGTERM")
                                   .arg(StopGraceMs / 1000));
                terminated = true;
            } else if (m.escalation == TEscalation::Terminated) {
                m.process.Kill();
                m.escalation = TEscalation::Killed;
                m.notes.append(QStringLiteral("не завершился за %1 с после SIGTERM: послан SIGKILL")
                                   .arg(TerminateGraceMs / 1000));
            }
        }
        if (terminated)
            escalate.start(TerminateGraceMs);
    });

    std::optional<QSocketNotifier> stopNotifier;
    if (Stop.Descriptor() >= 0)
        stopNotifier.emplace(Stop.Descriptor(), QSocketNotifier::Read);
    auto onStop = [&] {
        if (!Stop.Take())
            return;
        // Each child stops at its next sector and closes its port.
        for (const auto& m : members)
            if (!m->done)
                m->process.Interrupt();
        if (!escalate.isActive() && std::any_of(members.begin(), members.end(), [](auto& m) {
                return m->escalation == TEscalation::None && !m->done;
            }))
            escalate.start(StopGraceMs);
    };
    if (stopNotifier)
        QObject::connect(&*stopNotifier, &QSocketNotifier::activated, onStop);

    if (!Args.quiet) {
        std::fprintf(stderr, "Приборов: %d, включите их\n", int(Args.ports.size()));
        std::fflush(stderr);
    }
    // A stop that came while the children were being started.
    onStop();
    collect();
    if (std::any_of(members.begin(), members.end(), [](auto& m) { return !m->done; }))
        loop.exec();
    gang.totalMs = clock.elapsed();
    gang.code = GangExitCode(gang.devices);
    return gang;
}

QString GangTable(const TGangResult& g) {
    const QString row = QStringLiteral("%1  %2  %3  %4  %5  %6  %7\n");
    auto pad = [](const QString& s, int w) { return s.leftJustified(w, u' '); };
    QString out = row.arg(pad(QStringLiteral("Порт"), 6), pad(QStringLiteral("Устройство"), 24),
                          pad(QStringLiteral("Итог"), 22), pad(QStringLiteral("Секторы"), 9),
                          pad(QStringLiteral("Повторы"), 7), pad(QStringLiteral("Время, с"), 8),
                          QStringLiteral("Сообщение"));
    for (const TRunResult& d : g.devices) {
        const int com = ParseComNumber(d.port);
        QString message = VisibleText(d.messages.join(QStringLiteral("; ")));
        if (d.differingBytes > 0)
            message.prepend(QStringLiteral("отличающихся байт %1; ").arg(d.differingBytes));
        out += row.arg(pad(com ? QStringLiteral("COM%1").arg(com) : QStringLiteral("-"), 6),
                       pad(VisibleText(d.device.isEmpty() ? d.port : d.device), 24),
                       pad(OutcomeText(d.code), 22),
                       pad(QStringLiteral("%1/%2").arg(d.sectorsDone).arg(d.sectorsTotal), 9),
                       pad(QString::number(d.retries), 7),
                       pad(QString::number(d.totalMs / 1000.0, 'f', 1), 8), message)
                   .trimmed() +
               u'\n';
    }
    out += QStringLiteral("Всего %1 с: %2\n")
               .arg(QString::number(g.totalMs / 1000.0, 'f', 1), OutcomeText(g.code));
    return out;
}

QJsonObject GangJson(const TGangResult& g) {
    QJsonArray devices;
    for (const TRunResult& d : g.devices)
        devices.append(ToJson(d));
    return QJsonObject{{"outcome", OutcomeName(g.code)},
                       {"exitCode", int(g.code)},
                       {"totalMs", g.totalMs},
                       {"devices", devices}};
}
