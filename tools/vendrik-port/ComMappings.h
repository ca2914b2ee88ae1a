#pragma once
// What COM1..COM8 open, and changing it, in the same place the program looks: a
// symbolic link dosdevices/comN in the program's settings folder, else /dev/ttyS(N-1).

#include <QString>

struct TComMapping {
    int number = 0;
    QString link;         // the dosdevices/comN path
    bool mapped = false;  // the link exists (dangling or not)
    QString target;       // what COMN opens: the link's target, or the default ttyS path
    QString node;         // the device file the target leads to
    bool present = false; // the target exists
};

TComMapping ComMapping(int Number);

enum class TMapResult { Done, NoSuchDevice, NotSerial, NoHardware, NotALink, Failed };

// Points COMN at Device, through its by-id name when it has one (Used receives the path
// written). An existing link is replaced in one step; anything else at that place is
// left alone and refused.
TMapResult MapCom(int Number, const QString& Device, QString& Used, QString& Error);
// Removes COMN's link; true also when there was none (Existed tells which).
TMapResult UnmapCom(int Number, bool& Existed, QString& Error);
