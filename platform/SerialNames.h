#pragma once
// Where a port name leads: "COMn" to ComPortLink(n) when that exists, else /dev/ttyS(n-1);
// a name starting with "/" is a path; any other name is looked up in /dev.

#include <QString>

QString ResolveSerialDevice(const QString& Name);

// The link that maps COMn to a device: VendrikConfigDir()/dosdevices/comn. The program,
// the port helper and the simulator all use this one path.
QString ComPortLink(int Number);

// The COM numbers the command lines take, as the window program offers them.
constexpr int FirstComNumber = 1;
constexpr int LastComNumber = 8;

// A COM number as a command line gives it: "3", "COM3" or "com3", with the surrounding
// spaces, plus sign and leading zeros a number has always been read with; 0 for anything
// else, a number outside FirstComNumber..LastComNumber included.
int ParseComNumber(const QString& Text);
