#pragma once
// A gang's processes as /proc shows them: the children of its parent, their state, and
// which processes hold a port. The test's own process (which keeps the simulators'
// pseudo-terminals open) is never counted.

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QList>
#include <QStringList>
#include <csignal>

// The fields of /proc/PID/stat after the command name: state, ppid, ...; empty when gone.
inline QStringList ProcessStat(int Pid) {
    QFile f(QStringLiteral("/proc/%1/stat").arg(Pid));
    if (!f.open(QIODevice::ReadOnly))
        return {};
    const QByteArray text = f.readAll();
    const qsizetype end = text.lastIndexOf(')');
    if (end < 0)
        return {};
    return QString::fromLatin1(text.mid(end + 2)).split(u' ', Qt::SkipEmptyParts);
}

// 'R', 'S', 'T' (stopped), 'Z' (ended, not yet reaped)...; 0 when the process is gone.
inline char ProcessState(int Pid) {
    const QStringList fields = ProcessStat(Pid);
    return fields.isEmpty() ? 0 : fields[0].at(0).toLatin1();
}

inline QList<int> AllProcesses() {
    QList<int> pids;
    for (const QString& name : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
        bool number = false;
        const int pid = name.toInt(&number);
        if (number)
            pids.append(pid);
    }
    return pids;
}

inline QList<int> ChildrenOf(int Parent) {
    QList<int> children;
    for (int pid : AllProcesses()) {
        const QStringList fields = ProcessStat(pid);
        if (fields.size() > 1 && fields[1].toInt() == Parent)
            children.append(pid);
    }
    return children;
}

// The processes, ours aside, with a descriptor open on any of Paths.
inline QList<int> ProcessesHolding(const QStringList& Paths) {
    QList<int> holders;
    const int self = int(QCoreApplication::applicationPid());
    for (int pid : AllProcesses()) {
        if (pid == self)
            continue;
        const QDir fds(QStringLiteral("/proc/%1/fd").arg(pid));
        for (const QString& fd :
             fds.entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot)) {
            if (Paths.contains(QFile::symLinkTarget(fds.filePath(fd)))) {
                holders.append(pid);
                break;
            }
        }
    }
    return holders;
}

// The child of Parent that holds Path, or 0.
inline int ChildHolding(int Parent, const QString& Path) {
    const QList<int> holders = ProcessesHolding({Path});
    for (int child : ChildrenOf(Parent))
        if (holders.contains(child))
            return child;
    return 0;
}

inline bool SendSignal(int Pid, int Number) {
    return Pid > 0 && ::kill(Pid, Number) == 0;
}
