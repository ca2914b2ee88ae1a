#include "tools/vendrik-port/SerialInventory.h"

#include "tools/vendrik-port/PortRoots.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <algorithm>

namespace {
QString ReadAttribute(const QString& Path) {
    QFile f(Path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(f.read(4096)).trimmed();
}

bool Inside(const QString& Path, const QString& Root) {
    return Path == Root || Path.startsWith(Root + u'/');
}

// Nearest ancestor of Dir (itself included) holding File, below the sysfs root.
QString AncestorWith(QString Dir, const QString& File, int Levels) {
    const QString top = QFileInfo(SysfsRoot()).canonicalFilePath();
    for (int i = 0; i < Levels && Inside(Dir, top) && Dir != top; ++i) {
        if (QFileInfo(Dir + u'/' + File).exists())
            return Dir;
        Dir = QFileInfo(Dir).path();
    }
    return {};
}

// The driver that owns the port. Newer kernels put generic serial-base "port" and "ctrl"
// devices between a UART and its tty; those are skipped for the real driver above them.
QString DriverOf(QString Dir) {
    const QString top = QFileInfo(SysfsRoot()).canonicalFilePath();
    for (int i = 0; i < 6 && Inside(Dir, top) && Dir != top; ++i) {
        const QFileInfo link(Dir + QStringLiteral("/driver"));
        if (link.isSymLink()) {
            const QString target = link.symLinkTarget();
            if (!target.contains(QLatin1String("/bus/serial-base/")))
                return QFileInfo(target).fileName();
        }
        if (QFileInfo(Dir + QStringLiteral("/idVendor")).exists())
            break; // the USB device itself: its driver is the hub's business
        Dir = QFileInfo(Dir).path();
    }
    return {};
}
} // namespace

TTtyKind TtyKindOf(const QString& KernelName, TSerialPort* Port) {
    if (KernelName.isEmpty() || KernelName.contains(u'/'))
        return TTtyKind::NotSerial;
    const QString tty = SysfsRoot() + QStringLiteral("/class/tty/") + KernelName;
    const QFileInfo device(tty + QStringLiteral("/device"));
    if (!device.exists())
        return TTtyKind::NotSerial;
    // 8250-style ports report their UART type; 0 means nothing answered at that address.
    const QString type = ReadAttribute(tty + QStringLiteral("/type"));
    if (!type.isEmpty() && type == u'0')
        return TTtyKind::NoHardware;
    if (Port) {
        *Port = {};
        Port->name = KernelName;
        Port->path = DevRoot() + u'/' + KernelName;
        Port->stableName = StableNameOf(Port->path);
        const QString dir = device.canonicalFilePath();
        Port->driver = DriverOf(dir);
        const QString usb = AncestorWith(dir, QStringLiteral("idVendor"), 8);
        if (!usb.isEmpty()) {
            Port->usb = true;
            Port->vendorId = ReadAttribute(usb + QStringLiteral("/idVendor"));
            Port->productId = ReadAttribute(usb + QStringLiteral("/idProduct"));
            Port->manufacturer = ReadAttribute(usb + QStringLiteral("/manufacturer"));
            Port->product = ReadAttribute(usb + QStringLiteral("/product"));
            Port->serial = ReadAttribute(usb + QStringLiteral("/serial"));
        }
    }
    return TTtyKind::Serial;
}

QList<TSerialPort> ListSerialPorts() {
    QList<TSerialPort> ports;
    const QDir dir(SysfsRoot() + QStringLiteral("/class/tty"));
    for (const QString& name :
         dir.entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot)) {
        TSerialPort port;
        if (TtyKindOf(name, &port) == TTtyKind::Serial)
            ports.append(port);
    }
    // ttyS2 before ttyS10: by prefix, then by number.
    auto key = [](const QString& name) {
        qsizetype digits = name.size();
        while (digits > 0 && name.at(digits - 1).isDigit())
            --digits;
        return std::make_pair(name.left(digits), name.mid(digits).toInt());
    };
    std::sort(ports.begin(), ports.end(), [&](const TSerialPort& a, const TSerialPort& b) {
        return key(a.name) < key(b.name);
    });
    return ports;
}

QString DeviceNode(const QString& Path) {
    const QString root = DevRoot();
    QString node = QDir::cleanPath(QFileInfo(Path).absoluteFilePath());
    for (int i = 0; i < 16; ++i) {
        const QFileInfo info(node);
        if (!info.isSymLink())
            break;
        const QString target = QDir::cleanPath(info.symLinkTarget());
        if (!Inside(target, root))
            break;
        node = target;
    }
    return node;
}

QString StableNameOf(const QString& Node) {
    const QString byId = DevRoot() + QStringLiteral("/serial/by-id");
    const QString node = DeviceNode(Node);
    for (const QString& name :
         QDir(byId).entryList(QDir::System | QDir::AllEntries | QDir::NoDotAndDotDot, QDir::Name)) {
        const QString link = byId + u'/' + name;
        if (DeviceNode(link) == node)
            return link;
    }
    return {};
}
