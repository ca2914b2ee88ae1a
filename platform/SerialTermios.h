#pragma once
// Translation of a device-control block into the kernel's terminal settings (termios2,
// which carries arbitrary bit rates). Kept apart from the device so it can be checked
// as a pure function.

#include "platform/CommDcb.h"

#include <asm/termbits.h>

// Builds raw terminal settings from the block. False with Error = EINVAL when the block
// asks for what the line cannot do: fewer than 5 or more than 8 data bits, an unknown
// parity, a bit rate of 0, or 1.5 stop bits with other than 5 data bits (a UART sends
// 1.5 stop bits only for 5-bit characters, where two stop bits mean one and a half).
bool DcbToTermios(const TDCB& Dcb, termios2& Tio, int& Error);

// Modem lines the block holds on: DTR enabled (or handshake, which the platform lacks)
// and RTS enabled.
bool DcbWantsDtr(const TDCB& Dcb);
bool DcbWantsRts(const TDCB& Dcb);
