#include "tools/vendrik-port/ProcessScan.h"

#include "tools/vendrik-port/PortRoots.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace {
QStringList ProcessIds() {
    QStringList pids;
    for (const QString& entry : QDir(ProcRoot()).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        bool ok = false;
        entry.toLongLong(&ok);
        if (ok)
            pids.append(entry);
    }
    return pids;
}

QString Comm(const QString& Pid) {
    QFile f(ProcRoot() + u'/' + Pid + QStringLiteral("/comm"));
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(f.readAll()).trimmed();
}
} // namespace

QList<TProcessInfo> DeviceHolders(const QString& Device) {
    QList<TProcessInfo> holders;
    const QString wanted = QFileInfo(Device).canonicalFilePath();
    if (wanted.isEmpty())
        return holders;
    const qint64 self = QCoreApplication::applicationPid();
    for (const QString& pid : ProcessIds()) {
        if (pid.toLongLong() == self)
            continue;
        const QString fdDir = ProcRoot() + u'/' + pid + QStringLiteral("/fd");
        for (const QString& fd :
             QDir(fdDir).entryList(QDir::System | QDir::AllEntries | QDir::NoDotAndDotDot)) {
            const QString target = QFileInfo(fdDir + u'/' + fd).symLinkTarget();
            if (!target.isEmpty() && QFileInfo(target).canonicalFilePath() == wanted) {
                holders.append({pid.toLongLong(), Comm(pid)});
                break;
            }
        }
    }
    return holders;
}

TProcessInfo RunningProcess(const QString& Name) {
    for (const QString& pid : ProcessIds())
        if (Comm(pid) == Name)
            return {pid.toLongLong(), Name};
    return {};
}
