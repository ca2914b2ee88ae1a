#include "platform/SerialTermios.h"

#include <cerrno>

namespace {
struct RateCode {
    uint32_t rate;
    tcflag_t code;
};
constexpr RateCode standardRates[] = {
    {50, B50},         {75, B75},         {110, B110},       {134, B134},
    {150, B150},       {200, B200},       {300, B300},       {600, B600},
    {1200, B1200},     {1800, B1800},     {2400, B2400},     {4800, B4800},
    {9600, B9600},     {19200, B19200},   {38400, B38400},   {57600, B57600},
    {115200, B115200}, {230400, B230400}, {460800, B460800}, {500000, B500000},
    {576000, B576000}, {921600, B921600}, {1000000, B1000000}};
} // namespace

bool DcbToTermios(const TDCB& Dcb, termios2& Tio, int& Error) {
    Error = EINVAL;
    if (Dcb.ByteSize < 5 || Dcb.ByteSize > 8 || Dcb.Parity > 4 || Dcb.StopBits > 2 ||
        Dcb.BaudRate == 0)
        return false;
    if (Dcb.StopBits == 1 && Dcb.ByteSize != 5)
        return false;

    Tio = termios2{};
    // Raw: no input or output processing, no echo, no signals.
    Tio.c_iflag = 0;
    Tio.c_oflag = 0;
    Tio.c_lflag = 0;
    Tio.c_cflag = CREAD | CLOCAL;

    tcflag_t baud = BOTHER;
    for (const RateCode& r : standardRates)
        if (r.rate == Dcb.BaudRate)
            baud = r.code;
    Tio.c_cflag |= baud; // input speed bits left 0: same as output
    Tio.c_ispeed = Dcb.BaudRate;
    Tio.c_ospeed = Dcb.BaudRate;

    static constexpr tcflag_t sizes[] = {CS5, CS6, CS7, CS8};
    Tio.c_cflag |= sizes[Dcb.ByteSize - 5];

    switch (Dcb.Parity) {
    case 1: Tio.c_cflag |= PARENB | PARODD; break;
    case 2: Tio.c_cflag |= PARENB; break;
    case 3: Tio.c_cflag |= PARENB | CMSPAR | PARODD; break;
    case 4: Tio.c_cflag |= PARENB | CMSPAR; break;
    default: break;
    }
    if (Dcb.StopBits != 0)
        Tio.c_cflag |= CSTOPB;

    if (Dcb.Flags & DCB_fParity)
        Tio.c_iflag |= INPCK;
    if (Dcb.Flags & DCB_fOutX)
        Tio.c_iflag |= IXON;
    if (Dcb.Flags & DCB_fInX)
        Tio.c_iflag |= IXOFF;
    if ((Dcb.Flags & DCB_fOutxCtsFlow) ||
        (Dcb.Flags & DCB_fRtsControlMask) == DCB_fRtsControlHandshake)
        Tio.c_cflag |= CRTSCTS;

    Tio.c_cc[VSTART] = cc_t(Dcb.XonChar);
    Tio.c_cc[VSTOP] = cc_t(Dcb.XoffChar);
    Tio.c_cc[VMIN] = 0;
    Tio.c_cc[VTIME] = 0;
    Error = 0;
    return true;
}

bool DcbWantsDtr(const TDCB& Dcb) { return (Dcb.Flags & DCB_fDtrControlMask) != 0; }

bool DcbWantsRts(const TDCB& Dcb) {
    const uint32_t rts = Dcb.Flags & DCB_fRtsControlMask;
    return rts == DCB_fRtsControlEnable || rts == DCB_fRtsControlHandshake;
}
