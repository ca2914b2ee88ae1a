#pragma once
// The system folders the port helper reads. Tests point them at a made-up tree through
// VENDRIK_SYSFS_ROOT, VENDRIK_DEV_ROOT and VENDRIK_PROC_ROOT; nothing else sets them.

#include <QString>

QString SysfsRoot(); // /sys
QString DevRoot();   // /dev
QString ProcRoot();  // /proc

// A /dev path as seen through DevRoot() ("/dev/ttyS0" -> "<root>/ttyS0").
QString InDevRoot(const QString& Path);
