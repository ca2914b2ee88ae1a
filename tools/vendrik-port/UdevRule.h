#pragma once
// A udev rule for the USB adapter behind COMN, matched by the adapter's own identity
// (vendor, product, serial number from sysfs) so that it follows the adapter to any
// socket: TAG+="uaccess" lets the logged-in user open it without the dialout group or a
// new login, ENV{ID_MM_DEVICE_IGNORE}="1" keeps ModemManager from probing it.

#include <QString>
#include <functional>

enum class TUdevRefusal {
    None,
    Missing,        // nothing at COMN's target
    BuiltIn,        // a ttyS port (with or without a UART): no USB identity to match
    PseudoTerminal, // no hardware at all
    NotSerial,
    NoIdentity,     // sysfs gives no vendor or product number
    UnsafeIdentity, // a serial number udev could not compare exactly
};

struct TUdevRule {
    TUdevRefusal refusal = TUdevRefusal::None;
    QString why;      // for a refusal: one line an operator can act on
    QString target;   // what COMN opens
    QString kernel;   // "ttyUSB0"
    QString fileName; // "70-vendrik-com1.rules"
    QString text;     // the rule file, comments included; safe to print as it is
};

TUdevRule UdevRuleFor(int Number);

// Writes the rule into UdevRulesDir() (through sudo unless root) and has udev reload its
// rules and re-apply them to the port. Progress goes to Print; false with Error set when
// a step failed.
bool InstallUdevRule(const TUdevRule& Rule, const std::function<void(const QString&)>& Print,
                     QString& Error);
