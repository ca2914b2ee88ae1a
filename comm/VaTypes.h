#pragma once
// Value types of the serial port component: line settings, watched events, thread
// priorities and the small ordinal sets built from them.

// The line-error bits of LineStatus::Errors are the serial device's own (LineErrors.h).
#include "platform/LineErrors.h"

#include <QMetaType>
#include <QObject>
#include <cstdint>
#include <initializer_list>

namespace VaComm {
Q_NAMESPACE

enum TVaBaudrate : quint8 {
    brUser,
    br110,
    br300,
    br600,
    br1200,
    br2400,
    br4800,
    br9600,
    br14400,
    br19200,
    br38400,
    br56000,
    br57600,
    br115200,
    br128000,
    br256000
};
Q_ENUM_NS(TVaBaudrate)

enum TVaParity : quint8 { paNone, paOdd, paEven, paMark, paSpace };
Q_ENUM_NS(TVaParity)

enum TVaDatabits : quint8 { db4, db5, db6, db7, db8 };
Q_ENUM_NS(TVaDatabits)

enum TVaStopbits : quint8 { sb1, sb15, sb2 };
Q_ENUM_NS(TVaStopbits)

enum TVaCommOption : quint8 { coErrorChar, coNullStrip, coParityCheck };
Q_ENUM_NS(TVaCommOption)

enum TVaCommEvent : quint8 {
    ceBreak,
    ceCts,
    ceDsr,
    ceError,
    ceRing,
    ceRlsd,
    ceRxChar,
    ceTxEmpty,
    ceRxFlag,
    cePErr,
    ceRx80Full,
    ceEvent1,
    ceEvent2
};
Q_ENUM_NS(TVaCommEvent)

enum TVaControlDtr : quint8 { dtrDisabled, dtrEnabled, dtrHandshake };
Q_ENUM_NS(TVaControlDtr)

enum TVaControlRts : quint8 { rtsDisabled, rtsEnabled, rtsHandshake, rtsToggle };
Q_ENUM_NS(TVaControlRts)

enum TThreadPriority : quint8 {
    tpIdle,
    tpLowest,
    tpLower,
    tpNormal,
    tpHigher,
    tpHighest,
    tpTimeCritical
};
Q_ENUM_NS(TThreadPriority)

// A set of enumeration ordinals 0..N-1, as small as a bit mask.
template <typename E, int N> class TVaSet {
public:
    constexpr TVaSet() = default;
    constexpr TVaSet(std::initializer_list<E> items) {
        for (E e : items)
            bits_ |= Bit(e);
    }
    static constexpr TVaSet FromBits(quint32 bits) {
        TVaSet s;
        s.bits_ = bits & ((quint32(1) << N) - 1);
        return s;
    }
    constexpr bool Contains(E e) const { return bits_ & Bit(e); }
    constexpr void Include(E e) { bits_ |= Bit(e); }
    constexpr void Exclude(E e) { bits_ &= ~Bit(e); }
    constexpr bool IsEmpty() const { return bits_ == 0; }
    constexpr quint32 Bits() const { return bits_; }
    friend constexpr bool operator==(TVaSet a, TVaSet b) { return a.bits_ == b.bits_; }

private:
    static constexpr quint32 Bit(E e) { return quint32(1) << int(e); }
    quint32 bits_ = 0;
};

using TVaCommEvents = TVaSet<TVaCommEvent, 13>;
using TVaCommOptions = TVaSet<TVaCommOption, 3>;

// Platform event bits, one per TVaCommEvent.
enum : quint32 {
    EV_RXCHAR = 0x0001,
    EV_RXFLAG = 0x0002,
    EV_TXEMPTY = 0x0004,
    EV_CTS = 0x0008,
    EV_DSR = 0x0010,
    EV_RLSD = 0x0020,
    EV_BREAK = 0x0040,
    EV_ERR = 0x0080,
    EV_RING = 0x0100,
    EV_PERR = 0x0200,
    EV_RX80FULL = 0x0400,
    EV_EVENT1 = 0x0800,
    EV_EVENT2 = 0x1000
};

constexpr quint32 CommEventBit(TVaCommEvent e) {
    constexpr quint32 bits[] = {EV_BREAK,    EV_CTS,    EV_DSR,     EV_ERR,    EV_RING,
                                EV_RLSD,     EV_RXCHAR, EV_TXEMPTY, EV_RXFLAG, EV_PERR,
                                EV_RX80FULL, EV_EVENT1, EV_EVENT2};
    return bits[int(e)];
}

// Purge flags.
enum : quint32 {
    PURGE_TXABORT = 0x1,
    PURGE_RXABORT = 0x2,
    PURGE_TXCLEAR = 0x4,
    PURGE_RXCLEAR = 0x8
};

// Bit rate an enumeration value names (0 for brUser).
quint32 BaudrateValue(TVaBaudrate rate);

} // namespace VaComm

// The names are the project's vocabulary (br57600, ceRxChar, EV_RXCHAR, ...), usable
// unqualified: each is declared here by name rather than by opening the namespace, so an
// includer gets these and nothing else the namespace may come to hold.
using VaComm::TVaBaudrate;
using enum VaComm::TVaBaudrate;
using VaComm::TVaParity;
using enum VaComm::TVaParity;
using VaComm::TVaDatabits;
using enum VaComm::TVaDatabits;
using VaComm::TVaStopbits;
using enum VaComm::TVaStopbits;
using VaComm::TVaCommOption;
using enum VaComm::TVaCommOption;
using VaComm::TVaCommEvent;
using enum VaComm::TVaCommEvent;
using VaComm::TVaControlDtr;
using enum VaComm::TVaControlDtr;
using VaComm::TVaControlRts;
using enum VaComm::TVaControlRts;
using VaComm::TThreadPriority;
using enum VaComm::TThreadPriority;
using VaComm::BaudrateValue;
using VaComm::CommEventBit;
using VaComm::EV_BREAK;
using VaComm::EV_CTS;
using VaComm::EV_DSR;
using VaComm::EV_ERR;
using VaComm::EV_EVENT1;
using VaComm::EV_EVENT2;
using VaComm::EV_PERR;
using VaComm::EV_RING;
using VaComm::EV_RLSD;
using VaComm::EV_RX80FULL;
using VaComm::EV_RXCHAR;
using VaComm::EV_RXFLAG;
using VaComm::EV_TXEMPTY;
using VaComm::PURGE_RXABORT;
using VaComm::PURGE_RXCLEAR;
using VaComm::PURGE_TXABORT;
using VaComm::PURGE_TXCLEAR;
using VaComm::TVaCommEvents;
using VaComm::TVaCommOptions;
using VaComm::TVaSet;

Q_DECLARE_METATYPE(VaComm::TVaCommEvents)
Q_DECLARE_METATYPE(VaComm::TVaCommOptions)
