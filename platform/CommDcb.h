#pragma once
// The device-control block the serial port component builds: the platform record with
// its field names and flag bits, handed to TSerialDevice::SetCommState.

#include <cstdint>

struct TDCB {
    uint32_t DCBlength = 0;
    uint32_t BaudRate = 0;
    uint32_t Flags = 0;
    uint16_t wReserved = 0;
    uint16_t XonLim = 0;
    uint16_t XoffLim = 0;
    uint8_t ByteSize = 0;
    uint8_t Parity = 0;   // 0 none, 1 odd, 2 even, 3 mark, 4 space
    uint8_t StopBits = 0; // 0 one, 1 one and a half, 2 two
    char XonChar = 0;
    char XoffChar = 0;
    char ErrorChar = 0;
    char EofChar = 0;
    char EvtChar = 0;
    uint16_t wReserved1 = 0;
};

enum : uint32_t {
    DCB_fBinary = 0x0001,
    DCB_fParity = 0x0002,
    DCB_fOutxCtsFlow = 0x0004,
    DCB_fOutxDsrFlow = 0x0008,
    DCB_fDtrControlEnable = 0x0010,
    DCB_fDtrControlHandshake = 0x0020,
    DCB_fDtrControlMask = 0x0030,
    DCB_fDsrSensitivity = 0x0040,
    DCB_fTXContinueOnXoff = 0x0080,
    DCB_fOutX = 0x0100,
    DCB_fInX = 0x0200,
    DCB_fErrorChar = 0x0400,
    DCB_fNull = 0x0800,
    DCB_fRtsControlEnable = 0x1000,
    DCB_fRtsControlHandshake = 0x2000,
    DCB_fRtsControlToggle = 0x3000,
    DCB_fRtsControlMask = 0x3000,
    DCB_fAbortOnError = 0x4000,
};
