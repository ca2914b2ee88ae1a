#include "tools/vendrik-port/ComMappings.h"

#include "platform/DeviceAccess.h"
#include "platform/ErrorText.h"
#include "platform/SerialNames.h"
#include "platform/SymbolicLinks.h"
#include "tools/vendrik-port/PortRoots.h"
#include "tools/vendrik-port/SerialInventory.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

TComMapping ComMapping(int Number) {
    TComMapping m;
    m.number = Number;
    m.link = ComPortLink(Number);
    const QFileInfo link(m.link);
    m.mapped = link.isSymLink() || link.exists();
    const QString opened = ResolveSerialDevice(QStringLiteral("COM%1").arg(Number));
    m.target = m.mapped ? (link.isSymLink() ? link.symLinkTarget() : m.link) : InDevRoot(opened);
    m.node = DeviceNode(m.target);
    m.present = QFileInfo::exists(m.target);
    if (m.present && !m.mapped && TtyKindOf(QFileInfo(m.node).fileName()) == TTtyKind::NoHardware)
        m.present = false;
    return m;
}

TMapResult MapCom(int Number, const QString& Device, QString& Used, QString& Error) {
    QString path = Device;
    if (!path.startsWith(u'/'))
        path = DevRoot() + u'/' + path;
    else
        path = InDevRoot(path);
    TFileOwnership facts;
    if (!StatFile(path, facts))
        return TMapResult::NoSuchDevice;
    if (!facts.charDevice)
        return TMapResult::NotSerial;
    const QString node = DeviceNode(path);
    const QString name = QFileInfo(node).fileName();
    const TTtyKind kind = TtyKindOf(name);
    if (kind == TTtyKind::NoHardware)
        return TMapResult::NoHardware;
    const bool pty = node.startsWith(DevRoot() + QStringLiteral("/pts/"));
    if (kind == TTtyKind::NotSerial && !pty)
        return TMapResult::NotSerial;
    const QString stable = StableNameOf(node);
    Used = stable.isEmpty() ? QDir::cleanPath(path) : stable;

    const QString link = ComPortLink(Number);
    const QFileInfo existing(link);
    if (existing.exists() && !existing.isSymLink())
        return TMapResult::NotALink;
    if (!QDir().mkpath(QFileInfo(link).path())) {
        Error = QStringLiteral("не могу создать папку %1").arg(QFileInfo(link).path());
        return TMapResult::Failed;
    }
    int error = 0;
    if (!ReplaceSymLink(link, Used, error)) {
        Error = link + QStringLiteral(": ") + SystemErrorText(error);
        return TMapResult::Failed;
    }
    return TMapResult::Done;
}

TMapResult UnmapCom(int Number, bool& Existed, QString& Error) {
    const QString link = ComPortLink(Number);
    const QFileInfo existing(link);
    Existed = existing.isSymLink() || existing.exists();
    if (!Existed)
        return TMapResult::Done;
    if (!existing.isSymLink())
        return TMapResult::NotALink;
    QFile file(link);
    if (!file.remove()) {
        Error = link + QStringLiteral(": ") + file.errorString();
        return TMapResult::Failed;
    }
    return TMapResult::Done;
}
