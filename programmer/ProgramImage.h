#pragma once
// The two byte images the whole program works on and the flags that say whether each
// may be used. One instance for the process, zeroed at start, never freed.

#include <QString>
#include <QtGlobal>
#include <array>

constexpr int SectorSize = 256;
// Larger than any image on purpose: the write loop may look past the last sector.
constexpr int ImageBufferSize = 150000;
// Largest program file accepted and the exact size of a saved device image.
constexpr int MaxFileSize = 131072;

using TImageBuffer = std::array<quint8, ImageBufferSize>;

// The loaded program file at offset 0, 0xFF after it.
extern TImageBuffer ProgramImage;
// Sector n of the device at offset n * SectorSize.
extern TImageBuffer DeviceImage;

// Size of the file of the last load attempt, also of a file refused as too large.
extern int ProgramSize;
// Sectors of the loaded program, rounded up; changed only by a load that passes the
// size check.
extern int SectorCount;
// True only after a load that read the whole file.
extern bool ProgramLoaded;
// Full path of the last load that passed the size check.
extern QString ProgramFileName;
// True after a read that fetched every sector (and after a failed save).
extern bool DeviceImageValid;

// Sectors needed for `size` bytes, rounded up.
constexpr int SectorsFor(int size) {
    return size / SectorSize + (size % SectorSize != 0 ? 1 : 0);
}
