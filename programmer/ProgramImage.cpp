#include "programmer/ProgramImage.h"

TImageBuffer ProgramImage{};
TImageBuffer DeviceImage{};
int ProgramSize = 0;
int SectorCount = 0;
bool ProgramLoaded = false;
QString ProgramFileName;
bool DeviceImageValid = false;
