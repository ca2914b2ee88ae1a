#include "cli/Gang.h"

#include "cli/WireTrace.h"

#include "platform/ChildProcess.h"
#include "platform/StopSignals.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QJsonArray>
#include <QJsonDocument>
#include <QSocketNotifier>
#include <QTimer>
#include <cstdio>
#include <memory>
#include <optional>
#include <vector>

namespace {

// How often the children's pipes and ends are looked at: far below a sector's 300 ms.
constexpr int ChildPollMs = 20;

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
    r.code = ExitTransferFailed;
    r.messages.append(
        Child.TermSignal()
            ? QStringLiteral("процесс прибора завершён сигналом %1").arg(Child.TermSignal())
            : QStringLiteral("процесс прибора не дал итога (код %1): %2")
                  .arg(Child.ExitCode())
                  .arg(QString::fromUtf8(Child.Error).trimmed()));
    return r;
}

} // namespace

TExitCode GangExitCode(const QList<TRunResult>& Devices, bool Interrupted) {
    if (Interrupted)
        return ExitInterrupted;
    for (const TRunResult& d : Devices)
        if (d.code != ExitDone)
            return ExitGangFailed;
    return ExitDone;
}

TGangResult RunGang(const QString& Program, const TArguments& Args, TStopSignals& Stop) {
    QElapsedTimer clock;
    clock.start();
    TGangResult gang;
    std::vector<std::unique_ptr<TChildProcess>> children;
    QList<bool> done;
    for (const QString& port : Args.ports) {
        children.push_back(std::make_unique<TChildProcess>());
        const bool started = children.back()->Start(Program, ChildArguments(Args, port));
        done.append(!started);
        TRunResult r;
        r.command = CommandName(Args.command);
        r.port = port;
        r.file = Args.file;
        r.code = ExitTransferFailed;
        if (!started)
            r.messages.append(QStringLiteral("процесс для порта не запустился"));
        gang.devices.append(r);
    }

    bool interrupted = false;
    QEventLoop loop;
    std::optional<QSocketNotifier> stopNotifier;
    if (Stop.Descriptor() >= 0)
        stopNotifier.emplace(Stop.Descriptor(), QSocketNotifier::Read);
    auto onStop = [&] {
        if (!Stop.Take())
            return;
        interrupted = true;
        // Each child stops at its next sector and closes its port.
        for (auto& child : children)
            child->Interrupt();
    };
    if (stopNotifier)
        QObject::connect(&*stopNotifier, &QSocketNotifier::activated, onStop);
    QTimer poll;
    poll.setTimerType(Qt::PreciseTimer);
    auto collect = [&] {
        bool all = true;
        for (size_t i = 0; i < children.size(); ++i) {
            if (done[qsizetype(i)])
                continue;
            if (!children[i]->WaitForExit(0)) {
                all = false;
                continue;
            }
            done[qsizetype(i)] = true;
            TRunResult& r = gang.devices[qsizetype(i)];
            r = ChildResult(*children[i], Args, Args.ports[qsizetype(i)]);
            if (!Args.quiet) {
                std::fprintf(stderr, "%s: %s\n", PortLabel(r).toUtf8().constData(),
                             OutcomeText(r.code).toUtf8().constData());
                std::fflush(stderr);
            }
        }
        if (all)
            loop.quit();
    };
    QObject::connect(&poll, &QTimer::timeout, collect);
    poll.start(ChildPollMs);
    if (!Args.quiet) {
        std::fprintf(stderr, "Приборов: %d, включите их\n", int(Args.ports.size()));
        std::fflush(stderr);
    }
    collect();
    if (done.contains(false))
        loop.exec();
    gang.totalMs = clock.elapsed();
    gang.code = GangExitCode(gang.devices, interrupted);
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
        const int com = ComNumber(d.port);
        QString message = d.messages.join(QStringLiteral("; "));
        if (d.differingBytes > 0)
            message.prepend(QStringLiteral("отличающихся байт %1; ").arg(d.differingBytes));
        out +=
            row.arg(pad(com ? QStringLiteral("COM%1").arg(com) : QStringLiteral("-"), 6),
                    pad(d.device.isEmpty() ? d.port : d.device, 24), pad(OutcomeText(d.code), 22),
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
