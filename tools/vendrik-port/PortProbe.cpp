#include "tools/vendrik-port/PortProbe.h"

#include "platform/CommDcb.h"
#include "platform/DeviceAccess.h"
#include "platform/ErrorText.h"
#include "platform/SerialDevice.h"
#include "tools/vendrik-port/ComMappings.h"
#include "tools/vendrik-port/SerialInventory.h"

#include <QFileInfo>

#include <cerrno>

namespace {
TDCB LineSettings() {
    TDCB dcb;
    dcb.DCBlength = sizeof dcb;
    dcb.BaudRate = 57600;
    dcb.Flags = DCB_fBinary; // DTR and RTS disabled, no handshake
    dcb.ByteSize = 8;
    dcb.Parity = 0;
    dcb.StopBits = 0;
    return dcb;
}

TOpenOutcome OutcomeOf(int error) {
    switch (error) {
    case ENOENT:
    case ENXIO:
    case ENODEV:
        return TOpenOutcome::Missing;
    case EIO: // an 8250 port without a UART refuses to open
        return TOpenOutcome::NoHardware;
    case EACCES:
    case EPERM:
        return TOpenOutcome::AccessDenied;
    case EBUSY:
        return TOpenOutcome::Busy;
    case ENOTTY:
        return TOpenOutcome::NotATerminal;
    default:
        return TOpenOutcome::OtherError;
    }
}
} // namespace

bool OpenLikeProgram(TSerialDevice& Device, TPortFacts& Facts) {
    if (!QFileInfo::exists(Facts.target)) {
        Facts.outcome = TOpenOutcome::Missing;
        Facts.error = ENOENT;
    } else if (TtyKindOf(QFileInfo(DeviceNode(Facts.target)).fileName()) == TTtyKind::NoHardware) {
        Facts.outcome = TOpenOutcome::NoHardware;
        Facts.error = EIO;
    } else if (!Device.Open(Facts.target)) {
        Facts.error = GetLastError();
        Facts.outcome = OutcomeOf(Facts.error);
    } else if (!Device.SetCommState(LineSettings())) {
        Facts.error = GetLastError();
        Facts.outcome = TOpenOutcome::SettingsRefused;
        Device.Close();
    } else {
        Facts.outcome = TOpenOutcome::Opened;
    }
    Facts.errorText = Facts.error ? SystemErrorText(Facts.error) : QString();
    if (Facts.outcome == TOpenOutcome::AccessDenied) {
        TFileOwnership owner;
        StatFile(Facts.target, owner);
        Facts.group = owner.group.isEmpty() ? QString::number(owner.gid) : owner.group;
        Facts.mode = owner.mode;
        Facts.user = CurrentUserName();
        Facts.sessionInGroup = SessionHasGroup(owner.gid);
        Facts.accountInGroup = AccountInGroup(Facts.user, owner.gid);
    }
    return Facts.outcome == TOpenOutcome::Opened;
}

TPortFacts ProbePort(int Number) {
    const TComMapping mapping = ComMapping(Number);
    TPortFacts facts;
    facts.number = Number;
    facts.target = mapping.target;
    facts.mapped = mapping.mapped;
    TSerialPort port;
    facts.usb =
        TtyKindOf(QFileInfo(mapping.node).fileName(), &port) == TTtyKind::Serial && port.usb;
    facts.allProcessesVisible = CurrentUid() == 0;
    // Looked for before opening: an opening would flush the other program's queues and
    // could change its line for as long as the check holds the port.
    if (mapping.present)
        facts.holders = DeviceHolders(facts.target);
    if (!facts.holders.isEmpty()) {
        facts.outcome = TOpenOutcome::HeldElsewhere;
    } else {
        TSerialDevice device;
        OpenLikeProgram(device, facts);
    } // closed here, the line as found, before anyone else is looked for
    if (facts.outcome == TOpenOutcome::Busy)
        facts.holders = DeviceHolders(facts.target);
    if (facts.outcome == TOpenOutcome::Opened || facts.outcome == TOpenOutcome::Busy ||
        facts.outcome == TOpenOutcome::HeldElsewhere)
        facts.modemManager = RunningProcess(QStringLiteral("ModemManager"));
    return facts;
}
