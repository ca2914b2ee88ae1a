#pragma once
// The serial devices present, as sysfs describes them: USB adapters with their stable
// /dev/serial/by-id name, driver and USB identity, and built-in ttyS ports only where a
// UART really answers (the kernel creates ttyS0..ttyS31 whether or not one exists).

#include <QList>
#include <QString>

struct TSerialPort {
    QString name;       // kernel name, "ttyUSB0"
    QString path;       // device file, "/dev/ttyUSB0"
    QString stableName; // "/dev/serial/by-id/...", empty when udev made none
    QString driver;
    bool usb = false;
    QString vendorId, productId, manufacturer, product, serial;
};

enum class TTtyKind {
    NotSerial,  // unknown to sysfs as a serial device (consoles, pseudo-terminals, ...)
    NoHardware, // a ttyS name with no UART behind it
    Serial,
};

QList<TSerialPort> ListSerialPorts();
TTtyKind TtyKindOf(const QString& KernelName, TSerialPort* Port = nullptr);

// The device file a path leads to: symbolic links are followed while they stay inside
// the /dev tree, so /dev/serial/by-id/x gives /dev/ttyUSB0, and /dev/pts/3 stays itself.
QString DeviceNode(const QString& Path);
// The by-id name leading to a device file, or empty.
QString StableNameOf(const QString& Node);
