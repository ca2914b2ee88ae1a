#pragma once
// What is wrong with a port, in one line an operator can act on. The facts are gathered
// by ProbePort (PortProbe.h); turning them into the verdict is kept apart so that every
// case, including those only an unprivileged user meets, can be tried with made-up facts.

#include "tools/vendrik-port/ProcessScan.h"

#include <QList>
#include <QString>

enum class TOpenOutcome {
    Opened,
    Missing,    // no such device file (a link whose target is gone included)
    NoHardware, // a ttyS name with no UART behind it
    AccessDenied,
    Busy,
    NotATerminal,
    SettingsRefused, // opened, but 57600 8N1 was not accepted
    HeldElsewhere,   // another program has it open: not opened, so nothing of it changed
    OtherError,
};

struct TPortFacts {
    int number = 0;
    QString target;      // what COMN opens
    bool mapped = false; // through a dosdevices link rather than the default ttyS name
    bool usb = false;
    TOpenOutcome outcome = TOpenOutcome::OtherError;
    int error = 0; // errno of the failing step
    QString errorText;
    // For AccessDenied: the device file's group and mode, the user and the groups.
    QString group;
    unsigned mode = 0;
    QString user;
    bool sessionInGroup = false; // this login carries the group
    bool accountInGroup = false; // the account database lists the user in it
    // Other processes with the device open, and whether all of them could be seen.
    QList<TProcessInfo> holders;
    bool allProcessesVisible = false;
    TProcessInfo modemManager; // pid 0 when not running
};

struct TDiagnosis {
    bool ok = false;
    QString line;
};

TDiagnosis Diagnose(const TPortFacts& Facts);
