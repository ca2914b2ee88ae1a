#pragma once
// One command on one device, through the same device run as the window program: the
// port set up and opened alike, the announcement waited for, the transfer run inside
// the port's received-character notification, the port closed at its end.

#include "cli/Arguments.h"
#include "cli/RunResult.h"
#include "programmer/RunOutcome.h"

class TStopSignals;

// Runs Args (with exactly one port) and prints the progress and messages on standard
// error; the result is returned, not printed. Needs a QCoreApplication.
TRunResult RunOnDevice(const TArguments& Args, TStopSignals& Stop);

// The exit code of one device run's outcome: the one place where what happened becomes
// a code.
TExitCode RunExitCode(const TRunOutcome& Outcome);

// Loads the program file as the window program's Open does; false, with the reason in
// Result's messages (and on standard error), when it is unreadable, too large or empty.
bool LoadProgramForRun(const QString& File, TRunResult& Result);

// The human summary line of a result (standard output without --json).
QString SummaryLine(const TRunResult& Result);
