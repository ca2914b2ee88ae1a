#include "tools/vendrik-port/PortRoots.h"

#include <QDir>

namespace {
QString Root(const char* Variable, const char* Default) {
    const QString value = qEnvironmentVariable(Variable);
    return value.isEmpty() ? QString::fromLatin1(Default) : QDir::cleanPath(value);
}
} // namespace

QString SysfsRoot() {
    return Root("VENDRIK_SYSFS_ROOT", "/sys");
}
QString DevRoot() {
    return Root("VENDRIK_DEV_ROOT", "/dev");
}
QString ProcRoot() {
    return Root("VENDRIK_PROC_ROOT", "/proc");
}

QString UdevRulesDir() {
    return Root("VENDRIK_UDEV_RULES_DIR", "/etc/udev/rules.d");
}

QString InDevRoot(const QString& Path) {
    if (Path.startsWith(QLatin1String("/dev/")))
        return DevRoot() + Path.mid(4);
    return Path;
}
