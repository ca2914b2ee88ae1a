#pragma once
// Opening COMN the way the program does (exclusively, 57600 8N1, DTR and RTS off) and
// gathering what explains the outcome. A port another program is seen holding is not
// opened at all; one that is opened is closed again at once with the line settings it
// had. No byte is sent or read.

#include "tools/vendrik-port/PortDiagnosis.h"

class TSerialDevice;

TPortFacts ProbePort(int Number);

// Opens and sets up Device as the program does. On failure Facts.outcome, error and the
// facts about the failure are filled in.
bool OpenLikeProgram(TSerialDevice& Device, TPortFacts& Facts);
