#pragma once
// Line-error bits, as the serial device reports them (TSerialDevice::LineErrors) and the
// port component hands them on (LineStatus::Errors).

#include <cstdint>

enum : uint32_t {
    CE_RXOVER = 0x1,
    CE_OVERRUN = 0x2,
    CE_RXPARITY = 0x4,
    CE_FRAME = 0x8,
    CE_BREAK = 0x10
};
