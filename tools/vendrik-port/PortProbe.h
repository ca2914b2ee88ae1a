#pragma once
// Opening COMN the way the program does (exclusively, 57600 8N1, DTR and RTS off) and
// gathering what explains the outcome. The port is closed again at once; no byte is
// sent or read.

#include "tools/vendrik-port/PortDiagnosis.h"

class TSerialDevice;

TPortFacts ProbePort(int Number);

// Opens and sets up Device as the program does. On failure Facts.outcome, error and the
// facts about the failure are filled in.
bool OpenLikeProgram(TSerialDevice& Device, TPortFacts& Facts);
