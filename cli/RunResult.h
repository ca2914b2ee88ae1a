#pragma once
// Exit codes of vendrik-cli and what one run on one device came to, as --json prints it
// and the gang's parent reads it back from each child.

#include "platform/ExitCodeHelp.h"

#include <QJsonObject>
#include <QList>
#include <QString>
#include <QStringList>

// Their names and meanings are in one table (RunResult.cpp): --help lists it, a test
// holds the manual page against it.
enum TExitCode {
    // One device of a gang whose process a signal ended: it has no exit code of its own.
    ExitKilled = -1,
    ExitDone = 0,
    ExitGangFailed = 1, // a gang: at least one device did not finish
    ExitBadArguments = 2,
    ExitFileError = 3,
    ExitPortError = 4,
    ExitNoAnnouncement = 5,
    ExitTransferFailed = 6,
    ExitDiffers = 7, // --verify mismatch, or compare found differing bytes
    ExitInterrupted = 130,
};

// "done", "port-error", ... and back; unknown names give ExitTransferFailed.
QString OutcomeName(TExitCode Code);
TExitCode OutcomeFromName(const QString& Name);
// The outcome in the operator's words, for the gang's table.
QString OutcomeText(TExitCode Code);
// Every exit code the program ends with and what it means, in order.
TExitCodeMeanings ExitCodeMeanings();

struct TRunResult {
    QString command;
    QString port;   // as given: "3" or a device path
    QString device; // the device it leads to
    QString file;
    TExitCode code = ExitDone;
    int sectorsDone = 0;
    int sectorsTotal = 0;
    int retries = 0;
    // Milliseconds; -1 where the step did not happen.
    qint64 waitMs = -1;     // port open to the device's announcement
    qint64 transferMs = -1; // announcement to the closed port
    qint64 verifyMs = -1;   // the read-back of --verify, its wait included
    qint64 totalMs = 0;
    int bytesNotSent = 0;   // write: bytes of the file beyond the most a write sends
    int comparedBytes = -1; // compare and --verify
    int differingBytes = -1;
    QList<int> firstDifferences;
    QStringList messages; // what went to standard error, in order
};

// "COM1 (/dev/pts/3)" for a port given by number, else the device.
QString PortLabel(const TRunResult& Result);

QJsonObject ToJson(const TRunResult& Result);
// Fields missing from the object keep their defaults.
TRunResult FromJson(const QJsonObject& Object);
