#pragma once
// Which processes hold a device open and whether a program runs, from /proc. Without
// root only the user's own processes can be looked into; the others stay unseen.

#include <QList>
#include <QString>

struct TProcessInfo {
    qint64 pid = 0;
    QString name; // /proc/PID/comm
};

// Processes other than this one with a descriptor on the device file (compared after
// following every link, so a by-id name and /dev/ttyUSB0 match).
QList<TProcessInfo> DeviceHolders(const QString& Device);
// The first running process with this name (comm), pid 0 when none.
TProcessInfo RunningProcess(const QString& Name);
