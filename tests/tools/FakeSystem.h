#pragma once
// A made-up /sys, /dev and /proc in a temporary folder, laid out as the kernel and udev
// lay out the real ones, for the port helper to find its ports in. Device files are
// symbolic links to real pseudo-terminals (or plain files, which no port is).

#include <QDir>
#include <QFile>
#include <QProcessEnvironment>
#include <QTemporaryDir>

class FakeSystem {
public:
    FakeSystem() {
        for (const char* d : {"sys/class/tty", "sys/bus/usb-serial/drivers/ftdi_sio",
                              "sys/bus/platform/drivers/serial8250", "dev/serial/by-id", "proc"})
            QDir().mkpath(root(d));
        // A virtual console: a tty without a device behind it.
        mkdir("sys/devices/virtual/tty/tty0");
        link("sys/class/tty/tty0", root("sys/devices/virtual/tty/tty0"));
    }

    QString root(const QString& sub = {}) const {
        return sub.isEmpty() ? dir_.path() : dir_.path() + u'/' + sub;
    }
    QString dev(const QString& name) const { return root(QStringLiteral("dev/") + name); }

    // A USB adapter on the usb-serial bus, with its by-id link (relative, as udev makes it).
    void addUsbPort(const QString& name, const QString& target, const QString& byId) {
        const QString usb = usbDevice();
        write(usb + QStringLiteral("/idVendor"), "0403");
        write(usb + QStringLiteral("/idProduct"), "6001");
        write(usb + QStringLiteral("/manufacturer"), "FTDI");
        write(usb + QStringLiteral("/product"), "FT232R USB UART");
        write(usb + QStringLiteral("/serial"), "A50285BI");
        const QString port = usb + QStringLiteral("/1-1:1.0/") + name;
        mkdir(port + QStringLiteral("/tty/") + name);
        link(port + QStringLiteral("/driver"), root("sys/bus/usb-serial/drivers/ftdi_sio"));
        link(port + QStringLiteral("/tty/") + name + QStringLiteral("/device"),
             QStringLiteral("../.."));
        link(QStringLiteral("sys/class/tty/") + name, root(port + QStringLiteral("/tty/") + name));
        addDevice(name, target);
        if (!byId.isEmpty())
            link(QStringLiteral("dev/serial/by-id/") + byId, QStringLiteral("../../") + name);
    }

    // Replaces what the adapter reports (idVendor, product, serial, ...); empty removes it.
    void setUsbAttribute(const QString& attribute, const QByteArray& value) const {
        const QString path = usbDevice() + u'/' + attribute;
        QFile::remove(root(path));
        if (!value.isEmpty())
            write(path, value);
    }

    // A built-in 8250 port; uartType 0 is the kernel's "no UART here".
    void addUartPort(const QString& name, int uartType, const QString& target) {
        const QString port = QStringLiteral("sys/devices/platform/serial8250");
        mkdir(port + QStringLiteral("/tty/") + name);
        QFile::remove(root(port + QStringLiteral("/driver")));
        link(port + QStringLiteral("/driver"), root("sys/bus/platform/drivers/serial8250"));
        write(port + QStringLiteral("/tty/") + name + QStringLiteral("/type"),
              QByteArray::number(uartType));
        link(port + QStringLiteral("/tty/") + name + QStringLiteral("/device"),
             QStringLiteral("../.."));
        link(QStringLiteral("sys/class/tty/") + name, root(port + QStringLiteral("/tty/") + name));
        addDevice(name, target);
    }

    // The device file: a link to a real terminal, a plain file, or nothing.
    void addDevice(const QString& name, const QString& target) {
        if (target == u"file")
            write(QStringLiteral("dev/") + name, "not a device");
        else if (!target.isEmpty())
            link(QStringLiteral("dev/") + name, target); // makes sub-folders such as pts/
    }

    void addProcess(qint64 pid, const QString& comm, const QStringList& openFiles) {
        const QString p = QStringLiteral("proc/%1").arg(pid);
        mkdir(p + QStringLiteral("/fd"));
        write(p + QStringLiteral("/comm"), comm.toUtf8() + '\n');
        int fd = 0;
        for (const QString& f : openFiles)
            link(p + QStringLiteral("/fd/%1").arg(fd++), f);
    }

    // The helper's environment: these roots, real /proc unless fakeProc.
    QProcessEnvironment environment(bool fakeProc) const {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("VENDRIK_SYSFS_ROOT"), root("sys"));
        env.insert(QStringLiteral("VENDRIK_DEV_ROOT"), root("dev"));
        if (fakeProc)
            env.insert(QStringLiteral("VENDRIK_PROC_ROOT"), root("proc"));
        return env;
    }

private:
    static QString usbDevice() {
        return QStringLiteral("sys/devices/pci0000:00/0000:00:14.0/usb1/1-1");
    }
    void mkdir(const QString& sub) const { QDir().mkpath(root(sub)); }
    void write(const QString& sub, const QByteArray& text) const {
        QDir().mkpath(QFileInfo(root(sub)).path());
        QFile f(root(sub));
        if (f.open(QIODevice::WriteOnly))
            f.write(text);
    }
    void link(const QString& sub, const QString& target) const {
        QDir().mkpath(QFileInfo(root(sub)).path());
        QFile::link(target, root(sub));
    }

    QTemporaryDir dir_;
};
