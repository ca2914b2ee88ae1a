#pragma once
// Gang programming: one child process per port, each the same program run for that one
// port with --json, all at once. A device run works on state the process has once, as
// the window program does: the program and device images (ProgramImage.h), the frame
// buffer and last reply (FrameProtocol.h), the operation mode, the stop signals and the
// message-box seam. Two runs in one process would share them, so each device gets a
// process of its own, with its own exit code and JSON result. The parent
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
