#pragma once
// Gang programming: one child process per port, each the same program run for that one
// port with --json, all at once. A device run keeps one transfer per event-loop thread,
// so processes, not threads, are what lets several devices run side by side. The parent
// forwards Ctrl+C and SIGTERM to the children, collects their results and prints one
// table (or one JSON object). A child that does not stop within a bound of a stop request
// is terminated, then killed; no child outlives the parent.

#include "cli/Arguments.h"
#include "cli/RunResult.h"

#include <QList>

class TStopSignals;

struct TGangResult {
    TExitCode code = ExitDone;
    QList<TRunResult> devices; // in the order of the ports
    qint64 totalMs = 0;
};

// Needs a QCoreApplication; Program is this program's executable.
TGangResult RunGang(const QString& Program, const TArguments& Args, TStopSignals& Stop);

// What the gang came to: interrupted when a stop request stopped a device, else every
// device done or at least one failed.
TExitCode GangExitCode(const QList<TRunResult>& Devices);

QString GangTable(const TGangResult& Result);
QJsonObject GangJson(const TGangResult& Result);
