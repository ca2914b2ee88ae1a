#pragma once
// Where a port name leads: "COMn" to VendrikConfigDir()/dosdevices/comn when that
// exists, else /dev/ttyS(n-1); a name starting with "/" is a path; any other name is
// looked up in /dev.

#include <QString>

QString ResolveSerialDevice(const QString& Name);
