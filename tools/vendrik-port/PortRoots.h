#pragma once
// The system folders the port helper reads (and the one udev rules go to). Tests point
// them at a made-up tree through VENDRIK_SYSFS_ROOT, VENDRIK_DEV_ROOT, VENDRIK_PROC_ROOT
// and VENDRIK_UDEV_RULES_DIR; nothing else sets them.

#include <QString>

QString SysfsRoot();    // /sys
QString DevRoot();      // /dev
QString ProcRoot();     // /proc
QString UdevRulesDir(); // /etc/udev/rules.d

// A /dev path as seen through DevRoot() ("/dev/ttyS0" -> "<root>/ttyS0").
QString InDevRoot(const QString& Path);
